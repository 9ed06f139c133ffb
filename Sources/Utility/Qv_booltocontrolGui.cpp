// Interface half of QV_BoolToControl: a button that acts on release; pressing sends nothing.
#include "GuiButtons.h"
#include "MpInterface.h"
#include "Utility/BridgeMessages.h"

class Qv_booltocontrolGui : public MpGuiBase {
public:
    enum Pin { kButton };

    Qv_booltocontrolGui() { initializePin(kButton, button_, &Qv_booltocontrolGui::onSetBoolIn); }

    void onSetBoolIn()
    {
        if (release_.released(button_.getValue()) && host)
            host->postMessageToAudio(bridge::kButtonReleased, 0, nullptr);
    }

private:
    MpGuiPin<bool> button_;

    ReleaseButton release_;
};

MP_REGISTER_MODULE(Qv_booltocontrolGui, L"QV_BoolToControl")
