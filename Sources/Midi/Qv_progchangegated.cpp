// Issues the program on its int pin as a program change when the commit note arrives; nothing
// passes. Until the pin has had a value there is no program to issue and the commit note sends
// nothing.
#include "Midi/ProgramChange.h"
#include "MpProcessing.h"

class Qv_progchangegated : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kProgram };

    Qv_progchangegated()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kProgram, programPin_);
    }

    void onSetPins() override { notePinValue(); }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        notePinValue();  // a value arriving with the message counts for it
        program_ = midi::modeOf(programPin_.value);
        if (programKnown_ && program_change::isCommitNote(midi::Message::read(bytes, size)))
            program_change::sendProgram(midiOut_, midi::clampData(int32_t{program_}));
    }

private:
    void notePinValue()
    {
        if (programPin_.isUpdated)
            programKnown_ = true;
    }

    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    IntInPin programPin_;

    int16_t program_ = 0;        // the program pin's low 16 bits
    bool programKnown_ = false;  // the program pin has had a value
};

MP_REGISTER_MODULE(Qv_progchangegated, L"QV_ProgChangeGated")
