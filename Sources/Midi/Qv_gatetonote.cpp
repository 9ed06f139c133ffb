// A gate-to-note converter: the gate read at the start of each piece turns the note of the int
// pin on when it rises above 0.0 and off when it falls to 0.0 or below, with the velocity CV,
// sent at the start of that piece. At most one edge per piece; the note-off always names the note
// that was turned on, so a note pin changed meanwhile leaves nothing hanging.
#include "Midi/SignalMidi.h"
#include "MpProcessing.h"

using namespace signal_midi;

class Qv_gatetonote : public MpBase {
public:
    enum Pin { kGateIn, kNote, kVelocityCv, kMidiOut };

    Qv_gatetonote()
    {
        initializePin(kGateIn, gateIn_);
        initializePin(kNote, note_);
        initializePin(kVelocityCv, velocityCv_);
        initializePin(kMidiOut, midiOut_);
    }

    // Idle until the first pin update.
    void onSetPins() override { setSubProcess(&Qv_gatetonote::subProcess); }

    void subProcess(int offset, int)
    {
        const float gate = sampleAt(gateIn_, offset);
        if (gate > 0.0f && !sounding_) {
            soundingNote_ = dataFromPin(note_.value);
            midi::send(midiOut_, midi::kNoteOn, soundingNote_, velocityAt(offset), offset);
            sounding_ = true;
        } else if (gate <= 0.0f && sounding_) {
            midi::send(midiOut_, midi::kNoteOff, soundingNote_, velocityAt(offset), offset);
            sounding_ = false;
        }
    }

private:
    uint8_t velocityAt(int offset) const { return midi::cvToData(sampleAt(velocityCv_, offset)); }

    AudioInPin gateIn_;
    IntInPin note_;
    AudioInPin velocityCv_;
    MidiOutPin midiOut_;

    bool sounding_ = false;      // a note-on was sent and its note-off not yet
    uint8_t soundingNote_ = 0;   // the note that note-on named
};

MP_REGISTER_MODULE(Qv_gatetonote, L"QV_GateToNote")
