// Controller soft takeover through both no-jump modules: direct, relative and pickup, feedback
// by MIDI and by signals, the neutral settings and the inputs that carry nothing.
#include "Midi/RoutingTestSupport.h"

#include <limits>

using namespace tav_host;
using namespace routing_test;

namespace {

Bytes cc(std::uint8_t c, std::uint8_t v, std::uint8_t channel = 0) { return {static_cast<std::uint8_t>(0xB0 | channel), c, v}; }

class NoJumpMidi : public ::testing::Test {
protected:
    enum Pin { kControllerIn, kFeedbackIn, kMidiOut, kMode, kMethod };

    void SetUp() override
    {
        module = test_support::add(host, "QV_CCNoJumpMidi");
        host.runBlock(64);
    }
    void set(Pin pin, std::int32_t v) { host.queuePinValue(module, pin, intValue(v)); }
    // The values sent for knob positions of controller 7 in turn, one block each.
    std::vector<int> knob(std::vector<std::uint8_t> positions)
    {
        std::vector<int> values;
        for (auto v : positions)
            for (const auto& s : afterMidi(host, module, kControllerIn, {cc(7, v, 3)})) {
                EXPECT_EQ(s.pin, kMidiOut);
                EXPECT_EQ(s.bytes[0], 0xB0);  // channel 1
                EXPECT_EQ(s.bytes[1], 7);
                values.push_back(s.bytes[2]);
            }
        return values;
    }
    void parameter(std::uint8_t v) { afterMidi(host, module, kFeedbackIn, {cc(7, v)}); }

    Host host{test_support::factory(), test_support::config64()};
    std::size_t module = 0;
};

TEST_F(NoJumpMidi, DirectPassesAndSetsTheParameter)
{
    EXPECT_EQ(knob({5, 90}), (std::vector<int>{5, 90}));
    set(kMode, 1);  // relative from the value the knob set
    EXPECT_EQ(knob({95}), (std::vector<int>{95}));
}

TEST_F(NoJumpMidi, RelativeAddsTheKnobsMovementClamped)
{
    set(kMode, 1);
    parameter(100);
    EXPECT_EQ(knob({10, 15, 40, 0}), (std::vector<int>{105, 127, 87}));
}

TEST_F(NoJumpMidi, PickupWaitsUntilTheKnobCrossesOrMeetsTheParameter)
{
    set(kMode, 1);
    set(kMethod, 1);
    parameter(64);
    EXPECT_EQ(knob({10, 30, 70, 72}), (std::vector<int>{70, 72}));  // crossed upward, then direct

    parameter(64);
    EXPECT_EQ(knob({100, 64}), (std::vector<int>{64}));  // crossed downward onto the value

    afterMidi(host, module, kFeedbackIn, {cc(8, 64)});
    std::vector<int> sent;
    for (auto v : {10, 64, 65})
        for (const auto& s : afterMidi(host, module, kControllerIn, {cc(8, static_cast<std::uint8_t>(v))}))
            sent.push_back(s.bytes[2]);
    EXPECT_EQ(sent, (std::vector<int>{65}));  // reaching the value catches it; the next move passes
}

TEST_F(NoJumpMidi, NeutralSettingsAndOtherMessagesPassNothing)
{
    set(kMode, 2);
    EXPECT_TRUE(knob({1, 2}).empty());
    set(kMode, 1);
    set(kMethod, 2);
    EXPECT_TRUE(knob({3, 4}).empty());
    set(kMode, 0);
    EXPECT_TRUE(afterMidi(host, module, kControllerIn, {{0xC0, 5}, {0x90, 60, 100}, {0xB0, 0}}).size() == 1);  // only CC 0
    EXPECT_TRUE(afterMidi(host, module, kControllerIn, {{0xB0, 200, 5}}).empty());  // no such controller
    EXPECT_EQ(knob({247}), (std::vector<int>{127}));
}

// Mode and method are whole numbers: values that only share their low 16 bits with 0 or 1 are
// other values and pass nothing.
TEST_F(NoJumpMidi, ModeAndMethodAreReadWhole)
{
    set(kMode, 65536);
    EXPECT_TRUE(knob({5}).empty());
    set(kMode, -65535);
    EXPECT_TRUE(knob({6}).empty());
    set(kMode, 1);
    set(kMethod, 65536);
    EXPECT_TRUE(knob({7, 9}).empty());
    set(kMethod, 65537);
    EXPECT_TRUE(knob({11}).empty());
    set(kMethod, 0);  // the knob was never seen: relative from its first touch at 10
    EXPECT_EQ(afterMidi(host, module, kControllerIn, {cc(7, 10), cc(7, 15, 2)}), (std::vector<Sent>{{kMidiOut, {0xB0, 7, 5}}}));
    set(kMode, 0);
    EXPECT_EQ(knob({33}), (std::vector<int>{33}));
}

class NoJumpVolts : public ::testing::Test {
protected:
    enum Pin { kControllerIn, kMidiOut, kUpdate, kNumber, kValue, kMode, kMethod };

    void SetUp() override
    {
        module = test_support::add(host, "QV_CCNoJumpVolts");
        host.runBlock(64);
    }
    // The feedback signals hold (number, value); a change of the update signal writes them.
    void feedback(float number, float value)
    {
        host.setInputConstant(module, kNumber, number);
        host.setInputConstant(module, kValue, value);
        host.queueStreaming(module, kUpdate, false, 10);
        host.runBlock(64);
    }
    std::vector<int> knob(std::vector<std::uint8_t> positions)
    {
        std::vector<int> values;
        for (auto v : positions)
            for (const auto& s : afterMidi(host, module, kControllerIn, {cc(9, v)}))
                values.push_back(s.bytes[2]);
        return values;
    }

    Host host{test_support::factory(), test_support::config64()};
    std::size_t module = 0;
};

TEST_F(NoJumpVolts, ModesByThresholdsAndFeedbackFromSignals)
{
    EXPECT_EQ(knob({20}), (std::vector<int>{20}));  // mode 0: direct
    host.queuePinValue(module, kMode, intValue(2));
    EXPECT_EQ(knob({21}), (std::vector<int>{21}));  // the copy is refreshed after the stamp's MIDI
    EXPECT_TRUE(knob({22}).empty());
    host.queuePinValue(module, kMode, intValue(3));
    host.queuePinValue(module, kMethod, intValue(3));
    feedback(9.7f, 64.9f);  // controller 9, value 64 (truncated)
    // The knob was last at 21 (direct): moving to 100 crosses 64 and takes over.
    EXPECT_EQ(knob({100, 63, 62}), (std::vector<int>{100, 63, 62}));
    feedback(9.0f, 30.0f);
    // Caught at 62, the first move that misses clears it; the knob then crosses 30 downward.
    EXPECT_EQ(knob({50, 40, 20, 31}), (std::vector<int>{20, 31}));

    host.queuePinValue(module, kMethod, intValue(65536 + 1));  // low 16 bits: 1, relative
    feedback(9.0f, 50.0f);
    EXPECT_EQ(knob({70}), (std::vector<int>{89}));  // 50 + (70 - 31)
}

// Only a streaming change of a feedback signal writes the parameter: a pin value that comes
// again leaves it where the knob took it, though the number and value signals never streamed.
TEST_F(NoJumpVolts, FeedbackIsWrittenOnlyWhenASignalChanges)
{
    host.queuePinValue(module, kMode, intValue(3));
    feedback(9.0f, 78.0f);
    EXPECT_EQ(knob({86, 8}), (std::vector<int>{0}));
    host.queuePinValue(module, kMode, intValue(3));
    host.queuePinValue(module, kMethod, intValue(0));
    host.runBlock(64);
    EXPECT_EQ(knob({10}), (std::vector<int>{2}));
    host.queueStreaming(module, kValue, true, 5);  // any of the three signals
    host.runBlock(64);
    EXPECT_EQ(knob({11}), (std::vector<int>{79}));
}

TEST_F(NoJumpVolts, FeedbackOutsideTheTableOrNotFiniteIsIgnored)
{
    host.queuePinValue(module, kMode, intValue(3));
    host.queuePinValue(module, kMethod, intValue(0));
    feedback(9.0f, 40.0f);
    feedback(std::numeric_limits<float>::quiet_NaN(), 100.0f);
    feedback(9.0f, std::numeric_limits<float>::infinity());
    feedback(128.0f, 10.0f);
    feedback(-1.0f, 10.0f);
    feedback(9.0f, 128.0f);
    EXPECT_EQ(knob({10, 12}), (std::vector<int>{42}));
}

} // namespace
