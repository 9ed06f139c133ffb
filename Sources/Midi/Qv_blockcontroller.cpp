// Drops the control changes of up to four selected controllers and passes everything else on
// channel 1. A silent note-on passes as a note-on.
#include "Midi/MidiFilter.h"

class Qv_blockcontroller : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kFirstSelector };

    Qv_blockcontroller()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        selectors_.registerPins(*this, kFirstSelector);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size).onChannelOne();
        if (m.isController() && selectors_.selects(m.data1))
            return;
        midi::send(midiOut_, m);
    }

private:
    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    midi_filter::ControllerSelectors<4> selectors_;  // pins 2-5
};

MP_REGISTER_MODULE(Qv_blockcontroller, L"QV_BlockController")
