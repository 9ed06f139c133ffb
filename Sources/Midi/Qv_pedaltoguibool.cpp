// A sustain-pedal double tap toggles an interface switch. Every MIDI message opens a window of
// pin 2 seconds; a pedal release (CC 64, value 63 or less) that arrives while the window left by
// earlier messages is still open toggles the switch, when enabled (pin 1 exactly 1). The window
// is shown on the audio output.
#include "Common/SampleCount.h"
#include "Common/SampleCountdown.h"
#include "Midi/Indicator.h"
#include "Midi/MidiBytes.h"
#include "Midi/SignalMidi.h"

class Qv_pedaltoguibool : public MpBase {
public:
    enum Pin { kMidiIn, kEnable, kWindowSeconds, kWindowOut };
    static constexpr int32_t kEnabled = 1;
    static constexpr uint8_t kSustain = 64;
    static constexpr uint8_t kReleasedUpTo = 63;

    Qv_pedaltoguibool()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kEnable, enable_);
        initializePin(kWindowSeconds, windowSeconds_);
        initializePin(kWindowOut, windowOut_);
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_pedaltoguibool::subProcessWindow);
        return 0;
    }

    void onSetPins() override { windowOut_.setStreaming(true); }

    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        window_.start(samplesIn(windowSeconds_.value, getSampleRate()));
        const midi::Message m = midi::Message::read(bytes, size);
        if (!m.isController() || m.data1 != kSustain || m.data2 > kReleasedUpTo)
            return;
        // The window judged is the one earlier messages left, as of the last piece.
        if (enable_.value == kEnabled && windowOpen_) {
            toggledOn_ = !toggledOn_;
            indicator::post(*this, toggledOn_ ? indicator::kOn : indicator::kOff);
        }
    }

    void subProcessWindow(int offset, int frames)
    {
        const bool open = window_.running();
        signal_midi::fillPiece(windowOut_, offset, frames, open ? signal_midi::kGateHigh : signal_midi::kGateLow);
        windowOpen_ = window_.step(frames);
    }

private:
    MidiInPin midiIn_;
    IntInPin enable_;
    FloatInPin windowSeconds_;
    AudioOutPin windowOut_;

    bool windowOpen_ = false;  // as of the end of the last piece
    bool toggledOn_ = false;
    SampleCountdown window_;  // samples
};

MP_REGISTER_MODULE(Qv_pedaltoguibool, L"QV_PedalToGuiBool")
