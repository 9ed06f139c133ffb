// The list-pipe manager's processing half driven through the stand-in host: start-up list and
// factory bank, program changes and selects with their controller dumps, the file and list
// commands of the interface half, and the bounds on everything that comes from outside.
#include "PresetStore/ControllerDump.h"
#include "PresetStore/FactoryBank.h"
#include "PresetStore/ManagerTestSupport.h"
#include "support/Settle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tav_host;
using manager_test::constructorNames;
using manager_test::idsToGui;
using manager_test::listText;
using manager_test::readBytes;
using manager_test::writeBytes;

namespace {

constexpr int32_t kMidiOut = 1;
constexpr int kDump = controller_dump::kMessages;
constexpr int kBlocksPerSecond = 750;  // 48000 samples in blocks of 64

using Messages = std::vector<Bytes>;

Bytes textPayload(const std::string& text)
{
    Bytes b(text.begin(), text.end());
    b.push_back(0);
    return b;
}

std::vector<std::string> numberedNames(const std::string& prefix) { return manager_test::paddedNames(prefix); }

// A bank file whose preset p holds (p + 0.5) / 127 in slot 1, so that controller 97 of its dump
// is p, and `extra` in slot 200 (not dumped).
std::string bankFile(const std::vector<std::string>& names, float extra = 0.0f)
{
    return manager_test::bankText(names, [extra](int p, int k) {
        return k == 1 ? (p + 0.5f) / 127.0f : (k == 200 ? extra : 0.0f);
    });
}

// The dump of a block whose slot k holds value(k).
template <class Value>
Messages dumpOf(Value value)
{
    float block[PresetBlock::kSlots];
    for (int k = 0; k < PresetBlock::kSlots; ++k)
        block[k] = value(k);
    std::array<controller_dump::Message, kDump> dump;
    controller_dump::computeDump(block, dump);
    Messages out;
    for (const auto& m : dump)
        out.push_back(Bytes(m.begin(), m.end()));
    return out;
}

// The dump of preset p of bankFile(), of a zero block and of factory preset p.
Messages presetDump(int p) { return dumpOf([p](int k) { return k == 1 ? (p + 0.5f) / 127.0f : 0.0f; }); }
const Messages kZeroDump = dumpOf([](int) { return 0.0f; });
Messages factoryDump(int p)
{
    return dumpOf([p](int k) { return k < factory_bank::kValues ? factory_bank::values(p)[k] : 0.0f; });
}

Messages concat(std::initializer_list<Messages> parts)
{
    Messages out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

class ListpipeManager : public ::testing::Test {
protected:
    void TearDown() override
    {
        host.shutdown();
        EXPECT_TRUE(host.faults().empty()) << host.faults().front();
    }

    // The interface half announces itself with 134 when the host initialises it; without one in
    // the bundle the test sends it.
    void startInterface()
    {
        host.start();
        if (!host.hasHalf(mgr, Side::Gui))
            host.postToDsp(mgr, list_message::kInterfaceStarted, {});
    }

    void runBlocks(int n)
    {
        for (int i = 0; i < n; ++i)
            host.runBlock(64);
    }

    Messages midiOut() const { return manager_test::midiSent(host, mgr, kMidiOut); }
    // Messages to the interface half since the last clear; each one but the list is a bare id.
    std::vector<int> toGui() const { return idsToGui(host, mgr); }

    void command(int32_t id, const std::filesystem::path& path)
    {
        host.postToDsp(mgr, list_message::kPath, textPayload(path.string()));
        host.postToDsp(mgr, id, {});
        test_support::settle(host);
    }
    // A message, then blocks until what it asked of the disk is done.
    void settled(int32_t id, const Bytes& payload = {})
    {
        host.postToDsp(mgr, id, payload);
        test_support::settle(host);
    }

    // The name table as a bank save to a new file writes it; no message goes to the interface.
    std::vector<std::string> namesInMemory()
    {
        const auto file = shared.path() / ("names" + std::to_string(++observed) + ".tavbank");
        command(list_message::kSaveBank, file);
        preset_bank::NameTable table;
        EXPECT_TRUE(preset_bank::LoadNames(file.string(), table));
        std::vector<std::string> names;
        for (int p = 0; p < preset_bank::kPresets; ++p)
            names.emplace_back(table.view(p));
        return names;
    }

    // Loads a bank of presets p = (p + 0.5) / 127 in slot 1 and clears the record.
    void loadNumberedBank()
    {
        writeBytes(bankPath, bankFile(numberedNames("Bank Preset ")));
        command(list_message::kLoadBank, bankPath);
        host.clearCalls();
    }

    test_support::TemporarySharedFolder shared;
    Host host{test_support::factory(),
              HostConfig{.sampleRate = 48000.0f, .blockLength = 64, .fileFolder = shared.path()}};
    std::size_t mgr = test_support::add(host, "QV_PatchManagerListpipe");
    std::filesystem::path bankPath = shared.path() / "numbered.tavbank";
    std::filesystem::path presetPath = shared.path() / "preset.tavpreset";
    int observed = 0;
};

// Start-up: 134 is answered with 130 + current preset and the numbered list; one second after it
// the live block is stored into the current preset and, while slot 0 is still "Default", the
// factory bank comes in and 260 tells the interface half. A second 134 does not restart the count.
TEST_F(ListpipeManager, StartUpAnswersWithListThenLoadsFactoryBankAfterOneSecond)
{
    // The list comes from the names the worker keeps; the blocks run until it is back count
    // towards the second.
    startInterface();
    int blocks = test_support::settle(host);
    const auto answer = host.callsOf(CallKind::PostMessageToGui, mgr);
    ASSERT_EQ(answer.size(), 2u);
    EXPECT_EQ(answer[0].pin, list_message::kCurrentPresetBase + 0);
    EXPECT_EQ(answer[0].size, 0);
    EXPECT_EQ(answer[1].pin, list_message::kListText);
    const std::string list = listText(constructorNames());
    EXPECT_EQ(answer[1].size, static_cast<int32_t>(list.size() + 1));
    EXPECT_EQ(answer[1].data, textPayload(list));

    runBlocks(700);
    host.postToDsp(mgr, list_message::kInterfaceStarted, {});  // list again, countdown untouched
    blocks += 700 + test_support::settle(host);
    host.clearCalls();
    runBlocks(kBlocksPerSecond - 1 - blocks);
    EXPECT_TRUE(toGui().empty());
    runBlocks(1);  // the store and the factory bank go to the worker in this block
    test_support::settle(host);
    EXPECT_EQ(idsToGui(host, mgr, true), std::vector<int>{list_message::kFactoryBankLoaded});
    EXPECT_TRUE(midiOut().empty());  // no dump, no program change

    std::vector<std::string> factoryNames;
    for (int p = 0; p < 128; ++p)
        factoryNames.push_back(factory_bank::name(p));
    EXPECT_EQ(namesInMemory(), factoryNames);
    host.clearCalls();
    settled(list_message::kInterfaceStarted);
    EXPECT_EQ(host.callsOf(CallKind::PostMessageToGui, mgr).back().data, textPayload(listText(factoryNames)));

    // Preset 0 kept the live (zero) block; the others hold factory values.
    host.clearCalls();
    host.queueMidi(mgr, 0, midiValue({0xC0, 5}));
    host.queueMidi(mgr, 0, midiValue({0xC0, 0}), 20);
    host.runBlock(64);
    EXPECT_EQ(midiOut(), concat({factoryDump(5), {{0xC0, 5, 0}}, kZeroDump, {{0xC0, 0, 0}}}));

    // Later expiries are not re-armed: no second factory load.
    host.clearCalls();
    runBlocks(kBlocksPerSecond + 1);
    EXPECT_TRUE(toGui().empty());
}

// Loading a bank file selects preset 0: dump, message 0, program change [C0 00 00]. The bank
// replaces "Default" in slot 0, so the start-up store still runs but the factory bank stays out.
TEST_F(ListpipeManager, LoadedBankSelectsPresetZeroAndKeepsFactoryBankOut)
{
    startInterface();
    test_support::settle(host);
    host.clearCalls();
    writeBytes(bankPath, bankFile(numberedNames("Bank Preset ")));
    command(list_message::kLoadBank, bankPath);
    EXPECT_EQ(midiOut(), concat({presetDump(0), {{0xC0, 0, 0}}}));
    EXPECT_EQ(idsToGui(host, mgr, true), std::vector<int>{0});
    EXPECT_EQ(namesInMemory(), numberedNames("Bank Preset "));

    host.clearCalls();
    runBlocks(kBlocksPerSecond);
    EXPECT_TRUE(toGui().empty());
    // The store put the live block (preset 0 of the file) back into preset 0.
    settled(0);
    EXPECT_EQ(midiOut(), concat({presetDump(0), {{0xC0, 0, 0}}}));
}

// A program change puts out the selected preset's controller dump before [C0 p 00], with no pass
// through preset 1. (What both managers do with program changes is in ListManagerTest.cpp.)
TEST_F(ListpipeManager, ProgramChangeSendsTheDumpFirst)
{
    startInterface();
    loadNumberedBank();

    host.queueMidi(mgr, 0, midiValue({0xC9, 7, 0}), 10);
    host.runBlock(64);
    EXPECT_EQ(midiOut(), concat({presetDump(7), {{0xC0, 7, 0}}}));

    host.clearCalls();
    host.queueMidi(mgr, 0, midiValue({0xC0, 127}));
    host.runBlock(64);
    EXPECT_EQ(midiOut(), concat({presetDump(127), {{0xC0, 127, 0}}}));
}

// Selects from the interface half: no message back; the first select that finds the current
// preset at 2 or above passes through preset 1 first (its dump, no program change), once.
TEST_F(ListpipeManager, InterfaceSelectPassesThroughPresetOneOnce)
{
    startInterface();
    loadNumberedBank();

    host.guiSetPin(mgr, 0, intValue(5));  // the user picks preset 5
    EXPECT_EQ(midiOut(), concat({presetDump(5), {{0xC0, 5, 0}}}));
    EXPECT_TRUE(toGui().empty());

    host.clearCalls();
    host.postToDsp(mgr, 7, {});
    EXPECT_EQ(midiOut(), concat({presetDump(1), presetDump(7), {{0xC0, 7, 0}}}));

    host.clearCalls();
    host.postToDsp(mgr, 9, {});
    EXPECT_EQ(midiOut(), concat({presetDump(9), {{0xC0, 9, 0}}}));
    EXPECT_TRUE(toGui().empty());

    // Ids outside 0-136 are ignored.
    host.clearCalls();
    for (int32_t id : {-1, -130, 137, 200, 257, 260, 100000})
        host.postToDsp(mgr, id, {});
    EXPECT_TRUE(host.callsOf(CallKind::SendPinValue, mgr).empty());
    EXPECT_TRUE(toGui().empty());
}

// File commands run only on a received path of more than 10 characters; a shorter one is
// emptied. A path too long for the 1024-byte buffer is refused and never cut to another name,
// and a refused or empty path leaves no older path behind.
TEST_F(ListpipeManager, FileCommandsNeedAUsablePath)
{
    startInterface();
    writeBytes(bankPath, bankFile(numberedNames("Bank Preset ")));
    host.clearCalls();

    command(list_message::kLoadBank, "0123456789");  // exactly 10 characters
    settled(list_message::kLoadBank);
    EXPECT_TRUE(midiOut().empty());

    command(list_message::kLoadBank, shared.path() / "missing.tavbank");
    EXPECT_TRUE(midiOut().empty());

    // Refused: the valid path before it does not stay in effect.
    host.postToDsp(mgr, list_message::kPath, textPayload(bankPath.string()));
    host.postToDsp(mgr, list_message::kPath, textPayload(bankPath.string() + std::string(1100, 'x')));
    settled(list_message::kLoadBank);
    EXPECT_TRUE(midiOut().empty());

    // A path of 1023 bytes is taken whole; one byte more is refused even though its first 1023
    // bytes name that very file.
    std::string deep = shared.path().string();
    while (deep.size() < 1023 - 250)
        deep += "/" + std::string(200, 'd');
    std::filesystem::create_directories(deep);
    deep += "/" + std::string(1023 - deep.size() - 1, 'f');
    ASSERT_EQ(deep.size(), 1023u);
    writeBytes(deep, bankFile(numberedNames("Deep ")));
    command(list_message::kLoadBank, deep + "x");
    EXPECT_TRUE(midiOut().empty());
    command(list_message::kLoadBank, deep);
    EXPECT_EQ(midiOut().size(), kDump + 1u);
    host.clearCalls();

    host.postToDsp(mgr, list_message::kPath, textPayload(bankPath.string()));
    host.postToDsp(mgr, list_message::kPath, {});  // size 0: empty path
    settled(list_message::kLoadBank);
    EXPECT_TRUE(midiOut().empty());

    // A path without its terminating zero and one with bytes after the zero.
    const std::string path = bankPath.string();
    host.postToDsp(mgr, list_message::kPath, Bytes(path.begin(), path.end()));
    settled(list_message::kLoadBank);
    EXPECT_EQ(midiOut().size(), kDump + 1u);

    host.clearCalls();
    Bytes trailing = textPayload(path);
    trailing.insert(trailing.end(), {'x', 'y', 0});
    host.postToDsp(mgr, list_message::kPath, trailing);
    settled(list_message::kLoadBank);
    EXPECT_EQ(midiOut().size(), kDump + 1u);
}

// Save preset, the two-step road: the interface half writes the file with the edited name, then
// 129 makes this half take that name into the current preset and write the file again with the
// live values. Load preset (128) puts the file into the block and stores it in the current preset.
TEST_F(ListpipeManager, PresetFileCommands)
{
    startInterface();
    loadNumberedBank();  // block = preset 0: slot 1 = 0.5 / 127

    std::array<float, 256> values{};
    values.fill(9.0f);
    writeBytes(presetPath, manager_test::presetText("Edited Name", values));
    command(list_message::kSavePreset, presetPath);

    const std::string saved = readBytes(presetPath);
    values.fill(0.0f);
    values[1] = 0.5f / 127.0f;  // ",  0.0039370"
    EXPECT_EQ(saved, manager_test::presetText("Edited Name", values));
    auto names = numberedNames("Bank Preset ");
    names[0] = "Edited Name";
    EXPECT_EQ(namesInMemory(), names);

    // 129 on a path that does not exist yet: the name stays, the file is written.
    const auto fresh = shared.path() / "fresh.tavpreset";
    command(list_message::kSavePreset, fresh);
    EXPECT_EQ(readBytes(fresh), saved);

    // Load into current preset 3.
    host.postToDsp(mgr, 3, {});
    std::string toLoad = ",Loaded One;\r\n,  0.0000000;\r\n" + manager_test::valueField(20.5f / 127.0f) + ";\r\n";
    writeBytes(presetPath, toLoad);
    command(list_message::kLoadPreset, presetPath);
    names[3] = "Loaded One";
    EXPECT_EQ(namesInMemory(), names);
    host.clearCalls();
    host.postToDsp(mgr, 3, {});  // the first select from a preset above 1 passes through 1
    EXPECT_EQ(midiOut(), concat({presetDump(1), presetDump(20), {{0xC0, 3, 0}}}));

    // A missing file loads nothing but the live block is still stored into the current preset.
    host.postToDsp(mgr, 4, {});
    command(list_message::kLoadPreset, shared.path() / "missing.tavpreset");
    EXPECT_EQ(namesInMemory(), names);
}

// Save bank, the two-step road: the interface half writes the bank file, 132 takes its names
// line into the name table and writes the file again from the bank memory.
TEST_F(ListpipeManager, SaveBankTakesNamesFromFileAndValuesFromMemory)
{
    startInterface();
    loadNumberedBank();

    const auto target = shared.path() / "saved.tavbank";
    writeBytes(target, bankFile(numberedNames("From File "), 7.0f));
    command(list_message::kSaveBank, target);
    EXPECT_EQ(namesInMemory(), numberedNames("From File "));

    // The memory's values: slot 200 is 0 again, and every value read from the loaded bank is
    // written back as the very text it was read from.
    EXPECT_EQ(readBytes(target), bankFile(numberedNames("From File ")));
    EXPECT_TRUE(midiOut().empty());
}

// 133 takes a numbered list into the name table; a payload of size 0 changes nothing, one without
// its terminating zero is read to its end.
TEST_F(ListpipeManager, NameListMessage)
{
    startInterface();
    auto names = constructorNames();

    settled(list_message::kNameList, textPayload("  1:Alpha,  2:Beta"));
    names[0] = "Alpha";
    names[1] = "Beta";
    EXPECT_EQ(namesInMemory(), names);

    host.postToDsp(mgr, list_message::kNameList, {});
    EXPECT_EQ(namesInMemory(), names);

    const std::string noZero = "  1:Gamma";
    host.postToDsp(mgr, list_message::kNameList, Bytes(noZero.begin(), noZero.end()));
    names[0] = "Gamma";
    EXPECT_EQ(namesInMemory(), names);
}

// 130 stores the live block (here changed by a parameter link) into the current preset; 135 does
// so only while the manager still waits for its interface half, which has started here.
TEST_F(ListpipeManager, FixStoresLiveBlock)
{
    const std::size_t link = test_support::add(host, "QV_PatchMemoryFloat");
    host.setInitialValue(link, Side::Dsp, 2, intValue(1));  // slot 1
    startInterface();
    runBlocks(1);
    loadNumberedBank();
    host.postToDsp(mgr, 4, {});  // block = preset 4

    host.queuePinValue(link, 0, floatValue(40.5f / 127.0f));
    runBlocks(1);
    host.guiSetPin(mgr, 0, intValue(list_message::kFixPreset));  // PresetNumber 130: the command, from the interface half
    settled(6);
    host.clearCalls();
    settled(4);
    EXPECT_EQ(midiOut(), concat({presetDump(40), {{0xC0, 4, 0}}}));

    // No longer waiting: 135 stores nothing.
    host.queuePinValue(link, 0, floatValue(50.5f / 127.0f));
    runBlocks(1);
    host.postToDsp(mgr, list_message::kStopWaiting, {});
    settled(6);
    host.clearCalls();
    settled(4);
    EXPECT_EQ(midiOut(), concat({presetDump(40), {{0xC0, 4, 0}}}));
}

// Without an interface half the manager waits: its countdown expires without storing anything
// or loading the factory bank, and program changes select zeroed presets. 135 stores the live
// block once while it waits; a late 134 starts the countdown only while it still waits. The
// audio output (pin 6) streams from the first pin update, so the manager never sleeps.
TEST(ListpipeManagerAlone, WaitsForItsInterfaceHalf)
{
    test_support::TemporarySharedFolder shared;
    manager_test::OneSideFactory processingOnly{mpapi::MP_TYPE_AUDIO};
    const HostConfig config{.sampleRate = 48000.0f, .blockLength = 64, .fileFolder = shared.path()};
    const auto runBlocks = [](Host& host, int n) {
        for (int i = 0; i < n; ++i)
            host.runBlock(64);
    };
    const auto midiOut = [](Host& host, std::size_t mgr) { return manager_test::midiSent(host, mgr, kMidiOut); };

    {
        Host host{&processingOnly, config};
        const std::size_t mgr = test_support::add(host, "QV_PatchManagerListpipe");
        ASSERT_FALSE(host.hasHalf(mgr, Side::Gui));
        host.start();
        runBlocks(host, 2 * kBlocksPerSecond);
        EXPECT_TRUE(idsToGui(host, mgr).empty());
        EXPECT_TRUE(midiOut(host, mgr).empty());
        EXPECT_TRUE(host.callsOf(CallKind::RequestSleep, mgr).empty());
        const auto streaming = host.callsOf(CallKind::SendPinStreaming, mgr);
        ASSERT_FALSE(streaming.empty());
        EXPECT_EQ(streaming[0].pin, 6);
        EXPECT_EQ(streaming[0].data, Bytes{1});

        host.clearCalls();
        host.queueMidi(mgr, 0, midiValue({0xC0, 5}));
        host.runBlock(64);
        EXPECT_EQ(midiOut(host, mgr), concat({kZeroDump, {{0xC0, 5, 0}}}));
        EXPECT_EQ(idsToGui(host, mgr), std::vector<int>{5});

        // A late 134: the list, and one second later the store and the factory bank (the blocks
        // until the worker's list is back count towards it).
        host.clearCalls();
        host.postToDsp(mgr, list_message::kInterfaceStarted, {});
        const int blocks = test_support::settle(host);
        EXPECT_EQ(idsToGui(host, mgr), (std::vector<int>{list_message::kCurrentPresetBase + 5, list_message::kListText}));
        host.clearCalls();
        runBlocks(host, kBlocksPerSecond - 1 - blocks);
        EXPECT_TRUE(idsToGui(host, mgr).empty());
        host.runBlock(64);
        test_support::settle(host);
        EXPECT_EQ(idsToGui(host, mgr), std::vector<int>{list_message::kFactoryBankLoaded});
        host.shutdown();
        EXPECT_TRUE(host.faults().empty());
    }

    {
        Host host{&processingOnly, config};
        const std::size_t mgr = test_support::add(host, "QV_PatchManagerListpipe");
        test_support::add(host, "TEST_BlockProbe");
        ASSERT_NE(processingOnly.probe, nullptr);
        host.start();
        runBlocks(host, 2 * kBlocksPerSecond);  // the countdown expires while waiting
        host.postToDsp(mgr, 3, {});
        processingOnly.probe->block.set(1, 30.5f / 127.0f);
        host.postToDsp(mgr, list_message::kStopWaiting, {});  // stores into preset 3
        processingOnly.probe->block.set(1, 60.5f / 127.0f);
        host.postToDsp(mgr, list_message::kStopWaiting, {});  // no longer waiting: stores nothing
        host.postToDsp(mgr, 0, {});
        test_support::settle(host);
        host.clearCalls();
        host.postToDsp(mgr, 3, {});
        EXPECT_EQ(midiOut(host, mgr), concat({presetDump(30), {{0xC0, 3, 0}}}));

        // 134 after 135 answers with the list but starts no countdown: the expired one stays so.
        host.clearCalls();
        host.postToDsp(mgr, list_message::kInterfaceStarted, {});
        test_support::settle(host);
        EXPECT_EQ(idsToGui(host, mgr), (std::vector<int>{list_message::kCurrentPresetBase + 3, list_message::kListText}));
        host.clearCalls();
        runBlocks(host, 2 * kBlocksPerSecond);
        EXPECT_TRUE(idsToGui(host, mgr).empty());
        host.shutdown();
        EXPECT_TRUE(host.faults().empty());
    }
}

} // namespace
