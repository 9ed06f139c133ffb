// Every notification of the trigger sends a fixed float, unless disabled; the trigger's value
// itself is never looked at.
#include "MpInterface.h"

class Qv_changetofloatGui : public MpGuiBase {
public:
    enum Pin { kTrigger, kOut, kDisable, kValue };

    Qv_changetofloatGui()
    {
        initializePin(kTrigger, trigger_, &Qv_changetofloatGui::onSetValue);
        initializePin(kOut, out_);
        initializePin(kDisable, disable_);
        initializePin(kValue, value_);
    }

    void onSetValue()
    {
        if (disable_.getValue())
            return;
        sendBuffer_ = value_.getValue();
        pinTransmit(kOut, sizeof sendBuffer_, &sendBuffer_, 0);
    }

private:
    MpGuiPin<int32_t> trigger_;
    MpGuiPin<float> out_;
    MpGuiPin<bool> disable_;
    MpGuiPin<float> value_;

    float sendBuffer_ = 0.0f;
};

MP_REGISTER_MODULE(Qv_changetofloatGui, L"QV_ChangeToFloat")
