// Mono feedback delay of the patch: the wet signal only, its length following the time pin in
// milliseconds, the feedback factor read per sample. Every time event starts an empty line; the
// output streams from open on, so echoes always decay in full.
#include "MpProcessing.h"
#include "Utility/DelayLine.h"

class Qv_delay : public MpBase {
public:
    enum Pin { kSignalIn, kFeedback, kSignalOut, kTimeMs };

    Qv_delay()
    {
        initializePin(kSignalIn, signalIn_);
        initializePin(kFeedback, feedback_);
        initializePin(kSignalOut, signalOut_);
        initializePin(kTimeMs, timeMs_);
    }

    int32_t open() noexcept override
    {
        setSubProcess(&Qv_delay::subProcess);
        MpBase::open();
        line_.reserve(getSampleRate());
        CreateBuffer();
        signalOut_.setStreaming(true);
        return mpapi::MP_RESULT_OK;
    }

    // Any event on the time pin, changed or not, starts a new empty line.
    void onSetPins() override
    {
        if (!timeMs_.isUpdated)
            return;
        delayMs_ = timeMs_.getValue();
        CreateBuffer();
    }

    void subProcess(int offset, int frames)
    {
        const float* in = signalIn_.getBuffer();
        const float* feedback = feedback_.getBuffer();
        float* out = signalOut_.getBuffer();
        if (!in || !feedback || !out || frames <= 0)
            return;
        line_.process(in + offset, feedback + offset, out + offset, frames);
    }

    // An empty line of the current time at position 0, within the room reserved at open.
    void CreateBuffer() { line_.restart(DelayLine::lengthFor(delayMs_, getSampleRate())); }

private:
    AudioInPin signalIn_;
    AudioInPin feedback_;
    AudioOutPin signalOut_;
    FloatInPin timeMs_;

    float delayMs_ = 0.0f;  // milliseconds; 0 before the first time event gives a 1-sample line
    DelayLine line_;
};

MP_REGISTER_MODULE(Qv_delay, L"QV_Delay")
