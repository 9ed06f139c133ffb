// The program number of the last program change (any channel) on an int output, sent when it
// changes.
#include "Midi/MidiBytes.h"
#include "MpProcessing.h"

class Qv_prgchngtoint : public MpBase {
public:
    enum Pin { kMidiIn, kProgramOut };

    Qv_prgchngtoint()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kProgramOut, programOut_);
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        programOut_ = 0;
        return 0;
    }

    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size);
        if (m.kind() == midi::kProgramChange)
            programOut_ = m.data1;  // sent only when it differs
    }

private:
    MidiInPin midiIn_;
    IntOutPin programOut_;
};

MP_REGISTER_MODULE(Qv_prgchngtoint, L"QV_PrgChngToInt")
