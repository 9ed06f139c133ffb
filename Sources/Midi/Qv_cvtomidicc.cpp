// A gate-keyed CV-to-controller converter: while the gate is above 0.0 every sample with a new
// controller or value sends a control change, and a gate rising from 0.0 always sends. The controller
// number comes from the int pin, or from its own CV when the source pin is 1. Sends land at the
// block start.
#include "Midi/SignalMidi.h"
#include "MpProcessing.h"

using namespace signal_midi;

class Qv_cvtomidicc : public MpBase {
public:
    enum Pin { kGateIn, kControllerCv, kController, kValueCv, kUnused, kMidiOut, kSource };
    static constexpr int32_t kControllerFromCv = 1;
    // Rounding added before truncation: the int variant's value, and both CVs of the CV variant.
    static constexpr float kValueRoundingFromInt = 0.6f;
    static constexpr float kRoundingFromCv = 0.5f;

    Qv_cvtomidicc()
    {
        initializePin(kGateIn, gateIn_);
        initializePin(kControllerCv, controllerCv_);
        initializePin(kController, controller_);
        initializePin(kValueCv, valueCv_);
        initializePin(kUnused, unused_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kSource, source_);
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_cvtomidicc::subProcessFromInt);
        return 0;
    }

    void onSetPins() override
    {
        if (source_.value == kControllerFromCv)
            setSubProcess(&Qv_cvtomidicc::subProcessFromCv);
        else
            setSubProcess(&Qv_cvtomidicc::subProcessFromInt);
    }

    void subProcessFromInt(int offset, int frames)
    {
        const uint8_t controller = dataFromPin(controller_.value);
        const float* values = valueCv_.getBuffer();
        scan(offset, frames, [&](int i) {
            return Pair{controller, midi::cvToData(values ? values[i] : 0.0f, kValueRoundingFromInt)};
        });
    }

    void subProcessFromCv(int offset, int frames)
    {
        const float* controllers = controllerCv_.getBuffer();
        const float* values = valueCv_.getBuffer();
        scan(offset, frames, [&](int i) {
            return Pair{midi::cvToData(controllers ? controllers[i] : 0.0f, kRoundingFromCv),
                        midi::cvToData(values ? values[i] : 0.0f, kRoundingFromCv)};
        });
    }

private:
    struct Pair {
        uint8_t controller;
        uint8_t value;
    };

    template <class PairAt>
    void scan(int offset, int frames, PairAt&& pairAt)
    {
        const float* gate = gateIn_.getBuffer();
        if (!gate)
            return;
        for (int i = offset; i < offset + frames; ++i) {
            const float g = gate[i];
            if (g > 0.0f) {
                const Pair p = pairAt(i);
                // Only a gate coming from exactly 0.0 sends unchanged values again.
                if (previousGate_ == 0.0f || p.controller != lastController_ || p.value != lastValue_) {
                    midi::send(midiOut_, midi::kControlChange, p.controller, p.value, 0);
                    lastController_ = p.controller;
                    lastValue_ = p.value;
                }
            }
            previousGate_ = g;
        }
    }

    AudioInPin gateIn_;
    AudioInPin controllerCv_;
    IntInPin controller_;
    AudioInPin valueCv_;
    IntInPin unused_;
    MidiOutPin midiOut_;
    IntInPin source_;

    // The gate sample before the current one. A low below 0.0 (or NaN) is not 0.0: a gate rising
    // from it resends only changed values.
    float previousGate_ = 0.0f;
    int32_t lastController_ = -1;  // -1 until the first send
    int32_t lastValue_ = -1;
};

MP_REGISTER_MODULE(Qv_cvtomidicc, L"QV_CvToMidiCC")
