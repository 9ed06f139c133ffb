// Passes only the control changes of up to four selected controllers, as [0xB0, controller,
// value]; everything else is dropped.
#include "Midi/MidiFilter.h"

class Qv_passcontroller : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kFirstSelector };

    Qv_passcontroller()
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
            midi::send(midiOut_, m);
    }

private:
    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    midi_filter::ControllerSelectors<4> selectors_;  // pins 2-5
};

MP_REGISTER_MODULE(Qv_passcontroller, L"QV_PassController")
