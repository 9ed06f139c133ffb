// Family base of the one-signal shapers: audio in, f(in) out, sample by sample. The output
// streams exactly when the input streams; with a static input the module computes one more block
// length of samples and then lets the framework put it to sleep.
#pragma once

#include "MpProcessing.h"

template <class Module>
class SignalShaper : public MpBase {
public:
    enum Pin { kSignalIn, kSignalOut };

    SignalShaper()
    {
        initializePin(kSignalIn, signalIn_);
        initializePin(kSignalOut, signalOut_);
    }

    void onSetPins() override
    {
        const bool streaming = signalIn_.isStreaming;
        signalOut_.setStreaming(streaming);
        setSubProcess(&SignalShaper::subProcess);
        setSleep(!streaming);
    }

    void subProcess(int offset, int frames)
    {
        const float* in = signalIn_.getBuffer();
        float* out = signalOut_.getBuffer();
        if (!in || !out)
            return;
        in += offset;
        out += offset;
        for (int i = 0; i < frames; ++i)
            out[i] = Module::shape(in[i]);
    }

private:
    AudioInPin signalIn_;
    AudioOutPin signalOut_;
};

// Audio floats carry volts with 1.0 standing for 10 V.
inline constexpr float kVoltsPerUnit = 10.0f;
