// Processing half of QV_ChangeTrigger: after every change on the interface the gate dips to the
// received value (0.0) for the first sample of the next piece and then holds 1.0. Before the first
// change it is 0.0.
#include "MpProcessing.h"
#include "PresetStore/NumberText.h"
#include "PresetStore/TaggedValue.h"
#include "Utility/ChangeTriggerMessages.h"

class Qv_changetrigger : public MpBase {
public:
    enum Pin { kGateOut };

    Qv_changetrigger() { initializePin(kGateOut, gateOut_); }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_changetrigger::subProcess);
        return mpapi::MP_RESULT_OK;
    }

    void onSetPins() override { gateOut_.setStreaming(true); }

    void subProcess(int offset, int frames)
    {
        float* out = gateOut_.getBuffer();
        if (!out || frames <= 0)
            return;
        out[offset] = pending_;
        pending_ = hold_;
        for (int i = offset + 1; i < offset + frames; ++i)
            out[i] = hold_;
    }

    // Any id; only a "v" text counts. Only 0.0 holds 1.0 after its sample; a value that is no
    // finite number (NaN, an infinity) is written as 0.0 so that no such sample leaves the module.
    int32_t receiveMessageFromGui(int32_t, int32_t size, const void* data) noexcept override
    {
        float value = 0.0f;
        if (!numtext::hasTag(size, data, change_trigger::kValueTag) || !numtext::readTaggedValue(size, data, value))
            return mpapi::MP_RESULT_OK;
        pending_ = numtext::finiteFloat(value);
        hold_ = value == 0.0f ? 1.0f : 0.0f;
        return mpapi::MP_RESULT_OK;
    }

private:
    AudioOutPin gateOut_;

    float pending_ = 0.0f;  // the first sample of the next piece
    float hold_ = 0.0f;     // every later sample
};

MP_REGISTER_MODULE(Qv_changetrigger, L"QV_ChangeTrigger")
