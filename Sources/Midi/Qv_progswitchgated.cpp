// Steps the program one down or up from the current program on its pin and issues it when the
// commit note arrives; nothing passes. It counts nothing itself: the next program always comes
// from the pin, and before the pin has had a value the commit note sends nothing.
#include "Midi/ProgramChange.h"
#include "MpProcessing.h"

class Qv_progswitchgated : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kCurrentProgram, kDirection };
    enum Direction { kDown = 0, kUp = 1 };

    Qv_progswitchgated()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kCurrentProgram, currentProgram_);
        initializePin(kDirection, direction_);
    }

    void onSetPins() override { notePinValue(); }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        notePinValue();  // a value arriving with the message counts for it
        int32_t next = midi::modeOf(currentProgram_.value);
        if (direction_.value == kDown)
            --next;
        else if (direction_.value == kUp)
            ++next;
        nextProgram_ = static_cast<int16_t>(midi::clampData(next));
        if (programKnown_ && program_change::isCommitNote(midi::Message::read(bytes, size)))
            program_change::sendProgram(midiOut_, static_cast<uint8_t>(nextProgram_));
    }

private:
    void notePinValue()
    {
        if (currentProgram_.isUpdated)
            programKnown_ = true;
    }

    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    IntInPin currentProgram_;
    IntInPin direction_;  // 0 down, 1 up, anything else stays

    int16_t nextProgram_ = 0;    // 0-127
    bool programKnown_ = false;  // the current-program pin has had a value
};

MP_REGISTER_MODULE(Qv_progswitchgated, L"QV_ProgSwitchGated")
