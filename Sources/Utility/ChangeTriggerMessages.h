// Messages of QV_ChangeTrigger and QV_ChangeTriggerTimed, interface half to processing half.
//
// Every notification of one of the interface half's four watched pins (bool, float, int, text),
// changed or not, posts one tagged value text "v%f" under kValueText: QV_ChangeTrigger always
// the value 0.0 ("v0.000000", 10 bytes with the zero), which dips the gate to 0.0 for one sample
// and then holds 1.0; QV_ChangeTriggerTimed the gate time in seconds latched from its fifth pin,
// which opens a gate of 1.0 for that long. The processing halves send nothing back.
#pragma once

namespace change_trigger {

enum ToAudio { kValueText = 0 };

inline constexpr char kValueTag = 'v';

} // namespace change_trigger
