// What the program-change utilities share: the commit note that makes them issue their program
// change, the trigger note they answer a program change with, and the program change they send.
#pragma once

#include "Midi/MidiBytes.h"

#include <cstdint>

namespace program_change {

inline constexpr uint8_t kCommitNote = 9;
inline constexpr uint8_t kTriggerNote = 60;
inline constexpr uint8_t kTriggerVelocity = 127;

// A note-on for note 9 with a velocity above 0, any channel. The velocity is tested on the raw
// message, so a silent note 9 never commits.
inline bool isCommitNote(const midi::Message& m)
{
    return m.kind() == midi::kNoteOn && m.data1 == kCommitNote && m.data2 > 0;
}

// [0xC0, program, third] at position (the event's position when -1).
inline void sendProgram(MidiOutPin& out, uint8_t program, uint8_t third = 0, int32_t position = -1)
{
    midi::send(out, midi::kProgramChange, program, third, position);
}

// [0x90, 60, 127].
inline void sendTriggerNote(MidiOutPin& out)
{
    midi::send(out, midi::kNoteOn, kTriggerNote, kTriggerVelocity);
}

} // namespace program_change
