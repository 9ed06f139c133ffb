// What the key display's processing half tells its interface half. Every message is id-only
// (size 0, no data), and each is posted twice in a row.
//
// A note of the watched octave goes down: id kKeyPressed + k (k = 0 for the octave's lowest
// note, up to 11). It goes up (note-off, or note-on with velocity 0): id kKeyReleased + k.
// Nothing else is ever sent, and the interface half ignores every other id.
#pragma once

#include <cstdint>

namespace keyboard_control {

inline constexpr int32_t kKeysPerOctave = 12;

// Processing half -> interface half.
enum ToGui : int32_t {
    kKeyPressed = 1,     // 1..12: key 1..12 pressed
    kKeyReleased = 101,  // 101..112: key 1..12 released
};

} // namespace keyboard_control
