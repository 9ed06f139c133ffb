// Interface half of QV_BoolToControl: a button that acts on release; pressing sends nothing.
#include "MpInterface.h"
#include "Utility/BridgeMessages.h"

class Qv_booltocontrolGui : public MpGuiBase {
public:
    enum Pin { kButton };

    Qv_booltocontrolGui() { initializePin(kButton, button_, &Qv_booltocontrolGui::onSetBoolIn); }

    void onSetBoolIn()
    {
        const bool pressed = button_.getValue();
        if (wasPressed_ && !pressed && host)
            host->postMessageToAudio(bridge::kButtonReleased, 0, nullptr);
        wasPressed_ = pressed;
    }

private:
    MpGuiPin<bool> button_;

    bool wasPressed_ = false;
};

MP_REGISTER_MODULE(Qv_booltocontrolGui, L"QV_BoolToControl")
