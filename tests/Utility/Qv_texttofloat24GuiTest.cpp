// The text-in-floats codec: the floats a text is sent as, and the text rebuilt from floats.
#include "Utility/TextFloatCodec.h"
#include "framework/HostTestSupport.h"

#include <limits>

using namespace tav_host;
using test_support::add;

namespace {

constexpr std::int32_t kText = 0;

class TextToFloat24 : public test_support::InterfaceHostTest {
protected:
    // The twelve floats transmitted for one text notification.
    std::vector<float> encoded(std::size_t m, std::string_view text)
    {
        std::vector<float> floats;
        for (const CallRecord& c : transmitsAfter(m, kText, textValue(text))) {
            EXPECT_EQ(c.pin, static_cast<std::int32_t>(floats.size()) + 1);
            float f = 0.0f;
            EXPECT_TRUE(readFloat(c.data, f));
            floats.push_back(f);
        }
        return floats;
    }
    // Sets the floats one by one and returns the last text transmitted on pin 0.
    std::optional<Bytes> decoded(std::size_t m, const std::vector<float>& floats)
    {
        std::optional<Bytes> text;
        for (std::size_t k = 0; k < floats.size(); ++k)
            for (const CallRecord& c : transmitsAfter(m, static_cast<std::int32_t>(k) + 1, floatValue(floats[k])))
                if (c.pin == kText)
                    text = c.data;
        return text;
    }
};

std::vector<float> padded(std::vector<float> floats)
{
    floats.resize(12, 0.0f);
    return floats;
}

TEST_F(TextToFloat24, EncodesTwoCharactersPerFloat)
{
    const std::size_t m = add(host, "QV_TextToFloat24");
    host.start();
    EXPECT_EQ(encoded(m, "AB"), padded({65.066f}));
    EXPECT_EQ(encoded(m, "Hello"), padded({72.101f, 108.108f, 111.0f}));
    EXPECT_EQ(encoded(m, "Hello"), padded({72.101f, 108.108f, 111.0f}));  // every notification sends all twelve
    // 24 characters fill all twelve; the 25th is dropped.
    const auto full = encoded(m, "abcdefghijklmnopqrstuvwxyz");
    ASSERT_EQ(full.size(), 12u);
    EXPECT_EQ(full[0], 97.098f);
    EXPECT_EQ(full[11], 119.120f);
    // Beyond ASCII: UTF-8 bytes read unsigned; a character that would not fit whole is left out.
    EXPECT_EQ(encoded(m, "\xC3\xA9"), padded({195.169f}));
    EXPECT_EQ(encoded(m, std::string(23, 'a') + "\xC3\xA9").back(), 97.0f);
    // The text ends at its first zero character.
    EXPECT_EQ(encoded(m, std::string_view("A\0BC", 4)), padded({65.0f}));
}

TEST_F(TextToFloat24, DecodesFloatsIntoTheTextOnceInitialised)
{
    const std::size_t m = add(host, "QV_TextToFloat24");
    host.start();
    EXPECT_EQ(decoded(m, padded({72.101f, 108.108f, 111.0f})), textValue("Hello"));
    EXPECT_EQ(decoded(m, padded({72.105f, 0.0f, 72.105f})), textValue("HiHi"));  // a zero is skipped
    EXPECT_EQ(decoded(m, padded({72.1046f})), textValue("Hi"));                  // rounded to three decimals
    EXPECT_EQ(decoded(m, padded({195.169f})), textValue("\xC3\xA9"));
    // Every byte pair survives the trip through a float.
    for (int a = 1; a < 256; a += 7)
        for (int b = 0; b < 256; b += 5)
        {
            const std::string expected = b ? std::string{char(a), char(b)} : std::string{char(a)};
            EXPECT_EQ(text_codec::decode({text_codec::encodePair(static_cast<uint8_t>(a), static_cast<uint8_t>(b))}), expected);
        }
}

TEST_F(TextToFloat24, FloatsBeforeInitialiseLeaveTheText)
{
    const std::size_t m = add(host, "QV_TextToFloat24");
    host.setInitialValue(m, Side::Gui, kText, textValue("old"));
    host.setInitialValue(m, Side::Gui, 1, floatValue(65.066f));
    host.start();
    // initialize rebuilds the text from the floats once and sends it, as it differs.
    const auto sent = host.callsOf(CallKind::TransmitPin, m);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].data, textValue("AB"));

    // With all floats at 0.0 the text rebuilt is empty, sent as it differs from the pin's first value.
    Host fresh{test_support::factory(), HostConfig{}};
    const std::size_t e = add(fresh, "QV_TextToFloat24");
    fresh.start();
    const auto empty = fresh.callsOf(CallKind::TransmitPin, e);
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0].pin, kText);
    EXPECT_EQ(empty[0].size, 0);
}

// Values outside 0-999.999 shift the pieces but stay bounded: at most 24 bytes come out.
TEST_F(TextToFloat24, OddFloatsDecodeBounded)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float huge = std::numeric_limits<float>::max();
    for (float v : {-1.5f, 1000.5f, inf, -inf, std::numeric_limits<float>::quiet_NaN(), huge, -huge}) {
        std::array<float, text_codec::kFloats> floats;
        floats.fill(v);
        EXPECT_LE(text_codec::decode(floats).size(), 24u) << v;
    }
    std::array<float, text_codec::kFloats> floats{};
    floats.fill(-1.5f);  // "-01.500." reads -1 and 500: bytes 0xFF and 0xF4
    EXPECT_EQ(text_codec::decode(floats).substr(0, 2), "\xFF\xF4");
}

} // namespace
