// Copies two text interface pins onto two outputs; an output written by the host keeps that text
// until its input is notified again.
#include "GuiTurner.h"

class Qv_textturnerGui : public GuiTurner<StringGuiPin> {
public:
    Qv_textturnerGui() { registerPins(&Qv_textturnerGui::onSetTextInL, &Qv_textturnerGui::onSetTextInR, Outputs::KeepWrittenValue); }

    void onSetTextInL() { copyLeft(); }
    void onSetTextInR() { copyRight(); }
};

MP_REGISTER_MODULE(Qv_textturnerGui, L"QV_TextTurner")
