// The linear converters on the interface side: the formula written to both outputs at each
// notification, exactly.
#include "Utility/GuiValueTestSupport.h"

#include <limits>

using namespace tav_host;
using test_support::add;

namespace {

using gui_value_test::GuiValueMath;
using gui_value_test::Sent;

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

} // namespace
