// Watches a MIDI stream for the notes of one octave and tells the interface half which of its
// twelve keys went down or up, so that an on-screen keyboard lights them.
#include "Midi/KeyboardControlMessages.h"
#include "Midi/MidiBytes.h"
#include "MpProcessing.h"

using namespace keyboard_control;

class Qv_keyboardcontrol : public MpBase {
public:
    enum Pin { kMidiIn, kOctave };

    Qv_keyboardcontrol()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kOctave, octave_);
    }

    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size);
        // Any octave number is fine: notes beyond 0-127 simply never arrive.
        const int64_t key = int64_t{m.data1} - int64_t{kKeysPerOctave} * octave_.value;
        if (key < 0 || key >= kKeysPerOctave)
            return;
        int32_t id = 0;
        if (m.isNoteOn())
            id = kKeyPressed + static_cast<int32_t>(key);
        else if (m.isNoteOff())
            id = kKeyReleased + static_cast<int32_t>(key);
        else
            return;
        if (host) {
            host->postMessageToGui(id, 0, nullptr);
            host->postMessageToGui(id, 0, nullptr);
        }
    }

private:
    MidiInPin midiIn_;
    IntInPin octave_;
};

MP_REGISTER_MODULE(Qv_keyboardcontrol, L"QV_KeyboardControl")
