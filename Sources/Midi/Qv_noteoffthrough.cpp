// Lets only note-offs through, silent note-ons among them, as [0x80, note, velocity] on
// channel 1; everything else is dropped.
#include "Midi/MidiFilter.h"

class Qv_noteoffthrough : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut };

    Qv_noteoffthrough()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi_filter::framed(bytes, size);
        if (m.kind() == midi::kNoteOff)
            midi::send(midiOut_, m);
    }

private:
    MidiInPin midiIn_;
    MidiOutPin midiOut_;
};

MP_REGISTER_MODULE(Qv_noteoffthrough, L"QV_NoteOffThrough")
