// Parameter links on the shared preset block, driven through the stand-in host: several links on
// one slot, the poll timing and two-poll debounce at 48 kHz, the write path, the no-zero rule,
// the patch module's "d%f" message and its interface half, the mirror interface halves and bad
// slot indexes.
#include "PresetStore/ManagerTestSupport.h"
#include "PresetStore/PatchModuleMessages.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using tav_host::Bytes;
using tav_host::CallKind;
using tav_host::Host;
using tav_host::Side;

// Pins of the processing halves.
constexpr int kFloatValueIn = 0, kFloatValueOut = 1, kFloatSlot = 2, kFloatValueOutCopy = 4;
constexpr int kPatchValueIn = 0, kPatchSlot = 1;

struct Sent {
    int pin;
    float value;
    std::int64_t sample;
    bool operator==(const Sent&) const = default;
};

void PrintTo(const Sent& s, std::ostream* os)
{
    *os << "{pin " << s.pin << ", " << s.value << " at sample " << s.sample << "}";
}

Bytes textBytes(const std::string& text, bool withZero = true)
{
    Bytes b(text.begin(), text.end());
    if (withZero)
        b.push_back(0);
    return b;
}

class ParameterLinkTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (host_) {
            host_->shutdown();
            EXPECT_TRUE(host_->faults().empty()) << host_->faults().front();
        }
    }

    // A host at 48 kHz.
    Host& makeHost(int blockLength = 64)
    {
        tav_host::HostConfig config = test_support::config64();
        config.blockLength = blockLength;
        host_ = std::make_unique<Host>(test_support::factory(), config);
        return *host_;
    }

    // A processing half of the identifier with its slot index pin preset.
    std::size_t link(const char* identifier, int slot)
    {
        const std::size_t in = test_support::add(*host_, identifier);
        const int slotPin = std::string(identifier) == "QV_PatchModule" ? kPatchSlot : kFloatSlot;
        host_->setInitialValue(in, Side::Dsp, slotPin, tav_host::intValue(slot));
        return in;
    }

    // Runs blocks until blocksRun() == block.
    void runUntil(std::int64_t block, int count = 64)
    {
        while (host_->blocksRun() < block)
            ASSERT_TRUE(host_->runBlock(count));
    }

    // A link's parameter input (pin 0 of every link) takes each value at the start of its block.
    void writeAt(std::size_t link, std::initializer_list<std::pair<int, float>> writes)
    {
        for (const auto& [block, value] : writes) {
            runUntil(block);
            host_->queuePinValue(link, 0, tav_host::floatValue(value));
        }
    }

    // Values the processing half sent after its graph start (its first updates left out unless
    // asked for), all read as floats.
    std::vector<Sent> sentAfterStart(std::size_t instance, bool withFirstUpdates = false) const
    {
        const auto started = host_->callsOf(CallKind::SendPinStreaming, instance);
        const std::int64_t startBlock = started.empty() || withFirstUpdates ? -1 : started.front().block;
        std::vector<Sent> out;
        for (const auto& r : host_->callsOf(CallKind::SendPinValue, instance)) {
            float v = std::numeric_limits<float>::quiet_NaN();  // not a float: never equal
            tav_host::readFloat(r.data, v);
            if (r.block > startBlock)
                out.push_back({r.pin, v, r.sample});
        }
        return out;
    }

    // Float values the interface half transmitted on a pin.
    std::vector<float> transmitted(std::size_t instance, int pin) const
    {
        std::vector<float> out;
        for (const auto& bytes : manager_test::valuesOf(*host_, instance, pin)) {
            float v = 0.0f;
            if (tav_host::readFloat(bytes, v))
                out.push_back(v);
        }
        return out;
    }

    // Messages to the interface half: all message 0, the text with its terminating zero.
    std::vector<std::string> messagesToGui(std::size_t instance) const
    {
        std::vector<std::string> out;
        for (const auto& r : host_->callsOf(CallKind::PostMessageToGui, instance)) {
            EXPECT_EQ(r.pin, patch_module_message::kSlotValue);
            EXPECT_EQ(r.size, static_cast<int>(r.data.size()));
            out.emplace_back(r.data.begin(), r.data.end());
        }
        return out;
    }

    test_support::TemporarySharedFolder folder_;
    std::unique_ptr<Host> host_;
};

std::vector<Sent> both(float v, std::int64_t sample)
{
    return {{kFloatValueOut, v, sample}, {kFloatValueOutCopy, v, sample}};
}

std::vector<Sent> concat(std::vector<Sent> a, const std::vector<Sent>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Two links on one slot: the writer's new value goes out on its own outputs at once, and the
// other link passes it on at the first poll that reads it a second time. Slot 255 at 48 kHz is
// polled in the last three 64-sample calls of each 480-sample period (countdown 96, 32, -32).
TEST_F(ParameterLinkTest, TwoLinksOnOneSlotPassOnAfterTwoPolls)
{
    Host& host = makeHost();
    const auto writer = link("QV_PatchMemoryFloat", 255);
    const auto reader = link("QV_PatchMemoryFloat", 255);

    // Graph start: both outputs announce 0.0, the keep-alive output streams, the block opens.
    runUntil(1);
    EXPECT_EQ(sentAfterStart(reader, true), both(0.0f, 0));
    const auto streaming = host.callsOf(CallKind::SendPinStreaming, reader);
    ASSERT_EQ(streaming.size(), 1u);
    EXPECT_EQ(streaming[0].pin, 3);
    EXPECT_EQ(streaming[0].data, tav_host::boolValue(true));
    // The values, and beside them the place of each slot's last write.
    const auto opened = host.callsOf(CallKind::OpenSharedBlock, reader);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].text, "TAVRIN ONE Preset");
    EXPECT_EQ(opened[0].size, 1024);
    EXPECT_EQ(opened[1].text, "TAVRIN ONE Preset Places");
    EXPECT_EQ(opened[1].size, 2048);

    writeAt(writer, {{2, 0.3f}});
    runUntil(20);
    EXPECT_EQ(sentAfterStart(writer), both(0.3f, 128));
    // Polls in blocks 5 (change seen) and 6 (same value again: passed on at its start).
    EXPECT_EQ(sentAfterStart(reader), both(0.3f, 384));
    EXPECT_TRUE(host.callsOf(CallKind::RequestSleep).empty());
}

// Until its graph start a link has nothing to do: a block before it lets the link ask the host
// to sleep once, and the poll clock starts with the graph start, not with the earlier block.
TEST_F(ParameterLinkTest, LinkSleepsUntilItsGraphStart)
{
    Host& host = makeHost();
    const auto writer = link("QV_PatchMemoryFloat", 255);
    const auto reader = link("QV_PatchMemoryFloat", 255);
    const auto patch = link("QV_PatchModule", 255);
    host.queueRawEvents(reader, {});
    host.queueRawEvents(patch, {});
    host.queuePinValue(writer, kFloatValueIn, tav_host::floatValue(0.3f));
    runUntil(20);

    for (const auto instance : {reader, patch}) {
        const auto sleeps = host.callsOf(CallKind::RequestSleep, instance);
        ASSERT_EQ(sleeps.size(), 1u);
        EXPECT_EQ(sleeps[0].block, 0);
    }
    EXPECT_TRUE(host.callsOf(CallKind::RequestSleep, writer).empty());
    // Graph start in block 1: slot 255 is polled in blocks 6 (change seen) and 7 (passed on).
    EXPECT_EQ(sentAfterStart(reader), both(0.3f, 7 * 64));
    ASSERT_EQ(host.callsOf(CallKind::PostMessageToGui, patch).size(), 1u);
    EXPECT_EQ(host.callsOf(CallKind::PostMessageToGui, patch)[0].block, 7);
}

// A slot that differs at every poll is held back; once it holds still for two polls it is passed
// on once, with the value it settled on.
TEST_F(ParameterLinkTest, UnsettledSlotIsHeldBackUntilItHoldsStill)
{
    makeHost();
    const auto writer = link("QV_PatchMemoryFloat", 255);
    const auto reader = link("QV_PatchMemoryFloat", 255);
    // Slot 255 is polled in blocks 5, 6, 7, 13, 14, 15 ...
    writeAt(writer, {{5, 0.1f}, {6, 0.2f}, {7, 0.3f}, {13, 0.4f}});
    runUntil(40);
    EXPECT_EQ(sentAfterStart(reader), both(0.4f, 14 * 64));
}

// When the call lengths add up exactly to the poll period (15 x 32 = 480 samples at 48 kHz) the
// countdown ends the period at exactly 0; every slot is still polled once per period, also slots
// 0 and 1, whose stagger threshold is 0.
TEST_F(ParameterLinkTest, EverySlotIsPolledWhenCallsAddUpToThePeriod)
{
    Host& host = makeHost(32);
    std::vector<std::size_t> writers, readers;
    for (int slot : {0, 1, 2}) {
        writers.push_back(link("QV_PatchMemoryFloat", slot));
        readers.push_back(link("QV_PatchMemoryFloatNozero", slot));
    }
    runUntil(1, 32);
    const float values[] = {0.7f, 0.6f, 0.9f};
    for (int i = 0; i < 3; ++i)
        host.queuePinValue(writers[static_cast<std::size_t>(i)], kFloatValueIn, tav_host::floatValue(values[i]));
    runUntil(45, 32);
    // Periods end in blocks 14, 29, 44: change seen in 14, passed on at the start of 29.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(sentAfterStart(readers[static_cast<std::size_t>(i)]), both(values[i], 29 * 32)) << "slot " << i;
}

// Write path: a new parameter value goes to both outputs at its own time stamp and into the slot;
// the link's own later polls find the same value and send nothing. A new slot index alone writes
// nothing; the link then follows the new slot's value.
TEST_F(ParameterLinkTest, ParameterValueIsWrittenIntoTheSlot)
{
    Host& host = makeHost();
    const auto writer = link("QV_PatchMemoryFloat", 5);
    const auto reader5 = link("QV_PatchMemoryFloat", 5);
    const auto reader6 = link("QV_PatchMemoryFloat", 6);
    runUntil(2);
    host.queuePinValue(writer, kFloatValueIn, tav_host::floatValue(0.3f), 10);
    runUntil(16);
    host.queuePinValue(writer, kFloatSlot, tav_host::intValue(6));
    runUntil(40);

    // Slots 5 and 6 are polled only when a period ends (blocks 7, 15, 23, 31 ...).
    EXPECT_EQ(sentAfterStart(reader5), both(0.3f, 15 * 64));
    EXPECT_TRUE(sentAfterStart(reader6).empty());
    // On slot 6 the writer reads 0.0 in block 23 and again in block 31, and passes it on.
    EXPECT_EQ(sentAfterStart(writer), concat(both(0.3f, 2 * 64 + 10), both(0.0f, 31 * 64)));
}

// No-zero link: a settled slot value reaches the outputs only above 0.5; a lower value is held
// back until the slot settles above 0.5 again. Its own parameter value goes out unfiltered.
TEST_F(ParameterLinkTest, NozeroLinkPassesOnOnlyValuesAboveOneHalf)
{
    makeHost();
    const auto writer = link("QV_PatchMemoryFloat", 7);
    const auto nozero = link("QV_PatchMemoryFloatNozero", 7);
    writeAt(writer, {{1, 0.8f}, {16, 0.0f}, {32, 0.5f}, {48, 0.7f}});
    writeAt(nozero, {{64, 0.2f}});
    runUntil(66);
    EXPECT_EQ(sentAfterStart(nozero), concat(concat(both(0.8f, 15 * 64), both(0.7f, 63 * 64)), both(0.2f, 64 * 64)));
}

// The patch module reports a slot change made elsewhere as one message 0, "d%f" with its
// terminating zero, and its interface half puts the value on its pin; large values and
// infinities keep their full text.
TEST_F(ParameterLinkTest, PatchModuleSendsChangeAsTextToItsInterfaceHalf)
{
    Host& host = makeHost();
    const auto writer = link("QV_PatchMemoryFloat", 9);
    const auto patch = link("QV_PatchModule", 9);
    ASSERT_TRUE(host.hasHalf(patch, Side::Gui));
    writeAt(writer, {{1, 0.25f}, {16, 1e30f}, {32, std::numeric_limits<float>::infinity()}, {48, -0.5f}});
    runUntil(64);

    using namespace std::string_literals;
    EXPECT_EQ(messagesToGui(patch), (std::vector<std::string>{"d0.250000\0"s, "d1000000015047466219876688855040.000000\0"s,
                                                               "dinf\0"s, "d-0.500000\0"s}));
    EXPECT_EQ(host.callsOf(CallKind::PostMessageToGui, patch).at(0).block, 15);
    EXPECT_EQ(transmitted(patch, 0),
              (std::vector<float>{0.25f, 1e30f, std::numeric_limits<float>::infinity(), -0.5f}));
}

// The patch module does not report its own writes back, and a move of 0.000001 or less writes
// nothing. A change someone else makes in the same poll period as an own write is still
// reported.
TEST_F(ParameterLinkTest, PatchModuleKeepsItsOwnWritesToItself)
{
    Host& host = makeHost();
    const auto writer = link("QV_PatchMemoryFloat", 9);
    const auto patch = link("QV_PatchModule", 9);
    const auto reader = link("QV_PatchMemoryFloat", 9);
    writeAt(patch, {{1, 0.5f}, {20, 0.5000005f}});
    runUntil(36);
    EXPECT_TRUE(messagesToGui(patch).empty());
    EXPECT_EQ(sentAfterStart(reader), both(0.5f, 15 * 64));

    // Period of blocks 40-47: own write of 0.6 in block 41, a preset value 0.9 in block 42.
    writeAt(patch, {{41, 0.6f}});
    writeAt(writer, {{42, 0.9f}});
    runUntil(64);
    EXPECT_EQ(messagesToGui(patch), std::vector<std::string>{std::string("d0.900000", 10)});
    EXPECT_EQ(host.callsOf(CallKind::PostMessageToGui, patch).at(0).block, 55);
    EXPECT_EQ(transmitted(patch, 0), std::vector<float>{0.9f});
}

// The patch module's interface half: a value equal to its pin transmits nothing, another one
// transmits once; text without a number gives 0.0; the text ends at its zero or at the end of
// the payload; an empty payload is no value at all.
TEST_F(ParameterLinkTest, PatchInterfaceHalfReadsTheValueText)
{
    Host& host = makeHost();
    const auto patch = *host.addInstance("QV_PatchModule").instance;
    host.start();
    host.postToGui(patch, 0, textBytes("d0.000000"));
    EXPECT_TRUE(transmitted(patch, 0).empty());
    host.postToGui(patch, 0, textBytes("d0.750000"));
    host.postToGui(patch, 0, textBytes("d0.750000"));
    EXPECT_EQ(transmitted(patch, 0), std::vector<float>{0.75f});

    host.clearCalls();
    host.postToGui(patch, 7, textBytes("d"));               // no number: 0.0
    host.postToGui(patch, 0, textBytes("d-2.5", false));    // no terminating zero
    host.postToGui(patch, 0, Bytes{});                      // no payload: ignored
    host.postToGui(patch, 0, textBytes("d 1e999"));         // beyond float range
    host.postToGui(patch, 0, Bytes{'d', '3', 0, '9', 0});   // the text ends at its zero
    host.postToGui(patch, 0, Bytes{0, '4', '2', 0});        // the tag is skipped whatever it is
    host.postToGui(patch, 0, textBytes("d1e-999"));         // too small: 0
    host.postToGui(patch, 0, textBytes("d0x1.8p1"));        // hexadecimal, as atof reads it
    host.postToGui(patch, 0, textBytes("d12,5"));           // "," is no decimal point
    host.postToGui(patch, 0, textBytes("d0x-1"));           // no hexadecimal digits: 0
    EXPECT_EQ(transmitted(patch, 0), (std::vector<float>{0.0f, -2.5f, std::numeric_limits<float>::infinity(), 3.0f,
                                                          42.0f, 0.0f, 3.0f, 12.0f, 0.0f}));
}

// A slot index outside 0-255 is neither read nor written; a float link still passes its
// parameter value to its outputs.
TEST_F(ParameterLinkTest, SlotIndexOutsideTheBlockTouchesNothing)
{
    Host& host = makeHost();
    const int badSlots[] = {256, -1, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()};
    std::vector<std::size_t> badLinks, badPatches;
    for (int slot : badSlots) {
        badLinks.push_back(link("QV_PatchMemoryFloat", slot));
        badPatches.push_back(link("QV_PatchModule", slot));
    }
    const auto reader0 = link("QV_PatchMemoryFloat", 0);
    const auto reader255 = link("QV_PatchMemoryFloat", 255);
    const auto writer255 = link("QV_PatchMemoryFloat", 255);
    runUntil(1);
    for (std::size_t i = 0; i < badLinks.size(); ++i) {
        host.queuePinValue(badLinks[i], kFloatValueIn, tav_host::floatValue(0.4f + static_cast<float>(i)));
        host.queuePinValue(badPatches[i], kPatchValueIn, tav_host::floatValue(0.4f));
    }
    // A value in slot 255 must not be seen through a wrapped index either.
    host.queuePinValue(writer255, kFloatValueIn, tav_host::floatValue(0.3f));
    runUntil(40);
    for (std::size_t i = 0; i < badLinks.size(); ++i) {
        EXPECT_EQ(sentAfterStart(badLinks[i]), both(0.4f + static_cast<float>(i), 64)) << "slot " << badSlots[i];
        EXPECT_TRUE(messagesToGui(badPatches[i]).empty()) << "slot " << badSlots[i];
    }
    EXPECT_TRUE(sentAfterStart(reader0).empty());
    EXPECT_EQ(sentAfterStart(reader255), both(0.3f, 6 * 64));
}

// Only the first opener of the block gets needsInit: a link opening it later finds the values
// the others wrote and passes them on.
TEST_F(ParameterLinkTest, LaterOpenerKeepsTheValuesInTheBlock)
{
    Host& host = makeHost();
    const auto writer = link("QV_PatchMemoryFloat", 5);
    writeAt(writer, {{1, 0.3f}});
    runUntil(3);
    const auto late = link("QV_PatchMemoryFloat", 5);
    runUntil(30);
    EXPECT_EQ(host.callsOf(CallKind::OpenSharedBlock).size(), 4u);  // values and places, twice
    // Opened before block 3: its periods end in blocks 10, 18 ...
    EXPECT_EQ(sentAfterStart(late), both(0.3f, 18 * 64));
}

// The float links' interface half mirrors six pairs of pins in both directions, transmitting a
// value once on the twin; the copy back finds an equal value and transmits nothing.
TEST_F(ParameterLinkTest, MirrorInterfaceHalfCopiesEachPairBothWays)
{
    Host& host = makeHost();
    for (const char* id : {"QV_PatchMemoryFloat", "QV_PatchMemoryFloatNozero"}) {
        SCOPED_TRACE(id);
        host.clearCalls();
        const auto m = *host.addInstance(id).instance;
        host.start();
        const std::pair<int, int> pairs[] = {{0, 7}, {1, 6}, {2, 9}, {3, 10}, {4, 11}, {5, 8}};
        const Bytes values[] = {tav_host::floatValue(0.3f), tav_host::textValue("Cutoff"), tav_host::textValue("Low,High"),
                                tav_host::intValue(4), tav_host::boolValue(true), tav_host::floatValue(0.6f)};
        const Bytes others[] = {tav_host::floatValue(0.1f), tav_host::textValue("Res"), tav_host::textValue(""),
                                tav_host::intValue(-2), tav_host::boolValue(false), tav_host::floatValue(0.0f)};
        for (std::size_t i = 0; i < 6; ++i) {
            const auto [a, b] = pairs[i];
            host.clearCalls();
            host.guiSetPin(m, a, values[i]);
            EXPECT_EQ(manager_test::valuesOf(host, m, b), std::vector<Bytes>{values[i]}) << "pin " << a;
            host.guiSetPin(m, b, values[i]);  // the echo
            host.guiSetPin(m, b, others[i]);  // the other way
            EXPECT_EQ(manager_test::valuesOf(host, m, a), std::vector<Bytes>{others[i]}) << "pin " << b;
            EXPECT_EQ(manager_test::valuesOf(host, m, b).size(), 1u) << "pin " << b;
        }
    }
}

// At initialize the animation position goes out with the animation input's value even when it
// already holds it (via 0.0 in between), and the value pin is brought in line with the value
// input.
TEST_F(ParameterLinkTest, MirrorInitializeSendsAnimationPosition)
{
    struct Case {
        float animationIn, animationPosition, valueIn;
        std::vector<float> pin8, pin7;
    };
    const Case cases[] = {
        {0.6f, 0.6f, 0.0f, {0.0f, 0.6f}, {}},
        {0.6f, 0.2f, 0.0f, {0.6f, 0.0f, 0.6f}, {}},
        {0.0f, 0.0f, 0.3f, {}, {0.3f}},
    };
    for (const Case& c : cases) {
        Host& host = makeHost();
        const auto m = *host.addInstance("QV_PatchMemoryFloat").instance;
        host.setInitialValue(m, Side::Gui, 5, tav_host::floatValue(c.animationIn));
        host.setInitialValue(m, Side::Gui, 8, tav_host::floatValue(c.animationPosition));
        host.setInitialValue(m, Side::Gui, 0, tav_host::floatValue(c.valueIn));
        host.start();
        EXPECT_EQ(transmitted(m, 8), c.pin8);
        EXPECT_EQ(transmitted(m, 7), c.pin7);
        EXPECT_EQ(host.callsOf(CallKind::TransmitPin, m).size(), c.pin8.size() + c.pin7.size());
        host.shutdown();
        EXPECT_TRUE(host.faults().empty());
    }
}

} // namespace
