// The direct senders on the interface side (bool to float, change to float): a transmit at every
// notification.
#include "Utility/GuiValueTestSupport.h"

using namespace tav_host;
using test_support::add;

namespace {

using gui_value_test::GuiValueMath;
using gui_value_test::Sent;

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

} // namespace
