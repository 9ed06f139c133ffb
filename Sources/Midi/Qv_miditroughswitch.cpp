// A MIDI switch: everything passes (on channel 1) while the switch pin's low 16 bits are exactly
// 1; any other setting drops everything but the note-offs of notes let through while it was on.
#include "Midi/MidiFilter.h"
#include "Midi/SoundingNotes.h"

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
        const midi::Message m = midi_filter::framed(bytes, size);
        if (setting_ == kOn || sounding_.ends(m))
            sounding_.send(midiOut_, m);
    }

private:
    MidiInPin midiIn_;
    IntInPin switch_;
    MidiOutPin midiOut_;

    uint16_t setting_ = 0;  // the switch pin's low 16 bits, unsigned
    SoundingNotes sounding_;
};

MP_REGISTER_MODULE(Qv_miditroughswitch, L"QV_MidiTroughSwitch")
