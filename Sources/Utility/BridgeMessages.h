// Messages between the halves of the GUI-audio bridges. Values are tagged value texts (a tag
// letter, "%f", the zero; at most 24 bytes); requests are id-only messages (size 0, no data).
//
// QV_VoltageToFloat and QV_VoltageToFloat_Out (audio to GUI):
//   initialize: the interface half posts kValueRequest (id-only); the processing half answers
//   with "d%f" of its input x 10 (volts) under kValueText. From then on the processing half posts
//   "d%f" at every streaming start or stop of its input and whenever the first sample of a piece
//   moved more than 1e-6 since its last report; the interface half puts the volts on its pin.
// QV_BoolToVoltage (GUI to audio):
//   open: the processing half posts the ready text "O" (kReadyText, 2 bytes with the zero); the
//   interface half answers with "v%f" of its selected voltage / 10 under kValueText, and posts it
//   again at every notification of its switch; the processing half outputs that level.
// QV_BoolToControl (GUI to audio):
//   a button release (true to false) posts kButtonReleased (id-only); the processing half sends
//   the control change 0xB0, controller, 0x40.
// QV_TextToGui (audio to GUI):
//   every update of the text pin posts its wide characters and a 4-byte zero (at most 255
//   characters, 1024 bytes) under kText; the interface half puts the text on its pin.
#pragma once

namespace bridge {

enum ToGui { kValueText = 0, kReadyText = 0, kText = 0 };
enum ToAudio { kValueTextToAudio = 0, kButtonReleased = 0, kValueRequest = 1 };

inline constexpr char kToGuiTag = 'd';
inline constexpr char kToAudioTag = 'v';
inline constexpr char kReady[2] = {'O', '\0'};

} // namespace bridge
