// Tagged value text: the message the two halves of the small modules exchange. One tag letter
// ("d" for a value going from the processing half to the interface half, "v" for the other way),
// the value printed with "%f", and the terminating zero; size = text length + 1. The receiver
// reads the number after the tag as atof does in the C locale, whatever the process locale.
#pragma once

#include "Common/NumberText.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace number_text {

// Room for a tag letter, the longest "%f" text of any float (39 integer digits, a sign, a point
// and six decimals) and the terminating zero.
inline constexpr std::size_t kTaggedTextBytes = 64;
// The buffer of the small bridge modules: a whole message, zero included, is at most 24 bytes.
inline constexpr std::size_t kTaggedMessageBytes = 24;

// Writes tag + value as "%f" (fixed, six decimals) and the terminating zero into text; returns
// the message size, text length + 1. In a buffer smaller than kTaggedTextBytes a value whose
// "%f" text does not fit (1e15 and more in 24 bytes) is written in the shortest form that reads
// back as the same float ("1e+15", "-3.4028235e+38"), which atof reads too; only a buffer too
// small even for that sends the tag alone, which reads back as 0.
template <std::size_t N>
int32_t formatTaggedValue(char tag, float value, char (&text)[N])
{
    static_assert(N >= 2, "room for the tag and the terminating zero");
    text[0] = tag;
    std::size_t length = formatFixed(text + 1, N - 1, static_cast<double>(value));
    if (length == 0) {
        const auto written = std::to_chars(text + 1, text + N - 1, value);
        length = written.ec == std::errc() ? static_cast<std::size_t>(written.ptr - (text + 1)) : 0;
        text[1 + length] = '\0';
    }
    return static_cast<int32_t>(length) + 2;
}

// Whether a message is a text beginning with the tag letter; false for an empty payload.
inline bool hasTag(int32_t size, const void* data, char tag)
{
    return data && size > 0 && *static_cast<const char*>(data) == tag;
}

// The value of a tagged value text: the number after the tag letter, read like atof in the C
// locale (hexadecimal, "inf" and "nan" included; overflow to an infinity, underflow to zero) and
// narrowed to float with toFloat. The first byte is the tag, skipped whatever it holds (even a
// zero); the number ends at the next zero or at the end of the payload, whichever comes first. False, value untouched, when there is
// no payload at all.
inline bool readTaggedValue(int32_t size, const void* data, float& value)
{
    if (!data || size <= 0)
        return false;
    std::string_view text(static_cast<const char*>(data), static_cast<std::size_t>(size));
    text.remove_prefix(1);
    text = text.substr(0, text.find('\0'));
    value = toFloat(parseLikeAtof(text, Forms::AllOfAtof));
    return true;
}

} // namespace number_text
