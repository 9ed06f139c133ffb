// Keeps a hardware knob from making a synth parameter jump, like QV_CCNoJumpMidi, but learns the
// parameters' current values from signals: a streaming change of the update signal (or of either
// other feedback signal) writes the value signal into the entry named by the controller-number
// signal.
#include "Midi/MidiBytes.h"
#include "Midi/SoftTakeover.h"
#include "MpProcessing.h"

#include <cmath>

using soft_takeover::Way;

class Qv_ccnojumpvolts : public MpBase {
public:
    enum Pin { kControllerIn, kMidiOut, kFeedbackUpdate, kFeedbackController, kFeedbackValue, kMode, kMethod };

    Qv_ccnojumpvolts()
    {
        initializePin(kControllerIn, controllerIn_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kFeedbackUpdate, feedbackUpdate_, &Qv_ccnojumpvolts::onFeedbackStreaming);
        initializePin(kFeedbackController, feedbackController_, &Qv_ccnojumpvolts::onFeedbackStreaming);
        initializePin(kFeedbackValue, feedbackValue_, &Qv_ccnojumpvolts::onFeedbackStreaming);
        initializePin(kMode, mode_);
        initializePin(kMethod, method_);
    }

    // A feedback signal started or stopped streaming at this time stamp. (An input that never
    // streamed counts as updated at every stamp, so its flag cannot tell.)
    void onFeedbackStreaming(const mpapi::MpEvent* event)
    {
        if (event->eventType == mpapi::MP_EVENT_STREAMING_START || event->eventType == mpapi::MP_EVENT_STREAMING_STOP)
            feedbackChanged_ = true;
    }

    void onSetPins() override
    {
        if (feedbackChanged_) {
            feedbackChanged_ = false;
            const auto c = plainNumber(feedbackController_.getValue());
            const auto v = plainNumber(feedbackValue_.getValue());
            if (c && v)
                controllers_.setParameter(*c, *v);
        }
        if (mode_.isUpdated)
            mode16_ = midi::modeOf(mode_.value);
        if (method_.isUpdated)
            method16_ = midi::modeOf(method_.value);
    }

    void onMidiMessage(int pin, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size);
        if (pin != kControllerIn || !m.isController() || m.data1 >= midi::kNotes)
            return;
        const int value = midi::clampData(static_cast<int32_t>(m.data2));
        if (auto sent = controllers_.move(m.data1, value, way()))
            midi::send(midiOut_, midi::kControlChange, m.data1, *sent);
    }

private:
    // A feedback signal as a table number: truncated toward zero; non-finite values and values
    // outside 0-127 carry nothing.
    static std::optional<int> plainNumber(float signal)
    {
        if (!std::isfinite(signal))
            return std::nullopt;
        const float t = std::trunc(signal);
        if (t < 0.0f || t > 127.0f)
            return std::nullopt;
        return static_cast<int>(t);
    }

    // Mode 1 or less direct, 3 or more no-jump; method 1 or less relative, 3 or more pickup;
    // 2 passes nothing.
    Way way() const
    {
        if (mode16_ <= 1)
            return Way::Direct;
        if (mode16_ < 3)
            return Way::Nothing;
        return method16_ <= 1 ? Way::Relative : method16_ >= 3 ? Way::Pickup : Way::Nothing;
    }

    MidiInPin controllerIn_;
    MidiOutPin midiOut_;
    AudioInPin feedbackUpdate_;
    AudioInPin feedbackController_;
    AudioInPin feedbackValue_;
    IntInPin mode_;
    IntInPin method_;

    bool feedbackChanged_ = false;  // a feedback signal's streaming changed at this time stamp
    int16_t mode16_ = 0;    // copy of the mode pin, refreshed when it changes
    int16_t method16_ = 0;  // copy of the method pin
    soft_takeover::Controllers controllers_;
};

MP_REGISTER_MODULE(Qv_ccnojumpvolts, L"QV_CCNoJumpVolts")
