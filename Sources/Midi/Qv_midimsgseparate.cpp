// Splits a MIDI line by kind: notes, controllers, program changes (raised into the upper bank of
// 64 at mode 3 or more), and the sustain pedal's presses and releases on outputs of their own.
#include "Midi/MidiFilter.h"

class Qv_midimsgseparate : public MpBase {
public:
    enum Pin { kMidiIn, kNotesOut, kControllersOut, kProgramsOut, kSustainPressedOut, kSustainReleasedOut, kMode };
    static constexpr uint8_t kSustain = 64;
    static constexpr uint8_t kUpperBank = 64;
    static constexpr int16_t kRaised = 3;

    Qv_midimsgseparate()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kNotesOut, notesOut_);
        initializePin(kControllersOut, controllersOut_);
        initializePin(kProgramsOut, programsOut_);
        initializePin(kSustainPressedOut, sustainPressedOut_);
        initializePin(kSustainReleasedOut, sustainReleasedOut_);
        initializePin(kMode, modePin_);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        mode_ = midi::modeOf(modePin_.value);
        midi::Message m = midi_filter::framed(bytes, size);
        switch (m.kind()) {
        case midi::kNoteOn:
        case midi::kNoteOff:
            midi::send(notesOut_, m);
            break;
        case midi::kControlChange:
            if (m.data1 == kSustain)
                midi::send(m.data2 != 0 ? sustainPressedOut_ : sustainReleasedOut_, m);
            midi::send(controllersOut_, m);
            break;
        case midi::kProgramChange:
            if (mode_ >= kRaised && m.data1 < kUpperBank)
                m.data1 = static_cast<uint8_t>(m.data1 + kUpperBank);
            midi::send(programsOut_, m);
            break;
        default:
            break;
        }
    }

private:
    MidiInPin midiIn_;
    MidiOutPin notesOut_;
    MidiOutPin controllersOut_;
    MidiOutPin programsOut_;
    MidiOutPin sustainPressedOut_;
    MidiOutPin sustainReleasedOut_;
    IntInPin modePin_;

    int16_t mode_ = 0;
};

MP_REGISTER_MODULE(Qv_midimsgseparate, L"QV_MidiMsgSeparate")
