// Copies two float interface pins onto two outputs; an output written by the host is put back to
// its input.
#include "GuiTurner.h"

class Qv_floatturnerGui : public GuiTurner<MpGuiPin<float>> {
public:
    Qv_floatturnerGui() { registerPins(&Qv_floatturnerGui::onSetFloatInL, &Qv_floatturnerGui::onSetFloatInR, Outputs::FollowInput); }

    void onSetFloatInL() { copyLeft(); }
    void onSetFloatInR() { copyRight(); }
};

MP_REGISTER_MODULE(Qv_floatturnerGui, L"QV_FloatTurner")
