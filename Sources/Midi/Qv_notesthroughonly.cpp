// Lets only notes through: note-ons and note-offs leave on channel 1 (a silent note-on as a
// note-off), everything else is dropped.
#include "Midi/MidiFilter.h"

class Qv_notesthroughonly : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut };

    Qv_notesthroughonly()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi_filter::framed(bytes, size);
        if (m.kind() == midi::kNoteOn || m.kind() == midi::kNoteOff)
            midi::send(midiOut_, m);
    }

private:
    MidiInPin midiIn_;
    MidiOutPin midiOut_;
};

MP_REGISTER_MODULE(Qv_notesthroughonly, L"QV_NotesThroughOnly")
