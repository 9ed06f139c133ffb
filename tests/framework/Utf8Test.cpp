// The UTF-8 codec every text pin goes through.
#include "Utf8.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(Utf8, ConvertsCodePointsAndRejectsWhatHasNoForm)
{
    EXPECT_EQ(utf8::toWide("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB9"), L"a\u00e9\u20ac\U0001F3B9");
    EXPECT_EQ(utf8::fromWide(L"a\u00e9\u20ac\U0001F3B9"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB9");
    EXPECT_EQ(utf8::toWide("\xEF\xBB\xBFx"), L"\uFEFFx");  // a byte-order mark is kept
    for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC3", "\x80"})
        EXPECT_THROW(utf8::toWide(bad), std::range_error) << bad;
    EXPECT_EQ(utf8::toWide("a\xFF" "b", utf8::OnError::Replace), L"a\uFFFDb");
    EXPECT_THROW(utf8::fromWide(std::wstring(1, static_cast<wchar_t>(0x110000))), std::range_error);
    EXPECT_THROW(utf8::fromWide(std::wstring(1, static_cast<wchar_t>(0xD800))), std::range_error);
}

} // namespace
