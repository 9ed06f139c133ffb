// Interface half of QV_ChangeTriggerTimed: any notification of its four watched pins asks for a
// gate of the time latched from pin 4; a change of that time alone sends nothing.
#include "Utility/ChangeTrigger.h"

class Qv_changetriggertimedGui : public ChangeWatchGui<Qv_changetriggertimedGui> {
public:
    enum TimedPin { kGateOpenTime = kTextIn + 1 };

    Qv_changetriggertimedGui()
    {
        initializePin(kGateOpenTime, gateOpenTime_, &Qv_changetriggertimedGui::onSetGateOpenTime);
    }

    void onSetGateOpenTime() { gateSeconds_ = gateOpenTime_.getValue(); }

    float triggerValue() const { return gateSeconds_; }

private:
    MpGuiPin<float> gateOpenTime_;

    float gateSeconds_ = 0.0f;  // seconds
};

MP_REGISTER_MODULE(Qv_changetriggertimedGui, L"QV_ChangeTriggerTimed")
