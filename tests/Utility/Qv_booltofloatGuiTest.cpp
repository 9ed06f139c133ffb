// The bool-to-float stepper on the interface side: presses and outside values through its ranges.
#include "Utility/GuiValueTestSupport.h"

using namespace tav_host;
using test_support::add;

namespace {

using gui_value_test::GuiValueMath;
using gui_value_test::Sent;

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

} // namespace
