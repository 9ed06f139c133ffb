// A MIDI switch that leaves messages exactly as they came: at mode 3 or more all three bytes pass
// unchanged (channel and silent note-ons kept); below 3 everything is dropped.
#include "Midi/MidiFilter.h"

class Qv_midithroughpasser : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kMode };
    static constexpr int16_t kPassing = 3;

    Qv_midithroughpasser()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kMode, modePin_);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        mode_ = midi::modeOf(modePin_.value);
        if (mode_ >= kPassing)
            midi::send(midiOut_, midi::Message::read(bytes, size));
    }

private:
    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    IntInPin modePin_;

    int16_t mode_ = 0;
};

MP_REGISTER_MODULE(Qv_midithroughpasser, L"QV_MidiThroughPasser")
