// The category manager with its file work on the file worker (real-time mode): one scripted
// session over every operation gives the same messages, MIDI, block values and files as offline,
// also when the worker is held back while more input arrives; a program change loads from the
// list's read-ahead in the block it arrives, and one given as the list arrives waits for that
// read-ahead; a module released while its requests run or wait still lands their writes.
#include "CategoryBrowser/LibraryWork.h"
#include "CategoryBrowser/PrescatOperations.h"
#include "CategoryBrowser/PrescatTestSupport.h"
#include "FileWorker.h"
#include "Log.h"
#include "support/Settle.h"

#include <chrono>
#include <functional>
#include <map>
#include <thread>

using namespace prescat_test;
using namespace prescat;
using manager_test::readBytes;
using manager_test::writeBytes;

namespace {

// The library's folders in list order (an imported bank folder later goes in after "Bank").
constexpr int kSaved = 0, kFavourites = 1, kSearch = 2, kBank = 3, kMany = 4, kPresets = 5;

// What the host saw of one session.
struct Record {
    std::vector<Posted> posted;
    std::vector<Bytes> midi;
    Values block{};
    std::map<std::string, std::string> files;  // below the shared folder, but the Trash
};

class PrescatWorker : public PrescatTest {
protected:
    PrescatWorker() { settles_ = false; }
    ~PrescatWorker() override
    {
        file_worker::release();
        file_worker::setOffline(wasOffline_);
    }

    // The library every session starts from, with fixed file times.
    void library()
    {
        fs::remove_all(shared_.path() / "Quorvane");
        fs::remove_all(shared_.path() / "xdg");
        writeSessionLibrary(root_, shared_.path() / "import.tavbank");
    }

    std::string path(const std::string& relative) const { return (root_ / relative).string(); }

    // Input, then (real time) the worker's results picked up before the next.
    void post(int id) { PrescatTest::post(id), settle(); }
    void post(int id, const std::string& text) { PrescatTest::post(id, text), settle(); }
    void change(int n) { programChange(n), settle(); }
    void seconds(double s) { runSeconds(s), settle(); }
    void settle()
    {
        if (!realTime_ || held_)
            return;
        for (int i = 0; i < 4; ++i) {
            file_worker::waitUntilIdle();
            host_->runBlock(64);
        }
    }
    // The worker held back: inputs given meanwhile wait for the request before them.
    void held(const std::function<void()>& inputs)
    {
        if (realTime_)
            file_worker::hold();
        held_ = true;
        inputs();
        held_ = false;
        if (realTime_)
            file_worker::release();
        settle();
    }

    ProcessingOperations& ops() { return *dynamic_cast<ProcessingOperations*>(factory_.made); }

    // Every operation of the module, in one session.
    void session()
    {
        post(kInterfaceStarted);
        post(kFolderBase + kMany);
        post(5);
        change(5);
        // Save over a listed preset, then the refresh 0.3 s later.
        post(kPath, path("Many/Sound 1006.tavpreset"));
        post(kSavePreset);
        change(5);
        seconds(0.4);
        change(6);
        // Time order on and off in a folder view; a bank folder keeps its slot order.
        post(kTimeOrderOn);
        post(kTimeOrderOff);
        // Favourite and delete in a folder view (a numbered preset is refused).
        post(kFolderBase + kPresets);
        change(1);
        post(kToggleFavourite);
        seconds(0.7);
        change(0);
        post(kDeletePreset);
        post(kFolderBase + kBank);
        change(0);
        post(kDeletePreset);
        // The search view: rescan, pages, filters, search text, a load, tagging in EDIT mode.
        post(kFolderBase + kSearch);
        change(0);
        seconds(1.0);
        post(kNextArrowRow);
        post(kPrevArrowRow);
        post(kCategoryRow + 12);  // PADS
        seconds(0.6);
        post(108);  // FAVOURITE
        seconds(0.6);
        post(107);  // ALL
        post(kSearchText, "sound 10[0-4]");
        seconds(0.6);
        post(2);
        change(2);
        post(105);  // SET (EDIT)
        seconds(0.6);
        change(105);
        post(1);
        change(1);
        post(kCategoryRow + 8);  // LEADS
        change(kCategoryRow + 8);
        post(108);
        change(108);  // tags entry 1
        seconds(0.6);
        // The favourites view and its time-order switch.
        post(kFolderBase + kFavourites);
        change(0);
        seconds(1.0);
        post(kTimeOrderOff);
        seconds(0.6);
        post(kTimeOrderOn);
        seconds(0.6);
        // The saved view in time order, a save into it, its refresh.
        post(kFolderBase + kSaved);
        change(0);
        seconds(0.6);
        post(kTimeOrderOn);
        seconds(0.6);
        post(kTimeOrderOff);
        seconds(0.6);
        post(kPath, path("2_SAVED/New Save.tavpreset"));
        post(kSavePreset);
        change(0);
        seconds(0.7);
        change(1);
        post(kTimeOrderOff);  // off for good: files saved within one second would share a place
        seconds(0.6);
        // A preset file by path, a bank import and its folder.
        post(kPath, path("Presets/Plain.tavpreset"));
        post(kLoadPresetFile);
        post(kPath, (shared_.path() / "import.tavbank").string());
        post(kLoadBank);
        post(kPath, path("Imported"));
        post(kSaveBankFolder);
        post(kInterfaceStarted);
        ops().LoadNames();
        settle();
        ops().SaveListSearch();
        settle();
        ops().LoadStartupBank();
        settle();
        // A burst while the worker is held: a folder, a selection and its program change, a
        // save, a view switch and a page turn all wait for the request before them.
        held([&] {
            post(kFolderBase + kMany + 1);
            post(7);
            change(7);
            post(kPath, path("Many/Burst.tavpreset"));
            post(kSavePreset);
            change(7);
            runSeconds(0.4);
            post(kFolderBase + kSearch);
            change(7);
            runSeconds(1.0);
            post(kNextArrowRow);
        });
        seconds(1.0);
        change(9);
    }

    void startRealTime()
    {
        realTime_ = true;
        file_worker::setOffline(false);
        library();
        start();
    }

    Record run(bool realTime) { return runSession(realTime, [this] { session(); }); }
    Record runSession(bool realTime, const std::function<void()>& inputs)
    {
        realTime_ = realTime;
        file_worker::setOffline(!realTime);
        library();
        start();
        EXPECT_EQ(file_worker::offline(), !realTime);
        inputs();
        Record r;
        r.posted = posted();
        r.midi = midiOut();
        r.block = blockValues();
        host_->shutdown();
        host_.reset();
        for (const auto& e : fs::recursive_directory_iterator(shared_.path() / "Quorvane"))
            if (e.is_regular_file())
                r.files[fs::relative(e.path(), shared_.path()).string()] = readBytes(e.path());
        return r;
    }

    const bool wasOffline_ = file_worker::offline();
    bool realTime_ = false;
    bool held_ = false;
};

// The whole session, offline and in real time: the same messages in the same order, the same
// MIDI, the same block and the same files.
TEST_F(PrescatWorker, EveryOperationGivesInRealTimeWhatItGivesOffline)
{
    const Record offline = run(false);
    const Record realTime = run(true);
    EXPECT_EQ(realTime.posted.size(), offline.posted.size());
    for (std::size_t i = 0; i < std::min(realTime.posted.size(), offline.posted.size()); ++i)
        ASSERT_EQ(realTime.posted[i], offline.posted[i]) << "message " << i << " after " << offline.posted[i - 1].first << " "
                                                         << offline.posted[i - 2].first << " " << offline.posted[i - 3].first;
    EXPECT_EQ(realTime.midi, offline.midi);
    EXPECT_EQ(realTime.block, offline.block);
    EXPECT_EQ(realTime.files, offline.files);
    // The session did reach its files: a save, a tag, a favourite, the bank folder, a deletion.
    EXPECT_EQ(offline.files.count("Quorvane/TAVRIN TWO/Presetbase/2_SAVED/New Save.tavpreset"), 1u);
    EXPECT_EQ(offline.files.count("Quorvane/TAVRIN TWO/Presetbase/Imported/#128 Imp 127.tavpreset"), 1u);
    EXPECT_EQ(offline.files.count("Quorvane/TAVRIN TWO/Presetbase/Presets/Lead One #le #fav.tavpreset"), 1u);
    EXPECT_EQ(offline.files.count("Quorvane/TAVRIN TWO/Presetbase/Presets/Bass Three #ba.tavpreset"), 0u);
    EXPECT_EQ(offline.files.count("Quorvane/TAVRIN TWO/Presetbase/Many/Burst.tavpreset"), 1u);
    EXPECT_EQ(offline.files.count("Quorvane/TAVRIN TWO/Presetbase/Bank/#001 Factory.tavpreset"), 1u);
}

// Held back, a request leaves the module answering nothing: a program change and a click wait,
// and the lists they need arrive first when the worker goes on.
TEST_F(PrescatWorker, InputWaitsForTheRequestBeforeIt)
{
    startRealTime();
    post(kInterfaceStarted);
    clear();
    file_worker::hold();
    PrescatTest::post(kFolderBase + kPresets);  // its list is asked for
    PrescatTest::post(1);
    programChange(1);
    runSeconds(0.1);
    EXPECT_TRUE(posted().empty());
    EXPECT_TRUE(midiOut().empty());
    file_worker::release();
    file_worker::waitUntilIdle();
    host_->runBlock(64);
    const Values bass = blockValues();
    EXPECT_EQ(postedIds(), (std::vector<int>{130, 129, 1}));
    EXPECT_EQ(lastList()[1], "Lead One #le");
    ASSERT_EQ(midiOut().size(), 116u);  // [C0 01 00], the dump, the echo
    EXPECT_EQ(midiOut().front(), pc(1));
    EXPECT_EQ(midiOut().back(), pc(1));
    EXPECT_FLOAT_EQ(bass[0], 0.02f);
}

// A program change is completed by the worker from the list it keeps: held back, nothing loads
// and nothing is answered yet; released, the preset loads with its dump, entry and echo. After a
// save over the entry's file, the next program change loads what was written.
TEST_F(PrescatWorker, ProgramChangeLoadsWhenTheWorkerAnswers)
{
    startRealTime();
    post(kInterfaceStarted);
    post(kFolderBase + kPresets);
    file_worker::hold();
    clear();
    programChange(3);
    EXPECT_FLOAT_EQ(blockValues()[0], 0.0f);
    EXPECT_TRUE(midiOut().empty());
    EXPECT_TRUE(posted().empty());
    file_worker::release();
    settle();
    EXPECT_FLOAT_EQ(blockValues()[0], 0.05f);  // Plain
    EXPECT_EQ(midiOut().size(), 115u);
    EXPECT_EQ(postedIds(), (std::vector<int>{3}));

    block().set(0, 0.0625f);
    PrescatTest::post(kPath, path("Presets/Plain.tavpreset"));
    PrescatTest::post(kSavePreset);
    change(3);  // the save's own, carried back: ignored
    block().set(0, 0.0f);
    change(3);
    EXPECT_FLOAT_EQ(blockValues()[0], 0.0625f);
}

// The read-ahead stays current: a preset another process rewrites or removes loads as it is on
// disk once the folder watch has told the worker (nobody asks in between), and one another
// manager saves over loads what it wrote, even in the block of that save.
TEST_F(PrescatWorker, ProgramChangeLoadsThePresetAsItIsOnDisk)
{
    realTime_ = true;
    file_worker::setOffline(false);
    library();
    start(true);
    post(kInterfaceStarted);
    post(kFolderBase + kPresets);
    PrescatTest::postTo(second_, kInterfaceStarted);
    PrescatTest::postTo(second_, kFolderBase + kPresets);
    settle();

    // Until the watch has read the file again (both managers watch it).
    const auto watched = [&](const std::function<void()>& change) {
        const uint64_t before = readAheadRefreshes.load(std::memory_order_acquire);
        change();
        ASSERT_TRUE(readAheadRefreshed(before, 2));
    };
    watched([&] { preset("Presets/Plain.tavpreset", valuesOf([](int k) { return k == 0 ? 0.09f : 0.0f; })); });
    change(3);
    EXPECT_FLOAT_EQ(blockValues()[0], 0.09f);
    watched([&] { fs::remove(root_ / "Presets" / "Plain.tavpreset"); });
    block().set(0, 0.0f);
    change(3);
    EXPECT_FLOAT_EQ(blockValues()[0], 0.0f);  // gone: nothing loads

    block().set(0, 0.375f);
    PrescatTest::postTo(second_, kPath, path("Presets/Lead One #le.tavpreset"));
    PrescatTest::postTo(second_, kSavePreset);
    block().set(0, 0.0f);
    clear();
    programChange(1);
    settle();
    EXPECT_FLOAT_EQ(blockValues()[0], 0.375f);
    EXPECT_EQ(midiOut().back(), pc(1));
}

// A click on a list just arrived is answered at once; its program change loads the entry's
// preset, so knobs turned after it and a save then keep the sound the user had, and the save's
// refresh comes 0.3 s later.
TEST_F(PrescatWorker, ProgramChangeAsTheListArrivesLoadsItsEntry)
{
    startRealTime();
    preset("Many/Sound 1006.tavpreset", valuesOf([](int k) { return k == 0 ? 0.125f : 0.5f; }), "Sound 1006");
    post(kInterfaceStarted);
    clear();
    file_worker::hold();
    PrescatTest::post(kFolderBase + kMany);
    file_worker::release();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (lastList().empty() && std::chrono::steady_clock::now() < giveUp) {
        host_->runBlock(1);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    ASSERT_EQ(lastList().size(), 128u);
    ASSERT_EQ(lastList()[5], "Sound 1006");
    host_->postToDsp(mgr_, 5, {});  // the click: answered at once
    EXPECT_EQ(midiOut(), (std::vector<Bytes>{pc(5)}));
    change(5);
    EXPECT_EQ(postedIds(), (std::vector<int>{130, 129, 5}));
    ASSERT_EQ(midiOut().size(), 116u);  // the click's, the dump and the echo
    EXPECT_EQ(midiOut().back(), pc(5));
    EXPECT_FLOAT_EQ(blockValues()[0], 0.125f);
    EXPECT_FLOAT_EQ(blockValues()[1], 0.5f);
    block().set(1, 0.75f);
    PrescatTest::post(kPath, path("Many/Kept Sound.tavpreset"));
    PrescatTest::post(kSavePreset);
    clear();
    seconds(0.35);
    EXPECT_NE(readBytes(root_ / "Many" / "Kept Sound.tavpreset").find(",  0.7500000;"), std::string::npos);
    EXPECT_EQ(postedIds(), (std::vector<int>{kFolderNumberBase + kMany, kFolderList, kSelectBase + 5, kList}));
}

// Released while its requests run or wait: the save being written and the save that waited
// behind it both land; nothing reaches the host after the release.
TEST_F(PrescatWorker, ReleasedWhileRequestsRunOrWaitStillWritesThem)
{
    startRealTime();
    post(kInterfaceStarted);
    file_worker::hold();
    PrescatTest::post(kPath, path("Presets/First.tavpreset"));
    PrescatTest::post(kSavePreset);
    PrescatTest::post(kPath, path("Presets/Second.tavpreset"));
    PrescatTest::post(kSavePreset);
    std::thread releaser([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        file_worker::release();
    });
    host_->shutdown();
    releaser.join();
    EXPECT_TRUE(fs::exists(root_ / "Presets" / "First.tavpreset"));
    EXPECT_TRUE(fs::exists(root_ / "Presets" / "Second.tavpreset"));
    EXPECT_EQ(readBytes(root_ / "Presets" / "Second.tavpreset").substr(0, 28), ",                  Second;\r\n");
}

// A save, 40 clicks with their program changes and a second save, all while a folder's list is
// owed and the disk does not answer: every input comes out as offline, in order, and both saves
// are written with the block as it was when each was given (a knob turned after a save is not in
// its file).
TEST_F(PrescatWorker, ABurstWhileAListIsOwedLosesNothingAndSavesTheSoundGiven)
{
    const auto burst = [&] {
        post(kInterfaceStarted);
        post(kFolderBase + kPresets);
        held([&] {
            post(kFolderBase + kMany);
            block().set(5, 0.42f);
            post(kPath, path("Many/First.tavpreset"));
            post(kSavePreset);
            block().set(5, 0.895f);
            for (int i = 0; i < 40; ++i) {
                post(i);
                change(i);
            }
            block().set(7, 0.25f);
            post(kPath, path("Many/Second.tavpreset"));
            post(kSavePreset);
            block().set(7, 0.5f);
            runSeconds(0.1);
        });
        seconds(0.5);
    };
    const Record offline = runSession(false, burst);
    const Record realTime = runSession(true, burst);
    EXPECT_TRUE(realTime.posted == offline.posted);
    EXPECT_TRUE(realTime.midi == offline.midi);
    EXPECT_EQ(realTime.block, offline.block);
    for (const auto& [file, bytes] : offline.files)
        EXPECT_TRUE(realTime.files.count(file) && realTime.files.at(file) == bytes) << file;
    EXPECT_EQ(realTime.files.size(), offline.files.size());
    const std::string many = "Quorvane/TAVRIN TWO/Presetbase/Many/";
    ASSERT_EQ(offline.files.count(many + "First.tavpreset"), 1u);
    ASSERT_EQ(offline.files.count(many + "Second.tavpreset"), 1u);
    EXPECT_NE(offline.files.at(many + "First.tavpreset").find(",  0.4200000;"), std::string::npos);
    EXPECT_EQ(offline.files.at(many + "First.tavpreset").find(",  0.8950000;"), std::string::npos);
    EXPECT_NE(offline.files.at(many + "Second.tavpreset").find(",  0.2500000;"), std::string::npos);
    std::size_t programChanges = 0;
    for (const Bytes& m : offline.midi)
        programChanges += m[0] == 0xC0;
    EXPECT_EQ(programChanges, 1u + 40u + 39u + 1u);  // the saves' own, the clicks', the echoes but the first (the save's)
}

// Far more answers than the room holds while the disk does not answer: the inputs still act (the
// save is written as the block was when it was given), each answer refused is logged by name
// (the worker names the first few and counts the rest), and what was kept leaves in order.
TEST_F(PrescatWorker, ABurstBeyondTheRoomIsRefusedByName)
{
    static std::vector<std::string> lines;
    lines.clear();
    platform::setLogSink([](const char* line, void*) { lines.emplace_back(line); }, nullptr);
    startRealTime();
    post(kInterfaceStarted);
    clear();
    held([&] {
        post(kFolderBase + kMany);  // its list is owed: every answer after it waits
        for (int i = 0; i < 4096 + 10; ++i)
            post(i % 100);
        block().set(3, 0.75f);
        post(kPath, path("Presets/Kept.tavpreset"));
        post(kSavePreset);
        block().set(3, 0.25f);
        for (int i = 0; i < 1000; ++i)
            post(i % 100);
    });
    platform::setLogSink(nullptr, nullptr);
    long counted = 0;
    std::size_t named = 0;
    for (const std::string& line : lines) {
        const std::size_t at = line.find(" refused");
        ASSERT_NE(at, std::string::npos) << line;
        const std::string what = line.substr(std::string("TAVRIN: ").size(), at - std::string("TAVRIN: ").size());
        if (what.find(" more actions") != std::string::npos) {
            counted += std::stol(what);
        } else {
            EXPECT_EQ(what, "answer");
            ++named;
        }
    }
    // The list's answer and 4,095 clicks were kept; the save's program change and 1,010 clicks not.
    EXPECT_GE(named, 16u);
    EXPECT_EQ(static_cast<long>(named) + counted, 11 + 1 + 1000);
    EXPECT_NE(readBytes(root_ / "Presets" / "Kept.tavpreset").find(",  0.7500000;"), std::string::npos);
    EXPECT_EQ(midiOut().size(), 4095u);
    EXPECT_EQ(midiOut().back(), pc(4094 % 100));
}

// A save owed holds nothing back: the selection after it goes out in its own block and the timers
// run; the refresh after the save (0.3 s later) needs the disk and answers when it has it.
TEST_F(PrescatWorker, AWriteOwedHoldsBackNothingElse)
{
    startRealTime();
    post(kInterfaceStarted);
    post(kFolderBase + kPresets);
    change(3);
    file_worker::hold();
    clear();
    PrescatTest::post(kPath, path("Presets/Another.tavpreset"));
    PrescatTest::post(kSavePreset);
    EXPECT_EQ(midiOut(), (std::vector<Bytes>{pc(3)}));
    programChange(3);  // the save's own, carried back: ignored
    clear();
    PrescatTest::post(1);
    EXPECT_EQ(midiOut(), (std::vector<Bytes>{pc(1)}));
    clear();
    runSeconds(0.35);
    EXPECT_TRUE(posted().empty());
    file_worker::release();
    settle();
    EXPECT_EQ(postedIds(), (std::vector<int>{kFolderNumberBase + kPresets, kFolderList, kSelectBase + 3, kList}));
    EXPECT_TRUE(fs::exists(root_ / "Presets" / "Another.tavpreset"));
}

// A program change given after a folder change, while that folder's list is owed, loads entry n
// of the list that folder gives.
TEST_F(PrescatWorker, AProgramChangeAfterAFolderChangeLoadsFromThatFolder)
{
    startRealTime();
    post(kInterfaceStarted);
    post(kFolderBase + kPresets);
    clear();
    file_worker::hold();
    PrescatTest::post(kFolderBase + kMany);
    programChange(3);
    EXPECT_TRUE(posted().empty());
    file_worker::release();
    settle();
    EXPECT_FLOAT_EQ(blockValues()[0], 0.06f);  // a Many preset, not Plain (0.05)
    EXPECT_EQ(postedIds(), (std::vector<int>{kSelectBase + 0, kList, 3}));
    EXPECT_EQ(lastList()[3], "Sound 1004 #pa");
}

// Two managers on one block and one library, the disk held: the first loads a preset and saves
// file F while its load is owed, then a knob turns and the second saves F. F keeps the later save,
// which holds the first's load (as the block would have, had the disk answered at once) and the turn.
TEST_F(PrescatWorker, ALaterSaveIsNeverOverwrittenByAnEarlierOne)
{
    realTime_ = true;
    file_worker::setOffline(false);
    library();
    start(true);
    post(kInterfaceStarted);
    post(kFolderBase + kPresets);
    PrescatTest::postTo(second_, kInterfaceStarted);
    settle();
    file_worker::hold();
    programChange(3);  // Plain
    PrescatTest::post(kPath, path("Presets/F.tavpreset"));
    PrescatTest::post(kSavePreset);
    block().set(1, 0.875f);
    PrescatTest::postTo(second_, kPath, path("Presets/F.tavpreset"));
    PrescatTest::postTo(second_, kSavePreset);
    file_worker::release();
    settle();
    const std::string f = readBytes(root_ / "Presets" / "F.tavpreset");
    EXPECT_EQ(f.substr(28, 30), ",  0.0500000;\r\n,  0.8750000;\r\n");
    EXPECT_FLOAT_EQ(blockValues()[0], 0.05f);
    EXPECT_FLOAT_EQ(blockValues()[1], 0.875f);
}

// A knob turned to the value its slot already holds while a load is owed is a turn like any other:
// the late load leaves that slot alone, as offline, where the turn came after the load.
TEST_F(PrescatWorker, ATurnToTheValueHeldCountsAgainstALateLoad)
{
    const auto session = [&] {
        post(kInterfaceStarted);
        post(kFolderBase + kPresets);
        block().set(5, 0.7f);
        block().set(6, 0.7f);
        held([&] {
            post(kFolderBase + kBank);
            programChange(0);      // Bank's "#001 Factory": slot 5 0.05, slot 6 0.06
            block().set(5, 0.7f);  // the same value: a turn all the same
        });
    };
    const Record offline = runSession(false, session);
    const Record realTime = runSession(true, session);
    EXPECT_FLOAT_EQ(offline.block[0], 0.07f);
    EXPECT_FLOAT_EQ(offline.block[5], 0.7f);
    EXPECT_FLOAT_EQ(offline.block[6], 0.06f);
    EXPECT_EQ(realTime.block, offline.block);
    EXPECT_TRUE(realTime.midi == offline.midi);
    EXPECT_TRUE(realTime.posted == offline.posted);
}

// Automation on 8 slots through a 3 s disk stall, then a program change: nothing is kept per turn
// or per block, so nothing is refused; the preset loads when the disk answers, except in the slots
// the automation wrote after the program change.
TEST_F(PrescatWorker, AutomationThroughALongStallFillsNoRoom)
{
    static std::vector<std::string> lines;
    lines.clear();
    platform::setLogSink([](const char* line, void*) { lines.emplace_back(line); }, nullptr);
    startRealTime();
    post(kInterfaceStarted);
    post(kFolderBase + kPresets);
    clear();
    file_worker::hold();
    PrescatTest::post(kFolderBase + kMany);  // its list is owed through the stall
    constexpr int kBlocks = 3 * 48000 / 64;
    const auto automate = [&](int b) {
        for (int k = 0; k < 8; ++k)
            block().set(20 + k, 0.001f * static_cast<float>(b));
        host_->runBlock(64);
    };
    for (int b = 0; b < kBlocks; ++b)
        automate(b);
    host_->queueMidi(mgr_, 0, pc(5));
    host_->runBlock(64);
    automate(kBlocks);
    file_worker::release();
    settle();
    platform::setLogSink(nullptr, nullptr);
    EXPECT_TRUE(lines.empty()) << lines.front();
    EXPECT_FLOAT_EQ(blockValues()[0], 0.06f);
    EXPECT_FLOAT_EQ(blockValues()[19], 0.19f);
    for (int k = 0; k < 8; ++k)
        EXPECT_FLOAT_EQ(blockValues()[20 + k], 0.001f * static_cast<float>(kBlocks));
    EXPECT_EQ(midiOut().back(), pc(5));
    EXPECT_EQ(postedIds(), (std::vector<int>{kSelectBase + 0, kList, 5}));
}

// After a favourite toggle in a result view the toggle's answers and its program change leave
// before the list of the rebuild it starts, as offline, however long the disk takes.
TEST_F(PrescatWorker, AFavouritesAnswersLeaveBeforeTheRebuildsList)
{
    const auto session = [&] {
        post(kInterfaceStarted);
        post(kFolderBase + kSearch);
        change(0);
        seconds(1.0);
        post(2);
        change(2);
        held([&] {
            post(kToggleFavourite);
            runSeconds(0.6);  // the rebuild asks for its list while the toggle is owed
        });
        seconds(0.2);
    };
    const Record offline = runSession(false, session);
    const Record realTime = runSession(true, session);
    EXPECT_TRUE(realTime.posted == offline.posted);
    EXPECT_TRUE(realTime.midi == offline.midi);
    EXPECT_EQ(realTime.files, offline.files);
    const auto toggled = std::find(offline.posted.rbegin(), offline.posted.rend(), bare(kSelectBase + 1)).base() - 1;
    ASSERT_GE(offline.posted.end() - toggled, 4);
    EXPECT_EQ(toggled[1], bare(kSelectBase + 2));
    EXPECT_EQ(toggled[2], bare(kDropSelection));
    EXPECT_EQ(offline.posted.back().first, kList);
    EXPECT_EQ(offline.midi.back(), pc(2));
}

// Seeded random sessions of every input the module takes (clicks, program changes, folders and
// views, commands, pages, search text, saves with their paths, favourites, deletes, time order,
// knob turns by another module between blocks), each run offline and in real time with the disk
// slowed at random: the same messages and MIDI in the same order, the same block, the same files.
TEST_F(PrescatWorker, RandomSessionsGiveInRealTimeWhatTheyGiveOffline)
{
    for (uint32_t seed = 1; seed <= 10; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const auto session = [&] {
            uint32_t state = seed * 2654435761u;
            const auto next = [&](uint32_t n) {
                state = state * 1664525u + 1013904223u;
                return (state >> 8) % n;
            };
            post(kInterfaceStarted);
            int saves = 0;
            int turns = 0;
            const PrescatRig rig{host_.get(), mgr_, root_};
            for (int step = 0; step < 80; ++step) {
                switch (next(6)) {
                case 0:
                    // A knob turned, now and then to the value the library's presets give its slot,
                    // which it often holds already (a turn all the same).
                    if (const int slot = static_cast<int>(next(256)); next(3))
                        block().set(slot, 0.5f + 0.125f * static_cast<float>(++turns));
                    else
                        block().set(slot, 0.01f * static_cast<float>(slot % 50));
                    break;
                case 1:
                    for (int b = static_cast<int>(next(40)); b >= 0; --b)
                        host_->runBlock(64);
                    break;
                default:
                    rig.randomInput(next, saves);
                    break;
                }
            }
            runSeconds(1.5);
            settle();
            runSeconds(1.0);
            settle();
        };
        const Record offline = runSession(false, session);
        file_worker::slowDown(2000, seed);
        const Record realTime = runSession(true, [&] {
            held_ = true;  // the inputs come as they come, whatever the disk does
            session();
            held_ = false;
            for (int i = 0; i < 3; ++i) {
                test_support::settle(*host_);
                runSeconds(1.0);
            }
            test_support::settle(*host_);
        });
        file_worker::slowDown(0);
        EXPECT_TRUE(realTime.posted == offline.posted) << realTime.posted.size() << " messages, offline " << offline.posted.size();
        for (std::size_t i = 0; i < std::min(realTime.posted.size(), offline.posted.size()); ++i)
            if (realTime.posted[i] != offline.posted[i]) {
                ADD_FAILURE() << "message " << i << ": " << realTime.posted[i].first << " offline " << offline.posted[i].first;
                break;
            }
        EXPECT_TRUE(realTime.midi == offline.midi) << realTime.midi.size() << " MIDI messages, offline " << offline.midi.size();
        EXPECT_EQ(realTime.block, offline.block);
        EXPECT_EQ(realTime.files.size(), offline.files.size());
        for (const auto& [file, bytes] : offline.files)
            EXPECT_TRUE(realTime.files.count(file) && realTime.files.at(file) == bytes) << file;
    }
}

} // namespace
