// A gate-triggered control change: when the gate input changes state and reads above 0.5, the
// controller and value stored so far are sent at the block start; only then are the new
// controller number and value CV of the same update taken.
#include "Midi/SignalMidi.h"
#include "MpProcessing.h"

using namespace signal_midi;

class Qv_gatetocc : public MpBase {
public:
    enum Pin { kGateIn, kController, kValueCv, kMidiOut };
    static constexpr float kGateThreshold = 0.5f;
    static constexpr int32_t kNone = -1;

    Qv_gatetocc()
    {
        initializePin(kGateIn, gateIn_);
        initializePin(kController, controller_);
        initializePin(kValueCv, valueCv_);
        initializePin(kMidiOut, midiOut_);
    }

    void onSetPins() override
    {
        // Before both a controller and a value have arrived there is nothing true to send.
        if (gateIn_.isUpdated && gateIn_.getValue() > kGateThreshold && storedController_ != kNone &&
            storedValue_ != kNone) {
            midi::send(midiOut_, midi::kControlChange, static_cast<uint8_t>(storedController_),
                       static_cast<uint8_t>(storedValue_), 0);
        }
        if (controller_.isUpdated)
            storedController_ = dataFromPin(controller_.value);
        if (valueCv_.isUpdated)
            storedValue_ = midi::cvToData(valueCv_.getValue());
    }

private:
    AudioInPin gateIn_;
    IntInPin controller_;
    AudioInPin valueCv_;
    MidiOutPin midiOut_;

    int32_t storedController_ = kNone;  // 0-127 once pin 1 has updated
    int32_t storedValue_ = kNone;       // 0-127 once the value CV has been read
};

MP_REGISTER_MODULE(Qv_gatetocc, L"QV_GateToCC")
