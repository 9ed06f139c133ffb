// (In1 + In2 + Add1) x Mult + Add2 in single precision, one operation at a time, to two outputs.
#include "LinearConverter.h"

class Qv_floatconverterGui : public LinearConverter<float> {
public:
    Qv_floatconverterGui()
    {
        registerPins(&Qv_floatconverterGui::onSetFloatIn1, &Qv_floatconverterGui::onSetFloatIn2,
                                           &Qv_floatconverterGui::onSetFloatAdd1, &Qv_floatconverterGui::onSetFloatMult,
                                           &Qv_floatconverterGui::onSetFloatAdd2);
    }

    void onSetFloatIn1() { convert(); }
    void onSetFloatIn2() { convert(); }
    void onSetFloatAdd1() { convert(); }
    void onSetFloatMult() { convert(); }
    void onSetFloatAdd2() { convert(); }
};

MP_REGISTER_MODULE(Qv_floatconverterGui, L"QV_FloatConverter")
