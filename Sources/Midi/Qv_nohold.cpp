// Keeps one note sounding: at mode 3 or more each note-on first ends the previous note. Mode 2
// drops everything but the note-offs of notes let through before; mode 1 or below passes
// everything (channel 1) and only remembers the last note.
#include "Midi/MidiFilter.h"
#include "Midi/SoundingNotes.h"

class Qv_nohold : public midi_filter::ModeSwitchedFilter<Qv_nohold> {
public:
    static constexpr int16_t kMuted = 2;
    static constexpr int16_t kLastNoteOnly = 3;

    void filter(int16_t mode, const unsigned char* bytes, int size)
    {
        const midi::Message m = midi_filter::framed(bytes, size);
        if (mode == kMuted) {
            if (sounding_.ends(m))
                sounding_.send(midiOut_, m);
            return;
        }
        if (m.kind() == midi::kNoteOn) {
            if (mode >= kLastNoteOnly)
                sounding_.send(midiOut_, {midi::kNoteOff, static_cast<uint8_t>(lastNote_), 0});
            lastNote_ = m.data1;
        }
        sounding_.send(midiOut_, m);
    }

private:
    int32_t lastNote_ = 0;  // the last note struck (0 before any)
    SoundingNotes sounding_;
};

MP_REGISTER_MODULE(Qv_nohold, L"QV_NoHold")
