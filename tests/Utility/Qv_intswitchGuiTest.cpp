// The int switch on the interface side: steps up and down within its bounds.
#include "Utility/GuiValueTestSupport.h"

#include <limits>

using namespace tav_host;
using test_support::add;

namespace {

using gui_value_test::GuiValueMath;
using gui_value_test::Sent;

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
