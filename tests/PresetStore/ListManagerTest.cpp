// What the two list preset managers share, tested once: the processing halves' program changes
// (ListManagerProcessing), the interface halves' panels, bank files, selections and PresetNumber
// (ListManagerGui), each case run on both managers because the point is that they behave alike;
// and List.txt and Path.txt (ListFileExchange), where what one half writes the other reads back
// unchanged and what the writer refuses the reader refuses too. What differs per manager is in
// Qv_patchmanagerlistfile(Gui)Test.cpp and Qv_patchmanagerlistpipe(Gui)Test.cpp.
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/ManagerTestSupport.h"
#include "support/Settle.h"

#include "Log.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <tuple>
#include <string>
#include <vector>

namespace {

using namespace manager_test;
using list_file::PathFileRead;
using platform::DialogRequest;
using platform::ScriptedDialogs;
using tav_host::boolValue;
using tav_host::Bytes;
using tav_host::intValue;
using tav_host::midiValue;
using tav_host::textValue;

// The two leaves, named by their identifiers in test names.
const auto kBothManagers = ::testing::Values("QV_PatchManagerListfile", "QV_PatchManagerListpipe");
std::string managerName(const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param).substr(15); }

// ---- Processing halves ---------------------------------------------------------------------------

// A manager's processing half alone, with the probe on the shared preset block, at 48 kHz.
class ListManagerProcessingTest : public ::testing::TestWithParam<const char*> {
protected:
    enum Pin { kMidiIn, kMidiOut };

    void SetUp() override
    {
        host.start();
        host.runBlock(64);
        test_support::settle(host);
    }
    void TearDown() override
    {
        host.shutdown();
        EXPECT_TRUE(host.faults().empty()) << host.faults().front();
    }

    float live(int slot) const { return processingOnly.probe->block.get(slot); }
    // Selects the preset by message and stores a live value into its slot 1 (FixPreset).
    void store(int preset, float value)
    {
        host.postToDsp(mgr, preset, {});
        processingOnly.probe->block.set(1, value);
        host.postToDsp(mgr, list_message::kFixPreset, {});
        test_support::settle(host);  // the store is the worker's: it knows another module's owed load
    }
    std::vector<Bytes> midiOut() const { return midiSent(host, mgr, kMidiOut); }
    std::vector<Bytes> programChanges() const
    {
        std::vector<Bytes> out;
        for (const Bytes& midi : midiOut())
            if ((midi[0] & 0xF0) == 0xC0)
                out.push_back(midi);
        return out;
    }

    test_support::TemporarySharedFolder shared;
    OneSideFactory processingOnly{mpapi::MP_TYPE_AUDIO};
    tav_host::Host host{&processingOnly, tav_host::HostConfig{.sampleRate = 48000.0f, .blockLength = 64, .fileFolder = shared.path()}};
    std::size_t mgr = test_support::add(host, GetParam());
    std::size_t probe = test_support::add(host, "TEST_BlockProbe");
};

// A program change on any channel selects its preset into the shared block, tells the interface
// half with a bare id and goes out last as [C0 p 00] on channel 1 at block position 0. Other, short
// or out-of-range messages do nothing; two-byte program changes count.
TEST_P(ListManagerProcessingTest, ProgramChangeOnAnyChannelSelects)
{
    store(7, 0.25f);
    store(9, 0.5f);
    host.clearCalls();
    host.queueMidi(mgr, kMidiIn, midiValue({0xC9, 7, 0}), 10);
    host.runBlock(64);
    EXPECT_EQ(live(1), 0.25f);
    EXPECT_EQ(idsToGui(host, mgr, true), std::vector<int>{7});
    EXPECT_EQ(programChanges(), (std::vector<Bytes>{{0xC0, 7, 0}}));
    EXPECT_EQ(last(midiOut()), (Bytes{0xC0, 7, 0}));

    host.clearCalls();
    const std::vector<Bytes> ignored{{0x90, 60, 100}, {0xB0, 7, 127}, {0xC0}, {0xC0, 0x80, 0}, {0xC3, 0xFF}, {0xF6}, {0x05, 0x05}, {}};
    for (const Bytes& midi : ignored)
        host.queueMidi(mgr, kMidiIn, midi);
    host.runBlock(64);
    EXPECT_TRUE(midiOut().empty());
    EXPECT_TRUE(idsToGui(host, mgr).empty());
    EXPECT_EQ(live(1), 0.25f);

    host.queueMidi(mgr, kMidiIn, midiValue({0xC4, 0x09}));
    host.runBlock(64);
    EXPECT_EQ(live(1), 0.5f);
    EXPECT_EQ(idsToGui(host, mgr, true), std::vector<int>{9});
    EXPECT_EQ(programChanges(), (std::vector<Bytes>{{0xC0, 9, 0}}));

    host.clearCalls();
    host.queueMidi(mgr, kMidiIn, midiValue({0xC0, 127}));
    host.runBlock(64);
    EXPECT_EQ(live(1), 0.0f);
    EXPECT_EQ(idsToGui(host, mgr, true), std::vector<int>{127});
    EXPECT_EQ(programChanges(), (std::vector<Bytes>{{0xC0, 127, 0}}));
}

INSTANTIATE_TEST_SUITE_P(BothManagers, ListManagerProcessingTest, kBothManagers, managerName);

// ---- Interface halves ----------------------------------------------------------------------------

class ListManagerGuiTest : public ManagerGuiTest, public ::testing::WithParamInterface<const char*> {
protected:
    ListManagerGuiTest() : ManagerGuiTest(GetParam()) {}
};

// Buttons act on release only: each open panel comes up in its fixed folder for its own file
// type, after the folder chain below PathMac was built.
TEST_P(ListManagerGuiTest, OpenPanelsActOnReleaseInTheirFixedFolders)
{
    const std::size_t i = start();
    host_->guiSetPin(i, kLoadPreset, boolValue(true));
    EXPECT_TRUE(ScriptedDialogs::instance().requests().empty());
    host_->guiSetPin(i, kLoadPreset, boolValue(false));
    host_->guiSetPin(i, kLoadPreset, boolValue(false));
    const auto requests = ScriptedDialogs::instance().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, DialogRequest::Kind::OpenPanel);
    EXPECT_EQ(requests[0].startFolder, presets_);
    EXPECT_EQ(requests[0].fileType, "tavpreset");
    EXPECT_TRUE(fs::is_directory(presets_));

    release(i, kLoadBank);
    EXPECT_EQ(ScriptedDialogs::instance().requests().back().startFolder, banks_);
    EXPECT_EQ(ScriptedDialogs::instance().requests().back().fileType, "tavbank");
    EXPECT_TRUE(fs::is_directory(banks_));
}

// PresetNumber goes out as the message id: a slot becomes current and names the pins; a value
// outside 0-127 (a command of the processing half) changes neither the current preset nor the pins.
TEST_P(ListManagerGuiTest, PresetNumberIsSentAsTheMessageId)
{
    const std::size_t i = start();
    host_->clearCalls();
    host_->guiSetPin(i, kPresetNumber, intValue(7));
    EXPECT_EQ(sent(i), (Sent{{7, ""}}));
    EXPECT_EQ(texts(i, kPresetName), std::vector<std::string>{"empty"});
    EXPECT_EQ(texts(i, kNameSave), std::vector<std::string>{"empty"});

    host_->clearCalls();
    host_->guiSetPin(i, kPresetNumber, intValue(list_message::kFixPreset));
    host_->guiSetPin(i, kPresetNumber, intValue(-3));
    EXPECT_EQ(sent(i), (Sent{{list_message::kFixPreset, ""}, {-3, ""}}));
    EXPECT_TRUE(texts(i, kPresetName).empty());
}

// Selections from the processing half: 130 + n sets only the number; a slot (0-127) becomes
// current on PresetNumber and both name pins; other ids, with or without payload, change nothing.
TEST_P(ListManagerGuiTest, SelectionsFromTheProcessingHalf)
{
    const std::size_t i = start(false, {{kPresetNumber, intValue(3)}});
    host_->clearCalls();
    host_->postToGui(i, list_message::kCurrentPresetBase + 5, {});
    EXPECT_EQ(values(i, kPresetNumber), std::vector<Bytes>{intValue(5)});
    EXPECT_TRUE(texts(i, kPresetName).empty());

    host_->clearCalls();
    host_->postToGui(i, 0, {});
    EXPECT_EQ(values(i, kPresetNumber), std::vector<Bytes>{intValue(0)});
    EXPECT_EQ(last(texts(i, kPresetName)), "Default");
    EXPECT_EQ(last(texts(i, kNameSave)), "Default");

    host_->clearCalls();
    for (int id : {-1, 258, 1000, INT_MIN, INT_MAX})
        host_->postToGui(i, id, {'x'});
    host_->postToGui(i, -1, {});
    EXPECT_TRUE(values(i, kPresetNumber).empty());
    EXPECT_TRUE(texts(i, kPresetName).empty());
    EXPECT_TRUE(texts(i, kPresetList).empty());
    EXPECT_TRUE(sent(i).empty());
    EXPECT_TRUE(host_->faults().empty());
}

// Bank files on the interface copy: a load with another slot current gives no GuiUpdate pulse and
// shows slot 0's name and the file's list; a save proposes no name and writes the names and values
// read back byte for byte; a file of noise is read by both loads without harm.
TEST_P(ListManagerGuiTest, BankLoadAndSaveRoundTrip)
{
    const std::size_t i = start();
    const Names names = numberedNames("Preset ");
    const fs::path in = loadNumberedBankFromSlot5(i);
    EXPECT_TRUE(values(i, kGuiUpdate).empty());
    EXPECT_EQ(last(texts(i, kPresetName)), "Preset 0");
    EXPECT_EQ(last(texts(i, kPresetList)), listText(names));

    ScriptedDialogs::instance().pushPanelAnswer(banks_ / "Out");
    release(i, kSaveBank);
    EXPECT_EQ(ScriptedDialogs::instance().requests().back().suggestedName, "");
    EXPECT_EQ(readBytes(banks_ / "Out.tavbank"), readBytes(in));

    const fs::path junk = banks_ / "Junk.tavbank";
    std::string bytes;
    for (int n = 0; n < 70000; ++n)
        bytes.push_back(static_cast<char>((n * 7919) % 256));
    writeBytes(junk, bytes);
    ScriptedDialogs::instance().pushPanelAnswer(junk);
    release(i, kLoadBank);
    ScriptedDialogs::instance().pushPanelAnswer(junk);
    release(i, kLoadPreset);
    EXPECT_TRUE(host_->faults().empty());
}

// A PathMac that is no absolute folder once expanded ("0", "b1", "~x" for a user x that does not
// exist) is refused as one that does not expand, and logged: both halves start, answer messages,
// open and save through their panels, and neither a folder nor a file appears below the working
// folder.
TEST_P(ListManagerGuiTest, RelativePathMacMakesNothingBelowTheWorkingFolder)
{
    std::vector<std::string> logged;
    platform::setLogSink([](const char* line, void* lines) { static_cast<std::vector<std::string>*>(lines)->emplace_back(line); },
                         &logged);
    const fs::path cwd = folder_ / "cwd", previous = fs::current_path();
    fs::create_directories(cwd);
    fs::current_path(cwd);
    const fs::path chosen = folder_ / "Chosen";
    writeBytes(chosen.string() + ".tavpreset", presetText("Chosen", {}));
    for (const std::string pathMac : {"0", "b1", "~tavrin-no-such-user/"}) {
        SCOPED_TRACE(pathMac);
        logged.clear();
        host_ = std::make_unique<tav_host::Host>(test_support::factory(), tav_host::HostConfig{.fileFolder = hostFolder_});
        const std::size_t i = test_support::add(*host_, identifier_);
        for (const auto& [side, idPin, pathMacPin] : {std::tuple{tav_host::Side::Gui, int{kId}, int{kPathMac}}, {tav_host::Side::Dsp, 2, 5}}) {
            host_->setInitialValue(i, side, idPin, textValue("TAVRIN ONE"));
            host_->setInitialValue(i, side, pathMacPin, textValue(pathMac));
        }
        host_->start();
        for (int block = 0; block < 800; ++block)  // past the processing halves' one-second countdowns
            host_->runBlock(64);
        for (const int button : {kLoadPreset, kSavePreset, kLoadBank, kSaveBank}) {
            ScriptedDialogs::instance().pushPanelAnswer(button == kLoadPreset || button == kSavePreset ? chosen.string() + ".tavpreset"
                                                                                                      : chosen.string() + ".tavbank");
            release(i, button);
            host_->runBlock(64);
        }
        release(i, kFixPreset);
        host_->postToDsp(i, list_message::kInterfaceStarted, {});
        host_->runBlock(64);
        host_.reset();
        EXPECT_TRUE(fs::is_empty(cwd));
        ASSERT_FALSE(logged.empty());
        EXPECT_EQ(logged, std::vector<std::string>(logged.size(), "PathMac \"" + pathMac + "\" is no absolute folder; ignored"));
    }
    fs::current_path(previous);
    platform::setLogSink(nullptr, nullptr);
}

INSTANTIATE_TEST_SUITE_P(BothManagers, ListManagerGuiTest, kBothManagers, managerName);

// ---- List.txt and Path.txt -----------------------------------------------------------------------

class ListFileExchangeTest : public ::testing::Test {
protected:
    test_support::TemporarySharedFolder shared;
    std::string folder = shared.path().string() + "/";
};

// Path.txt: every path the writer takes comes back whole; the reader refuses a 1023-byte line and
// a CR inside the line, which the writer never writes.
TEST_F(ListFileExchangeTest, PathFileReaderAgreesWithWriter)
{
    for (const std::string& path : {std::string(), std::string("/a b/\xB0\xC3\xA9.tavbank"), "/" + std::string(1021, 'p')}) {
        ASSERT_TRUE(list_file::writePathFile(folder, path));
        const PathFileRead read = list_file::readPathFile(folder);
        EXPECT_EQ(read.status, PathFileRead::Status::Path);
        EXPECT_EQ(read.path, path);
    }
    for (const std::string& path : {"/" + std::string(1022, 'p'), std::string("/a\rb")}) {
        EXPECT_FALSE(list_file::writePathFile(folder, path));
        EXPECT_EQ(list_file::readPathFile(folder).path, "");
        writeBytes(shared.path() / "Path.txt", path + "\r\n");
        EXPECT_EQ(list_file::readPathFile(folder).status, PathFileRead::Status::Unreadable);
    }
}

// List.txt: a line beyond 3999 bytes is cut back to a character boundary where it is UTF-8 and
// at the limit where it is 8-bit text.
TEST_F(ListFileExchangeTest, ListLineCut)
{
    writeBytes(shared.path() / "List.txt", std::string(4000, '\xB0') + "\r\n");
    EXPECT_EQ(list_file::readListFile(folder), std::string(3999, '\xB0'));
    std::string utf8 = std::string(3998, 'a') + "\xC3\xA9" + "\r\n";  // "é" across the limit
    writeBytes(shared.path() / "List.txt", utf8);
    EXPECT_EQ(list_file::readListFile(folder), std::string(3998, 'a'));
    ASSERT_TRUE(list_file::writeListFile(folder, "  1:x\xB0,  2:y"));
    EXPECT_EQ(list_file::readListFile(folder), "  1:x\xB0,  2:y");
}

} // namespace
