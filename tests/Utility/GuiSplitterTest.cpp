// The splitters: one interface value copied to every output pin, as the host carries it.
#include "framework/HostTestSupport.h"

#include <limits>

using namespace tav_host;
using test_support::add;

namespace {

class GuiSplitter : public test_support::InterfaceHostTest {};

// A splitter sends its value to every host-side pin after the input at every notification, in
// the float's or the int's own 4 bytes; a host that reports one pin or fewer, even a count below
// zero, leaves it without outputs.
TEST_F(GuiSplitter, SplittersSendToEveryOutputAtEveryNotification)
{
    const std::size_t bools = add(host, "QV_BoolSplitter", test_support::withGuiPins(5));
    const std::size_t floats = add(host, "QV_FloatSplitter", test_support::withGuiPins(3));
    const std::size_t ints = add(host, "QV_IntSplitter", test_support::withGuiPins(2));
    std::vector<std::size_t> empty;
    for (std::int32_t count : {1, 0, -5, std::numeric_limits<std::int32_t>::min()})
        empty.push_back(add(host, "QV_IntSplitter", test_support::withGuiPins(count)));
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
