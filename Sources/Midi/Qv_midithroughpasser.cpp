// A MIDI switch that leaves messages exactly as they came: at mode 3 or more all three bytes pass
// unchanged (channel and silent note-ons kept), SysEx whole; below 3 everything is dropped but the
// note-offs of notes let through before.
#include "Midi/MidiFilter.h"
#include "Midi/SoundingNotes.h"

class Qv_midithroughpasser : public midi_filter::ModeSwitchedFilter<Qv_midithroughpasser> {
public:
    static constexpr int16_t kPassing = 3;

    void filter(int16_t mode, const unsigned char* bytes, int size)
    {
        if (size > 0 && bytes[0] == 0xF0) {
            if (mode >= kPassing)
                midiOut_.send(bytes, size);
            return;
        }
        const midi::Message m = midi::Message::read(bytes, size);
        if (mode >= kPassing || sounding_.ends(m))
            sounding_.send(midiOut_, m);
    }

private:
    SoundingNotes sounding_;
};

MP_REGISTER_MODULE(Qv_midithroughpasser, L"QV_MidiThroughPasser")
