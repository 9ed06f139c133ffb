// The gate-stepped arpeggiator: a step on each gate edge at full velocity, read at the start of
// each stretch between events, mode pins taken as they arrive, and the clock note played like
// any other note.
#include "Midi/ArpeggiatorTestSupport.h"

using namespace arp_test;

namespace {

constexpr const char* kGateArp = "QV_PowerArpeggiatorGate";
constexpr int32_t kGate = Pin::kModePinEnd;

class GateArpeggiator : public ArpeggiatorTest {
protected:
    void makeGate(std::map<int32_t, int32_t> modes)
    {
        make(kGateArp, modes);
        host.setInputFunction(module, kGate, [this](std::int64_t sample) { return sample >= riseAt ? level : 0.0f; });
        host.queueStreaming(module, kGate, true);
        host.runBlock(64);
    }

    float level = 0.0f;
    std::int64_t riseAt = 0;
};

TEST_F(GateArpeggiator, EachEdgeIsAStepAtFullVelocity)
{
    makeGate({{Pin::kArpOn, 3}, {Pin::kDirection, 1}, {Pin::kOctaves, 1}});
    EXPECT_TRUE(play({on(60, 90), on(64, 90)}).empty());
    level = 1.0f;
    EXPECT_EQ(sentInBlock(), std::vector<Bytes>{on(60, 127)});
    EXPECT_TRUE(sentInBlock().empty());  // held high: no edge
    level = 0.0f;
    EXPECT_EQ(sentInBlock(), (std::vector<Bytes>{off(60, 127), on(64, 127)}));
    level = -0.5f;
    EXPECT_TRUE(sentInBlock().empty());
}

TEST_F(GateArpeggiator, TheGateIsReadAtTheStartOfEachStretch)
{
    makeGate({{Pin::kArpOn, 3}, {Pin::kDirection, 1}, {Pin::kOctaves, 1}});
    play({on(60, 90)});
    // The gate rises at sample 10 of the block; an event at 20 starts the stretch that sees it.
    level = 1.0f;
    riseAt = host.samplesRun() + 10;
    host.queueMidi(module, Pin::kMidiIn, {0xB0, 1, 1}, 20);
    host.clearCalls();
    host.runBlock(64);
    const auto calls = host.callsOf(tav_host::CallKind::SendPinValue, module);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].data, on(60, 127));
    EXPECT_EQ(calls[0].blockPosition, 20);
}

TEST_F(GateArpeggiator, AStretchRunInPartsReadsTheGateAtItsStart)
{
    makeGate({{Pin::kArpOn, 3}, {Pin::kDirection, 1}, {Pin::kOctaves, 1}});
    play({on(60, 90)});
    // The gate stops streaming at 20 and the sleep countdown runs 20-39 as 20 and 21-39: both
    // parts read sample 20, still low, though sample 21 is high.
    level = 1.0f;
    riseAt = host.samplesRun() + 21;
    host.queueStreaming(module, kGate, false, 20);
    host.queueMidi(module, Pin::kMidiIn, {0xB0, 1, 1}, 40);
    EXPECT_TRUE(sentInBlock().empty());
}

TEST_F(GateArpeggiator, ModePinsTakeEffectWithoutMidi)
{
    makeGate({{Pin::kDirection, 1}, {Pin::kOctaves, 1}});
    play({on(60, 90)});
    level = 1.0f;
    EXPECT_TRUE(sentInBlock().empty());  // off: edges step nothing
    level = 0.0f;
    sentInBlock();
    setMode(Pin::kArpOn, 3);
    sentInBlock();
    level = 1.0f;
    EXPECT_EQ(sentInBlock(), (std::vector<Bytes>{off(60, 127), on(60, 127)}));
}

// Switched off with every key up, the last step's note ends at once, at velocity 0.
TEST_F(GateArpeggiator, SwitchingOffWithEveryKeyUpEndsTheLastStep)
{
    makeGate({{Pin::kArpOn, 3}, {Pin::kDirection, 1}, {Pin::kOctaves, 1}});
    play({on(60, 90)});
    level = 1.0f;
    EXPECT_EQ(sentInBlock(), std::vector<Bytes>{on(60, 127)});
    EXPECT_TRUE(play({off(60, 0)}).empty());
    setMode(Pin::kArpOn, 0);
    EXPECT_EQ(sentInBlock(), std::vector<Bytes>{off(60, 0)});

    // A note held on two channels is up once both let go; a release on a channel that does not
    // hold it lets go of it on every channel.
    setMode(Pin::kArpOn, 3);
    play({{0x95, 60, 90}, {0x97, 60, 90}});
    level = 0.0f;
    EXPECT_EQ(sentInBlock(), std::vector<Bytes>{on(60, 127)});
    EXPECT_TRUE(play({{0x85, 60, 0}}).empty());
    setMode(Pin::kArpOn, 0);
    EXPECT_TRUE(sentInBlock().empty());  // channel 7 still holds it
    setMode(Pin::kArpOn, 3);
    EXPECT_TRUE(play({{0x81, 60, 0}}).empty());
    setMode(Pin::kArpOn, 0);
    EXPECT_EQ(sentInBlock(), std::vector<Bytes>{off(60, 0)});
}

TEST_F(GateArpeggiator, ClockNotePassesInDirectPlay)
{
    makeGate({});
    EXPECT_EQ(play({on(10, 50)}), std::vector<Bytes>{on(10, 50)});
    EXPECT_EQ(play({off(10, 0)}), std::vector<Bytes>{off(10, 0)});
}

} // namespace
