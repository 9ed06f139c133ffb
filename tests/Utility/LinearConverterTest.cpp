// The interface-side value modules: what each transmits at each notification, exactly.
#include "framework/HostTestSupport.h"

#include <cmath>
#include <limits>

using namespace tavhost;
using testsupport::add;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// (pin, value) of each transmit, in order.
std::vector<std::pair<std::int32_t, Bytes>> sent(const std::vector<CallRecord>& calls)
{
    std::vector<std::pair<std::int32_t, Bytes>> out;
    for (const CallRecord& c : calls)
        out.emplace_back(c.pin, c.data);
    return out;
}

using Sent = std::vector<std::pair<std::int32_t, Bytes>>;

class GuiValueMath : public testsupport::InterfaceHostTest {
protected:
    Sent set(std::size_t module, std::int32_t pin, Bytes value) { return sent(transmitsAfter(module, pin, std::move(value))); }
};

TEST_F(GuiValueMath, ComparatorChoosesByStrictWindows)
{
    const std::size_t m = add(host, "QV_FloatComparator");
    host.start();
    set(m, 3, floatValue(1.0f));  // In1 window (-1, 1)
    set(m, 4, floatValue(-1.0f));
    set(m, 5, floatValue(2.0f));  // In2 window (0, 2)
    set(m, 6, floatValue(0.0f));
    set(m, 7, floatValue(5.0f));
    EXPECT_EQ(set(m, 8, floatValue(7.0f)), (Sent{{2, floatValue(7.0f)}}));  // In2 = 0 lies on a bound
    EXPECT_EQ(set(m, 1, floatValue(1.5f)), (Sent{{2, floatValue(5.0f)}}));
    EXPECT_EQ(set(m, 7, floatValue(6.0f)), (Sent{{2, floatValue(6.0f)}}));  // a new true value moves the output
    EXPECT_TRUE(set(m, 2, floatValue(9.0f)).empty());                      // the output has no handler
    EXPECT_EQ(set(m, 0, floatValue(1.0f)), (Sent{{2, floatValue(7.0f)}}));  // on the upper bound: outside
    set(m, 0, floatValue(0.0f));
    EXPECT_EQ(set(m, 1, floatValue(kNaN)), (Sent{{2, floatValue(7.0f)}}));
}

TEST_F(GuiValueMath, ConvertersWriteTheFormulaToBothOutputs)
{
    const std::size_t f = add(host, "QV_FloatConverter");
    const std::size_t i = add(host, "QV_IntConverter");
    host.start();
    set(f, 3, floatValue(2.0f));
    EXPECT_EQ(set(f, 0, floatValue(1.5f)), (Sent{{5, floatValue(3.0f)}, {6, floatValue(3.0f)}}));
    EXPECT_EQ(set(f, 2, floatValue(0.25f)), (Sent{{5, floatValue(3.5f)}, {6, floatValue(3.5f)}}));
    // A host write into an output is put back to the formula value.
    EXPECT_EQ(set(f, 6, floatValue(-1.0f)), (Sent{{6, floatValue(3.5f)}}));
    set(f, 3, floatValue(0.0f));
    EXPECT_EQ(set(f, 4, floatValue(4.0f)), (Sent{{5, floatValue(4.0f)}, {6, floatValue(4.0f)}}));

    // 32-bit arithmetic wraps: the largest int plus one is the smallest.
    set(i, 3, intValue(1));
    set(i, 0, intValue(std::numeric_limits<std::int32_t>::max()));
    const std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(set(i, 1, intValue(1)), (Sent{{5, intValue(lowest)}, {6, intValue(lowest)}}));
    set(i, 3, intValue(65536));
    set(i, 0, intValue(65536));
    EXPECT_EQ(set(i, 1, intValue(0)), (Sent{{5, intValue(0)}, {6, intValue(0)}}));  // 2^32 wraps to 0
}

TEST_F(GuiValueMath, ScalerAndSubtractComputeOnTheirInputsOnly)
{
    const std::size_t s = add(host, "QV_FloatScaler");
    const std::size_t d = add(host, "QV_FloatSubtract");
    host.start();
    EXPECT_TRUE(set(s, 1, floatValue(3.0f)).empty());  // Mult waits for In
    EXPECT_TRUE(set(s, 2, floatValue(1.0f)).empty());
    EXPECT_EQ(set(s, 0, floatValue(2.0f)), (Sent{{3, floatValue(7.0f)}}));
    EXPECT_TRUE(set(s, 0, floatValue(2.0f)).empty());  // same result, nothing sent

    EXPECT_EQ(set(d, 0, floatValue(5.0f)), (Sent{{2, floatValue(5.0f)}, {3, floatValue(5.0f)}}));
    EXPECT_EQ(set(d, 1, floatValue(1.5f)), (Sent{{2, floatValue(3.5f)}, {3, floatValue(3.5f)}}));
    EXPECT_TRUE(set(d, 2, floatValue(0.0f)).empty());
    EXPECT_TRUE(set(d, 3, floatValue(0.0f)).empty());
}

// Range 1 = (0.5, -0.5) -> 1.0, range 2 = (1.5, 0.5) -> 0.0: a press toggles value and state.
TEST_F(GuiValueMath, BoolToFloatStepsThroughItsRanges)
{
    const std::size_t m = add(host, "QV_BoolToFloat");
    host.start();
    for (auto [pin, v] : std::initializer_list<std::pair<int, float>>{{3, 0.5f}, {4, -0.5f}, {5, 1.0f}, {6, 1.5f}, {7, 0.5f}, {8, 0.0f}})
        set(m, pin, floatValue(v));
    EXPECT_EQ(set(m, 0, boolValue(true)), (Sent{{2, floatValue(1.0f)}, {1, floatValue(1.0f)}}));
    EXPECT_TRUE(set(m, 0, boolValue(false)).empty());  // release does nothing
    EXPECT_EQ(set(m, 0, boolValue(true)), (Sent{{2, floatValue(0.0f)}, {1, floatValue(0.0f)}}));
    // A value from outside sets the state from the range it is in, with the opposite level.
    EXPECT_EQ(set(m, 2, floatValue(1.0f)), (Sent{{1, floatValue(1.0f)}}));
    EXPECT_EQ(set(m, 2, floatValue(0.1f)), (Sent{{1, floatValue(0.0f)}}));
    // On a bound: in no range, so neither pin is written.
    EXPECT_TRUE(set(m, 2, floatValue(0.5f)).empty());
    EXPECT_TRUE(set(m, 0, boolValue(true)).empty());
}

// Ranges 3 and 4 set the state like 1 and 2 (a press: 1.0 for odd ranges, 0.0 for even; a value
// from outside: the opposite), and of overlapping ranges the lower-numbered one wins.
TEST_F(GuiValueMath, BoolToFloatRangesThreeAndFourAndOverlaps)
{
    const std::size_t m = add(host, "QV_BoolToFloat");
    host.start();
    for (auto [pin, v] : std::initializer_list<std::pair<int, float>>{{9, 2.0f}, {10, 1.0f}, {11, 3.5f}, {12, 4.0f}, {13, 3.0f}, {14, 1.5f}})
        set(m, pin, floatValue(v));
    EXPECT_TRUE(set(m, 2, floatValue(1.5f)).empty());  // range 3: state 0.0, already held
    EXPECT_EQ(set(m, 0, boolValue(true)), (Sent{{2, floatValue(3.5f)}, {1, floatValue(1.0f)}}));
    EXPECT_EQ(set(m, 0, boolValue(true)), (Sent{{2, floatValue(1.5f)}, {1, floatValue(0.0f)}}));
    EXPECT_EQ(set(m, 2, floatValue(3.5f)), (Sent{{1, floatValue(1.0f)}}));
    EXPECT_EQ(set(m, 2, floatValue(1.5f)), (Sent{{1, floatValue(0.0f)}}));
    set(m, 3, floatValue(2.0f));  // range 1 = (2, 1) -> 9 over range 3
    set(m, 4, floatValue(1.0f));
    set(m, 5, floatValue(9.0f));
    EXPECT_EQ(set(m, 0, boolValue(true)), (Sent{{2, floatValue(9.0f)}, {1, floatValue(1.0f)}}));
}

TEST_F(GuiValueMath, DirectSendersTransmitAtEveryNotification)
{
    const std::size_t b = add(host, "QV_GuiBool2GuiFloat");
    const std::size_t c = add(host, "QV_ChangeToFloat");
    host.start();
    set(b, 2, floatValue(0.25f));
    set(b, 3, floatValue(0.75f));
    EXPECT_EQ(set(b, 0, boolValue(false)), (Sent{{1, floatValue(0.25f)}}));
    EXPECT_EQ(set(b, 0, boolValue(false)), (Sent{{1, floatValue(0.25f)}}));
    EXPECT_EQ(set(b, 0, boolValue(true)), (Sent{{1, floatValue(0.75f)}}));

    set(c, 3, floatValue(2.0f));
    EXPECT_EQ(set(c, 0, intValue(4)), (Sent{{1, floatValue(2.0f)}}));
    EXPECT_EQ(set(c, 0, intValue(4)), (Sent{{1, floatValue(2.0f)}}));
    set(c, 2, boolValue(true));
    EXPECT_TRUE(set(c, 0, intValue(5)).empty());
}

TEST_F(GuiValueMath, FloatPasserPassesOnExactlyOneFlag)
{
    const std::size_t m = add(host, "QV_FloatPasserGui");
    host.start();
    EXPECT_TRUE(set(m, 0, floatValue(1.0f)).empty());  // both false
    EXPECT_TRUE(set(m, 2, boolValue(true)).empty());   // a flag alone passes nothing
    EXPECT_EQ(set(m, 0, floatValue(2.0f)), (Sent{{1, floatValue(2.0f)}}));
    set(m, 3, boolValue(true));
    EXPECT_TRUE(set(m, 0, floatValue(3.0f)).empty());  // both true
    set(m, 2, boolValue(false));
    EXPECT_EQ(set(m, 0, floatValue(4.0f)), (Sent{{1, floatValue(4.0f)}}));
}

TEST_F(GuiValueMath, IntSwitchStepsWithinItsBounds)
{
    const std::size_t m = add(host, "QV_IntSwitch");
    host.start();
    EXPECT_TRUE(set(m, 2, boolValue(true)).empty());  // at 0 a decrement stays 0
    EXPECT_EQ(set(m, 1, boolValue(true)), (Sent{{0, intValue(1)}}));
    EXPECT_TRUE(set(m, 1, boolValue(false)).empty());
    EXPECT_TRUE(set(m, 0, intValue(200)).empty());  // taken, nothing written
    EXPECT_EQ(set(m, 1, boolValue(true)), (Sent{{0, intValue(127)}}));
    EXPECT_TRUE(set(m, 1, boolValue(true)).empty());  // stays 127
    set(m, 0, intValue(200));
    EXPECT_EQ(set(m, 2, boolValue(true)), (Sent{{0, intValue(199)}}));
    set(m, 0, intValue(-5));
    EXPECT_EQ(set(m, 2, boolValue(true)), (Sent{{0, intValue(0)}}));
    set(m, 0, intValue(-5));
    EXPECT_EQ(set(m, 1, boolValue(true)), (Sent{{0, intValue(-4)}}));
    set(m, 0, intValue(std::numeric_limits<std::int32_t>::min()));
    EXPECT_EQ(set(m, 2, boolValue(true)), (Sent{{0, intValue(0)}}));
}

} // namespace
