// The whole road of one preset request through a wired patch: a click on a row of the list view,
// PresetNumber into the manager's interface half, the selection to its processing half, the
// program change out and back through the patch, the preset read into the shared block, the
// controller dump, the name and highlight on the interface, and the parameter links passing the
// new values on.
#include "CategoryBrowser/PrescatMessages.h"
#include "PresetStore/ControllerDump.h"
#include "PresetStore/ManagerTestSupport.h"
#include "framework/HostTestSupport.h"

using namespace tavhost;
using testsupport::add;

namespace {

enum ViewPin { kViewPresetNumber, kViewPresetList, kStartnumber, kMaxnumber };
constexpr int viewMousePin(int row) { return 4 * row + 4; }
constexpr int viewActivePin(int row) { return 4 * row + 3; }
enum ManagerGuiPin { kPresetNumber, kPresetList, kPresetName };
enum ManagerDspPin { kMidiIn, kMidiOut };
enum LinkPin { kValueIn, kValueOut, kSlot };

std::array<float, 256> presetValues(float slot2, float slot3)
{
    std::array<float, 256> v{};
    v[0] = 0.75f;
    v[2] = slot2;
    v[3] = slot3;
    return v;
}

TEST(PresetBrowserRoad, ARowClickLoadsThePresetAndEveryPartFollows)
{
    const testsupport::TemporarySharedFolder shared;
    const auto presets = shared.path() / "Quorvane" / "TAVRIN TWO" / "Presetbase" / "Presets";
    managertest::writeBytes(presets / "Alpha.tavpreset", managertest::presetText("Alpha", presetValues(0.1f, 0.2f)));
    managertest::writeBytes(presets / "Beta #pa.tavpreset", managertest::presetText("Beta", presetValues(0.25f, 0.5f)));

    Host host{testsupport::factory(), testsupport::config64()};
    const std::size_t view = add(host, "QV_ListSplitter34", testsupport::withGuiPins(142));
    const std::size_t mgr = add(host, "QV_PatchManagerPrescat", testsupport::withGuiPins(18));
    const std::size_t link2 = add(host, "QV_PatchMemoryFloat");
    const std::size_t link3 = add(host, "QV_PatchMemoryFloat");
    host.setInitialValue(view, Side::Gui, kStartnumber, intValue(0));
    host.setInitialValue(view, Side::Gui, kMaxnumber, intValue(33));
    host.setInitialValue(link2, Side::Dsp, kSlot, intValue(2));
    host.setInitialValue(link3, Side::Dsp, kSlot, intValue(3));
    ASSERT_TRUE(host.connect(view, Side::Gui, kViewPresetNumber, mgr, Side::Gui, kPresetNumber));
    ASSERT_TRUE(host.connect(mgr, Side::Gui, kPresetNumber, view, Side::Gui, kViewPresetNumber));
    ASSERT_TRUE(host.connect(mgr, Side::Gui, kPresetList, view, Side::Gui, kViewPresetList));
    host.start();
    for (int b = 0; b < 10; ++b)
        host.runBlock(64);

    // The manager listed the folder; the view shows it.
    auto lastText = [&](std::size_t instance, int pin) {
        std::optional<Bytes> value;
        for (const CallRecord& c : host.callsOf(CallKind::TransmitPin, instance))
            if (c.pin == pin)
                value = c.data;
        return value;
    };
    EXPECT_EQ(lastText(view, 4 * 1 + 2), textValue("Alpha"));
    EXPECT_EQ(lastText(view, 4 * 2 + 2), textValue("Beta"));

    // Click row 2.
    host.clearCalls();
    host.guiSetPin(view, viewMousePin(2), boolValue(true));
    host.guiSetPin(view, viewMousePin(2), boolValue(false));
    EXPECT_EQ(lastText(view, kViewPresetNumber), intValue(1));
    EXPECT_EQ(lastText(view, viewActivePin(2)), boolValue(true));
    EXPECT_EQ(lastText(view, viewActivePin(1)), boolValue(false));
    const auto selection = host.callsOf(CallKind::PostMessageToAudio, mgr);
    ASSERT_EQ(selection.size(), 1u);
    EXPECT_EQ(selection[0].pin, prescat::kSelectRowBase + 1);
    EXPECT_EQ(lastText(mgr, kPresetName), textValue("Beta"));

    // The program change out; the patch carries it back once (stopping the echo from circulating
    // is the patch's business); the preset goes into the block, then the dump and the echo.
    auto midiOut = [&] {
        std::vector<Bytes> midi;
        for (const CallRecord& c : host.callsOf(CallKind::SendPinValue, mgr))
            if (c.side == Side::Dsp && c.pin == kMidiOut)
                midi.push_back(c.data);
        return midi;
    };
    host.runBlock(64);
    ASSERT_EQ(midiOut(), (std::vector<Bytes>{{0xC0, 0x01, 0x00}}));
    host.clearCalls();
    host.queueMidi(mgr, kMidiIn, Bytes{0xC0, 0x01, 0x00});
    host.runBlock(64);
    const std::vector<Bytes> midi = midiOut();
    ASSERT_EQ(midi.size(), controller_dump::kMessages + 1u);
    for (std::size_t i = 0; i + 1 < midi.size(); ++i)
        EXPECT_EQ(midi[i].at(0), 0xB0);
    EXPECT_EQ(midi.back(), (Bytes{0xC0, 0x01, 0x00}));
    const auto shown = host.callsOf(CallKind::PostMessageToGui, mgr);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().pin, prescat::kShowEntryBase + 1);

    // The row stays highlighted, the links pass the new values on after their debounce.
    host.clearCalls();
    for (int b = 0; b < 40; ++b)
        host.runBlock(64);
    auto lastValue = [&](std::size_t link) {
        std::optional<Bytes> value;
        for (const CallRecord& c : host.callsOf(CallKind::SendPinValue, link))
            if (c.pin == kValueOut)
                value = c.data;
        return value;
    };
    EXPECT_EQ(lastValue(link2), floatValue(0.25f));
    EXPECT_EQ(lastValue(link3), floatValue(0.5f));
    host.shutdown();
    EXPECT_TRUE(host.faults().empty()) << host.faults().front();
}

} // namespace
