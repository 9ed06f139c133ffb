// The signal shapers: powers taken in volts and the sine of the raw value, driven as the host
// drives them.
#include "framework/HostTestSupport.h"

#include <cmath>

using namespace tav_host;
using test_support::add;

namespace {

class AudioMath : public ::testing::Test {
protected:
    // Runs one block with the input streaming at a constant value; returns the output's last
    // sample.
    float shape(const char* identifier, float x)
    {
        const std::size_t module = add(host, identifier);
        host.setInputConstant(module, 0, x);
        host.queueStreaming(module, 0, true, 0);
        host.runBlock(64);
        return host.buffer(module, 1)[63];
    }

    Host host{test_support::factory(), test_support::config64()};
};

TEST_F(AudioMath, PowersAreTakenInVolts)
{
    EXPECT_FLOAT_EQ(shape("QV_Pow2x", 0.5f), 2.5f);   // (5 V)^2 = 25 V
    EXPECT_FLOAT_EQ(shape("QV_Pow2x", -0.3f), 0.9f);
    EXPECT_FLOAT_EQ(shape("QV_Pow3x", 0.5f), 12.5f);  // (5 V)^3 = 125 V
    EXPECT_FLOAT_EQ(shape("QV_Pow3x", -0.1f), -0.1f);
}

TEST_F(AudioMath, SineTakesTheRawValueInRadians)
{
    EXPECT_NEAR(shape("QV_Sinx", 3.14159265f), 0.0f, 1e-6);
    EXPECT_FLOAT_EQ(shape("QV_Sinx", 0.5f), std::sin(0.5f));
}

TEST_F(AudioMath, OutputStreamsExactlyWhenTheInputStreams)
{
    const std::size_t module = add(host, "QV_Sinx");
    host.setInputConstant(module, 0, 1.0f);
    host.queueStreaming(module, 0, true, 0);
    host.runBlock(64);
    host.queueStreaming(module, 0, false, 40);
    host.runBlock(64);
    const auto streaming = host.callsOf(CallKind::SendPinStreaming, module);
    ASSERT_FALSE(streaming.empty());
    EXPECT_EQ(streaming.back().pin, 1);
    EXPECT_EQ(streaming.back().blockPosition, 40);
    EXPECT_EQ(streaming.back().data, Bytes{0});
    // The static output still holds f(last value) over the samples computed after the stop.
    EXPECT_FLOAT_EQ(host.buffer(module, 1)[63], std::sin(1.0f));
    EXPECT_TRUE(host.callsOf(CallKind::RequestSleep, module).empty());

    // One block length of samples is computed after the stop (24 + 40), then the module sleeps.
    host.setInputConstant(module, 0, 2.0f);
    host.runBlock(64);
    const auto out = host.buffer(module, 1);
    EXPECT_FLOAT_EQ(out[39], std::sin(2.0f));
    EXPECT_NE(out[40], std::sin(2.0f));
    const auto sleeps = host.callsOf(CallKind::RequestSleep, module);
    ASSERT_EQ(sleeps.size(), 1u);
    EXPECT_EQ(sleeps[0].block, 2);
}

} // namespace
