// The turners: values copied between interface pins, as the host carries them.
#include "framework/HostTestSupport.h"

#include <limits>

using namespace tav_host;
using test_support::add;

namespace {

class GuiRouting : public test_support::InterfaceHostTest {};

TEST_F(GuiRouting, FloatTurnerTransmitsOnlyChangedValues)
{
    const std::size_t turner = add(host, "QV_FloatTurner");
    host.start();
    const auto first = transmitsAfter(turner, 0, floatValue(0.5f));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].pin, 1);
    EXPECT_EQ(first[0].data, floatValue(0.5f));
    EXPECT_TRUE(transmitsAfter(turner, 0, floatValue(0.5f)).empty());

    // A host write into the output runs its handler, which puts the input back.
    const auto back = transmitsAfter(turner, 1, floatValue(0.7f));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].data, floatValue(0.5f));

    EXPECT_EQ(transmitsAfter(turner, 2, floatValue(std::numeric_limits<float>::quiet_NaN())).size(), 1u);
    EXPECT_EQ(transmitsAfter(turner, 2, floatValue(std::numeric_limits<float>::quiet_NaN())).size(), 1u);
    EXPECT_EQ(transmitsAfter(turner, 2, floatValue(0.0f)).size(), 1u);
    EXPECT_TRUE(transmitsAfter(turner, 2, floatValue(-0.0f)).empty());
}

TEST_F(GuiRouting, DualTurnerKeepsAWrittenOutputUntilItsInputIsNotified)
{
    const std::size_t turner = add(host, "QV_FloatTurnerDual");
    host.start();
    transmitsAfter(turner, 0, floatValue(0.5f));
    EXPECT_TRUE(transmitsAfter(turner, 1, floatValue(0.7f)).empty());
    const auto again = transmitsAfter(turner, 0, floatValue(0.5f));
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].data, floatValue(0.5f));
}

TEST_F(GuiRouting, TextTurnerSendsTheEmptyTextOnceFromAFreshPin)
{
    const std::size_t turner = add(host, "QV_TextTurner");
    host.start();
    const auto first = transmitsAfter(turner, 0, Bytes{});
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].size, 0);
    EXPECT_TRUE(transmitsAfter(turner, 0, Bytes{}).empty());
    const auto abc = transmitsAfter(turner, 2, textValue(U"abc"));
    ASSERT_EQ(abc.size(), 1u);
    EXPECT_EQ(abc[0].pin, 3);
    EXPECT_EQ(abc[0].data, textValue(U"abc"));
    EXPECT_EQ(transmitsAfter(turner, 2, Bytes{}).at(0).size, 0);
}

TEST_F(GuiRouting, BoolTurnerAndIntTurnerCopyTheirRawForms)
{
    const std::size_t bools = add(host, "QV_BoolTurner");
    const std::size_t ints = add(host, "QV_IntTurner");
    host.start();
    EXPECT_EQ(transmitsAfter(bools, 2, boolValue(true)).at(0).data, boolValue(true));
    EXPECT_EQ(transmitsAfter(ints, 0, intValue(-7)).at(0).data, intValue(-7));
    EXPECT_TRUE(transmitsAfter(ints, 0, intValue(-7)).empty());
}

} // namespace
