// The interface base: host values stored by setPin and acted on at notifyPin, module assignments
// transmitted at once and only on change, pin registration, UTF-8 text.
#include "HostTestSupport.h"
#include "Probes.h"

#include <limits>

using namespace tavhost;
using testsupport::add;

namespace {

// Change tests of host values, pin by pin: these decide what setPin2 passes on.
TEST(InterfacePins, HostValuesReportChangesByRawForm)
{
    MpGuiPin<float> number;
    const float zero = 0.0f, negativeZero = -0.0f;
    EXPECT_FALSE(number.set(0, 4, &zero));
    EXPECT_TRUE(number.set(0, 4, &negativeZero));  // compared bit for bit
    const unsigned char low = 0x3F;
    EXPECT_TRUE(number.set(0, 1, &low));  // a shorter size overwrites the leading byte only

    MpGuiPin<bool> flag;
    const int32_t one = 1;
    EXPECT_TRUE(flag.set(0, 4, &one));
    EXPECT_TRUE(flag.set(0, 4, &one));  // 4 bytes always report a change
    const unsigned char byteOne = 1, byteTwo = 2;
    EXPECT_FALSE(flag.set(0, 1, &byteOne));
    EXPECT_TRUE(flag.set(0, 1, &byteTwo));  // one byte compares as stored, not as a truth value
    EXPECT_TRUE(flag.value);

    MpGuiPin<std::wstring> text;
    EXPECT_EQ(text.rawSize(), 4);  // one zero character at construction
    const wchar_t abc[] = L"abcd";
    EXPECT_TRUE(text.set(0, 14, abc));  // 3 characters, the remainder ignored
    EXPECT_EQ(text.value, L"abc");
    EXPECT_FALSE(text.set(0, 12, abc));
}

class InterfaceBase : public testsupport::InterfaceHostTest {};

TEST_F(InterfaceBase, TextWithoutUtf8FormStaysInsideTheModule)
{
    const std::size_t probe = add(host, "TEST_GuiProbe");
    host.start();
    const auto sent = transmitsAfter(probe, 0, textValue(U"h\u00e9"));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].pin, 3);
    EXPECT_EQ(sent[0].data, textValue(U"h\u00e9"));

    Bytes invalid = intValue(0x110000);  // no UTF-8 form: the handler's conversion throws
    EXPECT_TRUE(transmitsAfter(probe, 0, invalid).empty());
    EXPECT_TRUE(host.faults().empty());
}

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
