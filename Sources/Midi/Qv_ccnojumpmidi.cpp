// Keeps a hardware knob from making a synth parameter jump: controllers from the hardware pass
// directly, relative to the parameter's value, or once the knob picks the value up. The
// parameters' current values come back as controllers on the feedback input.
#include "Midi/MidiBytes.h"
#include "Midi/SoftTakeover.h"
#include "MpProcessing.h"

using soft_takeover::Way;

class Qv_ccnojumpmidi : public MpBase {
public:
    enum Pin { kControllerIn, kFeedbackIn, kMidiOut, kMode, kMethod };

    Qv_ccnojumpmidi()
    {
        initializePin(kControllerIn, controllerIn_);
        initializePin(kFeedbackIn, feedbackIn_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kMode, mode_);
        initializePin(kMethod, method_);
    }

    void onMidiMessage(int pin, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size);
        if (!m.isController() || m.data1 >= midi::kNotes)
            return;
        const int value = midi::clampData(static_cast<int32_t>(m.data2));
        if (pin == kFeedbackIn) {
            controllers_.setParameter(m.data1, value);
        } else if (pin == kControllerIn) {
            if (auto sent = controllers_.move(m.data1, value, way()))
                midi::send(midiOut_, midi::kControlChange, m.data1, *sent);
        }
    }

private:
    // Mode 0 direct, 1 no-jump; method 0 relative, 1 pickup; any other value passes nothing. Both
    // pins are read whole at each message: 65536 is not 0.
    Way way() const
    {
        if (mode_.value == 0)
            return Way::Direct;
        if (mode_.value != 1)
            return Way::Nothing;
        return method_.value == 0 ? Way::Relative : method_.value == 1 ? Way::Pickup : Way::Nothing;
    }

    MidiInPin controllerIn_;
    MidiInPin feedbackIn_;
    MidiOutPin midiOut_;
    IntInPin mode_;
    IntInPin method_;

    soft_takeover::Controllers controllers_;
};

MP_REGISTER_MODULE(Qv_ccnojumpmidi, L"QV_CCNoJumpMidi")
