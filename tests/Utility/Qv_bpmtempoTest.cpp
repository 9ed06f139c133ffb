// The tempo reader: levels from the host's tempo and transport.
#include "framework/HostTestSupport.h"

#include <limits>

using namespace tav_host;
using test_support::add;

namespace {

class BpmTempo : public ::testing::Test {
protected:
    enum Pin { kTempo, kRunning, kTempoOut, kRunningOut };

    Host host{test_support::factory(), test_support::config64()};
};

// 140 BPM gives 14.0; stopping the transport gives 0.0 from the event's sample on, announced as a
// step there; once both outputs have been written for a block length the module sleeps.
TEST_F(BpmTempo, TempoAndTransportBecomeStaticLevels)
{
    const std::size_t tempo = add(host, "QV_BpmTempo");
    host.setInitialValue(tempo, Side::Dsp, kTempo, floatValue(140.0f));
    host.setInitialValue(tempo, Side::Dsp, kRunning, boolValue(true));
    host.runBlock(64);
    EXPECT_EQ(host.buffer(tempo, kTempoOut)[0], 14.0f);
    EXPECT_EQ(host.buffer(tempo, kRunningOut)[63], 1.0f);

    host.clearCalls();
    host.queuePinValue(tempo, kRunning, boolValue(false), 20);
    host.runBlock(64);
    const auto running = host.buffer(tempo, kRunningOut);
    EXPECT_EQ(running[19], 1.0f);
    EXPECT_EQ(running[20], 0.0f);
    EXPECT_EQ(host.buffer(tempo, kTempoOut)[63], 14.0f);
    const auto steps = host.callsOf(CallKind::SendPinStreaming, tempo);
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].pin, kRunningOut);
    EXPECT_EQ(steps[0].blockPosition, 20);
    EXPECT_EQ(steps[0].data, Bytes{0});
    host.runBlock(64);
    EXPECT_EQ(host.callsOf(CallKind::RequestSleep, tempo).size(), 1u);

    // A tempo that is no number gives 0.0, not a NaN level.
    host.queuePinValue(tempo, kTempo, floatValue(std::numeric_limits<float>::quiet_NaN()));
    host.runBlock(64);
    EXPECT_EQ(host.buffer(tempo, kTempoOut)[0], 0.0f);
}

} // namespace
