// Ends every note when a program change arrives: a note-off for each note 0 to 127. Nothing
// passes.
#include "Midi/MidiBytes.h"
#include "MpProcessing.h"

class Qv_progchangenoteoff : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut };

    Qv_progchangenoteoff()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        if (midi::Message::read(bytes, size).isProgramChange())
            midi::sendAllNotes(midiOut_, midi::kNoteOff, 0);
    }

private:
    MidiInPin midiIn_;
    MidiOutPin midiOut_;
};

MP_REGISTER_MODULE(Qv_progchangenoteoff, L"QV_ProgChangeNoteoff")
