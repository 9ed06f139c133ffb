// Messages of the indicator modules (QV_CCToGuiBool, QV_PedalToGuiBool, QV_MidiToLed,
// QV_LedDriver). The conversation runs one way: the processing half decides, from MIDI or from its
// level input, and posts an id-only message (size 0, no data) to its interface half, which sets
// its one output pin; the interface half never posts back and ignores ids it does not know.
//   - Switch, pedal toggle and note LED: kOn / kOff at each qualifying message (the note LED posts
//     each one twice, and posts kOff twice in its first piece so the LED starts dark).
//   - Level LED: one of the four steps at each streaming change of its input.
#pragma once

#include <cstdint>

namespace indicator {

// Processing half to interface half: on/off indications.
enum ToGui : int32_t {
    kOff = 0,
    kOn = 1,
};

// Processing half to interface half: the level LED's steps, dark to full.
enum LevelToGui : int32_t {
    kLevelDark = 0,
    kLevelLow = 1,
    kLevelHigh = 2,
    kLevelFull = 3,
};

} // namespace indicator
