// The indicators: what each processing half posts to its interface half (id-only messages) and
// what the interface half then transmits on its pin, driven through the stand-in host.
#include "framework/HostTestSupport.h"
#include "Midi/IndicatorMessages.h"

#include <limits>
#include <vector>

using namespace tav_host;
using test_support::add;

namespace {

class Indicators : public ::testing::Test {
protected:
    struct Block {
        std::vector<int32_t> posted;  // message ids, in order
        std::vector<Bytes> shown;     // what the interface half transmitted on its pin
    };

    // Runs one block; the posts of the processing half and the interface half's transmits.
    Block runBlock(std::size_t module)
    {
        host.clearCalls();
        host.runBlock(64);
        Block block;
        for (const auto& call : host.callsOf(CallKind::PostMessageToGui, module)) {
            EXPECT_EQ(call.size, 0);  // id-only
            block.posted.push_back(call.pin);
        }
        for (const auto& call : host.callsOf(CallKind::TransmitPin, module)) {
            EXPECT_EQ(call.pin, 0);
            block.shown.push_back(call.data);
        }
        return block;
    }
    // Index of the first block from now whose posts are not empty, at most limit blocks on.
    int blocksUntilPost(std::size_t module, int limit, Block& block)
    {
        for (int i = 0; i < limit; ++i) {
            block = runBlock(module);
            if (!block.posted.empty())
                return i;
        }
        return -1;
    }

    Host host{test_support::factory(), test_support::config64()};
};

using Ids = std::vector<int32_t>;
using Shown = std::vector<Bytes>;

TEST_F(Indicators, ControllerSwitchFollowsValuesAboveAndBelowOneHundred)
{
    const std::size_t sw = add(host, "QV_CCToGuiBool");
    host.setInitialValue(sw, Side::Dsp, 1, intValue(1));
    host.queueMidi(sw, 0, midiValue({0xB0, 20, 127}), 3);
    Block b = runBlock(sw);
    EXPECT_EQ(b.posted, Ids{indicator::kOn});
    EXPECT_EQ(b.shown, Shown{boolValue(true)});

    host.queueMidi(sw, 0, midiValue({0xB4, 20, 100}), 0);  // 100: nothing
    host.queueMidi(sw, 0, midiValue({0xB0, 1, 101}), 1);   // on again: posted, pin unchanged
    host.queueMidi(sw, 0, midiValue({0x90, 20, 0}), 2);    // no controller
    b = runBlock(sw);
    EXPECT_EQ(b.posted, Ids{indicator::kOn});
    EXPECT_TRUE(b.shown.empty());

    host.queueMidi(sw, 0, midiValue({0xB0, 20, 99}), 0);
    host.queueMidi(sw, 0, midiValue({0xB0, 20}), 1);  // short: value 0
    b = runBlock(sw);
    EXPECT_EQ(b.posted, (Ids{indicator::kOff, indicator::kOff}));
    EXPECT_EQ(b.shown, Shown{boolValue(false)});

    // Enabled only by exactly 1.
    for (int32_t enable : {2, 0, 0x10001}) {
        host.queuePinValue(sw, 1, intValue(enable), 0);
        host.queueMidi(sw, 0, midiValue({0xB0, 20, 127}), 1);
        EXPECT_TRUE(runBlock(sw).posted.empty()) << enable;
    }
}

TEST_F(Indicators, PedalDoubleTapWithinTheWindowToggles)
{
    enum { kMidi, kEnable, kWindow, kWindowOut };
    const std::size_t pedal = add(host, "QV_PedalToGuiBool");
    host.setInitialValue(pedal, Side::Dsp, kEnable, intValue(1));
    host.setInitialValue(pedal, Side::Dsp, kWindow, floatValue(0.01f));  // 480 samples
    runBlock(pedal);

    // A release after a quiet period only opens the window.
    host.queueMidi(pedal, kMidi, midiValue({0xB0, 64, 0}), 0);
    Block b = runBlock(pedal);
    EXPECT_TRUE(b.posted.empty());
    EXPECT_EQ(host.buffer(pedal, kWindowOut)[0], 1.0f);

    // Press and release inside it: toggled on; again: off.
    host.queueMidi(pedal, kMidi, midiValue({0xB0, 64, 127}), 10);
    host.queueMidi(pedal, kMidi, midiValue({0xB3, 64, 63}), 20);
    b = runBlock(pedal);
    EXPECT_EQ(b.posted, Ids{indicator::kOn});
    EXPECT_EQ(b.shown, Shown{boolValue(true)});
    host.queueMidi(pedal, kMidi, midiValue({0x90, 60, 100}), 5);  // any message keeps it open
    host.queueMidi(pedal, kMidi, midiValue({0xB0, 64, 1}), 6);
    b = runBlock(pedal);
    EXPECT_EQ(b.posted, Ids{indicator::kOff});
    EXPECT_EQ(b.shown, Shown{boolValue(false)});

    // The window shows 1.0 for whole pieces until 480 samples have passed (the last message came
    // at sample 6 of that block, so 474 more: 7 further blocks), then 0.0.
    for (int i = 0; i < 7; ++i) {
        runBlock(pedal);
        EXPECT_EQ(host.buffer(pedal, kWindowOut)[63], 1.0f) << i;
    }
    runBlock(pedal);
    EXPECT_EQ(host.buffer(pedal, kWindowOut)[0], 0.0f);
    host.queueMidi(pedal, kMidi, midiValue({0xB0, 64, 0}), 0);  // closed: no toggle
    EXPECT_TRUE(runBlock(pedal).posted.empty());

    // Disabled, or a controller other than 64: no toggle.
    host.queuePinValue(pedal, kEnable, intValue(3), 0);
    host.queueMidi(pedal, kMidi, midiValue({0xB0, 64, 0}), 1);
    EXPECT_TRUE(runBlock(pedal).posted.empty());
    host.queuePinValue(pedal, kEnable, intValue(1), 0);
    host.queueMidi(pedal, kMidi, midiValue({0xB0, 65, 0}), 1);
    EXPECT_TRUE(runBlock(pedal).posted.empty());

    // A negative window never opens.
    host.queuePinValue(pedal, kWindow, floatValue(-1.0f), 0);
    host.queueMidi(pedal, kMidi, midiValue({0xB0, 64, 127}), 1);
    host.queueMidi(pedal, kMidi, midiValue({0xB0, 64, 0}), 1);
    EXPECT_EQ(runBlock(pedal).posted, Ids{indicator::kOn});  // same sample: the old window
    runBlock(pedal);
    EXPECT_EQ(host.buffer(pedal, kWindowOut)[0], 0.0f);
    host.queueMidi(pedal, kMidi, midiValue({0xB0, 64, 0}), 0);
    EXPECT_TRUE(runBlock(pedal).posted.empty());
}

TEST_F(Indicators, NoteLedFollowsTheNoteLessTheLeadTime)
{
    enum { kMidi, kLead, kSilentOut };
    const std::size_t led = add(host, "QV_MidiToLed");
    host.setInputConstant(led, kSilentOut, 0.7f);  // stale samples in the output buffer
    Block b = runBlock(led);
    EXPECT_EQ(b.posted, (Ids{indicator::kOff, indicator::kOff}));  // the first piece: dark
    EXPECT_TRUE(b.shown.empty());
    EXPECT_EQ(host.buffer(led, kSilentOut)[63], 0.0f);

    // Lead 0: 0.05 s = 2400 samples = 37.5 blocks; shown in the 38th piece (the note's own first).
    host.queueMidi(led, kMidi, midiValue({0x95, 60, 100}), 0);
    EXPECT_EQ(blocksUntilPost(led, 60, b), 37);
    EXPECT_EQ(b.posted, (Ids{indicator::kOn, indicator::kOn}));
    EXPECT_EQ(b.shown, Shown{floatValue(1.0f)});

    // Lead 50 ms or more: in the piece after the note.
    host.queuePinValue(led, kLead, intValue(50), 0);
    host.queueMidi(led, kMidi, midiValue({0x90, 60, 0}), 10);  // velocity 0: off
    b = runBlock(led);
    EXPECT_EQ(b.posted, (Ids{indicator::kOff, indicator::kOff}));
    EXPECT_EQ(b.shown, Shown{floatValue(0.0f)});

    // Lead 25 ms: 1200 samples remain to count, 18.75 blocks.
    host.queuePinValue(led, kLead, intValue(25), 0);
    host.queueMidi(led, kMidi, midiValue({0x80, 60, 0}), 0);
    host.queueMidi(led, kMidi, midiValue({0xB0, 60, 0}), 1);  // other messages change nothing
    EXPECT_EQ(blocksUntilPost(led, 60, b), 18);

    // A negative lead time counts as none.
    host.queuePinValue(led, kLead, intValue(-100), 0);
    host.queueMidi(led, kMidi, midiValue({0x90, 61, 1}), 0);
    EXPECT_EQ(blocksUntilPost(led, 60, b), 37);
    EXPECT_EQ(b.shown, Shown{floatValue(1.0f)});
}

TEST_F(Indicators, LevelLedStepsAtEachStreamingChange)
{
    const std::size_t led = add(host, "QV_LedDriver");
    float level = 0.0f;
    host.setInputFunction(led, 0, [&level](int64_t) { return level; });
    runBlock(led);
    struct Step {
        float level;
        Ids posted;
        Shown shown;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Step steps[] = {
        {0.5f, {indicator::kLevelLow}, {floatValue(0.3333f)}},
        {1.0f, {indicator::kLevelHigh}, {floatValue(0.6666f)}},
        {2.0f, {indicator::kLevelFull}, {floatValue(1.0f)}},
        {0.75f, {}, {}},  // exactly on a boundary
        {1.25f, {}, {}},
        {nan, {}, {}},
        {0.1f, {indicator::kLevelDark}, {floatValue(0.0f)}},
        {0.25f, {}, {}},
        {-3.0f, {indicator::kLevelDark}, {}},  // posted, pin unchanged
    };
    bool streaming = true;
    for (const Step& step : steps) {
        level = step.level;
        host.queueStreaming(led, 0, streaming, 17);
        streaming = !streaming;
        const Block b = runBlock(led);
        EXPECT_EQ(b.posted, step.posted) << step.level;
        EXPECT_EQ(b.shown, step.shown) << step.level;
    }
}

TEST_F(Indicators, InterfaceHalvesIgnoreUnknownIds)
{
    const std::size_t led = add(host, "QV_LedDriver");
    const std::size_t sw = add(host, "QV_CCToGuiBool");
    host.start();
    for (int32_t id : {4, -1, 1000}) {
        host.clearCalls();
        host.postToGui(led, id, {});
        host.postToGui(sw, id == 4 ? 2 : id, {});
        host.drain();
        EXPECT_TRUE(host.callsOf(CallKind::TransmitPin).empty()) << id;
    }
    host.clearCalls();
    host.postToGui(led, indicator::kLevelFull, {});
    host.postToGui(sw, indicator::kOn, {});
    host.drain();
    const auto shown = host.callsOf(CallKind::TransmitPin);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].data, floatValue(1.0f));
    EXPECT_EQ(shown[1].data, boolValue(true));
}

} // namespace
