// What the MIDI stream filters share: the frame a passing message leaves in, and the controller
// selectors of the two controller-number filters. Each filter keeps its own rule of what passes.
#pragma once

#include "Midi/MidiBytes.h"
#include "MpProcessing.h"

#include <array>
#include <cstdint>

namespace midi_filter {

// A message as the filters forward it: read zero-padded, a silent note-on taken as a note-off,
// sent on channel 1.
inline midi::Message framed(const unsigned char* bytes, int size)
{
    return midi::Message::read(bytes, size).withSilentNoteOnAsOff().onChannelOne();
}

// Int pins that each name one controller as its number + 1; 0, or anything outside 1..128,
// names none.
template <std::size_t Count>
class ControllerSelectors {
public:
    // [constructor] Registers the selectors under consecutive pin indexes from firstIndex.
    void registerPins(MpPluginBase& module, int32_t firstIndex)
    {
        for (std::size_t i = 0; i < Count; ++i)
            module.initializePin(firstIndex + static_cast<int32_t>(i), pins_[i]);
    }

    bool selects(uint8_t controller) const
    {
        for (const IntInPin& pin : pins_) {
            const int32_t selector = pin.value;
            if (selector >= 1 && selector <= midi::kNotes && selector - 1 == controller)
                return true;
        }
        return false;
    }

private:
    std::array<IntInPin, Count> pins_;
};

} // namespace midi_filter
