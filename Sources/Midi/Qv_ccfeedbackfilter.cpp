// Absorbs the controller burst that answers a program change. Idle, it passes the 87 patch
// controllers and drops everything else. A program change arms it: the next 87 patch-controller
// messages are kept instead of passed, and for a new program the kept set is then sent once,
// every patch controller in ascending order, so the synth hears one clean dump.
#include "Midi/MidiFilter.h"

#include <array>

class Qv_ccfeedbackfilter : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut };
    static constexpr int32_t kBurstLength = 87;
    static constexpr int32_t kNoProgram = 200;  // no program change seen yet; no real program equals it

    Qv_ccfeedbackfilter()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        const auto enable = [this](int first, int last) {
            for (int c = first; c <= last; ++c)
                enabledControllers[static_cast<std::size_t>(c)] = true;
        };
        enable(2, 31);
        enable(64, 97);
        enable(102, 103);
        enable(105, 117);
        enable(119, 122);
        enable(124, 127);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi_filter::framed(bytes, size);
        const bool patchController = m.isController() && enabled(m.data1);
        if (!armed) {
            if (patchController)
                midi::send(midiOut_, m);
        } else if (patchController) {
            values[m.data1] = m.data2;
            if (++count >= kBurstLength)
                endBurst();
        }
        if (m.isProgramChange()) {
            count = 0;
            armed = true;
            if (m.data1 != lastProgram)
                dumped = false;
            lastProgram = m.data1;
        }
    }

private:
    bool enabled(uint8_t controller) const
    {
        return midi::isTableIndex(controller) && enabledControllers[controller];
    }

    void endBurst()
    {
        if (!dumped)
            for (int c = 0; c < midi::kNotes; ++c)
                if (enabledControllers[static_cast<std::size_t>(c)])
                    midi::send(midiOut_, midi::kControlChange, static_cast<uint8_t>(c),
                               static_cast<uint8_t>(values[static_cast<std::size_t>(c)]));
        armed = false;
        dumped = true;
        count = 0;
    }

    MidiInPin midiIn_;
    MidiOutPin midiOut_;

    std::array<bool, midi::kNotes> enabledControllers{};  // the patch controllers, fixed
    std::array<int32_t, midi::kNotes> values{};           // last value kept per controller
    bool armed = false;        // absorbing the burst after a program change
    bool dumped = false;       // the kept set was already sent for the current program
    int32_t lastProgram = kNoProgram;
    int32_t count = 0;         // patch-controller messages absorbed since the program change
};

MP_REGISTER_MODULE(Qv_ccfeedbackfilter, L"QV_CCFeedbackFilter")
