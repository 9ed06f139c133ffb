// A short text carried in twelve floats: each float holds two bytes as a decimal number whose
// integer part is the first byte and whose three decimals are the second (A, B give 65.066).
// Bytes are read unsigned, so every byte 0-255 (and with it any UTF-8 text) comes back exactly.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace text_codec {

inline constexpr int kFloats = 12;
inline constexpr int kBytes = 2 * kFloats;

// The float nearest the decimal text "%03u.%03u" of two bytes.
float encodePair(uint8_t first, uint8_t second);

// The twelve floats of the first 24 bytes (missing bytes are 0).
std::array<float, kFloats> encode(std::string_view bytes);

// The bytes held by twelve floats: each float printed as "%07.3f." (at least three digits before
// the point, three after, then a full stop), the first 96 characters of the joined text scanned
// for the numbers between full stops, and each number's low eight bits kept unless 0. At most
// 24 bytes. Values outside 0-999.999 give other pieces, read by the same rules, never unsafely.
std::string decode(const std::array<float, kFloats>& floats);


} // namespace text_codec
