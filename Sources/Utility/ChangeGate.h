// The processing side of the change triggers: one gate output, streaming from the start, written
// piece by piece by the leaf's writeGate(out, frames) (out already at the piece's first sample),
// and every "v" text from the interface half read as a number and handed to the leaf's
// onChange(value). Texts that are no "v" value are ignored.
#pragma once

#include "Common/TaggedValue.h"
#include "MpProcessing.h"
#include "Utility/ChangeTriggerMessages.h"

template <class Module>
class ChangeGate : public MpBase {
public:
    enum Pin { kGateOut };

    ChangeGate() { initializePin(kGateOut, gateOut_); }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&ChangeGate::subProcess);
        return mpapi::MP_RESULT_OK;
    }

    void onSetPins() override { gateOut_.setStreaming(true); }

    void subProcess(int offset, int frames)
    {
        float* out = gateOut_.getBuffer();
        if (!out || frames <= 0)
            return;
        static_cast<Module*>(this)->writeGate(out + offset, frames);
    }

    // Any id; only a "v" text counts.
    int32_t receiveMessageFromGui(int32_t, int32_t size, const void* data) noexcept override
    {
        float value = 0.0f;
        if (number_text::hasTag(size, data, change_trigger::kValueTag) && number_text::readTaggedValue(size, data, value))
            static_cast<Module*>(this)->onChange(value);
        return mpapi::MP_RESULT_OK;
    }

private:
    AudioOutPin gateOut_;
};
