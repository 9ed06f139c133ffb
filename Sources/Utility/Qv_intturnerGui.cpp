// Copies two int interface pins onto two outputs; an output written by the host is put back to its
// input.
#include "GuiTurner.h"

class Qv_intturnerGui : public GuiTurner<MpGuiPin<int32_t>> {
public:
    Qv_intturnerGui() { registerPins(&Qv_intturnerGui::onSetIntInL, &Qv_intturnerGui::onSetIntInR, Outputs::FollowInput); }

    void onSetIntInL() { copyLeft(); }
    void onSetIntInR() { copyRight(); }
};

MP_REGISTER_MODULE(Qv_intturnerGui, L"QV_IntTurner")
