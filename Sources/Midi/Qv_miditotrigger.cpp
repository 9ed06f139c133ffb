// A note-on or program change that matches its selector raises the trigger output to 1.0; each
// further match puts one sample of 0.0 at the start of the next piece, so every match is a fresh
// rising edge. Selector 1 matches everything, k >= 2 matches note or program k - 2, and 0 or
// less matches nothing.
#include "Midi/SignalMidi.h"
#include "MpProcessing.h"

using namespace signal_midi;

class Qv_miditotrigger : public MpBase {
public:
    enum Pin { kMidiIn, kNoteSelector, kProgramSelector, kTriggerOut };
    static constexpr int32_t kMatchAny = 1;
    static constexpr int32_t kFirstNumber = 2;  // selector of note or program 0

    Qv_miditotrigger()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kNoteSelector, noteSelector_);
        initializePin(kProgramSelector, programSelector_);
        initializePin(kTriggerOut, triggerOut_);
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_miditotrigger::subProcess);
        return 0;
    }

    void onSetPins() override { triggerOut_.setStreaming(true); }

    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size);
        const bool match = (m.isNoteOn() && matches(noteSelector_.value, m.data1)) ||
                           (m.kind() == midi::kProgramChange && matches(programSelector_.value, m.data1));
        if (match) {
            firstSample_ = kGateLow;
            level_ = kGateHigh;
        }
    }

    void subProcess(int offset, int frames)
    {
        if (frames <= 0)
            return;
        fillPiece(triggerOut_, offset, 1, firstSample_);
        firstSample_ = level_;
        fillPiece(triggerOut_, offset + 1, frames - 1, level_);
    }

private:
    static bool matches(int32_t selector, uint8_t number)
    {
        return selector == kMatchAny || (selector >= kFirstNumber && selector - kFirstNumber == number);
    }

    MidiInPin midiIn_;
    IntInPin noteSelector_;
    IntInPin programSelector_;
    AudioOutPin triggerOut_;

    float firstSample_ = kGateLow;  // the first sample of the next piece
    float level_ = kGateLow;        // every later sample
};

MP_REGISTER_MODULE(Qv_miditotrigger, L"QV_MidiToTrigger")
