#include "TextFloatCodec.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace text_codec {

namespace {

constexpr std::size_t kScannedChars = 96;
constexpr int kPieceWidth = 7; // "%07.3f"

// "%07.3f" of value, locale-independent: fixed with three decimals, zero-padded after the sign to
// seven characters; a NaN or an infinity padded with spaces, as printf does.
std::size_t formatPiece(float value, char* out, std::size_t room)
{
    char digits[64];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, static_cast<double>(value),
                                         std::chars_format::fixed, 3);
    std::size_t length = ec == std::errc{} ? static_cast<std::size_t>(end - digits) : 0;
    const bool finite = std::isfinite(value);
    const bool negative = length > 0 && digits[0] == '-';
    const std::size_t pad = length < kPieceWidth ? kPieceWidth - length : 0;

    std::size_t n = 0;
    auto put = [&](char c) {
        if (n < room)
            out[n] = c;
        ++n;
    };
    std::size_t i = 0;
    if (negative && finite) {
        put('-');
        i = 1;
    }
    for (std::size_t p = 0; p < pad; ++p)
        put(finite ? '0' : ' ');
    for (; i < length; ++i)
        put(digits[i]);
    return n < room ? n : room;
}

// atoi of a run: leading blanks, a sign, then digits up to the first other character; a number
// beyond int32 saturates.
int32_t readRun(std::string_view run)
{
    std::size_t i = 0;
    while (i < run.size() && (run[i] == ' ' || (run[i] >= '\t' && run[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < run.size() && (run[i] == '-' || run[i] == '+'))
        negative = run[i++] == '-';
    int64_t value = 0;
    for (; i < run.size() && run[i] >= '0' && run[i] <= '9'; ++i) {
        value = value * 10 + (run[i] - '0');
        if (value > std::numeric_limits<int32_t>::max())
            return negative ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(negative ? -value : value);
}

} // namespace

float encodePair(uint8_t first, uint8_t second)
{
    char text[8] = {static_cast<char>('0' + first / 100), static_cast<char>('0' + first / 10 % 10),
                    static_cast<char>('0' + first % 10),  '.',
                    static_cast<char>('0' + second / 100), static_cast<char>('0' + second / 10 % 10),
                    static_cast<char>('0' + second % 10), '\0'};
    double value = 0.0;
    std::from_chars(text, text + 7, value);
    return static_cast<float>(value);
}

std::array<float, kFloats> encode(std::string_view bytes)
{
    uint8_t buffer[kBytes] = {};
    std::memcpy(buffer, bytes.data(), bytes.size() < kBytes ? bytes.size() : kBytes);
    std::array<float, kFloats> floats{};
    for (int k = 0; k < kFloats; ++k)
        floats[k] = encodePair(buffer[2 * k], buffer[2 * k + 1]);
    return floats;
}

std::string decode(const std::array<float, kFloats>& floats)
{
    char joined[kScannedChars];
    std::size_t length = 0;
    for (float value : floats) {
        if (length >= kScannedChars)
            break;
        length += formatPiece(value, joined + length, kScannedChars - length);
        if (length < kScannedChars)
            joined[length++] = '.';
    }

    std::string bytes;
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < length && bytes.size() < kBytes; ++i) {
        if (joined[i] != '.')
            continue;
        const auto byte = static_cast<uint8_t>(static_cast<uint32_t>(readRun({joined + runStart, i - runStart})) & 0xFFu);
        if (byte != 0)
            bytes.push_back(static_cast<char>(byte));
        runStart = i + 1;
    }
    return bytes;
}

} // namespace text_codec
