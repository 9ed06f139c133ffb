// Retriggers every held note on each new note-on: at mode 3 or more a note-on ends all notes and
// strikes every held note again, the new one included, each with its own velocity. Below 3
// everything passes on channel 1.
#include "Midi/HeldNotes.h"
#include "Midi/MidiFilter.h"

class Qv_noteonretrig : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kMode };
    static constexpr int16_t kRetriggering = 3;
    static constexpr uint8_t kSweepVelocity = 127;

    Qv_noteonretrig()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kMode, modePin_);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        mode_ = midi::modeOf(modePin_.value);
        const midi::Message m = midi_filter::framed(bytes, size);
        // A release is forgotten in every mode, so a note let go while not retriggering is never
        // struck again later.
        if (m.kind() == midi::kNoteOff)
            heldVelocity.release(m.data1);
        if (mode_ >= kRetriggering && m.kind() == midi::kNoteOn) {
            heldVelocity.press(m.data1, m.data2);
            midi::sendAllNotes(midiOut_, midi::kNoteOff, kSweepVelocity);
            heldVelocity.sendHeld(midiOut_, midi::kNoteOn);
            return;
        }
        midi::send(midiOut_, m);
    }

private:
    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    IntInPin modePin_;

    HeldNotes heldVelocity;  // filled at mode 3 or more
    int16_t mode_ = 0;
};

MP_REGISTER_MODULE(Qv_noteonretrig, L"QV_NoteOnRetrig")
