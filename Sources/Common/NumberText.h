// Number text for the preset files, list texts and tagged value messages. Everything here is
// independent of the process locale: "." is always the decimal point, whatever LC_NUMERIC says.
//
// Writing: appendFixed(out, v, 11, 7) gives the bytes of printf(",%11.7f") without the comma;
// appendFixed(out, v) gives "%f"; appendInt(out, i, 3) gives "%3d".
// Reading: parseLikeAtof is atof, either on decimal text with a finite result only (the files) or
// in all its forms (the tagged value text); AtofField and DecimalField are the two ways the
// preset and bank readers turn a field of digits, "-" and "." into a float.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace number_text {

// ---- Writing ----------------------------------------------------------------------------------

// Appends value as printf("%*.*f", width, decimals, value) prints it in the C locale: right-aligned
// in at least width columns (never cut), exactly rounded. NaN and infinities print as printf
// prints them ("nan", "-nan", "inf", "-inf"), right-aligned; the file readers drop letters, so
// such a value comes back as 0. decimals is clamped to 0-60, width to 0-200.
void appendFixed(std::string& out, double value, int width = 0, int decimals = 6);

// Same into a caller's buffer, NUL-terminated: the number of characters written (without the
// NUL), or 0 with out[0] = 0 when it does not fit in capacity (capacity 0: nothing written).
std::size_t formatFixed(char* out, std::size_t capacity, double value, int width = 0, int decimals = 6);

// Appends value as printf("%*d", width, value): right-aligned, space-filled, never cut.
void appendInt(std::string& out, long long value, int width = 0);

// ---- Reading ----------------------------------------------------------------------------------

// Which of atof's number forms parseLikeAtof accepts.
enum class Forms {
    // Decimal text only, and a finite result: hexadecimal forms, "nan", "inf" and "infinity" are
    // not numbers (they give 0), and a prefix whose value does not fit a double ("1e999", also
    // "1e-999") gives 0. A bad file thus never puts NaN or an infinity into a preset.
    FiniteDecimal,
    // Everything atof reads in the C locale: also "0x" hexadecimal with a "p" exponent, "inf",
    // "infinity", "nan" and "nan(...)" in any case; too large a value gives an infinity, too small
    // a one a zero of its sign.
    AllOfAtof,
};

// atof on text that need not end in a zero: skips leading white space (space, tab, CR, LF, VT,
// FF), takes an optional sign, digits with an optional ".", and an optional exponent ("e" or "E",
// optional sign, digits); the longest such prefix, or with AllOfAtof also the longest
// hexadecimal, infinity or NaN one, is converted, exactly rounded. No valid prefix gives 0.
double parseLikeAtof(std::string_view text, Forms forms);

// Narrows to float; a value that is not finite as a float (NaN, infinities, beyond +-FLT_MAX)
// becomes 0. Every value a file reader stores goes through this.
float finiteFloat(double value);

// Narrows to float as a float pin holds atof's result: beyond +-FLT_MAX becomes an infinity, NaN
// stays NaN.
float toFloat(double value);

// The preset reader's value field: digits (at most 20 per field, further ones dropped), "-" and
// "." are gathered as text wherever they stand; value() converts the text with parseLikeAtof
// (FiniteDecimal: the longest valid prefix) and narrows it with finiteFloat. Fixed size, no
// allocation.
class AtofField {
public:
    // Feeds one byte of a value line; bytes other than digits, "-" and "." are ignored.
    void feed(char c);
    float value() const;
    void clear();
    std::string_view text() const { return std::string_view(text_, length_); }

private:
    // The longest valid prefix of a text of digits, "-" and "." is at most 22 characters (sign,
    // 20 digits, point), so the first 32 gathered characters decide the value.
    static constexpr std::size_t kCapacity = 32;
    char text_[kCapacity] = {};
    std::size_t length_ = 0;
    int digits_ = 0;
};

// The bank reader's decimal field: digits (at most 20 per field, further ones dropped) count for
// the integer part until the first ".", for the fraction after it; later "." change nothing, and
// "-" anywhere makes the field negative. value() is the float nearest the decimal number the
// digits spell (correctly rounded, so a value written with "%11.7f" reads back as the float
// nearest that text and save, load, save writes the same file), negated for a negative field (a
// negative field without digits gives -0). Fixed size, no allocation.
class DecimalField {
public:
    // Feeds one byte of a value line; bytes other than digits, "-" and "." are ignored.
    void feed(char c);
    float value() const;
    void clear() { *this = DecimalField(); }

private:
    static constexpr int kMaxDigits = 20;
    char digits_[kMaxDigits] = {};
    int count_ = 0;
    int integerDigits_ = -1;  // digits before the first "."; -1 while no "." has come
    bool negative_ = false;
};

} // namespace number_text
