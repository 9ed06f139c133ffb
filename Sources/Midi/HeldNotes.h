// The notes a module holds down, with the velocity each was struck with: what the retrigger
// modules re-send on every new note-on. Note numbers of 128 and more are no notes and are never
// held.
#pragma once

#include "Midi/MidiBytes.h"

#include <array>
#include <cstdint>

class HeldNotes {
public:
    // A velocity of 0 releases the note.
    void press(uint8_t note, uint8_t velocity)
    {
        if (!midi::isTableIndex(note))
            return;
        int32_t& held = velocity_[note];
        count_ += (velocity > 0 ? 1 : 0) - (held > 0 ? 1 : 0);
        held = velocity;
    }
    void release(uint8_t note) { press(note, 0); }

    bool any() const { return count_ > 0; }
    int32_t count() const { return count_; }
    // 0 for a note not held.
    int32_t velocity(uint8_t note) const { return midi::isTableIndex(note) ? velocity_[note] : 0; }

    // [status, note, velocity] for every held note in ascending order.
    void sendHeld(MidiOutPin& out, uint8_t status) const
    {
        if (count_ == 0)
            return;
        for (int note = 0; note < midi::kNotes; ++note)
            if (velocity_[static_cast<std::size_t>(note)] > 0)
                midi::send(out, status, static_cast<uint8_t>(note),
                           static_cast<uint8_t>(velocity_[static_cast<std::size_t>(note)]));
    }

private:
    std::array<int32_t, midi::kNotes> velocity_{};  // 0 = not held
    int32_t count_ = 0;                              // notes with a velocity above 0
};
