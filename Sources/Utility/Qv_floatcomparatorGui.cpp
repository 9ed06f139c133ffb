// One of two floats, chosen by whether both inputs lie strictly inside their windows; any
// notification recomputes it.
#include "MpInterface.h"

class Qv_floatcomparatorGui : public MpGuiBase {
public:
    enum Pin { kIn1, kIn2, kOut, kUpper1, kLower1, kUpper2, kLower2, kValueIfTrue, kValueIfFalse };

    Qv_floatcomparatorGui()
    {
        initializePin(kIn1, in1_, &Qv_floatcomparatorGui::onSetFloatIn1);
        initializePin(kIn2, in2_, &Qv_floatcomparatorGui::onSetFloatIn2);
        initializePin(kOut, out_);
        initializePin(kUpper1, upper1_, &Qv_floatcomparatorGui::onSetValue1ifLower1);
        initializePin(kLower1, lower1_, &Qv_floatcomparatorGui::onSetValue1ifHigher1);
        initializePin(kUpper2, upper2_, &Qv_floatcomparatorGui::onSetValue1ifLower2);
        initializePin(kLower2, lower2_, &Qv_floatcomparatorGui::onSetValue1ifHigher2);
        initializePin(kValueIfTrue, valueIfTrue_, &Qv_floatcomparatorGui::onSetValueOutIfTrue);
        initializePin(kValueIfFalse, valueIfFalse_, &Qv_floatcomparatorGui::onSetValueOutIfFalse);
    }

    void onSetFloatIn1() { setOutValue(); }
    void onSetFloatIn2() { setOutValue(); }
    void onSetValue1ifLower1() { setOutValue(); }
    void onSetValue1ifHigher1() { setOutValue(); }
    void onSetValue1ifLower2() { setOutValue(); }
    void onSetValue1ifHigher2() { setOutValue(); }
    void onSetValueOutIfTrue() { setOutValue(); }
    void onSetValueOutIfFalse() { setOutValue(); }

    // Strict comparisons, so a NaN anywhere or an input on a bound counts as outside.
    void setOutValue()
    {
        const bool inside1 = upper1_.getValue() > in1_.getValue() && in1_.getValue() > lower1_.getValue();
        const bool inside2 = upper2_.getValue() > in2_.getValue() && in2_.getValue() > lower2_.getValue();
        out_ = inside1 && inside2 ? valueIfTrue_.getValue() : valueIfFalse_.getValue();
    }

private:
    MpGuiPin<float> in1_;
    MpGuiPin<float> in2_;
    MpGuiPin<float> out_;
    MpGuiPin<float> upper1_;
    MpGuiPin<float> lower1_;
    MpGuiPin<float> upper2_;
    MpGuiPin<float> lower2_;
    MpGuiPin<float> valueIfTrue_;
    MpGuiPin<float> valueIfFalse_;
};

MP_REGISTER_MODULE(Qv_floatcomparatorGui, L"QV_FloatComparator")
