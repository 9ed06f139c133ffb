// Processing half of QV_ChangeTriggerTimed: each change on the interface opens a gate of 1.0 for
// the received time in seconds, from the next piece on; the gate closes at the first piece
// boundary at or after that many samples. A new change restarts it.
#include "Common/SampleCount.h"
#include "Common/SampleCountdown.h"
#include "Utility/ChangeGate.h"

class Qv_changetriggertimed : public ChangeGate<Qv_changetriggertimed> {
public:
    int32_t open() noexcept override
    {
        const int32_t result = ChangeGate::open();
        sampleRate_ = getSampleRate();
        return result;
    }

    void writeGate(float* out, int frames)
    {
        const float level = countdown_.running() ? 1.0f : 0.0f;
        for (int i = 0; i < frames; ++i)
            out[i] = level;
        countdown_.step(frames);
    }

    // The count saturates: no time, however long or NaN, overflows it.
    void onChange(float seconds) { countdown_.start(samplesIn(seconds, sampleRate_)); }

private:
    float sampleRate_ = 0.0f;    // Hz, read at open
    SampleCountdown countdown_;  // samples the gate stays open
};

MP_REGISTER_MODULE(Qv_changetriggertimed, L"QV_ChangeTriggerTimed")
