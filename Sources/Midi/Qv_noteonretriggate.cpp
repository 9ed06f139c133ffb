// Retriggers every held note on each new note-on (mode 1 or more; mode 2 ends all notes first)
// and drives a level output: 0.0 while a note is struck, 0.1 after a release. In mode 2 the level
// falls back to 0.0 once the release time after the last note-off has passed while notes are
// still held. Mode 0 or below passes everything and tracks nothing.
#include "Common/SampleCount.h"
#include "Common/SampleCountdown.h"
#include "Midi/HeldNotes.h"
#include "Midi/MidiFilter.h"

#include <algorithm>

class Qv_noteonretriggate : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kMode, kLevelOut, kReleaseTime };
    static constexpr int16_t kTracking = 1;
    static constexpr int16_t kSweeping = 2;
    static constexpr uint8_t kSweepVelocity = 127;
    static constexpr float kReleasedLevel = 0.1f;
    static constexpr float kStruckLevel = 0.0f;
    static constexpr float kStartSeconds = 0.5f;

    Qv_noteonretriggate()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kMode, modePin_);
        initializePin(kLevelOut, levelOut_);
        initializePin(kReleaseTime, releaseTimePin_);
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_noteonretriggate::subProcess);
        sampleRate_ = getSampleRate();
        level_ = kReleasedLevel;
        countdown_.start(samplesIn(kStartSeconds, sampleRate_));
        return 0;
    }

    // The mode copy is taken per MIDI message only: the level output keeps judging by the mode
    // of the last message.
    void onSetPins() override
    {
        if (releaseTimePin_.isUpdated)
            releaseMilliseconds_ = releaseTimePin_.value;
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        mode_ = midi::modeOf(modePin_.value);
        const midi::Message m = midi_filter::framed(bytes, size);
        // A release is forgotten in every mode, so a note let go while not tracking is never
        // struck again later.
        if (m.kind() == midi::kNoteOff)
            heldVelocity.release(m.data1);
        if (mode_ < kTracking) {
            midi::send(midiOut_, m);
            return;
        }
        if (m.kind() == midi::kNoteOff) {
            level_ = kReleasedLevel;
            countdown_.start(samplesInMilliseconds(releaseMilliseconds_, sampleRate_));
        } else if (m.kind() == midi::kNoteOn) {
            level_ = kStruckLevel;
            heldVelocity.press(m.data1, m.data2);
            if (mode_ == kSweeping)
                midi::sendAllNotes(midiOut_, midi::kNoteOff, kSweepVelocity);
            heldVelocity.sendHeld(midiOut_, midi::kNoteOn);
            return;
        }
        midi::send(midiOut_, m);
    }

    void subProcess(int offset, int frames)
    {
        float* out = levelOut_.getBuffer();
        if (!out || frames <= 0)
            return;
        countdown_.step(frames);
        // Judged per piece: the whole piece is low once the release time has run out with notes
        // still held.
        const bool fallen = mode_ == kSweeping && !countdown_.running() && heldVelocity.any();
        std::fill(out + offset, out + offset + frames, fallen ? 0.0f : level_);
    }

private:
    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    IntInPin modePin_;
    AudioOutPin levelOut_;
    FloatInPin releaseTimePin_;

    HeldNotes heldVelocity;             // filled at mode 1 or more
    int16_t mode_ = 0;
    float level_ = kReleasedLevel;      // written to the level output
    float sampleRate_ = 0.0f;           // Hz
    SampleCountdown countdown_;          // samples of release time left
    float releaseMilliseconds_ = 0.0f;  // 0 until the pin first updates
};

MP_REGISTER_MODULE(Qv_noteonretriggate, L"QV_NoteOnRetrigGate")
