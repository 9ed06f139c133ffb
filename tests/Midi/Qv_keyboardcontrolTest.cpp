// The one-octave key display: which notes post which ids, and how the interface half lights its
// twelve keys from them and from the key of the octave below.
#include "Midi/KeyboardControlMessages.h"
#include "Midi/RoutingTestSupport.h"

#include <climits>
#include <map>

using namespace tav_host;
using namespace keyboard_control;

namespace {

class KeyboardControl : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = test_support::add(host, "QV_KeyboardControl");
        host.setInitialValue(module, Side::Dsp, 1, intValue(5));
        host.runBlock(64);
    }
    // Ids posted to the interface half for the messages of one block.
    std::vector<std::int32_t> posted(std::vector<Bytes> messages)
    {
        for (auto& m : messages)
            host.queueMidi(module, 0, std::move(m));
        host.clearCalls();
        host.runBlock(64);
        std::vector<std::int32_t> ids;
        for (const auto& c : host.callsOf(CallKind::PostMessageToGui, module)) {
            EXPECT_EQ(c.size, 0);
            ids.push_back(c.pin);
        }
        return ids;
    }
    // The interface pins' values after the messages of one block, for the pins that changed.
    std::map<int, float> lights(std::vector<Bytes> messages)
    {
        for (auto& m : messages)
            host.queueMidi(module, 0, std::move(m));
        host.clearCalls();
        host.runBlock(64);
        return transmitted();
    }
    std::map<int, float> transmitted()
    {
        std::map<int, float> values;
        for (const auto& c : host.callsOf(CallKind::TransmitPin, module)) {
            float v = -1;
            EXPECT_TRUE(readFloat(c.data, v));
            values[c.pin] = v;
        }
        return values;
    }

    Host host{test_support::factory(), test_support::config64()};
    std::size_t module = 0;
};

TEST_F(KeyboardControl, NotesOfTheOctavePostTheirIdsTwice)
{
    EXPECT_EQ(posted({{0x90, 60, 1}, {0x91, 71, 100}, {0x90, 59, 100}, {0x90, 72, 100}}),
              (std::vector<std::int32_t>{1, 1, 12, 12}));
    EXPECT_EQ(posted({{0x80, 60, 64}, {0x9F, 71, 0}, {0xB0, 60, 1}, {0xA0, 61, 5}, {0x90}}),
              (std::vector<std::int32_t>{101, 101, 112, 112}));
    host.queuePinValue(module, 1, intValue(INT_MIN));  // no note is that low: nothing
    EXPECT_TRUE(posted({{0x90, 0, 1}, {0x90, 127, 1}}).empty());
    host.queuePinValue(module, 1, intValue(0));
    EXPECT_EQ(posted({{0x90, 0, 1}}), (std::vector<std::int32_t>{1, 1}));
}

TEST_F(KeyboardControl, NeighbouringWhiteKeysAreDimmed)
{
    // Semitone 2 then 4: pin 3 lit, pin 5 dimmed; releasing 2 darkens 3 and re-lights 5.
    EXPECT_EQ(lights({{0x90, 62, 100}}), (std::map<int, float>{{3, 1.0f}}));
    EXPECT_EQ(lights({{0x90, 64, 100}}), (std::map<int, float>{{5, 0.5f}}));
    EXPECT_EQ(lights({{0x80, 62, 0}}), (std::map<int, float>{{3, 0.0f}, {5, 1.0f}}));
    // Semitone 5 next to a lit 4 (E-F) is dimmed; black keys are always 1.0.
    EXPECT_EQ(lights({{0x90, 65, 100}, {0x90, 61, 100}}), (std::map<int, float>{{6, 0.5f}, {2, 1.0f}}));
    // Pressing a lower white key dims its lit upper neighbour.
    EXPECT_EQ(lights({{0x90, 62, 100}}), (std::map<int, float>{{3, 1.0f}, {5, 0.5f}}));
    // The highest white key touches nothing above; its release re-lights nothing.
    EXPECT_EQ(lights({{0x90, 71, 100}, {0x90, 71, 0}}), (std::map<int, float>{{12, 0.0f}}));
}

TEST_F(KeyboardControl, LowestWhiteKeyFollowsTheKeyOfTheOctaveBelow)
{
    EXPECT_TRUE(test_support::transmitsAfter(host, module, 0, floatValue(1.0f)).empty());  // pin 1 unlit
    lights({{0x90, 60, 100}});
    EXPECT_EQ(host.callsOf(CallKind::TransmitPin, module).at(0).data, floatValue(0.5f));
    auto t = test_support::transmitsAfter(host, module, 0, floatValue(0.0f));
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].pin, 1);
    EXPECT_EQ(t[0].data, floatValue(1.0f));
    t = test_support::transmitsAfter(host, module, 0, floatValue(0.21f));
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].data, floatValue(0.5f));
}

TEST_F(KeyboardControl, OtherIdsAreIgnored)
{
    for (std::int32_t id : {0, 13, 100, 113, -1, INT_MAX})
        host.postToGui(module, id, {});
    host.drain();
    EXPECT_TRUE(host.callsOf(CallKind::TransmitPin, module).empty());
    host.postToGui(module, kKeyPressed + 11, {});
    host.drain();
    EXPECT_EQ(host.callsOf(CallKind::TransmitPin, module).size(), 1u);
}

} // namespace
