// Holds control changes back and releases them one at a time, in arrival order, one per note-on
// of the trigger note (60). Up to 256 are kept between two emptyings; nothing passes.
#include "Midi/ProgramChange.h"
#include "MpProcessing.h"

#include <array>

class Qv_cctriggeredbuffer : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut };
    static constexpr int32_t kCapacity = 256;

    Qv_cctriggeredbuffer()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size).withSilentNoteOnAsOff();
        if (m.isController()) {
            // A full buffer loses the newcomer without counting it, so a release never reads
            // past what was kept.
            if (count_ < kCapacity)
                entries_[static_cast<std::size_t>(count_++)] = {m.data1, m.data2};
        } else if (m.kind() == midi::kNoteOn && m.data1 == program_change::kTriggerNote && count_ >= 1) {
            const Entry& e = entries_[static_cast<std::size_t>(readIndex_)];
            midi::send(midiOut_, midi::kControlChange, e.controller, e.value);
            if (++readIndex_ >= count_)
                count_ = readIndex_ = 0;
        }
    }

private:
    struct Entry {
        uint8_t controller = 0;
        uint8_t value = 0;
    };

    MidiInPin midiIn_;
    MidiOutPin midiOut_;

    std::array<Entry, kCapacity> entries_{};
    int32_t count_ = 0;      // entries appended since the buffer was last emptied
    int32_t readIndex_ = 0;  // the next entry to release; below count_ while any is left
};

MP_REGISTER_MODULE(Qv_cctriggeredbuffer, L"QV_CCTriggeredBuffer")
