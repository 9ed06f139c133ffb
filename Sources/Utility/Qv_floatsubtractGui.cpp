// In1 - In2 to two outputs; notifications of the outputs change nothing.
#include "MpInterface.h"

class Qv_floatsubtractGui : public MpGuiBase {
public:
    enum Pin { kIn1, kIn2, kOut, kOutIn };

    Qv_floatsubtractGui()
    {
        initializePin(kIn1, in1_, &Qv_floatsubtractGui::onSetInput1);
        initializePin(kIn2, in2_, &Qv_floatsubtractGui::onSetInput2);
        initializePin(kOut, out_, &Qv_floatsubtractGui::onSetOutput);
        initializePin(kOutIn, outIn_, &Qv_floatsubtractGui::onSetOutputIn);
    }

    void onSetInput1() { subtract(); }
    void onSetInput2() { subtract(); }
    void onSetOutput() {}
    void onSetOutputIn() {}

private:
    void subtract()
    {
        out_ = in1_.getValue() - in2_.getValue();
        outIn_ = in1_.getValue() - in2_.getValue();
    }

    MpGuiPin<float> in1_;
    MpGuiPin<float> in2_;
    MpGuiPin<float> out_;
    MpGuiPin<float> outIn_;
};

MP_REGISTER_MODULE(Qv_floatsubtractGui, L"QV_FloatSubtract")
