// The float scaler and the float subtracter on the interface side: computed on their inputs only.
#include "Utility/GuiValueTestSupport.h"

using namespace tav_host;
using test_support::add;

namespace {

using gui_value_test::GuiValueMath;
using gui_value_test::Sent;

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

} // namespace
