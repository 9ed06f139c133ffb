// (In1 + In2 + Add1) x Mult + Add2 in 32-bit integers that wrap, to two outputs.
#include "LinearConverter.h"

class Qv_intconverterGui : public LinearConverter<int32_t> {
public:
    Qv_intconverterGui()
    {
        registerPins(&Qv_intconverterGui::onSetIntIn1, &Qv_intconverterGui::onSetIntIn2,
                                         &Qv_intconverterGui::onSetIntAdd1, &Qv_intconverterGui::onSetIntMult,
                                         &Qv_intconverterGui::onSetIntAdd2);
    }

    void onSetIntIn1() { convert(); }
    void onSetIntIn2() { convert(); }
    void onSetIntAdd1() { convert(); }
    void onSetIntMult() { convert(); }
    void onSetIntAdd2() { convert(); }
};

MP_REGISTER_MODULE(Qv_intconverterGui, L"QV_IntConverter")
