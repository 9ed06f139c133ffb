// A MIDI switch: everything passes (on channel 1) while the switch pin's low 16 bits are exactly
// 1; any other setting drops everything.
#include "Midi/MidiFilter.h"

class Qv_miditroughswitch : public MpBase {
public:
    enum Pin { kMidiIn, kSwitch, kMidiOut };
    static constexpr uint16_t kOn = 1;

    Qv_miditroughswitch()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kSwitch, switch_);
        initializePin(kMidiOut, midiOut_);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        setting_ = static_cast<uint16_t>(static_cast<uint32_t>(switch_.value) & 0xFFFFu);
        if (setting_ == kOn)
            midi::send(midiOut_, midi_filter::framed(bytes, size));
    }

private:
    MidiInPin midiIn_;
    IntInPin switch_;
    MidiOutPin midiOut_;

    uint16_t setting_ = 0;  // the switch pin's low 16 bits, unsigned
};

MP_REGISTER_MODULE(Qv_miditroughswitch, L"QV_MidiTroughSwitch")
