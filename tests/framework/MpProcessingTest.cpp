// The processing base as the host drives it: event groups, pieces and blockPos, onSetPins once
// per stamp, raw sizes, MIDI in and out, bad time stamps, control output change rules, sleep.
#include "HostTestSupport.h"
#include "Probes.h"
#include "StubHost.h"

#include <bit>
#include <limits>

using namespace tav_host;
using probes::log;
using probes::Piece;
using test_support::add;

namespace {

RawEvent rawEvent(int32_t time, int32_t type, int32_t pin, int32_t size = 0, int32_t parm3 = 0)
{
    return RawEvent{.timeDelta = time, .eventType = type, .parm1 = pin, .parm2 = size, .parm3 = parm3};
}

RawEvent valueEvent(int32_t time, int32_t pin, float value)
{
    return rawEvent(time, mpapi::MP_EVENT_PIN_VALUE, pin, 4, std::bit_cast<int32_t>(value));
}

std::vector<int> setPinsPositions()
{
    std::vector<int> positions;
    for (const auto& call : log().setPins)
        positions.push_back(call.blockPos);
    return positions;
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

    Host host{test_support::factory(), test_support::config64()};
};

// Without events the block is one piece. Each time stamp cuts the block, whatever its events:
// values are stored before any handler of the stamp runs, onSetPins follows the handlers once
// per stamp that carried a value or streaming change (also for a pin nobody registered), and
// MIDI reaches the module with all its bytes and goes out again at its stamp, every send.
TEST_F(ProcessingBase, BlockIsCutAtEachTimeStampAndPinsAreSetOncePerStamp)
{
    const std::size_t probe = startedProbe();
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 64, 0}}));

    log().clear();
    host.queuePinValue(probe, probes::kValueA, floatValue(0.25f), 0);
    host.queuePinValue(probe, probes::kValueA, floatValue(0.5f), 10);
    host.queuePinValue(probe, probes::kValueB, floatValue(0.75f), 10);
    host.queueMidi(probe, probes::kMidiIn, midiValue({0x90, 60, 100}), 30);
    host.queueMidi(probe, probes::kMidiIn, midiValue({0x90, 60, 100}), 30);
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 10, 0}, {10, 20, 10}, {30, 34, 30}}));
    EXPECT_EQ(log().order, (std::vector<std::string>{"A", "setPins", "A", "B", "setPins"}));
    EXPECT_EQ(setPinsPositions(), (std::vector<int>{0, 10}));  // the MIDI-only stamp calls none
    EXPECT_TRUE(log().setPins[0].audioInUpdated);  // an audio input reads as new until it streams
    const auto& both = log().setPins[1];
    EXPECT_TRUE(both.valueAUpdated && both.valueBUpdated);
    EXPECT_EQ(both.valueA, 0.5f);
    EXPECT_EQ(both.valueB, 0.75f);
    ASSERT_EQ(log().midi.size(), 2u);
    EXPECT_EQ(log().midi[0].bytes, (std::vector<unsigned char>{0x90, 60, 100}));
    const auto sent = host.callsOf(CallKind::SendPinValue, probe);
    ASSERT_EQ(sent.size(), 4u);  // the value output at 0 and 10, then the same note twice
    for (const CallRecord& call : {sent[2], sent[3]}) {
        EXPECT_EQ(call.pin, probes::kMidiOut);
        EXPECT_EQ(call.blockPosition, 30);
        EXPECT_EQ(call.data, midiValue({0x90, 60, 100}));
    }

    log().clear();
    RawEvent sysex = rawEvent(40, mpapi::MP_EVENT_MIDI, probes::kMidiIn, 6);
    sysex.hasExtra = true;
    sysex.extra = {0xF0, 0x7E, 0x01, 0x02, 0x03, 0xF7};
    host.queueRawEvents(probe, {rawEvent(5, 99, probes::kValueA), rawEvent(10, mpapi::MP_EVENT_STREAMING_START, 42),
                                rawEvent(20, mpapi::MP_EVENT_GRAPH_START, 0), rawEvent(30, mpapi::MP_EVENT_PIN_VALUE, 42, 4),
                                sysex});
    host.runBlock(64);
    EXPECT_EQ(log().pieces,
              (std::vector<Piece>{{0, 5, 0}, {5, 5, 5}, {10, 10, 10}, {20, 10, 20}, {30, 10, 30}, {40, 24, 40}}));
    EXPECT_EQ(setPinsPositions(), (std::vector<int>{10, 30}));
    ASSERT_EQ(log().midi.size(), 1u);
    EXPECT_EQ(log().midi[0].bytes, sysex.extra);
    EXPECT_EQ(log().midi[0].size, 6);
}

// A sleeping frame-count module: the countdown runs what it owes, then loads the pieces that more
// events follow, each with blockPos at its offset.
TEST(ProcessingFrameCount, CountdownPiecesSeeTheirOffsetInBlockPos)
{
    Host host{test_support::factory(), test_support::config64(false)};
    const std::size_t probe = add(host, "TEST_Probe2");
    host.runBlock(64);
    EXPECT_TRUE(log().pieces.empty());
    host.queueStreaming(probe, 1, false, 0);  // owes one sample
    host.queuePinValue(probe, 0, floatValue(1.0f), 30);
    host.queuePinValue(probe, 0, floatValue(2.0f), 50);
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 1, 0}, {1, 29, 1}, {30, 20, 30}}));
    EXPECT_EQ(host.callsOf(CallKind::RequestSleep, probe).size(), 2u);
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

// A count of 0 lies outside the interface: such a block computes no piece and handles none of
// its events.
TEST(ProcessingCount, ABlockOfNoSamplesRunsNothing)
{
    StubDspHost host;
    void* object = nullptr;
    ASSERT_EQ(test_support::factory()->createInstance(L"TEST_Probe", 0, &host, &object), 0);
    auto* plugin = static_cast<mpapi::IMpPlugin*>(object);
    plugin->open();
    log().clear();
    mpapi::MpEvent value{0, mpapi::MP_EVENT_PIN_VALUE, probes::kValueA, 4, std::bit_cast<int32_t>(1.0f), 0, nullptr, nullptr};
    plugin->process(0, &value);
    plugin->process(0, nullptr);
    EXPECT_TRUE(log().pieces.empty());
    EXPECT_TRUE(log().setPins.empty());
    plugin->process(64, nullptr);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 64, 0}}));
    EXPECT_EQ(plugin->release(), 0);
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

    // Numbers take at most 4 bytes; a shorter size overwrites only the leading bytes.
    RawEvent eight = rawEvent(0, mpapi::MP_EVENT_PIN_VALUE, probes::kInteger, 8);
    eight.hasExtra = true;
    eight.extra = {0x44, 0x33, 0x22, 0x11, 0x55, 0x66, 0x77, 0x88};
    host.queueRawEvents(probe, {eight});
    host.runBlock(64);
    EXPECT_EQ(log().integer, 0x11223344);
    host.queueRawEvents(probe, {rawEvent(0, mpapi::MP_EVENT_PIN_VALUE, probes::kInteger, 2, 0xBBAA)});
    host.runBlock(64);
    EXPECT_EQ(log().integer, 0x1122BBAA);

    // Oversize inline data without extra data: at most the 8 inline bytes are read.
    RawEvent text = rawEvent(0, mpapi::MP_EVENT_PIN_VALUE, probes::kText, 400, 'h');
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
    host.queueRawEvents(probe, {rawEvent(0, mpapi::MP_EVENT_PIN_VALUE, probes::kFlag, 4, 256)});
    host.runBlock(64);
    EXPECT_TRUE(log().flag);
    host.queueRawEvents(probe, {rawEvent(0, mpapi::MP_EVENT_PIN_VALUE, probes::kFlag, 1, 0)});
    host.runBlock(64);
    EXPECT_FALSE(log().flag);
}

TEST_F(ProcessingBase, ShortMidiArrivesZeroPadded)
{
    const std::size_t probe = startedProbe();
    // C0 05, and a stray byte beyond the size; then a negative size.
    host.queueRawEvents(probe, {rawEvent(0, mpapi::MP_EVENT_MIDI, probes::kMidiIn, 2, 0x7F05C0),
                                rawEvent(0, mpapi::MP_EVENT_MIDI, probes::kMidiIn, -3, 0x7F05C0)});
    host.runBlock(64);

    ASSERT_EQ(log().midi.size(), 1u);  // the event of no bytes is no message
    EXPECT_EQ(log().midi[0].bytes, (std::vector<unsigned char>{0xC0, 0x05, 0x00}));
    EXPECT_EQ(log().midi[0].size, 2);
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

// Graph start: every output, in ascending pin order, sends its first update, also a value it
// never changed; inputs send nothing.
TEST_F(ProcessingBase, GraphStartSendsEveryOutputsFirstUpdateInPinOrder)
{
    const std::size_t probe = add(host, "TEST_Probe");
    host.runBlock(64);
    std::vector<CallRecord> sent;
    for (const CallRecord& call : host.calls())
        if (call.instance == probe && (call.kind == CallKind::SendPinValue || call.kind == CallKind::SendPinStreaming))
            sent.push_back(call);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].kind, CallKind::SendPinStreaming);
    EXPECT_EQ(sent[0].pin, probes::kAudioOut);
    EXPECT_EQ(sent[0].data, Bytes{1});
    EXPECT_EQ(sent[1].kind, CallKind::SendPinValue);
    EXPECT_EQ(sent[1].pin, probes::kValueOut);
    EXPECT_EQ(sent[1].data, floatValue(0.0f));
}

// A handler that posts into its own message entry is not run again; a module that overrides no
// message entry answers without the two entries calling each other.
TEST_F(ProcessingBase, MessagesNeverReenterTheModule)
{
    const std::size_t probe = startedProbe();
    const std::size_t plain = add(host, "TEST_ControlProbe");
    host.postToDsp(probe, 7, {});
    host.postToDsp(plain, 7, {});
    host.runBlock(64);
    EXPECT_EQ(log().messages, std::vector<int>{7});
}

// A module without audio computes only the pieces more events follow, also when the event that
// follows is dropped at the block end; otherwise it asks to sleep at once.
TEST(ProcessingSleep, ModuleWithoutAudioComputesOnlyBeforeFurtherEvents)
{
    Host host{test_support::factory(), test_support::config64(false)};
    const std::size_t probe = add(host, "TEST_ControlProbe");
    host.runBlock(64);
    EXPECT_TRUE(log().pieces.empty());
    EXPECT_EQ(host.callsOf(CallKind::RequestSleep, probe).size(), 1u);

    host.queuePinValue(probe, 0, floatValue(1.0f), 20);
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 20, 0}}));
    EXPECT_EQ(host.callsOf(CallKind::RequestSleep, probe).size(), 2u);

    log().clear();
    host.queueRawEvents(probe, {valueEvent(64, 0, 2.0f)});
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 64, 0}}));
    EXPECT_EQ(host.callsOf(CallKind::RequestSleep, probe).size(), 2u);
}

// An input that stops while the output streams leaves the module's own sub-process current. An
// output going static owes one block length, reloaded each time it is told again, and counts as
// one change; a stop on an input that is not streaming keeps the module awake for at least one
// sample without lowering what it owes. A streaming event's flag is cleared after its stamp.
TEST(ProcessingSleep, OutputGoingStaticAndInputStopsSetTheCountdown)
{
    Host host{test_support::factory(), test_support::config64(false)};
    const std::size_t probe = add(host, "TEST_SleepyProbe");
    host.queueStreaming(probe, probes::kAudioIn, true, 0);
    host.runBlock(64);  // the output streams from graph start
    log().clear();
    host.queueStreaming(probe, probes::kAudioIn, false, 8);
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 8, 0}, {8, 56, 8}}));

    log().clear();
    host.clearCalls();
    host.queuePinValue(probe, probes::kFlag, boolValue(true), 32);
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 32, 0}, {32, 32, 32}}));
    ASSERT_EQ(log().setPins.size(), 1u);
    EXPECT_FALSE(log().setPins[0].audioInUpdated);
    auto streaming = host.callsOf(CallKind::SendPinStreaming, probe);
    ASSERT_EQ(streaming.size(), 1u);
    EXPECT_EQ(streaming[0].blockPosition, 32);
    EXPECT_EQ(streaming[0].data, Bytes{0});

    log().clear();
    host.queueStreaming(probe, probes::kAudioIn, false, 8);
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 8, 0}, {8, 24, 8}}));  // the 32 still owed
    EXPECT_EQ(host.callsOf(CallKind::RequestSleep, probe).size(), 1u);

    log().clear();
    host.queueStreaming(probe, probes::kAudioIn, false, 0);
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 1, 0}}));
    EXPECT_EQ(host.callsOf(CallKind::RequestSleep, probe).size(), 2u);

    log().clear();
    host.queuePinValue(probe, probes::kFlag, boolValue(true), 60);
    host.runBlock(64);
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 60, 0}, {60, 4, 60}, {0, 60, 0}}));
    streaming = host.callsOf(CallKind::SendPinStreaming, probe);
    ASSERT_EQ(streaming.size(), 2u);
    EXPECT_EQ(streaming[1].blockPosition, 60);
    EXPECT_EQ(host.callsOf(CallKind::RequestSleep, probe).size(), 3u);
}

// setSleep(true) counts down even while an output streams; setSleep(false) hands back at the
// next run and never asks to sleep, also once nothing streams.
TEST(ProcessingSleep, SleepSwitchesDecideTheCountdown)
{
    Host host{test_support::factory(), test_support::config64(false)};
    const std::size_t probe = add(host, "TEST_Probe");
    host.runBlock(64);
    log().clear();
    host.queuePinValue(probe, probes::kMaySleep, boolValue(true), 16);
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 16, 0}}));
    EXPECT_EQ(host.callsOf(CallKind::RequestSleep, probe).size(), 1u);

    log().clear();
    host.queuePinValue(probe, probes::kMaySleep, boolValue(false), 0);
    host.queuePinValue(probe, probes::kFlag, boolValue(true), 0);
    host.runBlock(64);
    host.runBlock(64);
    EXPECT_EQ(log().pieces, (std::vector<Piece>{{0, 64, 0}, {0, 64, 0}}));
    EXPECT_EQ(host.callsOf(CallKind::RequestSleep, probe).size(), 1u);
}

} // namespace
