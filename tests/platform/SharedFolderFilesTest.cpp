// The files at fixed names in the shared folder, met as a user with other local users meets them:
// a pipe or a link to an endless device at "Controllers.txt", "Path.txt", "List.txt" or a layout
// source is read as a missing file at once (never waited on, never read without end), a symlink
// that another user planted at a fixed name never redirects a write, and a pipe at the name typed
// into a save panel is asked about at once.
#include "Midi/RoutingTestSupport.h"
#include "CategoryBrowser/PrescatMessages.h"
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/ManagerTestSupport.h"
#include "platform/OddFilesSupport.h"
#include "support/Settle.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace tav_host;
using namespace manager_test;
using namespace odd_files;

class SharedFolderFiles : public ::testing::Test {
protected:
    test_support::TemporarySharedFolder shared_;
    fs::path root_ = shared_.path();
    fs::path victim_ = root_ / "elsewhere" / "victim.txt";  // what a planted link points at

    void SetUp() override { writeBytes(victim_, "precious"); }
};

// ---- "Controllers.txt" ----------------------------------------------------------------------

enum LearnPin { kExternalIn, kInternalIn, kLearn, kReset, kLed, kLearnId, kLearnAutoPath, kLearnPathPc, kLearnPathMac,
                kToSynth, kToExternal };

class SharedControllersFile : public SharedFolderFiles {
protected:
    void start()
    {
        host_ = std::make_unique<Host>(test_support::factory(), test_support::config64());
        module_ = test_support::add(*host_, "QV_MidiLearnModule");
        host_->setInitialValue(module_, Side::Dsp, kLearnId, textValue("TAVRIN TWO"));
        host_->setInitialValue(module_, Side::Dsp, kLearnPathMac, textValue(root_.string() + "/"));
        host_->setInputFunction(module_, kReset, [this](std::int64_t s) { return s >= resetAt_ && s < resetAt_ + 64 ? 1.0f : 0.0f; });
        host_->runBlock(64);
        test_support::settle(*host_);
    }
    // A graph start in the next block, as the host gives when the patch restarts; then the map
    // it reads is taken up.
    bool restartReturnsAtOnce(const std::vector<fs::path>& pipes = {})
    {
        host_->queueRawEvents(module_, {RawEvent{0, mpapi::MP_EVENT_GRAPH_START}});
        const bool atOnce = returnsAtOnce([this] { host_->runBlock(64); }, pipes);
        test_support::settle(*host_);
        return atOnce;
    }
    // What external controller 20 becomes on its way to the synth.
    std::vector<routing_test::Sent> controller20() { return routing_test::afterMidi(*host_, module_, kExternalIn, {{0xB0, 20, 64}}); }

    fs::path file_ = root_ / "Quorvane" / "TAVRIN TWO" / "Controllers.txt";
    std::string map7to20_ = [] {
        std::string text;
        char line[16];
        for (int i = 0; i < 128; ++i) {
            std::snprintf(line, sizeof line, "%3d,%3d\r\n", i, i == 7 ? 20 : 0);
            text += line;
        }
        return text;
    }();
    std::unique_ptr<Host> host_;
    std::size_t module_ = 0;
    std::int64_t resetAt_ = 1 << 30;
};

// A pipe or a link to /dev/zero at the map's name: graph start (on the audio thread) returns at
// once with an empty map, as for a missing file; a real map read afterwards counts again.
TEST_F(SharedControllersFile, PipeOrEndlessDeviceReadsAsMissing)
{
    const std::vector<routing_test::Sent> translated{{kToSynth, {0xB0, 7, 64}}};
    writeBytes(file_, map7to20_);
    start();
    ASSERT_EQ(controller20(), translated);

    makePipe(file_);
    EXPECT_TRUE(restartReturnsAtOnce({file_}));
    EXPECT_TRUE(controller20().empty());

    writeBytes(file_.string() + ".new", map7to20_);
    fs::rename(file_.string() + ".new", file_);
    EXPECT_TRUE(restartReturnsAtOnce());
    EXPECT_EQ(controller20(), translated);

    linkToZero(file_);
    EXPECT_TRUE(restartReturnsAtOnce());
    EXPECT_TRUE(controller20().empty());
    EXPECT_TRUE(fs::is_symlink(file_));
}

// Through a link of the user's own the map is read and a clear written; through one another user
// planted it is neither: the map reads as missing and the file the link names keeps its bytes.
TEST_F(SharedControllersFile, PlantedLinkIsNotFollowed)
{
    writeBytes(victim_, map7to20_);
    fs::create_directories(file_.parent_path());
    fs::create_symlink(victim_, file_);
    if (!giveAway(file_))
        GTEST_SKIP() << "cannot give a link to another user here";
    resetAt_ = 64 * 2;
    start();
    EXPECT_TRUE(controller20().empty());
    host_->runBlock(64);
    host_->shutdown();
    EXPECT_EQ(readBytes(victim_), map7to20_);
    EXPECT_TRUE(fs::is_symlink(file_));

    // The refused clear stays the file's newest map: once the link is the user's own, the next
    // graph start writes it through the link and loads it; a map put there later is read.
    takeBack(file_);
    start();
    EXPECT_TRUE(controller20().empty());
    EXPECT_EQ(readBytes(victim_), std::string(map7to20_).replace(7 * 9 + 4, 3, "  0"));
    host_->shutdown();
    writeBytes(victim_, map7to20_);
    resetAt_ = 1 << 30;
    start();
    EXPECT_EQ(controller20(), (std::vector<routing_test::Sent>{{kToSynth, {0xB0, 7, 64}}}));
    host_->shutdown();
    EXPECT_EQ(readBytes(victim_), map7to20_);
    EXPECT_TRUE(fs::is_symlink(file_));
}

// ---- "Path.txt" and "List.txt" --------------------------------------------------------------

class SharedListFiles : public SharedFolderFiles {
protected:
    void start()
    {
        host_ = std::make_unique<Host>(&factory_, HostConfig{});
        manager_ = test_support::add(*host_, "QV_PatchManagerListfile");
        host_->setInitialValue(manager_, Side::Dsp, 2, textValue("TAVRIN ONE"));
        host_->setInitialValue(manager_, Side::Dsp, 5, textValue(root_.string() + "/"));
        host_->start();
        host_->runBlock(64);
    }
    void message(int id)
    {
        host_->postToDsp(manager_, id, {});
        host_->drain();
    }
    bool messageReturnsAtOnce(int id, const std::vector<fs::path>& pipes = {})
    {
        return returnsAtOnce([&] { message(id); }, pipes);
    }
    // The names as the manager publishes them in List.txt.
    std::string published()
    {
        message(list_message::kInterfaceStarted);
        return readBytes(folder_ / "List.txt");
    }

    fs::path folder_ = root_ / "Quorvane" / "TAVRIN ONE";
    OneSideFactory factory_{mpapi::MP_TYPE_AUDIO};
    std::unique_ptr<Host> host_;
    std::size_t manager_ = 0;
};

// Message 128 with a pipe or a link to /dev/zero at Path.txt returns at once and, as for a
// missing Path.txt, loads nothing (the preset file it named before is not read again); message
// 133 with either at List.txt returns at once and keeps the names.
TEST_F(SharedListFiles, PipeOrEndlessDeviceReadsAsMissing)
{
    const fs::path preset = root_ / "a.tavpreset";
    writeBytes(preset, presetText("Alpha", {}));
    writeBytes(folder_ / "Path.txt", preset.string() + "\r\n");
    start();
    message(list_message::kLoadPreset);
    const std::string alpha = listWith({{0, "Alpha"}}) + "\r\n";
    ASSERT_EQ(published(), alpha);

    writeBytes(preset, presetText("Beta", {}));
    makePipe(folder_ / "Path.txt");
    EXPECT_TRUE(messageReturnsAtOnce(list_message::kLoadPreset, {folder_ / "Path.txt"}));
    linkToZero(folder_ / "Path.txt");
    EXPECT_TRUE(messageReturnsAtOnce(list_message::kLoadPreset));
    EXPECT_EQ(published(), alpha);

    makePipe(folder_ / "List.txt");
    EXPECT_TRUE(messageReturnsAtOnce(list_message::kNameList, {folder_ / "List.txt"}));
    linkToZero(folder_ / "List.txt");
    EXPECT_TRUE(messageReturnsAtOnce(list_message::kNameList));
    fs::remove(folder_ / "List.txt");
    EXPECT_EQ(published(), alpha);
}

// List.txt is published and read through the user's own link but not through another user's,
// whose file keeps its bytes and gives no names; the interface half is told all the same. Path.txt
// is not written through another user's link either.
TEST_F(SharedListFiles, PlantedLinkIsNotFollowed)
{
    fs::create_directories(folder_);
    fs::create_symlink(victim_, folder_ / "List.txt");
    fs::create_symlink(victim_, folder_ / "Path.txt");
    if (!giveAway(folder_ / "List.txt") || !giveAway(folder_ / "Path.txt"))
        GTEST_SKIP() << "cannot give a link to another user here";
    start();
    host_->clearCalls();
    message(list_message::kInterfaceStarted);
    EXPECT_EQ(idsToGui(*host_, manager_, true), (std::vector<int>{list_message::kCurrentPresetBase, list_message::kListText}));
    EXPECT_FALSE(list_file::writePathFile(folder_.string() + "/", "/chosen.tavpreset"));
    EXPECT_EQ(readBytes(victim_), "precious");
    EXPECT_TRUE(fs::is_symlink(folder_ / "List.txt"));
    EXPECT_TRUE(fs::is_symlink(folder_ / "Path.txt"));
    writeBytes(victim_, "  1:Secret\r\n");
    message(list_message::kNameList);

    takeBack(folder_ / "List.txt");
    EXPECT_EQ(published(), listText(constructorNames()) + "\r\n");
    EXPECT_EQ(readBytes(victim_), listText(constructorNames()) + "\r\n");
}

// ---- The layout switcher --------------------------------------------------------------------

class SharedLayoutFiles : public SharedFolderFiles {
protected:
    fs::path layouts_ = root_ / "Quorvane" / "TAVRIN TWO" / "GUI" / "AU";
    fs::path active_ = layouts_ / "gui.layout.json";
    Host host_{test_support::factory(), HostConfig{}};
};

// A pipe or a link to /dev/zero as a layout source: the button returns at once and the active
// layout stays as it was, as for a missing source.
TEST_F(SharedLayoutFiles, PipeOrEndlessDeviceReadsAsMissing)
{
    writeBytes(active_, "old layout");
    makePipe(layouts_ / "gui_553.layout.json");
    linkToZero(layouts_ / "gui_622.layout.json");
    const std::size_t m = test_support::add(host_, "QV_GuiSwitcher");
    host_.start();
    EXPECT_TRUE(returnsAtOnce([&] { host_.guiSetPin(m, 0, boolValue(true)); }, {layouts_ / "gui_553.layout.json"}));
    EXPECT_TRUE(returnsAtOnce([&] { host_.guiSetPin(m, 1, boolValue(true)); }));
    EXPECT_EQ(readBytes(active_), "old layout");
    EXPECT_TRUE(fs::is_fifo(layouts_ / "gui_553.layout.json"));
}

// The active layout is replaced through the user's own link, never through another user's; a
// source behind another user's link is not copied (it could be any file of this user's).
TEST_F(SharedLayoutFiles, PlantedLinkIsNotFollowed)
{
    writeBytes(layouts_ / "gui_553.layout.json", "small rack");
    fs::create_symlink(victim_, layouts_ / "gui_622.layout.json");
    fs::create_symlink(victim_, active_);
    if (!giveAway(active_) || !giveAway(layouts_ / "gui_622.layout.json"))
        GTEST_SKIP() << "cannot give a link to another user here";
    const std::size_t m = test_support::add(host_, "QV_GuiSwitcher");
    host_.start();
    host_.guiSetPin(m, 0, boolValue(true));
    EXPECT_EQ(readBytes(victim_), "precious");
    EXPECT_TRUE(fs::is_symlink(active_));

    fs::remove(active_);
    writeBytes(active_, "old layout");
    host_.guiSetPin(m, 1, boolValue(true));
    EXPECT_EQ(readBytes(active_), "old layout");

    fs::remove(active_);
    fs::create_symlink(victim_, active_);
    host_.guiSetPin(m, 0, boolValue(true));
    EXPECT_EQ(readBytes(victim_), "small rack");
    EXPECT_TRUE(fs::is_symlink(active_));
}

// ---- Save panels ---------------------------------------------------------------------------

class PrescatSavePanel : public ManagerGuiTest {
protected:
    PrescatSavePanel() : ManagerGuiTest("QV_PatchManagerPrescat") {}
};
class ListpipeSavePanel : public ManagerGuiTest {
protected:
    ListpipeSavePanel() : ManagerGuiTest("QV_PatchManagerListpipe") {}
};

// A pipe at the name chosen in the category manager's save panel (in the shared library): the
// replace question comes at once, and "Replace" goes ahead with that path.
TEST_F(PrescatSavePanel, PipeAtTheChosenNameIsAskedAboutAtOnce)
{
    const fs::path saved = folder_ / "Quorvane" / "TAVRIN TWO" / "Presetbase" / "2_SAVED";
    fs::create_directories(saved);
    makePipe(saved / "Old.tavpreset");
    const std::size_t i = start();
    auto& dialogs = platform::ScriptedDialogs::instance();
    dialogs.pushPanelAnswer(saved / "Old");
    dialogs.pushAlertAnswer(platform::AlertAnswer::Alternate);
    host_->clearCalls();
    EXPECT_TRUE(returnsAtOnce([&] { release(i, kSavePreset); }, {saved / "Old.tavpreset"}));
    ASSERT_EQ(dialogs.requests().size(), 2u);
    EXPECT_EQ(dialogs.requests()[1].kind, platform::DialogRequest::Kind::Confirm);
    EXPECT_EQ(sent(i), (Sent{{prescat::ToAudio::kPath, (saved / "Old.tavpreset").string() + std::string(1, '\0')},
                             {prescat::ToAudio::kSavePreset, ""}}));
}

// The same for the list managers' bank save panel; the pipe is then not written.
TEST_F(ListpipeSavePanel, PipeAtTheChosenNameIsAskedAboutAtOnce)
{
    fs::create_directories(banks_);
    makePipe(banks_ / "Live.tavbank");
    const std::size_t i = start();
    auto& dialogs = platform::ScriptedDialogs::instance();
    dialogs.pushPanelAnswer(banks_ / "Live");
    dialogs.pushAlertAnswer(platform::AlertAnswer::Alternate);
    EXPECT_TRUE(returnsAtOnce([&] { release(i, kSaveBank); }, {banks_ / "Live.tavbank"}));
    ASSERT_EQ(dialogs.requests().size(), 2u);
    EXPECT_EQ(dialogs.requests()[1].kind, platform::DialogRequest::Kind::Confirm);
    EXPECT_TRUE(fs::is_fifo(banks_ / "Live.tavbank"));
}

} // namespace
