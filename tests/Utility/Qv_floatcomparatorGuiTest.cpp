// The float comparator on the interface side: the output chosen by strict windows, exactly.
#include "Utility/GuiValueTestSupport.h"

using namespace tav_host;
using test_support::add;

namespace {

using gui_value_test::GuiValueMath;
using gui_value_test::Sent;
using gui_value_test::kNaN;

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

} // namespace
