// Processing half of QV_ChangeTriggerTimed: each change on the interface opens a gate of 1.0 for
// the received time in seconds, from the next piece on; the gate closes at the first piece
// boundary at or after that many samples. A new change restarts it.
#include "MpProcessing.h"
#include "PresetStore/SampleCount.h"
#include "PresetStore/TaggedValue.h"
#include "Utility/ChangeTriggerMessages.h"

class Qv_changetriggertimed : public MpBase {
public:
    enum Pin { kGateOut };

    Qv_changetriggertimed() { initializePin(kGateOut, gateOut_); }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_changetriggertimed::subProcess);
        sampleRate_ = getSampleRate();
        return mpapi::MP_RESULT_OK;
    }

    void onSetPins() override { gateOut_.setStreaming(true); }

    void subProcess(int offset, int frames)
    {
        float* out = gateOut_.getBuffer();
        if (!out || frames <= 0)
            return;
        const float level = countdown_ > 0 ? 1.0f : 0.0f;
        for (int i = offset; i < offset + frames; ++i)
            out[i] = level;
        countdown_ = countdown_ > frames ? countdown_ - frames : 0;
    }

    // Any id; only a "v" text counts. The count saturates: no time, however long or NaN,
    // overflows it.
    int32_t receiveMessageFromGui(int32_t, int32_t size, const void* data) noexcept override
    {
        float seconds = 0.0f;
        if (numtext::hasTag(size, data, change_trigger::kValueTag) && numtext::readTaggedValue(size, data, seconds))
            countdown_ = samplesIn(seconds, sampleRate_);
        return mpapi::MP_RESULT_OK;
    }

private:
    AudioOutPin gateOut_;

    float sampleRate_ = 0.0f;  // Hz, read at open
    int32_t countdown_ = 0;    // samples the gate stays open, never below 0
};

MP_REGISTER_MODULE(Qv_changetriggertimed, L"QV_ChangeTriggerTimed")
