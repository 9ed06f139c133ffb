// The list-file manager's interface half driven as the host drives it: bare-id messages, the
// chosen path in Path.txt, the names in List.txt, scripted panels. Most cases run the interface
// half alone so every message stays visible; the last runs both halves through a bank load.
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/ManagerTestSupport.h"
#include "support/Settle.h"
#include "TextFiles.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <string>
#include <vector>

using namespace manager_test;

namespace {

using platform::DialogRequest;
using platform::ScriptedDialogs;
using tav_host::boolValue;
using tav_host::CallKind;
using tav_host::intValue;
using tav_host::textValue;

class ListfileGuiTest : public ManagerGuiTest {
protected:
    ListfileGuiTest() : ManagerGuiTest("QV_PatchManagerListfile") {}

    // Ids sent to the processing half since the last clear; every one must come without payload.
    std::vector<int> messages(std::size_t i) const
    {
        std::vector<int> ids;
        for (const auto& [id, payload] : sent(i)) {
            EXPECT_TRUE(payload.empty());
            ids.push_back(id);
        }
        return ids;
    }
    // The files as this half's writes leave them: it hands them to the worker and goes on.
    static std::optional<std::string> written(const fs::path& file)
    {
        file_worker::waitUntilIdle();
        return platform::readFile(file);
    }
    std::optional<std::string> pathFile() const { return written(manager_ / "Path.txt"); }
    std::optional<std::string> listFile() const { return written(manager_ / "List.txt"); }
};

// Start reads no bank and sends 134; a cancelled panel leaves Path.txt holding only CR LF and
// sends nothing; a path that cannot be one line of Path.txt, or is too long for it, is refused
// the same way rather than cut.
TEST_F(ListfileGuiTest, StartAndCancelledOrRefusedPanels)
{
    const std::size_t i = start(false, {{kPresetNumber, intValue(4)}});
    EXPECT_EQ(last(texts(i, kPresetName)), "empty");
    EXPECT_EQ(last(texts(i, kPresetList)), listWith({}));
    EXPECT_EQ(messages(i), std::vector<int>{list_message::kInterfaceStarted});

    host_->clearCalls();
    release(i, kLoadPreset);
    EXPECT_EQ(pathFile(), "\r\n");
    EXPECT_TRUE(messages(i).empty());

    const fs::path good = presets_ / "Good.tavpreset";
    writeBytes(good, presetText("Good", {}));
    const fs::path twoLines = presets_ / "a\nb.tavpreset";
    writeBytes(twoLines, presetText("Two", {}));
    ScriptedDialogs::instance().pushPanelAnswer(twoLines);
    release(i, kLoadPreset);
    ScriptedDialogs::instance().pushPanelAnswer(fs::path(std::string(1020, '/') + "x.tavpreset"));
    release(i, kLoadBank);
    EXPECT_EQ(pathFile(), "\r\n");
    EXPECT_TRUE(messages(i).empty());
    EXPECT_TRUE(texts(i, kPresetName).empty());

    ScriptedDialogs::instance().pushPanelAnswer(good);
    release(i, kLoadPreset);
    EXPECT_EQ(pathFile(), good.string() + "\r\n");
    EXPECT_EQ(messages(i), std::vector<int>{list_message::kLoadPreset});
    EXPECT_EQ(texts(i, kPresetName), std::vector<std::string>{"Good"});
    EXPECT_TRUE(texts(i, kNameSave).empty());
    EXPECT_EQ(values(i, kGuiUpdate), (std::vector<tav_host::Bytes>{boolValue(true), boolValue(false)}));
}

// Save preset with slot 3 current: the panel proposes slot 3's name and gives the file its type,
// the file is written from the copy under that name, Path.txt holds the path, 129 follows. No
// question of this half's own is asked.
TEST_F(ListfileGuiTest, SavePresetWritesFileAndPath)
{
    const std::size_t i = start();
    host_->postToGui(i, 3, {});
    host_->guiSetPin(i, kPresetName, textValue("Slot Three"));
    host_->clearCalls();
    fs::create_directories(presets_);
    ScriptedDialogs::instance().pushPanelAnswer(presets_ / "Three");
    release(i, kSavePreset);

    const auto requests = ScriptedDialogs::instance().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, DialogRequest::Kind::SavePanel);
    EXPECT_EQ(requests[0].suggestedName, "Slot Three");
    EXPECT_EQ(requests[0].fileType, "tavpreset");
    const fs::path file = presets_ / "Three.tavpreset";
    EXPECT_EQ(readBytes(file), presetText("Slot Three", {}));
    EXPECT_EQ(pathFile(), file.string() + "\r\n");
    EXPECT_EQ(messages(i), std::vector<int>{list_message::kSavePreset});

    ScriptedDialogs::instance().pushPanelAnswer(file);
    release(i, kSavePreset);
    EXPECT_EQ(ScriptedDialogs::instance().requests().size(), 2u);
    EXPECT_EQ(messages(i), (std::vector<int>{list_message::kSavePreset, list_message::kSavePreset}));
}

// A typed name passes the name rule, enters the table at once, goes to NameSave and to the
// processing half through List.txt and 133. A host-set NameSave renames the current slot
// without a message, through the same rule.
TEST_F(ListfileGuiTest, NameEditWritesListFile)
{
    const std::size_t i = start();
    host_->postToGui(i, list_message::kCurrentPresetBase + 2, {});
    host_->clearCalls();
    host_->guiSetPin(i, kPresetName, textValue("Bass: Deep"));
    EXPECT_EQ(texts(i, kPresetName), std::vector<std::string>{"Bass  Deep"});
    EXPECT_EQ(texts(i, kNameSave), std::vector<std::string>{"Bass  Deep"});
    EXPECT_EQ(last(texts(i, kPresetList)), listWith({{2, "Bass  Deep"}}));
    EXPECT_EQ(listFile(), listWith({{2, "Bass  Deep"}}) + "\r\n");
    EXPECT_EQ(messages(i), std::vector<int>{list_message::kNameList});

    host_->clearCalls();
    host_->guiSetPin(i, kNameSave, textValue("Sub|Bass,1"));
    EXPECT_EQ(texts(i, kPresetName), std::vector<std::string>{"Sub Bass 1"});
    EXPECT_EQ(last(texts(i, kPresetList)), listWith({{2, "Sub Bass 1"}}));
    EXPECT_TRUE(messages(i).empty());

    // Fixing sends only 130.
    release(i, kFixPreset);
    EXPECT_EQ(messages(i), std::vector<int>{list_message::kFixPreset});
}

// Lists in: a host-set PresetList renames slots silently (its names through the name rule); 129
// reads List.txt, whose CR stays out of name 128 and the pin; a missing List.txt keeps names.
TEST_F(ListfileGuiTest, ListsFromHostAndFromListFile)
{
    const std::size_t i = start();
    host_->clearCalls();
    const std::string hostList = "  1:One;Two,  2:B\\C";
    host_->guiSetPin(i, kPresetList, textValue(hostList));
    EXPECT_TRUE(messages(i).empty());
    EXPECT_TRUE(texts(i, kPresetList).empty());
    host_->guiSetPin(i, kPresetName, textValue("Three"));
    EXPECT_EQ(listFile(), listWith({{0, "Three"}, {1, "B C"}}) + "\r\n");

    Names names = numberedNames("N");
    const std::string list = listText(names);
    writeBytes(manager_ / "List.txt", list + "\r\n");
    host_->clearCalls();
    host_->postToGui(i, list_message::kListText, {});
    // The name NameSave keeps ("Three") then renames the current slot again, here only.
    names[0] = "Three";
    EXPECT_EQ(texts(i, kPresetList), (std::vector<std::string>{list, listText(names)}));
    EXPECT_TRUE(messages(i).empty());

    fs::remove(manager_ / "List.txt");
    host_->clearCalls();
    host_->postToGui(i, list_message::kListText, {});
    EXPECT_TRUE(texts(i, kPresetList).empty());
    host_->postToGui(i, 7, {});
    EXPECT_EQ(last(texts(i, kPresetName)), "N7");
    EXPECT_EQ(last(values(i, kPresetNumber)), intValue(7));
}

// Bank load with preset 5 current: the current preset becomes 0 and PresetName shows slot 0, but
// PresetNumber waits for the processing half's message 0. (The bank file itself, loaded and saved
// as both managers do, is in ListManagerTest.cpp.)
TEST_F(ListfileGuiTest, LoadBankLeavesPresetNumberToTheProcessingHalf)
{
    const std::size_t i = start();
    const fs::path bank = banks_ / "B.tavbank";
    writeBytes(bank, bankText(namesWith({{0, "Zero"}, {5, "Five"}})));

    host_->guiSetPin(i, kPresetNumber, intValue(5));
    host_->clearCalls();
    ScriptedDialogs::instance().pushPanelAnswer(bank);
    release(i, kLoadBank);
    EXPECT_TRUE(values(i, kPresetNumber).empty());
    EXPECT_EQ(last(texts(i, kPresetName)), "Zero");
    EXPECT_EQ(pathFile(), bank.string() + "\r\n");
    EXPECT_EQ(messages(i), std::vector<int>{list_message::kLoadBank});
}

// AutoPath on: Path.txt and List.txt go to "Quorvane/" + ID + "/" in the folder that holds the
// host's "Preset.txt", whose two levels are created there; no panel folder chain is built and
// nothing lands below the working folder. A host that gives no absolute path leaves the manager
// without a folder: neither file is written, and the messages still go.
TEST_F(ListfileGuiTest, AutoPathUsesTheFolderOfTheHostPresetFile)
{
    const fs::path previous = fs::current_path();
    fs::create_directories(folder_ / "cwd");
    fs::current_path(folder_ / "cwd");
    fs::create_directories(hostFolder_);
    std::size_t i = start(false, {{kAutoPath, boolValue(true)}});
    host_->guiSetPin(i, kPresetName, textValue("Auto"));
    release(i, kLoadPreset);
    const fs::path hostManager = hostFolder_ / "Quorvane" / "TAVRIN ONE";
    EXPECT_EQ(written(hostManager / "Path.txt"), "\r\n");
    EXPECT_EQ(written(hostManager / "List.txt"), listWith({{0, "Auto"}}) + "\r\n");
    EXPECT_FALSE(fs::exists(hostManager / "Presetbase"));
    EXPECT_FALSE(fs::exists(folder_ / "Quorvane"));

    hostFolder_.clear();
    i = start(false, {{kAutoPath, boolValue(true)}});
    host_->clearCalls();
    host_->guiSetPin(i, kPresetName, textValue("Nowhere"));
    release(i, kLoadPreset);
    EXPECT_EQ(messages(i), std::vector<int>{list_message::kNameList});
    fs::current_path(previous);
    EXPECT_TRUE(fs::is_empty(folder_ / "cwd"));
    EXPECT_EQ(written(hostManager / "List.txt"), listWith({{0, "Auto"}}) + "\r\n");
}

// The processing half learns a chosen file only from Path.txt. This half hands its write to the
// worker and goes on, so it cannot drop a choice whose write fails on the disk (here a folder
// stands in its place): the processing half's command then finds Path.txt unreadable and does
// nothing, rather than take an older choice. With no manager folder at all a choice is dropped
// like a cancel: no file operation here, no command.
TEST_F(ListfileGuiTest, UnwritablePathFileLeavesTheCommandDoingNothing)
{
    const std::size_t i = start(true);
    for (int block = 0; block < 20; ++block)
        host_->runBlock(64);
    test_support::settle(*host_);
    const fs::path bank = banks_ / "B.tavbank";
    writeBytes(bank, bankText(namesWith({{0, "Zero"}}), [](int p, int k) { return static_cast<float>(p + k); }));
    host_->clearCalls();
    ScriptedDialogs::instance().pushPanelAnswer(bank);
    release(i, kLoadBank);
    test_support::settle(*host_);
    host_->drain();
    EXPECT_EQ(idsToGui(*host_, i), std::vector<int>{0});  // the bank is in: preset 0 selected

    fs::remove(written(manager_ / "Path.txt") ? manager_ / "Path.txt" : fs::path());
    fs::create_directories(manager_ / "Path.txt");
    host_->guiSetPin(i, kPresetNumber, intValue(3));
    host_->runBlock(64);
    host_->clearCalls();
    ScriptedDialogs::instance().pushPanelAnswer(bank);
    release(i, kLoadBank);
    ScriptedDialogs::instance().pushPanelAnswer(presets_ / "Out.tavpreset");
    release(i, kSavePreset);
    test_support::settle(*host_);
    host_->drain();
    EXPECT_TRUE(idsToGui(*host_, i).empty());  // no bank load answered
    EXPECT_EQ(list_file::readPathFile(manager_.string() + "/").status, list_file::PathFileRead::Status::Unreadable);
    // The processing half wrote no preset over the interface half's copy.
    EXPECT_EQ(readBytes(presets_ / "Out.tavpreset"), presetText("Zero", {}));

    // AutoPath with a host that gives no absolute path: no manager folder, no Path.txt.
    hostFolder_.clear();
    const std::size_t j = start(false, {{kAutoPath, boolValue(true)}});
    host_->clearCalls();
    ScriptedDialogs::instance().pushPanelAnswer(bank);
    release(j, kLoadBank);
    EXPECT_TRUE(messages(j).empty());
    EXPECT_TRUE(texts(j, kPresetName).empty());
}

// The interface half never waits for the worker: with the worker held (behind some other module's
// slow job), a name edit and a chosen bank return at once. Once the worker goes on, List.txt and
// Path.txt are written before the commands that read them: the bank chosen is the one loaded.
TEST_F(ListfileGuiTest, InterfaceCallsDoNotWaitForTheWorker)
{
    const std::size_t i = start(true);
    for (int block = 0; block < 20; ++block)
        host_->runBlock(64);
    test_support::settle(*host_);
    const fs::path bank = banks_ / "Chosen.tavbank";
    writeBytes(bank, bankText(namesWith({{0, "Chosen Zero"}})));
    host_->clearCalls();

    std::atomic<bool> returned{false}, stuck{false};
    file_worker::hold();
    std::thread watchdog([&] {
        // Only a wait would keep the calls below from returning; it is ended, and noted, here.
        for (int look = 0; look < 300 && !returned; ++look)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!returned) {
            stuck = true;
            file_worker::release();
        }
    });
    host_->guiSetPin(i, kPresetName, textValue("Edited"));
    ScriptedDialogs::instance().pushPanelAnswer(bank);
    release(i, kLoadBank);
    returned = true;
    watchdog.join();
    EXPECT_FALSE(stuck);
    file_worker::release();
    test_support::settle(*host_);
    host_->drain();
    test_support::settle(*host_);
    host_->drain();
    EXPECT_EQ(idsToGui(*host_, i), std::vector<int>{0});  // the bank is in: preset 0 selected
    EXPECT_EQ(last(texts(i, kPresetName)), "Chosen Zero");
    EXPECT_EQ(pathFile(), bank.string() + "\r\n");
}

// Both halves: a chosen bank goes through Path.txt; the processing half loads it and answers
// with message 0, which sets PresetNumber here.
TEST_F(ListfileGuiTest, BankLoadThroughBothHalves)
{
    const std::size_t i = start(true);
    host_->runBlock(64);
    test_support::settle(*host_);
    const fs::path bank = banks_ / "Both.tavbank";
    writeBytes(bank, bankText(namesWith({{0, "Bank Zero"}})));

    host_->guiSetPin(i, kPresetNumber, intValue(6));
    host_->runBlock(64);
    host_->clearCalls();
    ScriptedDialogs::instance().pushPanelAnswer(bank);
    release(i, kLoadBank);
    test_support::settle(*host_);
    host_->drain();
    EXPECT_EQ(idsToGui(*host_, i), std::vector<int>{0});
    EXPECT_EQ(values(i, kPresetNumber), std::vector<tav_host::Bytes>{intValue(0)});
    EXPECT_EQ(last(texts(i, kPresetName)), "Bank Zero");
    EXPECT_TRUE(host_->faults().empty());
}

} // namespace

namespace {

// Both halves on a slow disk: the bank file is chosen while the load of the preset chosen before
// still waits on the worker. The load takes the preset, and the bank saved after it holds it, as
// offline.
TEST_F(ListfileGuiTest, EachCommandActsOnTheFileChosenForIt)
{
    const std::size_t i = start(true);
    for (int block = 0; block < 800; ++block)  // past the start-up wait, when commands are taken
        host_->runBlock(64);
    test_support::settle(*host_);
    std::array<float, 256> values{};
    values[0] = 0.25f;
    writeBytes(presets_ / "A.tavpreset", presetText("Preset A", values));

    ScriptedDialogs::instance().pushPanelAnswer(presets_ / "A.tavpreset");
    release(i, kLoadPreset);
    file_worker::hold();
    host_->runBlock(64);  // the processing half hands its load to the worker, which waits
    std::thread releaser([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        file_worker::release();
    });
    const fs::path bank = banks_ / "Saved.tavbank";
    ScriptedDialogs::instance().pushPanelAnswer(bank);
    release(i, kSaveBank);
    releaser.join();
    test_support::settle(*host_);

    preset_bank::NameTable names;
    preset_bank::BankMemory memory;
    ASSERT_TRUE(preset_bank::LoadBank(bank.string(), names, memory, preset_bank::FieldConversion::Decimal));
    EXPECT_EQ(memory.get(0, 0), 0.25f);
}

} // namespace
