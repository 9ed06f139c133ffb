#include "Utf8.h"

#include <stdexcept>

namespace utf8 {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isScalarValue(char32_t c)
{
    return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

// Length of the sequence a lead byte starts, and the bits it carries; 0 for a byte that cannot
// start one.
int sequenceLength(unsigned char lead, char32_t& bits)
{
    if (lead < 0x80) { bits = lead; return 1; }
    if (lead >= 0xC2 && lead <= 0xDF) { bits = lead & 0x1F; return 2; }
    if (lead >= 0xE0 && lead <= 0xEF) { bits = lead & 0x0F; return 3; }
    if (lead >= 0xF0 && lead <= 0xF4) { bits = lead & 0x07; return 4; }
    return 0;
}

constexpr char32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};

} // namespace

std::wstring toWide(std::string_view text, OnError onError)
{
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        char32_t c = 0;
        const int length = sequenceLength(static_cast<unsigned char>(text[i]), c);
        bool valid = length > 0 && i + length <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            valid = (b & 0xC0) == 0x80;
            c = (c << 6) | (b & 0x3F);
        }
        valid = valid && c >= kSmallest[length] && isScalarValue(c);
        if (!valid) {
            if (onError == OnError::Throw)
                throw std::range_error("invalid UTF-8");
            out.push_back(static_cast<wchar_t>(kReplacement));
            ++i;  // resynchronise on the next byte
            continue;
        }
        out.push_back(static_cast<wchar_t>(c));
        i += length;
    }
    return out;
}

std::string fromWide(std::wstring_view text, OnError onError)
{
    std::string out;
    out.reserve(text.size());
    for (const wchar_t w : text) {
        auto c = static_cast<char32_t>(w);
        if (!isScalarValue(c)) {
            if (onError == OnError::Throw)
                throw std::range_error("character has no UTF-8 form");
            c = kReplacement;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

} // namespace utf8
