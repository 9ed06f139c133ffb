// A note activity LED: each note-on or note-off is shown 0.05 s later, less a lead time of pin 1
// milliseconds (at once from 50 ms on), at piece resolution. Each indication is posted twice.
#include "Common/SampleCount.h"
#include "Common/SampleCountdown.h"
#include "Midi/Indicator.h"
#include "Midi/MidiBytes.h"
#include "Midi/SignalMidi.h"

class Qv_miditoled : public MpBase {
public:
    enum Pin { kMidiIn, kLeadMilliseconds, kSilentOut };

    Qv_miditoled()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kLeadMilliseconds, leadMilliseconds_);
        initializePin(kSilentOut, silentOut_);
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_miditoled::subProcess);
        return 0;
    }

    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size);
        if (!m.isNoteOn() && !m.isNoteOff())
            return;
        pending_ = m.isNoteOn() ? indicator::kOn : indicator::kOff;
        sent_ = false;
        countdown_.start(samplesIn(kDelaySeconds, getSampleRate()));
    }

    void subProcess(int offset, int frames)
    {
        // The output carries nothing, but holds silence rather than whatever the buffer held.
        signal_midi::fillPiece(silentOut_, offset, frames, 0.0f);
        countdown_.step(frames);
        // A negative lead time counts as none.
        const int32_t lead = samplesIn(static_cast<float>(leadMilliseconds_.value) * 0.001f, getSampleRate());
        if (countdown_.left() <= lead && !sent_) {
            sent_ = true;
            indicator::post(*this, pending_);
            indicator::post(*this, pending_);
        }
    }

private:
    static constexpr float kDelaySeconds = 0.05f;

    MidiInPin midiIn_;
    IntInPin leadMilliseconds_;
    AudioOutPin silentOut_;

    SampleCountdown countdown_;  // samples until the indication
    int32_t pending_ = indicator::kOff;
    bool sent_ = false;
};

MP_REGISTER_MODULE(Qv_miditoled, L"QV_MidiToLed")
