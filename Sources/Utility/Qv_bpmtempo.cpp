// The host's tempo and transport as two static audio levels: tempo x 0.1 (120 BPM gives 12.0) and
// 1.0 while the transport runs. Each change is announced as a step at its sample and written for
// one block length; then the module sleeps until the next change.
#include "MpProcessing.h"

class Qv_bpmtempo : public MpBase {
public:
    enum Pin { kTempo, kRunning, kTempoOut, kRunningOut };

    Qv_bpmtempo()
    {
        initializePin(kTempo, tempo_);
        initializePin(kRunning, running_);
        initializePin(kTempoOut, tempoOut_);
        initializePin(kRunningOut, runningOut_);
    }

    void onSetPins() override
    {
        if (running_.isUpdated)
            runningOut_.setStreaming(false);
        if (tempo_.isUpdated)
            tempoOut_.setStreaming(false);
        setSubProcess(&Qv_bpmtempo::subProcess);
    }

    // A tempo that is no number gives 0.0 rather than a NaN level.
    void subProcess(int offset, int frames)
    {
        float* tempoOut = tempoOut_.getBuffer();
        float* runningOut = runningOut_.getBuffer();
        if (!tempoOut || !runningOut)
            return;
        const float tempo = tempo_.getValue();
        const float level = tempo == tempo ? tempo * 0.1f : 0.0f;
        const float running = running_.getValue() ? 1.0f : 0.0f;
        for (int i = offset; i < offset + frames; ++i) {
            tempoOut[i] = level;
            runningOut[i] = running;
        }
    }

private:
    FloatInPin tempo_;       // beats per minute
    BoolInPin running_;
    AudioOutPin tempoOut_;
    AudioOutPin runningOut_;
};

MP_REGISTER_MODULE(Qv_bpmtempo, L"QV_BpmTempo")
