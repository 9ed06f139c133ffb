// A four-step LED from an audio level, judged at each streaming change of the input: below 0.25
// dark, then steps at 0.75 and 1.25. A level exactly on a step boundary (or no number) leaves the
// LED as it is.
#include "Midi/Indicator.h"

class Qv_leddriver : public MpBase {
public:
    enum Pin { kLevelIn };

    Qv_leddriver() { initializePin(kLevelIn, levelIn_); }

    void onSetPins() override
    {
        const float v = levelIn_.getValue();
        if (v < 0.25f)
            indicator::post(*this, indicator::kLevelDark);
        else if (v > 0.25f && v < 0.75f)
            indicator::post(*this, indicator::kLevelLow);
        else if (v > 0.75f && v < 1.25f)
            indicator::post(*this, indicator::kLevelHigh);
        else if (v > 1.25f)
            indicator::post(*this, indicator::kLevelFull);
    }

private:
    AudioInPin levelIn_;
};

MP_REGISTER_MODULE(Qv_leddriver, L"QV_LedDriver")
