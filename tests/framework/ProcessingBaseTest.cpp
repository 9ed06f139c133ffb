// The processing base as the host drives it: event groups, pieces and blockPos, onSetPins once
// per stamp, raw sizes, MIDI padding, bad time stamps, control output change rules, sleep.
#include "HostTestSupport.h"
#include "Probes.h"

#include <bit>
#include <cmath>
#include <limits>

using namespace tavhost;
using probes::log;
using probes::Piece;
using testsupport::add;

namespace {

RawEvent valueEvent(int32_t time, int32_t pin, float value)
{
    RawEvent e;
    e.timeDelta = time;
    e.eventType = mpapi::MP_EVENT_PIN_VALUE;
    e.parm1 = pin;
    e.parm2 = 4;
    e.parm3 = std::bit_cast<int32_t>(value);
    return e;
}

class ProcessingBase : public ::testing::Test {
protected:
    // A probe past its first block (graph start), with the log emptied.
    std::size_t startedProbe(const char* identifier = "TEST_Probe")
    {
        const std::size_t probe = add(host, identifier);
        host.runBlock(64);
        log().clear();
        host.clearCalls();
        return probe;
    }

    Host host{testsupport::factory(), testsupport::config64()};
};

TEST_F(ProcessingBase, BlockIsCutAtEachTimeStampAndPinsAreSetOncePerStamp)
{
    const std::size_t probe = startedProbe();
    host.queuePinValue(probe, probes::kValueA, floatValue(0.25f), 0);
    host.queuePinValue(probe, probes::kValueA, floatValue(0.5f), 10);
    host.queuePinValue(probe, probes::kValueB, floatValue(0.75f), 10);
    host.queueMidi(probe, probes::kMidiIn, midiValue({0x90, 60, 100}), 30);
    host.runBlock(64);

    // Group 0 before anything is computed, then (0,10), group 10, (10,20), group 30, (30,34).
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 10, 0}, {10, 20, 10}, {30, 34, 30}}));
    EXPECT_EQ(log().order, (std::vector<std::string>{"A", "setPins", "A", "B", "setPins"}));
    ASSERT_EQ(log().setPins.size(), 2u);  // the MIDI-only group calls no onSetPins
    const auto& both = log().setPins[1];
    EXPECT_EQ(both.blockPos, 10);
    EXPECT_TRUE(both.valueAUpdated && both.valueBUpdated);
    EXPECT_EQ(both.valueA, 0.5f);
    EXPECT_EQ(both.valueB, 0.75f);
    ASSERT_EQ(log().midi.size(), 1u);
    EXPECT_EQ(log().midi[0].bytes, (std::array<unsigned char, 3>{0x90, 60, 100}));
}

TEST_F(ProcessingBase, NoEventsRunsTheWholeBlockOnce)
{
    startedProbe();
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 64, 0}}));
}

TEST_F(ProcessingBase, FrameCountSubProcessesSeeTheirPieceOffsetInBlockPos)
{
    const std::size_t probe = startedProbe("TEST_Probe2");
    host.queuePinValue(probe, 0, floatValue(1.0f), 20);
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 20, 0}, {20, 44, 20}}));
}

TEST_F(ProcessingBase, BadTimeStampsEndTheBlockWithoutComputingOutsideIt)
{
    const std::size_t probe = startedProbe();

    // At the block end: never handled; the block is computed in full.
    host.queueRawEvents(probe, {valueEvent(64, probes::kValueA, 1.0f)});
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 64, 0}}));
    EXPECT_TRUE(log().setPins.empty());

    // Out of order: computed to the block's end from the last good stamp, the rest dropped.
    log().clear();
    host.queueRawEvents(probe, {valueEvent(0, probes::kValueA, 1.0f), valueEvent(20, probes::kValueA, 2.0f),
                                valueEvent(10, probes::kValueA, 3.0f)});
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 20, 0}, {20, 44, 20}}));
    ASSERT_EQ(log().setPins.size(), 2u);
    EXPECT_EQ(log().setPins[1].valueA, 2.0f);

    // Negative: nothing at a negative position.
    log().clear();
    host.queueRawEvents(probe, {valueEvent(-5, probes::kValueA, 4.0f), valueEvent(3, probes::kValueA, 5.0f)});
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 64, 0}}));
    EXPECT_TRUE(log().setPins.empty());
}

TEST_F(ProcessingBase, RawSizesAreBoundedToTheEvent)
{
    const std::size_t probe = startedProbe();
    RawEvent negative = valueEvent(0, probes::kValueA, 9.0f);
    negative.parm2 = -4;
    host.queueRawEvents(probe, {valueEvent(0, probes::kValueA, 0.5f)});
    host.runBlock(64);
    host.queueRawEvents(probe, {negative});
    host.runBlock(64);
    EXPECT_EQ(log().setPins.back().valueA, 0.5f);  // nothing copied

    // Oversize inline data without extra data: at most the 8 inline bytes are read.
    RawEvent text;
    text.eventType = mpapi::MP_EVENT_PIN_VALUE;
    text.parm1 = probes::kText;
    text.parm2 = 400;
    text.parm3 = 'h';
    text.parm4 = 'i';
    host.queueRawEvents(probe, {text});
    host.runBlock(64);
    EXPECT_EQ(log().text, L"hi");

    // Text of 12 bytes by extra data is 3 characters; a size that is not a multiple of 4 drops
    // the remainder.
    RawEvent longText = text;
    longText.parm2 = 14;
    longText.hasExtra = true;
    longText.extra = textValue(U"abc");
    longText.extra.resize(14, 0);
    host.queueRawEvents(probe, {longText});
    host.runBlock(64);
    EXPECT_EQ(log().text, L"abc");

    // Bools: a 4-byte 256 is true, a 1-byte 0 false.
    RawEvent wide;
    wide.parm1 = probes::kFlag;
    wide.parm2 = 4;
    wide.parm3 = 256;
    host.queueRawEvents(probe, {wide});
    host.runBlock(64);
    EXPECT_TRUE(log().flag);
    wide.parm2 = 1;
    wide.parm3 = 0;
    host.queueRawEvents(probe, {wide});
    host.runBlock(64);
    EXPECT_FALSE(log().flag);
}

TEST_F(ProcessingBase, ShortMidiArrivesZeroPadded)
{
    const std::size_t probe = startedProbe();
    RawEvent programChange;
    programChange.eventType = mpapi::MP_EVENT_MIDI;
    programChange.parm1 = probes::kMidiIn;
    programChange.parm2 = 2;
    programChange.parm3 = 0x7F05C0;  // C0 05, and a stray byte beyond the size
    RawEvent empty = programChange;
    empty.parm2 = -3;
    host.queueRawEvents(probe, {programChange, empty});
    host.runBlock(64);

    ASSERT_EQ(log().midi.size(), 2u);
    EXPECT_EQ(log().midi[0].bytes, (std::array<unsigned char, 3>{0xC0, 0x05, 0x00}));
    EXPECT_EQ(log().midi[0].size, 2);
    EXPECT_EQ(log().midi[1].bytes, (std::array<unsigned char, 3>{0, 0, 0}));
    EXPECT_EQ(log().midi[1].size, 0);
}

TEST_F(ProcessingBase, ControlOutputsSendOnlyChangedValues)
{
    const std::size_t probe = startedProbe();
    auto sendsAfter = [&](float value) {
        host.clearCalls();
        host.queuePinValue(probe, probes::kValueA, floatValue(value), 5);
        host.runBlock(64);
        return host.callsOf(CallKind::SendPinValue, probe);
    };
    const auto first = sendsAfter(0.5f);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].pin, probes::kValueOut);
    EXPECT_EQ(first[0].blockPosition, 5);
    EXPECT_EQ(first[0].data, floatValue(0.5f));
    EXPECT_TRUE(sendsAfter(0.5f).empty());
    EXPECT_EQ(sendsAfter(std::numeric_limits<float>::quiet_NaN()).size(), 1u);
    EXPECT_EQ(sendsAfter(std::numeric_limits<float>::quiet_NaN()).size(), 1u);  // NaN never equals
    EXPECT_EQ(sendsAfter(0.0f).size(), 1u);
    EXPECT_TRUE(sendsAfter(-0.0f).empty());  // -0.0 equals 0.0
}

TEST_F(ProcessingBase, GraphStartSendsEveryOutputsFirstUpdate)
{
    const std::size_t probe = add(host, "TEST_Probe");
    host.runBlock(64);
    const auto streaming = host.callsOf(CallKind::SendPinStreaming, probe);
    ASSERT_EQ(streaming.size(), 1u);
    EXPECT_EQ(streaming[0].pin, probes::kAudioOut);
    EXPECT_EQ(streaming[0].data, Bytes{1});
    const auto values = host.callsOf(CallKind::SendPinValue, probe);
    ASSERT_EQ(values.size(), 1u);  // sent although it holds its initial value
    EXPECT_EQ(values[0].pin, probes::kValueOut);
    EXPECT_EQ(values[0].data, floatValue(0.0f));
}

TEST_F(ProcessingBase, MessagesNeverReenterTheModule)
{
    const std::size_t probe = startedProbe();
    host.postToDsp(probe, 7, {});
    host.runBlock(64);
    EXPECT_EQ(log().messages, std::vector<int>{7});
}

// A streaming input that stops: the shaper computes one more block length, then sleeps.
TEST(ProcessingSleep, OutputGoingStaticComputesOneBlockLengthThenSleeps)
{
    Host host{testsupport::factory(), testsupport::config64()};
    const std::size_t shaper = add(host, "QV_Pow2x");
    host.setInputConstant(shaper, 0, 0.5f);
    host.queueStreaming(shaper, 0, true, 0);
    host.runBlock(64);
    EXPECT_EQ(host.buffer(shaper, 1)[63], 2.5f);

    host.queueStreaming(shaper, 0, false, 16);
    host.runBlock(64);
    const auto stop = host.callsOf(CallKind::SendPinStreaming, shaper).back();
    EXPECT_EQ(stop.blockPosition, 16);
    EXPECT_EQ(stop.data, Bytes{0});
    EXPECT_TRUE(host.callsOf(CallKind::RequestSleep, shaper).empty());

    // 48 samples were owed after the stop in that block; 16 remain for this one.
    host.setInputConstant(shaper, 0, -0.3f);
    host.runBlock(64);
    const auto out = host.buffer(shaper, 1);
    EXPECT_NEAR(out[0], 0.9f, 1e-6);
    EXPECT_NEAR(out[15], 0.9f, 1e-6);
    EXPECT_NE(out[16], out[15]);  // not computed: the module asked to sleep there
    EXPECT_EQ(host.callsOf(CallKind::RequestSleep, shaper).size(), 1u);
}

TEST(ProcessingSleep, ModuleWithoutAudioComputesOnlyBeforeFurtherEvents)
{
    Host host{testsupport::factory(), testsupport::config64(false)};
    const std::size_t probe = add(host, "TEST_ControlProbe");
    host.runBlock(64);
    EXPECT_TRUE(log().pieces.empty());
    EXPECT_EQ(host.callsOf(CallKind::RequestSleep, probe).size(), 1u);

    host.queuePinValue(probe, 0, floatValue(1.0f), 20);
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 20, 0}}));
    EXPECT_EQ(host.callsOf(CallKind::RequestSleep, probe).size(), 2u);
}

TEST(ProcessingSleep, StreamingInputStopKeepsASleepyModuleAwakeForOneSample)
{
    Host host{testsupport::factory(), testsupport::config64(false)};
    const std::size_t probe = add(host, "TEST_SleepyProbe");
    host.queueStreaming(probe, probes::kAudioIn, true, 0);
    host.runBlock(64);
    log().clear();
    // Input stops at 8 while the output still streams: the saved sub-process stays current.
    host.queueStreaming(probe, probes::kAudioIn, false, 8);
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 8, 0}, {8, 56, 8}}));
}

} // namespace
