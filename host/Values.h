// Pin values as the stand-in host passes them: plain byte vectors, with helpers that build and
// print them the way the modules read them (little-endian, UTF-32 text without terminator).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tav_host {

using Bytes = std::vector<std::uint8_t>;

// How the host reads a pin's bytes when it prints them or turns a wired value into an event.
enum class ValueType { Unknown, Float, Int, Bool, Text, Midi, Audio, Raw };

// Value builders; each returns the exact bytes a module receives.
Bytes floatValue(float v);
Bytes intValue(std::int32_t v);
Bytes boolValue(bool v); // one byte, 0 or 1
Bytes textValue(std::u32string_view text); // 4 bytes per character, no terminator
Bytes textValue(std::string_view utf8);
Bytes midiValue(std::initializer_list<std::uint8_t> bytes);

// Readers; false when the size does not match.
bool readFloat(const Bytes& b, float& out);
bool readInt(const Bytes& b, std::int32_t& out);

// UTF-8 <-> UTF-32 (wchar_t is 32 bits here). Invalid input becomes U+FFFD.
std::wstring utf8ToWide(std::string_view utf8);
std::string wideToUtf8(std::wstring_view wide);

// Readable form of a value: "0.25", "true", "\"abc\"", "90 3C 7F" (MIDI), "bytes 01 02 ..." .
// Unknown types are guessed from the size: 1 byte bool, 4 bytes float, else bytes.
std::string formatValue(const Bytes& b, ValueType type);
// A note-on or note-off as "note on C4 100" / "note off C4" (any channel; a note-on of velocity
// 0 is a note-off; middle C, note 60, is C4); empty for any other message.
std::string describeNote(const Bytes& midi);
std::string hexBytes(const std::uint8_t* data, std::size_t size);

// Shortest round-trip text of a float, independent of the process locale.
std::string formatFloat(float v);

} // namespace tav_host
