// The gated float passer on the processing side, driven as the host drives it.
#include "framework/HostTestSupport.h"

using namespace tav_host;
using test_support::add;

namespace {

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

    Host host{test_support::factory(), test_support::config64()};
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
