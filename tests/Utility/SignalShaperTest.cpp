// The audio math modules: powers taken in volts, the sine of the raw value, and the gated float
// passer, driven as the host drives them.
#include "framework/HostTestSupport.h"

#include <cmath>

using namespace tavhost;
using testsupport::add;

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

    Host host{testsupport::factory(), testsupport::config64()};
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

class FloatPasser : public ::testing::Test {
protected:
    enum Pin { kValueIn, kValueOut, kGate, kInvert };

    void SetUp() override
    {
        passer = add(host, "QV_FloatPasserDsp");
        host.runBlock(64);
    }
    // Values the passer sends after the events queued for the next block.
    std::vector<float> sentAfterBlock()
    {
        host.clearCalls();
        host.runBlock(64);
        std::vector<float> sent;
        for (const auto& call : host.callsOf(CallKind::SendPinValue, passer)) {
            float v = 0;
            EXPECT_EQ(call.pin, kValueOut);
            EXPECT_TRUE(readFloat(call.data, v));
            sent.push_back(v);
        }
        return sent;
    }

    Host host{testsupport::factory(), testsupport::config64()};
    std::size_t passer = 0;
};

TEST_F(FloatPasser, PassesValuesOnlyWhileGateDiffersFromInvert)
{
    host.queuePinValue(passer, kGate, boolValue(true));
    host.queuePinValue(passer, kInvert, boolValue(true));
    host.queuePinValue(passer, kValueIn, floatValue(0.3f));
    EXPECT_TRUE(sentAfterBlock().empty());

    host.queuePinValue(passer, kGate, boolValue(false));
    EXPECT_TRUE(sentAfterBlock().empty());  // a gate change alone sends nothing

    host.queuePinValue(passer, kValueIn, floatValue(0.4f), 12);
    EXPECT_EQ(sentAfterBlock(), std::vector<float>{0.4f});
    EXPECT_EQ(host.callsOf(CallKind::SendPinValue, passer)[0].blockPosition, 12);  // at the value's stamp

    host.queuePinValue(passer, kValueIn, floatValue(0.4f));
    EXPECT_TRUE(sentAfterBlock().empty());  // equal to the output's value
}

} // namespace
