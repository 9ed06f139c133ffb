// The pulse clock: clock edges at their exact samples, resynchronisation to the song position,
// and a clock that neither hangs nor stops for good on a tempo that is no number, zero or
// negative.
#include "framework/HostTestSupport.h"

#include <algorithm>
#include <limits>

using namespace tav_host;
using test_support::add;

namespace {

class BpmClock : public ::testing::Test {
protected:
    enum Pin { kTempo, kSongPosition, kPulsesPerBeat, kClockOut };

    std::size_t addClock(float bpm, int pulses)
    {
        const std::size_t clock = add(host, "QV_BpmClock");
        host.setInitialValue(clock, Side::Dsp, kTempo, floatValue(bpm));
        host.setInitialValue(clock, Side::Dsp, kPulsesPerBeat, intValue(pulses));
        return clock;
    }
    // Absolute samples of the clock's edges (its steps to a static level) over the next blocks.
    std::vector<std::int64_t> edgesOver(std::size_t clock, int blocks)
    {
        for (int b = 0; b < blocks; ++b)
            host.runBlock(host.config().blockLength);
        std::vector<std::int64_t> edges;
        for (const auto& call : host.callsOf(CallKind::SendPinStreaming, clock))
            if (call.pin == kClockOut && call.data == Bytes{0})
                edges.push_back(call.sample);
        return edges;
    }

    Host host{test_support::factory(), test_support::config64()};
};

// 48 kHz, 120 BPM, 4 pulses per beat: half period 3000.5 samples, so edges fall 3000 and 3001
// samples apart; the first rises on the first sample. In the block where the countdown stands at
// 56.5 (block 46), 56 samples of the old level come before the edge.
TEST_F(BpmClock, EdgesFallOnTheHalfPeriodWithItsFractionCarried)
{
    const std::size_t clock = addClock(120.0f, 4);
    EXPECT_EQ(edgesOver(clock, 190), (std::vector<std::int64_t>{0, 3000, 6001, 9001, 12002}));

    Host h{test_support::factory(), test_support::config64()};
    const std::size_t again = add(h, "QV_BpmClock");
    h.setInitialValue(again, Side::Dsp, kTempo, floatValue(120.0f));
    h.setInitialValue(again, Side::Dsp, kPulsesPerBeat, intValue(4));
    for (int b = 0; b <= 46; ++b)
        h.runBlock(64);
    const auto out = h.buffer(again, kClockOut);
    EXPECT_EQ(out[0], 0.5f);
    EXPECT_EQ(out[55], 0.5f);
    EXPECT_EQ(out[56], 0.0f);
    EXPECT_EQ(out[63], 0.0f);
    EXPECT_TRUE(h.callsOf(CallKind::RequestSleep).empty());
}

TEST_F(BpmClock, OnePulsePerBeatAt44100)
{
    Host h{test_support::factory(), [] {
               auto c = test_support::config64();
               c.sampleRate = 44100.0f;
               return c;
           }()};
    const std::size_t clock = add(h, "QV_BpmClock");
    h.setInitialValue(clock, Side::Dsp, kTempo, floatValue(120.0f));
    h.setInitialValue(clock, Side::Dsp, kPulsesPerBeat, intValue(1));
    for (int b = 0; b < 400; ++b)
        h.runBlock(64);
    std::vector<std::int64_t> edges;
    for (const auto& call : h.callsOf(CallKind::SendPinStreaming, clock))
        if (call.data == Bytes{0})
            edges.push_back(call.sample);
    EXPECT_EQ(edges, (std::vector<std::int64_t>{0, 11025, 22051}));  // half period 11025.5
}

// A song position moves the next edge so that the clock's place in its pulse period matches:
// 0.0 beats puts a period start where the clock is 640 samples into one (the fall moves from 3000
// to 3640); 1/8 beat (half a pulse) makes it fall at once. The same error again changes nothing,
// and a first error of exactly 0.0 changes nothing either.
TEST_F(BpmClock, SongPositionPullsThePhase)
{
    const std::size_t late = addClock(120.0f, 4);
    host.setInitialValue(late, Side::Dsp, kSongPosition, floatValue(0.0f));  // error 0 at the start
    const std::size_t early = addClock(120.0f, 4);
    for (int b = 0; b < 10; ++b)
        host.runBlock(64);
    host.queuePinValue(late, kSongPosition, floatValue(0.0f));
    host.queuePinValue(early, kSongPosition, floatValue(0.125f));
    for (int b = 0; b < 10; ++b)
        host.runBlock(64);
    host.queuePinValue(late, kSongPosition, floatValue(1.0f));  // still 640 samples in: same error
    EXPECT_EQ(edgesOver(late, 40), (std::vector<std::int64_t>{0, 3640}));
    EXPECT_EQ(edgesOver(early, 0), (std::vector<std::int64_t>{0, 640, 3640}));
}

// A song position during a hold leaves an error that is no number as the last error, so after
// the restart an error equal to the one before the hold (640 samples) moves the edge again.
TEST_F(BpmClock, ErrorDuringAHoldIsTheLastError)
{
    const std::size_t clock = addClock(120.0f, 4);
    auto runTo = [&](int block) {
        while (host.samplesRun() < block * 64)
            host.runBlock(64);
    };
    runTo(10);
    host.queuePinValue(clock, kSongPosition, floatValue(0.0f));  // 640 samples in: the fall moves to 3640
    runTo(20);
    host.queuePinValue(clock, kTempo, floatValue(0.0f));  // holds from the fall at 3640 on
    runTo(70);
    host.queuePinValue(clock, kSongPosition, floatValue(2.5f));
    runTo(100);
    host.queuePinValue(clock, kTempo, floatValue(120.0f));  // restarts at 6400
    runTo(110);
    host.queuePinValue(clock, kSongPosition, floatValue(3.0f));  // 640 samples in again
    EXPECT_EQ(edgesOver(clock, 60), (std::vector<std::int64_t>{0, 3640, 6400, 10040}));
}

// A tempo change takes effect at the next edge; tempo 0 holds the level from the next edge on,
// and a tempo coming back restarts the clock with a rising edge at once. Negative, NaN and absurd
// tempos or pulse counts hold the level instead of edging without end.
TEST_F(BpmClock, TempoChangesHoldsAndRestarts)
{
    const std::size_t clock = addClock(120.0f, 4);
    for (int b = 0; b < 10; ++b)
        host.runBlock(64);
    host.queuePinValue(clock, kTempo, floatValue(60.0f));  // half period 6000.5
    EXPECT_EQ(edgesOver(clock, 190), (std::vector<std::int64_t>{0, 3000, 9001}));

    host.clearCalls();
    host.queuePinValue(clock, kTempo, floatValue(0.0f));
    EXPECT_EQ(edgesOver(clock, 300), (std::vector<std::int64_t>{15001}));
    host.clearCalls();
    host.queuePinValue(clock, kTempo, floatValue(120.0f), 5);
    const std::int64_t back = host.samplesRun() + 5;
    EXPECT_EQ(edgesOver(clock, 60), (std::vector<std::int64_t>{back, back + 3000}));
    EXPECT_EQ(host.buffer(clock, kClockOut)[0], 0.0f);

    for (auto [bpm, pulses] : std::vector<std::pair<float, int>>{{120.0f, -4},
                                                                 {-120.0f, 4},
                                                                 {std::numeric_limits<float>::quiet_NaN(), 4},
                                                                 {1e30f, 4},
                                                                 {120.0f, 2147483647}}) {
        Host h{test_support::factory(), test_support::config64()};
        const std::size_t stuck = add(h, "QV_BpmClock");
        h.setInitialValue(stuck, Side::Dsp, kTempo, floatValue(bpm));
        h.setInitialValue(stuck, Side::Dsp, kPulsesPerBeat, intValue(pulses));
        h.setInitialValue(stuck, Side::Dsp, kSongPosition, floatValue(0.3f));
        for (int b = 0; b < 50; ++b)
            h.runBlock(64);
        int edges = 0;
        for (const auto& call : h.callsOf(CallKind::SendPinStreaming, stuck))
            edges += call.data == Bytes{0};
        EXPECT_EQ(edges, 1) << bpm << " BPM, " << pulses << " pulses";  // the first edge only
        EXPECT_EQ(h.buffer(stuck, kClockOut)[0], 0.5f);
    }
}

// A tempo so slow that its half period (0.05 BPM, 1 pulse: 28,800,000 samples) is beyond the
// float's whole-sample range still runs out to the sample, however the host cuts its blocks: the
// fall at 12000 starts the long countdown (0.5 samples left over carried), 120 BPM arrives while it
// runs and takes effect at its end, 28,800,000 samples later, after a stretch of 1-sample blocks.
TEST_F(BpmClock, SlowestCountdownRunsOutToTheSample)
{
    HostConfig config = test_support::config64();
    config.blockLength = 8000;
    Host h{test_support::factory(), config};
    const std::size_t clock = add(h, "QV_BpmClock");
    h.setInitialValue(clock, Side::Dsp, kTempo, floatValue(120.0f));
    h.setInitialValue(clock, Side::Dsp, kPulsesPerBeat, intValue(1));
    h.runBlock(8000);
    h.queuePinValue(clock, kTempo, floatValue(0.05f));
    h.runBlock(8000);
    h.queuePinValue(clock, kTempo, floatValue(120.0f));
    for (int b = 0; b < 1000; ++b)
        h.runBlock(1);
    constexpr std::int64_t kLongFall = 12000 + 28800000;
    while (h.samplesRun() < kLongFall + 30000)
        h.runBlock(static_cast<std::int32_t>(std::min<std::int64_t>(8000, kLongFall + 30000 - h.samplesRun())));
    std::vector<std::int64_t> edges;
    for (const auto& call : h.callsOf(CallKind::SendPinStreaming, clock))
        if (call.data == Bytes{0})
            edges.push_back(call.sample);
    EXPECT_EQ(edges, (std::vector<std::int64_t>{0, 12000, kLongFall, kLongFall + 12001, kLongFall + 24001}));
}

} // namespace
