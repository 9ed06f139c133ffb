// The voice distributor with two reset inputs: a crossing of level 3 on the int input, or the
// bool input falling, frees every voice and starts the round-robin at voice 1 again.
#include "Midi/VoiceDistributor.h"

class Qv_voicedistributorreset : public VoiceDistributor {
public:
    enum Pin { kResetLevel = kGateLast + 1, kReset };

    Qv_voicedistributorreset()
    {
        initializePin(kResetLevel, resetLevel_);
        initializePin(kReset, reset_);
    }

    void onSetPins() override
    {
        if (resetLevel_.isUpdated) {
            const bool high = resetLevel_.value >= kClosed;
            if (high != levelHigh_)
                resetVoices();
            levelHigh_ = high;
        }
        if (reset_.isUpdated) {
            if (!reset_.value && resetWasTrue_)
                resetVoices();
            resetWasTrue_ = reset_.value;
        }
    }

protected:
    // A level that went high without an event (set before any change was seen) still resets
    // once, at the next note-on.
    void beforeVoiceSearch() override
    {
        if (resetLevel_.value >= kClosed) {
            if (!levelHigh_) {
                resetVoices();
                levelHigh_ = true;
            }
        } else {
            levelHigh_ = false;
        }
    }

private:
    IntInPin resetLevel_;
    BoolInPin reset_;

    bool levelHigh_ = false;     // the reset level was 3 or more
    bool resetWasTrue_ = false;  // last value of the reset input
};

MP_REGISTER_MODULE(Qv_voicedistributorreset, L"QV_VoiceDistributorReset")
