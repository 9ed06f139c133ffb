// Turns the sustain pedal into the hold signals of the patch: pressing it (CC 64 at 65 or more)
// sends the pedal note; at mode 3 or more each release (63 or less) toggles the hold
// controllers, CC 85 and CC 86, between on (127, 127) and off (74, 0). Everything else is
// dropped.
#include "Midi/MidiBytes.h"
#include "MpProcessing.h"

class Qv_dampertohold : public MpBase {
public:
    enum Pin { kMidiIn, kHoldOut, kHoldPairOut, kPedalNoteOut, kMode };
    static constexpr uint8_t kSustain = 64;
    static constexpr uint8_t kPressedFrom = 65, kReleasedTo = 63;
    static constexpr uint8_t kHold = 85, kHoldPair = 86;
    static constexpr uint8_t kPedalNote = 40, kPedalVelocity = 127;
    static constexpr int16_t kToggling = 3;

    Qv_dampertohold()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kHoldOut, holdOut_);
        initializePin(kHoldPairOut, holdPairOut_);
        initializePin(kPedalNoteOut, pedalNoteOut_);
        initializePin(kMode, modePin_);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        mode_ = midi::modeOf(modePin_.value);
        const midi::Message m = midi::Message::read(bytes, size);
        if (!m.isController() || m.data1 != kSustain)
            return;
        if (m.data2 >= kPressedFrom) {
            midi::send(pedalNoteOut_, midi::kNoteOn, kPedalNote, kPedalVelocity);
        } else if (m.data2 <= kReleasedTo && mode_ >= kToggling) {
            if (holdOn) {
                midi::send(holdOut_, midi::kControlChange, kHold, 74);
                midi::send(holdPairOut_, midi::kControlChange, kHoldPair, 0);
            } else {
                midi::send(holdOut_, midi::kControlChange, kHold, 127);
                midi::send(holdPairOut_, midi::kControlChange, kHoldPair, 127);
            }
            holdOn = !holdOn;
        }
    }

private:
    MidiInPin midiIn_;
    MidiOutPin holdOut_;      // CC 85
    MidiOutPin holdPairOut_;  // CC 86
    MidiOutPin pedalNoteOut_;
    IntInPin modePin_;

    bool holdOn = false;  // the hold controllers were last sent on
    int16_t mode_ = 0;
};

MP_REGISTER_MODULE(Qv_dampertohold, L"QV_DamperToHold")
