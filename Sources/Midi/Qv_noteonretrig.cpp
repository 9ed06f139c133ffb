// Retriggers every held note on each new note-on: at mode 3 or more a note-on ends all notes and
// strikes every held note again, the new one included, each with its own velocity. Below 3
// everything passes on channel 1.
#include "Midi/HeldNotes.h"
#include "Midi/MidiFilter.h"

class Qv_noteonretrig : public midi_filter::ModeSwitchedFilter<Qv_noteonretrig> {
public:
    static constexpr int16_t kRetriggering = 3;
    static constexpr uint8_t kSweepVelocity = 127;

    void filter(int16_t mode, const unsigned char* bytes, int size)
    {
        const midi::Message m = midi_filter::framed(bytes, size);
        // A release is forgotten in every mode, so a note let go while not retriggering is never
        // struck again later.
        if (m.kind() == midi::kNoteOff)
            heldVelocity.release(m.data1);
        if (mode >= kRetriggering && m.kind() == midi::kNoteOn) {
            heldVelocity.press(m.data1, m.data2);
            midi::sendAllNotes(midiOut_, midi::kNoteOff, kSweepVelocity);
            heldVelocity.sendHeld(midiOut_, midi::kNoteOn);
            return;
        }
        midi::send(midiOut_, m);
    }

private:
    HeldNotes heldVelocity;  // filled at mode 3 or more
};

MP_REGISTER_MODULE(Qv_noteonretrig, L"QV_NoteOnRetrig")
