// A float passes when exactly one of the gate and the invert flag is true; otherwise the output
// keeps its value. A change of either flag alone passes nothing.
#include "MpInterface.h"

class Qv_floatpasserguiGui : public MpGuiBase {
public:
    enum Pin { kIn, kOut, kGate, kInvert };

    Qv_floatpasserguiGui()
    {
        initializePin(kIn, in_, &Qv_floatpasserguiGui::onSetFloatIn);
        initializePin(kOut, out_);
        initializePin(kGate, gate_);
        initializePin(kInvert, invert_);
    }

    void onSetFloatIn()
    {
        if (gate_.getValue() != invert_.getValue())
            out_ = in_.getValue();
    }

private:
    MpGuiPin<float> in_;
    MpGuiPin<float> out_;
    MpGuiPin<bool> gate_;
    MpGuiPin<bool> invert_;
};

MP_REGISTER_MODULE(Qv_floatpasserguiGui, L"QV_FloatPasserGui")
