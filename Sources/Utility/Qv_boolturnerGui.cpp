// Copies two bool interface pins onto two outputs; an output written by the host is put back to
// its input.
#include "GuiTurner.h"

class Qv_boolturnerGui : public GuiTurner<MpGuiPin<bool>> {
public:
    Qv_boolturnerGui() { registerPins(&Qv_boolturnerGui::onSetBoolInL, &Qv_boolturnerGui::onSetBoolInR, Outputs::FollowInput); }

    void onSetBoolInL() { copyLeft(); }
    void onSetBoolInR() { copyRight(); }
};

MP_REGISTER_MODULE(Qv_boolturnerGui, L"QV_BoolTurner")
