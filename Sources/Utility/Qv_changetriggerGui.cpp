// Interface half of QV_ChangeTrigger: any notification of its four pins asks for a retrigger.
#include "Utility/ChangeTrigger.h"

class Qv_changetriggerGui : public ChangeWatchGui<Qv_changetriggerGui> {
public:
    // 0.0 means "dip for one sample, then hold 1.0".
    float triggerValue() const { return triggerValue_; }

private:
    const float triggerValue_ = 0.0f;
};

MP_REGISTER_MODULE(Qv_changetriggerGui, L"QV_ChangeTrigger")
