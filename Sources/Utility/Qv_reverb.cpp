// Stereo reverb of the patch: both inputs summed into sixteen combs and two allpass chains, with
// room size, stereo width, damping and dry/wet mix read at the start of every piece. It never
// sleeps, so its tail always decays in full.
#include "MpProcessing.h"
#include "Utility/SchroederReverb.h"

class Qv_reverb : public MpBase {
public:
    enum Pin { kLeftIn, kRightIn, kLeftOut, kRightOut, kRoomSize, kWidth, kDamping, kMix };

    Qv_reverb()
    {
        initializePin(kLeftIn, leftIn_);
        initializePin(kRightIn, rightIn_);
        initializePin(kLeftOut, leftOut_);
        initializePin(kRightOut, rightOut_);
        initializePin(kRoomSize, roomSize_);
        initializePin(kWidth, width_);
        initializePin(kDamping, damping_);
        initializePin(kMix, mix_);
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        tank_.clear();
        setSubProcess(&Qv_reverb::subProcess);
        return mpapi::MP_RESULT_OK;
    }

    void onSetPins() override
    {
        if (!leftIn_.isStreaming)
            return;
        setSubProcess(&Qv_reverb::subProcess);
        leftOut_.setStreaming(true);
        rightOut_.setStreaming(true);
    }

    // The controls are read at the piece's first sample and hold for the whole piece.
    void subProcess(int offset, int frames)
    {
        const float* inL = leftIn_.getBuffer();
        const float* inR = rightIn_.getBuffer();
        float* outL = leftOut_.getBuffer();
        float* outR = rightOut_.getBuffer();
        if (!inL || !inR || !outL || !outR || frames <= 0)
            return;
        const auto controls = SchroederReverb::controls(roomSize_.getValue(offset), width_.getValue(offset),
                                                        damping_.getValue(offset), mix_.getValue(offset));
        tank_.process(controls, inL + offset, inR + offset, outL + offset, outR + offset, frames);
    }

private:
    AudioInPin leftIn_;
    AudioInPin rightIn_;
    AudioOutPin leftOut_;
    AudioOutPin rightOut_;
    AudioInPin roomSize_;
    AudioInPin width_;
    AudioInPin damping_;
    AudioInPin mix_;

    SchroederReverb tank_;  // 25,450 samples of lines, their indices and comb stores
};

MP_REGISTER_MODULE(Qv_reverb, L"QV_Reverb")
