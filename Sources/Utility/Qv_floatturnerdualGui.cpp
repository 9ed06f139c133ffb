// Copies two float interface pins onto two outputs; an output written by the host keeps that value
// until its input is notified again.
#include "GuiTurner.h"

class Qv_floatturnerdualGui : public GuiTurner<MpGuiPin<float>> {
public:
    Qv_floatturnerdualGui() { registerPins(&Qv_floatturnerdualGui::onSetFloatInL, &Qv_floatturnerdualGui::onSetFloatInR, Outputs::KeepWrittenValue); }

    void onSetFloatInL() { copyLeft(); }
    void onSetFloatInR() { copyRight(); }
};

MP_REGISTER_MODULE(Qv_floatturnerdualGui, L"QV_FloatTurnerDual")
