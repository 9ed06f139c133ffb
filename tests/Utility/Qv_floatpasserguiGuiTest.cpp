// The float passer on the interface side: values pass on exactly one flag.
#include "Utility/GuiValueTestSupport.h"

using namespace tav_host;
using test_support::add;

namespace {

using gui_value_test::GuiValueMath;
using gui_value_test::Sent;

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

} // namespace
