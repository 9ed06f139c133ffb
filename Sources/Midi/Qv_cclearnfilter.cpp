// Keeps the learn controllers' idle values off the line: CC 62 and CC 104 pass only at 121 or
// more, CC 85 and CC 97 only at 119 or less; everything else passes on channel 1.
#include "Midi/MidiFilter.h"

class Qv_cclearnfilter : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut };

    Qv_cclearnfilter()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi_filter::framed(bytes, size);
        if (m.isController() && !passes(m.data1, m.data2))
            return;
        midi::send(midiOut_, m);
    }

private:
    static bool passes(uint8_t controller, uint8_t value)
    {
        switch (controller) {
        case 62:
        case 104:
            return value >= 121;
        case 85:
        case 97:
            return value <= 119;
        default:
            return true;
        }
    }

    MidiInPin midiIn_;
    MidiOutPin midiOut_;
};

MP_REGISTER_MODULE(Qv_cclearnfilter, L"QV_CCLearnFilter")
