// A bool chooses which of two floats is sent; sent at every notification, equal or not.
#include "MpInterface.h"

class Qv_guibool2guifloatGui : public MpGuiBase {
public:
    enum Pin { kSelector, kOut, kValueIfFalse, kValueIfTrue };

    Qv_guibool2guifloatGui()
    {
        initializePin(kSelector, selector_, &Qv_guibool2guifloatGui::onSetValue);
        initializePin(kOut, out_);
        initializePin(kValueIfFalse, valueIfFalse_);
        initializePin(kValueIfTrue, valueIfTrue_);
    }

    void onSetValue()
    {
        if (!selector_.getValue())
            send(valueIfFalse_.getValue());
        if (selector_.getValue())
            send(valueIfTrue_.getValue());
    }

private:
    // Direct transmit: reaches the host every time and leaves the output pin's held value as it was.
    void send(float value)
    {
        sendBuffer_ = value;
        pinTransmit(kOut, sizeof sendBuffer_, &sendBuffer_, 0);
    }

    MpGuiPin<bool> selector_;
    MpGuiPin<float> out_;
    MpGuiPin<float> valueIfFalse_;
    MpGuiPin<float> valueIfTrue_;

    float sendBuffer_ = 0.0f;
};

MP_REGISTER_MODULE(Qv_guibool2guifloatGui, L"QV_GuiBool2GuiFloat")
