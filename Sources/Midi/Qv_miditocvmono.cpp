// Monophonic MIDI to gate and pitch with lowest-note priority: the gate opens with the first held
// note and closes with the last release; while notes are held the pitch follows the lowest one,
// and after the last release it stays where it was.
#include "Midi/SignalMidi.h"
#include "MpProcessing.h"

#include <array>

using namespace signal_midi;

class Qv_miditocvmono : public MpBase {
public:
    enum Pin { kMidiIn, kGateOut, kPitchOut };
    static constexpr int32_t kNoneHeld = midi::kNotes;

    Qv_miditocvmono()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kGateOut, gateOut_);
        initializePin(kPitchOut, pitchOut_);
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_miditocvmono::subProcess);
        return 0;
    }

    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size);
        // Bytes of 128 and more are no notes: never held, never released.
        if (m.data1 >= midi::kNotes)
            return;
        if (m.isNoteOn()) {
            const bool wasHeld = heldCount_ > 0;
            if (heldVelocity_[m.data1] == 0)
                ++heldCount_;
            heldVelocity_[m.data1] = m.data2;
            followLowest();
            if (!wasHeld)
                gate_ = kGateHigh;  // a note played over held ones moves the pitch only
        } else if (m.isNoteOff()) {
            if (heldVelocity_[m.data1] != 0)
                --heldCount_;
            heldVelocity_[m.data1] = 0;
            if (heldCount_ == 0) {
                lowest_ = kNoneHeld;
                gate_ = kGateLow;
            } else {
                followLowest();
            }
        }
    }

    void subProcess(int offset, int frames)
    {
        fillPiece(gateOut_, offset, frames, gate_);
        fillPiece(pitchOut_, offset, frames, pitch_);
    }

private:
    void followLowest()
    {
        lowest_ = 0;
        while (lowest_ < kNoneHeld && heldVelocity_[static_cast<std::size_t>(lowest_)] == 0)
            ++lowest_;
        if (lowest_ < kNoneHeld)
            pitch_ = pitchOfNote(lowest_);
    }

    MidiInPin midiIn_;
    AudioOutPin gateOut_;
    AudioOutPin pitchOut_;

    std::array<int32_t, midi::kNotes> heldVelocity_{};  // 0 = not held
    int32_t lowest_ = 0;     // note number; kNoneHeld after the last release
    int32_t heldCount_ = 0;  // notes
    float gate_ = kGateLow;   // 1.0 = 10 V
    float pitch_ = 0.0f;      // 1/120 per semitone
};

MP_REGISTER_MODULE(Qv_miditocvmono, L"QV_MidiToCvMono")
