// In x Mult + Add, computed when In is notified; a new Mult or Add waits for the next In.
#include "MpInterface.h"

class Qv_floatscalerGui : public MpGuiBase {
public:
    enum Pin { kIn, kMult, kAdd, kOut };

    Qv_floatscalerGui()
    {
        initializePin(kIn, in_, &Qv_floatscalerGui::onSetValueOut);
        initializePin(kMult, mult_);
        initializePin(kAdd, add_);
        initializePin(kOut, out_);
    }

    void onSetValueOut()
    {
        const float scaled = in_.getValue() * mult_.getValue();
        out_ = scaled + add_.getValue();
    }

private:
    MpGuiPin<float> in_;
    MpGuiPin<float> mult_;
    MpGuiPin<float> add_;
    MpGuiPin<float> out_;
};

MP_REGISTER_MODULE(Qv_floatscalerGui, L"QV_FloatScaler")
