// The list-pipe manager's interface half driven as the host drives it: pins, buttons, scripted file
// panels and alerts, messages from the processing half, and the files it reads and writes. Most
// cases run the interface half alone, so every message it sends can be asserted; the last runs
// both halves through a save.
#include "PresetStore/FactoryBank.h"
#include "PresetStore/ManagerTestSupport.h"
#include "support/Settle.h"
#include "TextFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

using namespace manager_test;

namespace {

using platform::AlertAnswer;
using platform::DialogRequest;
using platform::ScriptedDialogs;
using tav_host::boolValue;
using tav_host::intValue;
using tav_host::textValue;

class ListpipeGuiTest : public ManagerGuiTest {
protected:
    ListpipeGuiTest() : ManagerGuiTest("QV_PatchManagerListpipe") {}

    static std::string withZero(std::string text) { return text + std::string(1, '\0'); }
    static std::string factoryList()
    {
        Names names;
        for (int p = 0; p < 128; ++p)
            names.push_back(factory_bank::name(p));
        return listText(names);
    }
};

// Start: the startup bank below PathMac fills the names, slot 0 becomes current, a name kept on
// NameSave passes the name rule into the current slot, and 134 tells the processing half.
TEST_F(ListpipeGuiTest, StartReadsTheStartupBankAndRestoresTheKeptName)
{
    writeBytes(manager_ / "Presetbase" / "DEFAULTBANK.tavbank",
               bankText(namesWith({{0, "Init Bass"}, {1, "Soft Strings"}})));
    std::size_t i = start(false, {{kNameSave, textValue("Lead;1/2")}, {kPresetNumber, intValue(3)}});
    EXPECT_EQ(last(texts(i, kPresetList)), listWith({{0, "Lead 1 2"}, {1, "Soft Strings"}}));
    EXPECT_EQ(last(texts(i, kPresetName)), "Lead 1 2");
    EXPECT_EQ(values(i, kPresetNumber), std::vector<tav_host::Bytes>{intValue(0)});
    EXPECT_TRUE(values(i, kGuiUpdate).empty()); // preset 3 was current when the bank came in
    EXPECT_EQ(sent(i), (Sent{{list_message::kInterfaceStarted, ""}}));

    // With preset 0 current the load pulses GuiUpdate.
    i = start();
    EXPECT_EQ(values(i, kGuiUpdate), (std::vector<tav_host::Bytes>{boolValue(true), boolValue(false)}));
    EXPECT_EQ(last(texts(i, kPresetName)), "Init Bass");
}

// Start without a startup bank: constructor names, PresetNumber untouched, 134 all the same. A
// PathMac asking for command substitution runs nothing and reads nothing.
TEST_F(ListpipeGuiTest, StartWithoutBankOrWithRefusedPath)
{
    std::size_t i = start(false, {{kPresetNumber, intValue(3)}});
    EXPECT_EQ(last(texts(i, kPresetList)), listWith({}));
    EXPECT_EQ(last(texts(i, kPresetName)), "empty");
    EXPECT_TRUE(values(i, kPresetNumber).empty());
    EXPECT_TRUE(values(i, kGuiUpdate).empty());
    EXPECT_EQ(sent(i), (Sent{{list_message::kInterfaceStarted, ""}}));

    const fs::path marker = folder_ / "ran";
    i = start(false, {{kPathMac, textValue("$(touch " + marker.string() + ")/")}});
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_EQ(sent(i), (Sent{{list_message::kInterfaceStarted, ""}}));
    // No base folder: the panels build no folder chain either.
    ScriptedDialogs::instance().pushPanelCancel();
    release(i, kLoadPreset);
    EXPECT_FALSE(fs::exists(folder_ / "Quorvane"));
}

// AutoPath: the startup bank is the host's "Preset.txt" (asked with room for 500 characters), no
// folder chain is built for the panels, and message 128 reads that file again whatever a panel
// chose since, ending with the NameSave restore as at start.
TEST_F(ListpipeGuiTest, AutoPathReadsTheHostsFileAndRereadsItOn128)
{
    Names hostNames = numberedNames("Host ");
    writeBytes(hostFolder_ / "Preset.txt", bankText(hostNames));

    const std::size_t i = start(false, {{kAutoPath, boolValue(true)}});
    const auto asked = host_->callsOf(tav_host::CallKind::ExpandFileName, i);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "Preset.txt");
    EXPECT_EQ(asked[0].size, 500);
    EXPECT_EQ(last(texts(i, kPresetList)), listText(hostNames));
    EXPECT_EQ(last(texts(i, kPresetName)), "Host 0");

    const fs::path otherFile = folder_ / "Other.tavbank";
    writeBytes(otherFile, bankText(namesWith({{0, "Other Bank"}, {4, "Fourth"}})));
    ScriptedDialogs::instance().pushPanelAnswer(otherFile);
    release(i, kLoadBank);
    EXPECT_EQ(ScriptedDialogs::instance().requests().back().startFolder, banks_);
    EXPECT_FALSE(fs::exists(folder_ / "Quorvane"));
    EXPECT_EQ(last(texts(i, kPresetName)), "Other Bank");

    host_->guiSetPin(i, kPresetNumber, intValue(4));
    host_->clearCalls();
    host_->postToGui(i, list_message::kReloadStartupBank, {});
    hostNames[0] = "Fourth";
    EXPECT_EQ(last(texts(i, kPresetList)), listText(hostNames));
    EXPECT_EQ(values(i, kPresetNumber), std::vector<tav_host::Bytes>{intValue(0)});
    EXPECT_EQ(last(texts(i, kPresetName)), "Fourth");
    EXPECT_TRUE(values(i, kGuiUpdate).empty());
    EXPECT_TRUE(sent(i).empty());
}

// A cancelled panel still sends 136 with an empty path and nothing else. (Panels, PresetNumber,
// selections and bank files as both managers treat them are in ListManagerTest.cpp.)
TEST_F(ListpipeGuiTest, CancelSendsEmptyPath)
{
    const std::size_t i = start();
    host_->clearCalls();
    host_->guiSetPin(i, kLoadPreset, boolValue(true));
    host_->guiSetPin(i, kLoadPreset, boolValue(false));
    EXPECT_EQ(sent(i), (Sent{{list_message::kPath, withZero("")}}));
}

// Loading a preset file: the file's name becomes the current name on both name pins, the list
// shows it, GuiUpdate pulses, and 136 + 128 follow. A path longer than the path buffers is
// refused like a cancel rather than cut.
TEST_F(ListpipeGuiTest, LoadPresetTakesNameAndRefusesOverlongPath)
{
    const std::size_t i = start();
    const fs::path file = presets_ / "Bright.tavpreset";
    writeBytes(file, presetText("Bright Keys", {0.25f}));

    host_->guiSetPin(i, kPresetNumber, intValue(2));
    host_->clearCalls();
    ScriptedDialogs::instance().pushPanelAnswer(file);
    release(i, kLoadPreset);
    EXPECT_EQ(sent(i), (Sent{{list_message::kPath, withZero(file.string())}, {list_message::kLoadPreset, ""}}));
    EXPECT_EQ(texts(i, kPresetName), std::vector<std::string>{"Bright Keys"});
    EXPECT_EQ(texts(i, kNameSave), std::vector<std::string>{"Bright Keys"});
    EXPECT_EQ(last(texts(i, kPresetList)), listWith({{2, "Bright Keys"}}));
    EXPECT_EQ(values(i, kGuiUpdate), (std::vector<tav_host::Bytes>{boolValue(true), boolValue(false)}));

    host_->clearCalls();
    ScriptedDialogs::instance().pushPanelAnswer(fs::path("/" + std::string(1100, 'a') + ".tavpreset"));
    release(i, kLoadPreset);
    EXPECT_EQ(sent(i), (Sent{{list_message::kPath, withZero("")}}));
}

// Saving a preset: the edited name goes to the processing half for the save and the slot gets
// its old name back afterwards; an existing file is replaced only after "Replace", "No" shows
// the panel again, and the extension is added only when missing.
TEST_F(ListpipeGuiTest, SavePresetAsksBeforeReplacingAndKeepsTheOldName)
{
    const std::size_t i = start();
    const fs::path existing = presets_ / "Keys.tavpreset";
    writeBytes(existing, "old");
    host_->guiSetPin(i, kPresetNumber, intValue(3));
    host_->guiSetPin(i, kPresetName, textValue("New, Name"));
    EXPECT_EQ(last(texts(i, kPresetName)), "New  Name");
    host_->clearCalls();

    auto& dialogs = ScriptedDialogs::instance();
    dialogs.reset();
    dialogs.pushPanelAnswer(presets_ / "Keys");
    dialogs.pushAlertAnswer(AlertAnswer::Default);
    dialogs.pushPanelAnswer(presets_ / "Other.tavpreset");
    release(i, kSavePreset);

    const auto requests = dialogs.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].kind, DialogRequest::Kind::SavePanel);
    EXPECT_EQ(requests[0].startFolder, presets_);
    EXPECT_EQ(requests[0].suggestedName, "New  Name");
    EXPECT_EQ(requests[0].fileType, "tavpreset");
    EXPECT_EQ(requests[1].kind, DialogRequest::Kind::Confirm);
    EXPECT_EQ(requests[1].title, "Save");
    EXPECT_EQ(requests[1].message, "A file with the same name already exists.\nDo you want to replace it?");
    EXPECT_EQ(requests[1].defaultButton, "No");
    EXPECT_EQ(requests[1].alternateButton, "Replace");
    EXPECT_EQ(requests[2].kind, DialogRequest::Kind::SavePanel);

    const fs::path other = presets_ / "Other.tavpreset";
    EXPECT_EQ(sent(i), (Sent{{list_message::kNameList, withZero(listWith({{3, "New  Name"}}))},
                             {list_message::kPath, withZero(other.string())},
                             {list_message::kSavePreset, ""},
                             {list_message::kNameList, withZero(listWith({}))}}));
    EXPECT_EQ(readBytes(other), presetText("New  Name", {}));
    EXPECT_EQ(readBytes(existing), "old");

    dialogs.pushPanelAnswer(existing);
    dialogs.pushAlertAnswer(AlertAnswer::Alternate);
    release(i, kSavePreset);
    EXPECT_EQ(readBytes(existing), presetText("New  Name", {}));
    EXPECT_FALSE(fs::exists(presets_ / "Keys.tavpreset.tavpreset"));
}

// A typed name passes the name rule (written back only when it changed) but enters the table only
// with a command: FixPreset stores the name, keeps it on NameSave and asks for the values.
TEST_F(ListpipeGuiTest, NameRuleAndFixPreset)
{
    const std::size_t i = start();
    host_->guiSetPin(i, kPresetNumber, intValue(7));
    host_->clearCalls();
    host_->guiSetPin(i, kPresetName, textValue("abcdefghijklmnopqrstuvwxyz1234"));
    host_->guiSetPin(i, kPresetName, textValue("exactly twenty-four byte"));
    host_->guiSetPin(i, kPresetName, textValue("Pad: Warm|\"x\""));
    EXPECT_EQ(texts(i, kPresetName), (std::vector<std::string>{"abcdefghijklmnopqrstuvwx", "Pad  Warm  x "}));
    EXPECT_TRUE(sent(i).empty());

    host_->clearCalls();
    release(i, kFixPreset);
    EXPECT_EQ(texts(i, kNameSave), std::vector<std::string>{"Pad  Warm  x "});
    EXPECT_EQ(sent(i), (Sent{{list_message::kNameList, withZero(listWith({{7, "Pad  Warm  x "}}))}, {list_message::kFixPreset, ""}}));
}

// Messages from the processing half: the list (130 + n first) replaces the names and a kept name
// is sent back, the factory names rename the slots, and list payloads without terminator or empty
// change nothing unsafe.
TEST_F(ListpipeGuiTest, MessagesFromTheProcessingHalf)
{
    const std::size_t i = start(false, {{kNameSave, textValue("Kept")}});
    host_->clearCalls();
    const std::string list = listWith({{0, "Alpha"}, {5, "Five"}});
    host_->postToGui(i, list_message::kCurrentPresetBase + 5, {});
    host_->postToGui(i, list_message::kListText, tav_host::Bytes(list.begin(), list.end())); // no terminating zero
    EXPECT_EQ(last(values(i, kPresetNumber)), intValue(5));
    EXPECT_EQ(last(texts(i, kPresetList)), listWith({{0, "Alpha"}, {5, "Kept"}}));
    EXPECT_EQ(sent(i), (Sent{{list_message::kNameList, withZero(listWith({{0, "Alpha"}, {5, "Kept"}}))}}));

    host_->guiSetPin(i, kPresetNumber, intValue(5));
    host_->clearCalls();
    host_->postToGui(i, list_message::kFactoryBankLoaded, {});
    EXPECT_EQ(last(texts(i, kPresetList)), factoryList());
    EXPECT_EQ(last(texts(i, kPresetName)), factory_bank::name(5));
    EXPECT_EQ(last(texts(i, kNameSave)), factory_bank::name(5));

    host_->clearCalls();
    host_->postToGui(i, list_message::kListText, {});
    host_->postToGui(i, list_message::kListText, {0});
    EXPECT_TRUE(texts(i, kPresetList).empty());
    EXPECT_TRUE(values(i, kPresetNumber).empty());
    EXPECT_TRUE(host_->faults().empty());
}

// Bank files: a load makes slot 0 current on PresetNumber at once; load and save send the path
// and the command.
TEST_F(ListpipeGuiTest, BankFilesSetPresetNumberAndSendThePath)
{
    const std::size_t i = start();
    const fs::path in = loadNumberedBankFromSlot5(i);
    EXPECT_EQ(values(i, kPresetNumber), std::vector<tav_host::Bytes>{intValue(0)});
    EXPECT_EQ(sent(i), (Sent{{list_message::kPath, withZero(in.string())}, {list_message::kLoadBank, ""}}));

    host_->clearCalls();
    ScriptedDialogs::instance().pushPanelAnswer(banks_ / "Out");
    release(i, kSaveBank);
    const fs::path out = banks_ / "Out.tavbank";
    EXPECT_EQ(sent(i), (Sent{{list_message::kPath, withZero(out.string())}, {list_message::kSaveBank, ""}}));
}

// Both halves: after the factory bank came in, a save writes the file with the edited name (this
// half) and the processing half rewrites it with the live values of the selected preset; the
// slot keeps its factory name.
TEST_F(ListpipeGuiTest, TwoStepSaveWithTheProcessingHalf)
{
    const std::size_t i = start(true);
    for (int block = 0; block < 800; ++block)
        host_->runBlock(64);
    test_support::settle(*host_);  // the list and the factory bank come back from the worker
    ASSERT_EQ(last(texts(i, kPresetList)), factoryList());

    host_->guiSetPin(i, kPresetNumber, intValue(2));
    host_->runBlock(64);
    host_->guiSetPin(i, kPresetName, textValue("My Keys"));
    ScriptedDialogs::instance().pushPanelAnswer(presets_ / "Mine");
    release(i, kSavePreset);
    test_support::settle(*host_);

    std::array<float, 256> live{};
    std::copy(std::begin(factory_bank::values(2)), std::end(factory_bank::values(2)), live.begin());
    EXPECT_EQ(readBytes(presets_ / "Mine.tavpreset"), presetText("My Keys", live));
    EXPECT_EQ(last(texts(i, kPresetList)), factoryList());
    EXPECT_TRUE(host_->faults().empty());
}

} // namespace
