#include "NumberText.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace number_text {

namespace {

// Large enough for "%.60f" of DBL_MAX (309 integer digits) with its sign and point.
constexpr std::size_t kScratch = 400;

// The printf text of value without padding; std::to_chars never looks at the locale.
std::size_t fixedDigits(char (&scratch)[kScratch], double value, int decimals)
{
    decimals = std::clamp(decimals, 0, 60);
    if (std::isnan(value)) {
        const char* text = std::signbit(value) ? "-nan" : "nan";
        const std::size_t length = std::strlen(text);
        std::memcpy(scratch, text, length);
        return length;
    }
    const auto result = std::to_chars(scratch, scratch + kScratch, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return 0;
    return static_cast<std::size_t>(result.ptr - scratch);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

enum class Base { Decimal, Hexadecimal };

// The longest number text of one base from text[i] on: digits with at most one ".", then an
// exponent that counts only with its digits ("e" and a power of ten, or for hexadecimal "p" and
// a power of two).
struct NumberScan {
    Base base = Base::Decimal;
    std::size_t end = 0;     // one past the last character of the number
    std::size_t digits = 0;  // mantissa digits; 0: no number
    // The sign tells a value too large for a double from one too small: the power of the base
    // (of two for hexadecimal) of the leading significant digit, exponent included.
    long long order = 0;
};

NumberScan scanNumber(std::string_view text, std::size_t i, Base base)
{
    const bool hex = base == Base::Hexadecimal;
    auto isMantissaDigit = [hex](char c) {
        return isDigit(c) || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
    };
    NumberScan scan;
    scan.base = base;
    bool point = false;
    bool significant = false;
    long long integerDigits = 0;  // from the first significant one on
    long long fractionZeros = 0;  // before the first significant digit
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (!isMantissaDigit(c))
            break;
        ++scan.digits;
        significant = significant || c != '0';
        if (!point && significant)
            ++integerDigits;
        else if (point && !significant)
            ++fractionZeros;
    }
    if (scan.digits == 0)
        return scan;
    scan.end = i;
    long long leading = integerDigits > 0 ? integerDigits - 1 : -(fractionZeros + 1);
    if (hex)
        leading *= 4;
    const char marker = hex ? 'p' : 'e';
    const char upperMarker = hex ? 'P' : 'E';
    if (i < text.size() && (text[i] == marker || text[i] == upperMarker)) {
        std::size_t j = i + 1;
        bool negativeExponent = false;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            negativeExponent = text[j++] == '-';
        if (j < text.size() && isDigit(text[j])) {
            long long exponent = 0;
            for (; j < text.size() && isDigit(text[j]); ++j)
                if (exponent < 100000000)  // far beyond any double; only its sign matters then
                    exponent = exponent * 10 + (text[j] - '0');
            scan.end = j;
            leading += negativeExponent ? -exponent : exponent;
        }
    }
    scan.order = leading;
    return scan;
}

} // namespace

void appendFixed(std::string& out, double value, int width, int decimals)
{
    char scratch[kScratch];
    const std::size_t length = fixedDigits(scratch, value, decimals);
    width = std::clamp(width, 0, 200);
    if (length < static_cast<std::size_t>(width))
        out.append(static_cast<std::size_t>(width) - length, ' ');
    out.append(scratch, length);
}

std::size_t formatFixed(char* out, std::size_t capacity, double value, int width, int decimals)
{
    if (!out || capacity == 0)
        return 0;
    char scratch[kScratch];
    const std::size_t length = fixedDigits(scratch, value, decimals);
    width = std::clamp(width, 0, 200);
    const std::size_t padding = length < static_cast<std::size_t>(width) ? static_cast<std::size_t>(width) - length : 0;
    if (padding + length + 1 > capacity) {
        out[0] = 0;
        return 0;
    }
    std::memset(out, ' ', padding);
    std::memcpy(out + padding, scratch, length);
    out[padding + length] = 0;
    return padding + length;
}

void appendInt(std::string& out, long long value, int width)
{
    char scratch[32];
    const auto result = std::to_chars(scratch, scratch + sizeof scratch, value);
    const std::size_t length = static_cast<std::size_t>(result.ptr - scratch);
    width = std::clamp(width, 0, 200);
    if (length < static_cast<std::size_t>(width))
        out.append(static_cast<std::size_t>(width) - length, ' ');
    out.append(scratch, length);
}

double parseLikeAtof(std::string_view text, Forms forms)
{
    const bool allOfAtof = forms == Forms::AllOfAtof;
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // from_chars takes no "+" and no "0x", so the sign and the prefix are dealt with here.
    std::size_t mantissa = i;
    NumberScan scan;
    if (allOfAtof && text.size() - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        scan = scanNumber(text, i + 2, Base::Hexadecimal);
        if (scan.digits > 0)
            mantissa = i + 2;
    }
    // Also "0x" without hexadecimal digits after it: atof reads its "0".
    if (scan.digits == 0)
        scan = scanNumber(text, i, Base::Decimal);
    double value = 0.0;
    if (scan.digits == 0) {
        // No digits: "inf", "infinity" or "nan" where they count. A sign here is not one more
        // sign for from_chars to take.
        if (!allOfAtof || i == text.size() || !isLetter(text[i]))
            return 0.0;
        const auto result = std::from_chars(text.data() + i, text.data() + text.size(), value, std::chars_format::general);
        if (result.ec != std::errc())
            return 0.0;
        return negative ? -value : value;
    }
    const auto format = scan.base == Base::Hexadecimal ? std::chars_format::hex : std::chars_format::general;
    const auto result = std::from_chars(text.data() + mantissa, text.data() + scan.end, value, format);
    if (result.ec == std::errc::result_out_of_range && allOfAtof)
        value = scan.order > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    else if (result.ec != std::errc() || !std::isfinite(value))
        return 0.0;
    return negative ? -value : value;
}

float finiteFloat(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > static_cast<double>(FLT_MAX))
        return 0.0f;
    return static_cast<float>(value);
}

float toFloat(double value)
{
    if (value > static_cast<double>(FLT_MAX))
        return std::numeric_limits<float>::infinity();
    if (value < -static_cast<double>(FLT_MAX))
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

void AtofField::feed(char c)
{
    if (isDigit(c)) {
        if (digits_ >= 20)
            return;
        ++digits_;
    } else if (c != '-' && c != '.') {
        return;
    }
    if (length_ < kCapacity)
        text_[length_++] = c;
}

float AtofField::value() const { return finiteFloat(parseLikeAtof(text(), Forms::FiniteDecimal)); }

void AtofField::clear()
{
    length_ = 0;
    digits_ = 0;
}

void DecimalField::feed(char c)
{
    if (isDigit(c)) {
        if (count_ < kMaxDigits)
            digits_[count_++] = c;
    } else if (c == '-') {
        negative_ = true;
    } else if (c == '.' && integerDigits_ < 0) {
        integerDigits_ = count_;
    }
}

float DecimalField::value() const
{
    // "<integer digits or 0>.<fraction digits or 0>": always a valid text for from_chars, and at
    // most 20 digits, so it cannot leave the range of a float.
    char text[kMaxDigits + 3];
    std::size_t length = 0;
    const int integerDigits = integerDigits_ < 0 ? count_ : integerDigits_;
    if (integerDigits == 0)
        text[length++] = '0';
    for (int i = 0; i < integerDigits; ++i)
        text[length++] = digits_[i];
    text[length++] = '.';
    if (integerDigits == count_)
        text[length++] = '0';
    for (int i = integerDigits; i < count_; ++i)
        text[length++] = digits_[i];
    float magnitude = 0.0f;
    const auto result = std::from_chars(text, text + length, magnitude, std::chars_format::fixed);
    if (result.ec != std::errc() || !std::isfinite(magnitude))
        magnitude = 0.0f;
    return negative_ ? -magnitude : magnitude;
}

} // namespace number_text
