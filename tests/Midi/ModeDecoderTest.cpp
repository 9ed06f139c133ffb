// The two mode decoders: every row of every selector, outputs sent only when they change, and
// selectors outside their tables leaving their group as it was.
#include "framework/HostTestSupport.h"

#include <array>
#include <map>

using namespace tav_host;

namespace {

class ModeDecoder : public ::testing::Test {
protected:
    void make(const char* identifier)
    {
        module = test_support::add(host, identifier);
        host.runBlock(64);
    }
    // Sets a selector; the outputs' values afterwards. Each value sent must differ from the one
    // held before, so only changes are sent.
    const std::map<int32_t, float>& select(int32_t pin, int32_t value)
    {
        host.clearCalls();
        host.queuePinValue(module, pin, intValue(value));
        host.runBlock(64);
        sent = 0;
        for (const auto& call : host.callsOf(CallKind::SendPinValue, module)) {
            float v = 0.0f;
            EXPECT_TRUE(readFloat(call.data, v));
            EXPECT_NE(v, outputs[call.pin]) << "pin " << call.pin << " sent unchanged";
            outputs[call.pin] = v;
            ++sent;
        }
        return outputs;
    }
    float out(int32_t pin) { return outputs[pin]; }

    Host host{test_support::factory(), test_support::config64()};
    std::size_t module = 0;
    std::map<int32_t, float> outputs;
    int sent = 0;
};

// Pins 1-17 by first selector row.
constexpr std::array<std::array<float, 17>, 32> kFirstGroup{{
    {0, 0, 0, 0, 0, 10, 10, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 10, 10, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0},
    {10, 10, 5, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {7, 10, 5, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {3, 10, 5, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 10, 5, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 10, 10, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {3, 10, 10, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {7, 10, 10, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {10, 10, 10, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {10, 10, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {7, 10, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {3, 10, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 10, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {10, 0, 5, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {7, 0, 5, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {3, 0, 5, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 10, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {3, 0, 10, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {7, 0, 10, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {10, 0, 10, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {10, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {7, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {3, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {7, 0, 10, 0, 10, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 10, 0, 10, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 10, 0, 0, 0, 10, 10, 0, 10, 0, 0, 0, 0, 1, 0, 0},
    {0, 0, 0, 0, 0, 0, 10, 10, 10, 0, 0, 0, 0, 0, 0, 1, 0},
    {0, 0, 0, 0, 0, 0, 10, 10, 0, 0, 0, 0, 0, 0, 0, 0, 1},
}};

// Pins 19-22 by second selector row.
constexpr std::array<std::array<float, 4>, 16> kSecondGroup{{
    {0, 10, 0, 0}, {3, 10, 0, 0}, {7, 10, 0, 0}, {7, 10, 5, 0}, {3, 10, 5, 0}, {0, 10, 5, 0},
    {0, 10, 10, 0}, {3, 10, 10, 0}, {7, 10, 10, 0}, {0, 0, 0, 0}, {3, 0, 0, 0}, {3, 0, 5, 0},
    {3, 0, 10, 0}, {7, 0, 10, 0}, {3, 10, 10, 10}, {0, 10, 0, 10},
}};

constexpr std::array<float, 16> kThirdGroup{0.69f, 1.32f, 1.95f, 2.55f, 3.15f, 3.8f, 4.45f, 5.07f,
                                            5.675f, 6.3f, 6.92f, 7.54f, 8.17f, 8.77f, 9.39f, 10.0f};

TEST_F(ModeDecoder, ArpModesFirstSelectorRows)
{
    make("QV_ArpModesFloat");
    for (int32_t row = 0; row < 32; ++row) {
        select(0, row);
        for (int32_t pin = 1; pin <= 17; ++pin)
            EXPECT_EQ(out(pin), kFirstGroup[static_cast<std::size_t>(row)][static_cast<std::size_t>(pin - 1)])
                << "row " << row << " pin " << pin;
    }
    // The other selectors at 0 wrote their row 0 with the first update.
    EXPECT_EQ(out(20), 10.0f);
    EXPECT_EQ(out(24), 0.69f);
}

TEST_F(ModeDecoder, ArpModesSecondAndThirdSelectorRows)
{
    make("QV_ArpModesFloat");
    for (int32_t row = 0; row < 16; ++row) {
        select(18, row);
        for (int32_t pin = 19; pin <= 22; ++pin)
            EXPECT_EQ(out(pin), kSecondGroup[static_cast<std::size_t>(row)][static_cast<std::size_t>(pin - 19)])
                << "row " << row << " pin " << pin;
        select(23, row);
        EXPECT_EQ(out(24), kThirdGroup[static_cast<std::size_t>(row)]) << "row " << row;
    }
}

TEST_F(ModeDecoder, ArpModesSelectorsOutsideTheirRowsKeepTheirGroup)
{
    make("QV_ArpModesFloat");
    select(0, 29);
    select(18, 14);
    select(23, 3);
    const auto before = outputs;
    // Selectors are read from their low 16 bits, unsigned: -1 is 65535, 0x7FFFFFFF is 65535.
    for (int32_t bad : {32, -1, -32767, 0x10020, 0x7FFFFFFF}) {
        select(0, bad);
        EXPECT_EQ(sent, 0) << bad;
    }
    EXPECT_EQ(outputs, before);
    // 65536 + 30 is row 30: pins 9 and 16 on, pins 3, 10 and 15 off.
    select(0, 65536 + 30);
    EXPECT_EQ(sent, 5);
    EXPECT_EQ(out(3), 0.0f);
    EXPECT_EQ(out(9), 10.0f);
    EXPECT_EQ(out(10), 0.0f);
    EXPECT_EQ(out(15), 0.0f);
    EXPECT_EQ(out(16), 1.0f);
    select(0, 29);
    // With the first selector out of its rows the others still write.
    select(18, 16);
    EXPECT_EQ(sent, 0);
    select(18, 9);
    EXPECT_EQ(out(20), 0.0f);
    EXPECT_EQ(out(22), 0.0f);
    EXPECT_EQ(out(15), 1.0f);  // the first group kept row 29
    select(23, 16);
    EXPECT_EQ(out(24), 2.55f);
    // A repeated selector writes the same values: nothing is sent.
    select(23, 3);
    EXPECT_EQ(sent, 0);
}

TEST_F(ModeDecoder, BendModesEveryRow)
{
    // Semitone counts of pins 1-3 and the levels of pins 4-8, by row.
    struct Row {
        int p1, p2, p3, p4, p5, p6, p7, p8;
    };
    constexpr std::array<Row, 32> kRows{{
        {0, 0, 0, 0, 1, 0, 0, 0},    {1, 0, 0, 0, 1, 0, 0, 0},   {2, 0, 0, 0, 1, 0, 0, 0},
        {3, 0, 0, 0, 1, 0, 0, 0},    {4, 0, 0, 0, 1, 0, 0, 0},   {5, 0, 0, 0, 1, 0, 0, 0},
        {6, 0, 0, 0, 1, 0, 0, 0},    {7, 0, 0, 0, 1, 0, 0, 0},   {8, 0, 0, 0, 1, 0, 0, 0},
        {9, 0, 0, 0, 1, 0, 0, 0},    {10, 0, 0, 0, 1, 0, 0, 0},  {11, 0, 0, 0, 1, 0, 0, 0},
        {24, 0, 0, 0, 1, 0, 0, 0},   {36, 0, 0, 0, 1, 0, 0, 0},  {48, 0, 0, 0, 1, 0, 0, 0},
        {0, 1, 2, 1, 1, 0, 0, 0},    {0, 2, 1, 1, 1, 0, 0, 0},   {0, 1, 12, 1, 1, 0, 0, 0},
        {0, 2, 12, 1, 1, 0, 0, 0},   {0, 12, 1, 1, 1, 0, 0, 0},  {0, 12, 2, 1, 1, 0, 0, 0},
        {1, 0, 0, 0, 0, 1, 0, 0},    {2, 0, 0, 0, 0, 1, 0, 0},   {7, 0, 0, 0, 0, 1, 0, 0},
        {12, 0, 0, 0, 0, 1, 0, 0},   {0, 1, 2, 1, 0, 1, 0, 0},   {0, 2, 1, 1, 0, 1, 0, 0},
        {0, 2, 12, 1, 0, 1, 0, 0},   {0, 2, 0, 1, 0, 1, 0, 1},   {0, 1, 12, 1, 0, 0, 1, 0},
        {0, 12, 1, 1, 0, 0, 1, 0},   {12, 0, 0, 0, 1, 0, 0, 0},
    }};
    make("QV_BendModesFloat");
    for (int32_t r = 0; r < 32; ++r) {
        select(0, r);
        const Row& row = kRows[static_cast<std::size_t>(r)];
        const float p1 = r == 0 ? 0.017f : static_cast<float>(row.p1) / 120.0f;
        EXPECT_EQ(out(1), p1) << r;
        EXPECT_EQ(out(2), static_cast<float>(row.p2) / 120.0f) << r;
        EXPECT_EQ(out(3), static_cast<float>(row.p3) / 120.0f) << r;
        const std::array<int, 5> levels{row.p4, row.p5, row.p6, row.p7, row.p8};
        for (std::size_t i = 0; i < levels.size(); ++i)
            EXPECT_EQ(out(4 + static_cast<int32_t>(i)), static_cast<float>(levels[i])) << r << " pin " << 4 + i;
    }
    // An octave is exactly 0.1 on the signal scale; row 31 differs from row 24 in pins 5 and 6.
    EXPECT_EQ(out(1), 0.1f);
    EXPECT_EQ(out(5), 1.0f);
    EXPECT_EQ(out(6), 0.0f);
}

TEST_F(ModeDecoder, BendModesSelectorOutsideItsRowsChangesNothing)
{
    make("QV_BendModesFloat");
    select(0, 28);
    EXPECT_EQ(out(8), 1.0f);
    for (int32_t bad : {32, -1, 65536 + 40, -65504}) {
        select(0, bad);
        EXPECT_EQ(sent, 0) << bad;
    }
    EXPECT_EQ(out(2), 2.0f / 120.0f);
    select(0, 28);
    EXPECT_EQ(sent, 0);  // the same row again sends nothing
    // The selector's low 16 bits name the row: 65536 + 3 is row 3, -65536 is row 0.
    select(0, 65536 + 3);
    EXPECT_EQ(out(1), 3.0f / 120.0f);
    EXPECT_EQ(out(2), 0.0f);
    EXPECT_EQ(out(4), 0.0f);
    EXPECT_EQ(out(5), 1.0f);
    EXPECT_EQ(out(6), 0.0f);
    EXPECT_EQ(out(8), 0.0f);
    select(0, -65536);
    EXPECT_EQ(sent, 1);
    EXPECT_EQ(out(1), 0.017f);
}

} // namespace
