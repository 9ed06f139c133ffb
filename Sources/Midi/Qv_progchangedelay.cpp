// Holds a program change back until the commit note: each program change is answered by the
// trigger note and kept (the later replacing the earlier), and the commit note issues the kept
// one. Nothing passes; before the first program change the commit note sends nothing.
#include "Midi/ProgramChange.h"
#include "MpProcessing.h"

class Qv_progchangedelay : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut };

    Qv_progchangedelay()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size).withSilentNoteOnAsOff();
        if (m.isProgramChange()) {
            program_change::sendTriggerNote(midiOut_);
            storedProgram_ = m.data1;
            storedThird_ = m.data2;
            hasProgram_ = true;
        } else if (hasProgram_ && program_change::isCommitNote(m)) {
            program_change::sendProgram(midiOut_, static_cast<uint8_t>(storedProgram_),
                                        static_cast<uint8_t>(storedThird_));
        }
    }

private:
    MidiInPin midiIn_;
    MidiOutPin midiOut_;

    int32_t storedProgram_ = 0;  // byte value of the last program change
    int32_t storedThird_ = 0;    // its third byte, 0 for a two-byte message
    bool hasProgram_ = false;
};

MP_REGISTER_MODULE(Qv_progchangedelay, L"QV_ProgChangeDelay")
