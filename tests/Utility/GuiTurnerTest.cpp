// The turners and splitters: values copied between interface pins, as the host carries them.
#include "framework/HostTestSupport.h"

#include <limits>

using namespace tavhost;
using testsupport::add;

namespace {

class GuiRouting : public testsupport::InterfaceHostTest {};

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

// A splitter sends its value to every host-side pin after the input at every notification, in
// the float's or the int's own 4 bytes; a host that reports one pin or fewer, even a count below
// zero, leaves it without outputs.
TEST_F(GuiRouting, SplittersSendToEveryOutputAtEveryNotification)
{
    const std::size_t bools = add(host, "QV_BoolSplitter", testsupport::withGuiPins(5));
    const std::size_t floats = add(host, "QV_FloatSplitter", testsupport::withGuiPins(3));
    const std::size_t ints = add(host, "QV_IntSplitter", testsupport::withGuiPins(2));
    std::vector<std::size_t> empty;
    for (std::int32_t count : {1, 0, -5, std::numeric_limits<std::int32_t>::min()})
        empty.push_back(add(host, "QV_IntSplitter", testsupport::withGuiPins(count)));
    host.start();

    for (int round = 0; round < 2; ++round) {
        const auto sent = transmitsAfter(bools, 0, boolValue(true));
        ASSERT_EQ(sent.size(), 4u);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(sent[i].pin, i + 1);
            EXPECT_EQ(sent[i].data, intValue(1));
        }
    }
    const auto f = transmitsAfter(floats, 0, floatValue(-0.25f));
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].pin, 1);
    EXPECT_EQ(f[1].pin, 2);
    EXPECT_EQ(f[1].data, floatValue(-0.25f));
    const auto i = transmitsAfter(ints, 0, intValue(-70000));
    ASSERT_EQ(i.size(), 1u);
    EXPECT_EQ(i[0].pin, 1);
    EXPECT_EQ(i[0].data, intValue(-70000));
    for (const std::size_t splitter : empty)
        EXPECT_TRUE(transmitsAfter(splitter, 0, intValue(3)).empty());
}

} // namespace
