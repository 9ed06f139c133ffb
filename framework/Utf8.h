// UTF-8 <-> UTF-32 conversion for the bundle's wide texts (wchar_t holds one code point here).
#pragma once

#include <string>
#include <string_view>

namespace utf8 {

// What to do with bytes or characters that have no UTF-8/UTF-32 counterpart.
enum class OnError {
    Throw,    // throw std::range_error
    Replace,  // substitute U+FFFD (decoding) or "\xEF\xBF\xBD" (encoding)
};

// Decodes UTF-8 into one wchar_t per code point (up to U+10FFFF). Overlong forms, surrogates and
// truncated sequences are errors. A byte-order mark is kept as the character U+FEFF.
std::wstring toWide(std::string_view text, OnError onError = OnError::Throw);

// Encodes code points as UTF-8. Values above U+10FFFF and surrogates are errors.
std::string fromWide(std::wstring_view text, OnError onError = OnError::Throw);

} // namespace utf8
