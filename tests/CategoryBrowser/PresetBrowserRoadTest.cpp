// The whole road of one preset request through a wired patch: a click on a row of the list view,
// PresetNumber into the manager's interface half, the selection to its processing half, the
// program change out and back through the patch, the preset read into the shared block, the
// controller dump, the name and highlight on the interface, and the parameter links passing the
// new values on. An end-to-end test across the category browser, the preset store and the host:
// named after the road it drives, not after one module.
#include "CategoryBrowser/PrescatMessages.h"
#include "CategoryBrowser/PrescatTestSupport.h"
#include "PresetStore/ControllerDump.h"
#include "PresetStore/ManagerTestSupport.h"
#include "framework/HostTestSupport.h"
#include "Dialogs.h"
#include "FileWorker.h"
#include "support/Settle.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

using namespace tav_host;
using test_support::add;

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

// A list view of 34 rows from entry 0 and a category manager, wired as the product's patch does:
// (view, manager).
std::pair<std::size_t, std::size_t> addBrowser(Host& host)
{
    const std::size_t view = add(host, "QV_ListSplitter34", test_support::withGuiPins(142));
    const std::size_t mgr = add(host, "QV_PatchManagerPrescat", test_support::withGuiPins(18));
    host.setInitialValue(view, Side::Gui, kStartnumber, intValue(0));
    host.setInitialValue(view, Side::Gui, kMaxnumber, intValue(33));
    EXPECT_TRUE(host.connect(view, Side::Gui, kViewPresetNumber, mgr, Side::Gui, kPresetNumber));
    EXPECT_TRUE(host.connect(mgr, Side::Gui, kPresetNumber, view, Side::Gui, kViewPresetNumber));
    EXPECT_TRUE(host.connect(mgr, Side::Gui, kPresetList, view, Side::Gui, kViewPresetList));
    return {view, mgr};
}

TEST(PresetBrowserRoad, ARowClickLoadsThePresetAndEveryPartFollows)
{
    const test_support::TemporarySharedFolder shared;
    const auto presets = shared.path() / "Quorvane" / "TAVRIN TWO" / "Presetbase" / "Presets";
    manager_test::writeBytes(presets / "Alpha.tavpreset", manager_test::presetText("Alpha", presetValues(0.1f, 0.2f)));
    manager_test::writeBytes(presets / "Beta #pa.tavpreset", manager_test::presetText("Beta", presetValues(0.25f, 0.5f)));

    Host host{test_support::factory(), test_support::config64()};
    std::size_t view = 0, mgr = 0;
    std::tie(view, mgr) = addBrowser(host);
    const std::size_t link2 = add(host, "QV_PatchMemoryFloat");
    const std::size_t link3 = add(host, "QV_PatchMemoryFloat");
    host.setInitialValue(link2, Side::Dsp, kSlot, intValue(2));
    host.setInitialValue(link3, Side::Dsp, kSlot, intValue(3));
    host.start();
    for (int b = 0; b < 10; ++b)
        host.runBlock(64);
    test_support::settle(host);

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
    test_support::settle(host);
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

namespace {

namespace fs = std::filesystem;
using Values = std::array<float, 256>;
constexpr int kPosition = 4;
enum ManagerGuiButton {
    kDeleteButton = 3, kFixPreset = 5, kFavouriteButton = 7, kFolderNumber = 14, kFolderList = 15, kFolderName = 16
};

// The list view, both halves of the manager and the patch's program-change loop; the trash goes to
// a folder of the test.
class BrowserRoad : public ::testing::Test {
protected:
    BrowserRoad() { ::setenv("XDG_DATA_HOME", (shared_.path() / "xdg").c_str(), 1); }
    ~BrowserRoad() override
    {
        platform::ScriptedDialogs::instance().reset();
        ::unsetenv("XDG_DATA_HOME");
    }

    void preset(const std::string& relative, float value)
    {
        Values v{};
        v.fill(value);
        manager_test::writeBytes(root_ / relative, manager_test::presetText("x", v));
        values_[relative] = v;
    }

    void start()
    {
        std::tie(view_, mgr_) = addBrowser(host_);
        host_.start();
        settle(0.1);
    }

    // Runs blocks for seconds; the first program change the manager sends goes round the patch
    // once (its echo is stopped there). Pin values and dumps seen are kept.
    void settle(double seconds)
    {
        bool looped = false;
        bool carried = false;  // a program change carried back and not yet taken in
        const int blocks = static_cast<int>(seconds * 48000.0 / 64.0) + 2;
        // Real time: on until every file job has run and its answers are out.
        for (int b = 0; b < blocks || carried || (b < 100000 && (file_worker::waitUntilIdle(), file_worker::unfinished() > 0)); ++b) {
            carried = false;
            host_.runBlock(64);
            for (const CallRecord& c : host_.callsOf(CallKind::SendPinValue, mgr_)) {
                if (c.side != Side::Dsp || c.pin != kMidiOut)
                    continue;
                if (c.data.at(0) == 0xC0 && !looped) {
                    host_.queueMidi(mgr_, kMidiIn, c.data);
                    looped = carried = true;
                    dump_.clear();
                } else if (c.data.at(0) == 0xB0) {
                    dump_.push_back(c.data);
                }
            }
            keepPins();
        }
    }
    void keepPins()
    {
        for (const CallRecord& c : host_.callsOf(CallKind::TransmitPin))
            pins_[{c.instance, c.pin}] = c.data;
        host_.clearCalls();
    }
    Bytes pin(std::size_t instance, int p) { return pins_[{instance, p}]; }
    Bytes row(int r) { return pin(view_, 4 * r + 2); }
    // The user scrolls the view to the top (a first notification may be taken as the echo of the
    // view's own scroll).
    void top()
    {
        for (int i = 0; i < 2; ++i)
            host_.guiSetPin(view_, kPosition, floatValue(1.0f));
        keepPins();
    }

    void click(int r)
    {
        host_.guiSetPin(view_, viewMousePin(r), boolValue(true));
        host_.guiSetPin(view_, viewMousePin(r), boolValue(false));
        settle(0.05);
    }
    // A button of the manager pressed and released, its confirmation answered "Yes".
    void press(int managerPin)
    {
        platform::ScriptedDialogs::instance().pushAlertAnswer(platform::AlertAnswer::Default);
        host_.guiSetPin(mgr_, managerPin, boolValue(true));
        host_.guiSetPin(mgr_, managerPin, boolValue(false));
        settle(1.0);
    }
    void chooseFolder(int f)
    {
        host_.guiSetPin(mgr_, kFolderNumber, intValue(f));
        settle(1.0);
    }

    // The controller dump of the last load was the one of relative's values.
    bool loaded(const std::string& relative)
    {
        float slots[256];
        std::copy(values_[relative].begin(), values_[relative].end(), slots);
        std::array<controller_dump::Message, controller_dump::kMessages> dump;
        controller_dump::computeDump(slots, dump);
        std::vector<Bytes> expected;
        for (const auto& m : dump)
            expected.emplace_back(m.begin(), m.end());
        return dump_ == expected;
    }

    // The preset files of the library, below the root.
    std::set<std::string> library() const
    {
        std::set<std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(root_))
            if (e.is_regular_file())
                files.insert(fs::relative(e.path(), root_).string());
        return files;
    }

    // Rows from the last up to the one after commaRow, each showing its shown name: a click loads
    // that row's file, and the confirmed delete button changes exactly that file: gone, or renamed
    // to renamedTo(file) when that is not empty.
    template <class Renamed>
    void clickAndDeleteBelow(const std::vector<std::string>& shown, const std::vector<std::string>& files,
                             int commaRow, Renamed renamedTo)
    {
        for (int r = static_cast<int>(files.size()); r > commaRow; --r) {
            SCOPED_TRACE(files[r - 1]);
            top();
            for (int k = 1; k <= r; ++k)
                EXPECT_EQ(row(k), textValue(prescat_test::shownInList(shown[k - 1]))) << "row " << k;
            click(r);
            EXPECT_TRUE(loaded(files[r - 1]));
            std::set<std::string> expected = library();
            expected.erase(files[r - 1]);
            const std::string renamed = renamedTo(files[r - 1]);
            if (!renamed.empty()) {
                expected.insert(renamed);
                values_[renamed] = values_[files[r - 1]];
            }
            press(kDeleteButton);
            EXPECT_EQ(library(), expected);
        }
    }

    test_support::TemporarySharedFolder shared_;
    fs::path root_ = shared_.path() / "Quorvane" / "TAVRIN TWO" / "Presetbase";
    Host host_{test_support::factory(), test_support::config64()};
    std::size_t view_ = 0;
    std::size_t mgr_ = 0;
    std::map<std::string, Values> values_;
    std::vector<Bytes> dump_;
    std::map<std::pair<std::size_t, int>, Bytes> pins_;
};

// Over a library whose names hold commas and semicolons.
class CommaRoad : public BrowserRoad {};

// A "," or ";" in a file or folder name never splits a list entry: every list holds its 128
// entries, the rows show the names with look-alikes, and a click or a delete on any row acts on
// the file that row shows, in a folder view, a saved view, the search and the favourites.
TEST_F(CommaRoad, EveryRowActsOnTheFileItShows)
{
    const std::string main = "1 Presets, main";
    preset(main + "/Pad, warm.tavpreset", 0.11f);
    preset(main + "/Strings.tavpreset", 0.22f);
    preset(main + "/Tone; soft #pa #fav.tavpreset", 0.33f);
    preset(main + "/Zeta #fav.tavpreset", 0.44f);
    preset("2_SAVED/Bass, deep #fav.tavpreset", 0.55f);
    preset("2_SAVED/Keys, bright.tavpreset", 0.66f);
    preset("2_SAVED/Lead.tavpreset", 0.77f);
    fs::create_directories(root_ / "3_FAVOURITES");
    fs::create_directories(root_ / "3_SEARCH");
    start();

    // The folder list: 128 folders, the comma folder first and shown with its look-alike.
    std::string folders = prescat_test::shownInList(main) + ",2_SAVED,3_FAVOURITES,3_SEARCH";
    for (int f = 4; f < 128; ++f)
        folders += ",empty";
    EXPECT_EQ(pin(mgr_, kFolderList), textValue(folders));
    EXPECT_EQ(pin(mgr_, kFolderName), textValue(prescat_test::shownInList(main)));

    // The search over the whole library, sorted by name: a click on every row loads its file.
    chooseFolder(3);
    const std::vector<std::string> everything = {"2_SAVED/Bass, deep #fav.tavpreset", "2_SAVED/Keys, bright.tavpreset",
                                                 "2_SAVED/Lead.tavpreset", main + "/Pad, warm.tavpreset",
                                                 main + "/Strings.tavpreset", main + "/Tone; soft #pa #fav.tavpreset",
                                                 main + "/Zeta #fav.tavpreset"};
    const std::vector<std::string> everythingShown = {".Bass, deep", "Keys, bright", "Lead", "Pad, warm",
                                                      "Strings", ".Tone; soft", ".Zeta"};
    for (int r = 7; r >= 1; --r) {
        top();
        EXPECT_EQ(row(r), textValue(prescat_test::shownInList(everythingShown[r - 1]))) << r;
        click(r);
        EXPECT_TRUE(loaded(everything[r - 1])) << everything[r - 1];
    }
    EXPECT_EQ(row(8), textValue("empty"));

    // The favourites: "delete" takes the favourite mark off exactly the row's file.
    chooseFolder(2);
    clickAndDeleteBelow({".Bass, deep", ".Tone; soft", ".Zeta"},
                        {"2_SAVED/Bass, deep #fav.tavpreset", main + "/Tone; soft #pa #fav.tavpreset",
                         main + "/Zeta #fav.tavpreset"},
                        1, [](std::string file) { return file.erase(file.find(" #fav"), 5); });

    // A saved view: the delete goes to the Trash.
    chooseFolder(1);
    clickAndDeleteBelow({".Bass, deep", "Keys, bright", "Lead"},
                        {"2_SAVED/Bass, deep #fav.tavpreset", "2_SAVED/Keys, bright.tavpreset", "2_SAVED/Lead.tavpreset"}, 1,
                        [](const std::string&) { return std::string(); });

    // The folder view of the comma folder, led by a name that is only a tag (shown blank).
    preset(main + "/ #ar.tavpreset", 0.88f);
    chooseFolder(0);
    clickAndDeleteBelow({" ", "Pad, warm", "Strings", "Tone; soft", "Zeta"},
                        {main + "/ #ar.tavpreset", main + "/Pad, warm.tavpreset", main + "/Strings.tavpreset",
                         main + "/Tone; soft #pa.tavpreset", main + "/Zeta.tavpreset"},
                        2, [](const std::string&) { return std::string(); });
    EXPECT_EQ(library(), (std::set<std::string>{"2_SAVED/Bass, deep #fav.tavpreset", main + "/ #ar.tavpreset",
                                                main + "/Pad, warm.tavpreset"}));
    host_.shutdown();
    EXPECT_TRUE(host_.faults().empty()) << host_.faults().front();
}

} // namespace

namespace {

// With no preset selected in the list shown, Delete and the favourite button ask nothing and
// send nothing, and neither a delete, a favourite toggle nor a tagging that reaches the
// processing half changes a file: after a folder change, a view switch, a search that empties
// the page, a switch to time order and a delete. A preset selected again is deleted.
TEST_F(BrowserRoad, NothingSelectedChangesNoFile)
{
    enum { kSaved, kFavourites, kSearch, kBass, kLeads };
    preset("A Bass/Deep.tavpreset", 0.1f);
    preset("A Bass/Warm.tavpreset", 0.2f);
    preset("A Bass/Zed #fav.tavpreset", 0.3f);
    preset("B Leads/Lead one.tavpreset", 0.4f);
    preset("B Leads/Lead two.tavpreset", 0.5f);
    preset("2_SAVED/Saved one.tavpreset", 0.6f);
    preset("2_SAVED/Saved two.tavpreset", 0.7f);
    fs::create_directories(root_ / "3_FAVOURITES");
    fs::create_directories(root_ / "3_SEARCH");
    // Oldest first: Warm, Deep, Zed.
    const auto now = fs::file_time_type::clock::now();
    int age = 3;
    for (const char* name : {"Warm.tavpreset", "Deep.tavpreset", "Zed #fav.tavpreset"})
        fs::last_write_time(root_ / "A Bass" / name, now - std::chrono::hours(age--));
    start();
    std::set<std::string> whole = library();

    const auto command = [&](int value) {
        host_.guiSetPin(mgr_, kPresetNumber, intValue(value));
        settle(1.0);
    };
    // The buttons, then the processing half told straight; nothing asked, sent or changed.
    const auto nothingChanges = [&](const std::string& road) {
        SCOPED_TRACE(road);
        EXPECT_EQ(pin(mgr_, kPresetNumber), intValue(130));
        platform::ScriptedDialogs::instance().reset();
        for (int button : {kDeleteButton, kFavouriteButton}) {
            platform::ScriptedDialogs::instance().pushAlertAnswer(platform::AlertAnswer::Default);
            host_.guiSetPin(mgr_, button, boolValue(true));
            host_.guiSetPin(mgr_, button, boolValue(false));
            EXPECT_TRUE(host_.callsOf(CallKind::PostMessageToAudio, mgr_).empty());
        }
        EXPECT_TRUE(platform::ScriptedDialogs::instance().requests().empty());
        platform::ScriptedDialogs::instance().reset();
        for (int id : {prescat::kDeletePreset, prescat::kToggleFavourite})
            host_.postToDsp(mgr_, id, {});
        settle(1.0);
        EXPECT_EQ(library(), whole);
    };

    // Folder change: "Warm" loaded in "A Bass"; "B Leads" shows no selection.
    chooseFolder(kBass);
    top();
    click(2);
    ASSERT_TRUE(loaded("A Bass/Warm.tavpreset"));
    chooseFolder(kLeads);
    nothingChanges("folder change");

    // View switches, then tagging with nothing selected: SET, BASS, SAVE.
    for (int view : {kSaved, kFavourites, kSearch}) {
        chooseFolder(kBass);
        top();
    click(2);
        chooseFolder(view);
        nothingChanges("view " + std::to_string(view));
    }
    for (int value : {105, 112, 108})
        command(value);
    EXPECT_EQ(library(), whole);

    // A search that empties the page of a saved view.
    chooseFolder(kSaved);
    top();
    click(2);
    ASSERT_TRUE(loaded("2_SAVED/Saved two.tavpreset"));
    command(104);
    host_.guiSetPin(mgr_, 2, textValue("zzz"));
    settle(1.0);
    top();
    EXPECT_EQ(row(2), textValue("empty"));
    nothingChanges("search");

    // Time order puts "Deep" where "Warm" was.
    chooseFolder(kBass);
    top();
    click(2);
    host_.guiSetPin(mgr_, kFixPreset, boolValue(true));
    settle(1.0);
    top();
    EXPECT_EQ(row(2), textValue("Deep"));
    nothingChanges("time order");
    host_.guiSetPin(mgr_, kFixPreset, boolValue(false));
    settle(1.0);

    // Back in the folder of the last selection it shows again, unless it was dropped there, and
    // Delete takes exactly it; the row then holds "Zed", and nothing is selected.
    chooseFolder(kLeads);
    chooseFolder(kBass);
    EXPECT_EQ(pin(mgr_, kPresetNumber), intValue(130));
    top();
    click(2);
    chooseFolder(kLeads);
    chooseFolder(kBass);
    EXPECT_EQ(pin(mgr_, kPresetNumber), intValue(1));
    press(kDeleteButton);
    whole.erase("A Bass/Warm.tavpreset");
    EXPECT_EQ(library(), whole);
    top();
    EXPECT_EQ(row(2), textValue(".Zed"));
    nothingChanges("delete");
    host_.shutdown();
    EXPECT_TRUE(host_.faults().empty()) << host_.faults().front();
}

} // namespace

namespace {

// A file's own U+201A and a comma shown as U+201A look alike in the list; the save panel offers
// each row's file name as it is on disk.
TEST_F(BrowserRoad, SavePanelOffersTheFilesOwnName)
{
    preset("A Bass/Pad, warm.tavpreset", 0.1f);
    preset("A Bass/Pad\xE2\x80\x9A warm.tavpreset", 0.2f);
    start();
    top();
    EXPECT_EQ(row(1), textValue("Pad\xE2\x80\x9A warm"));
    EXPECT_EQ(row(2), textValue("Pad\xE2\x80\x9A warm"));
    auto& dialogs = platform::ScriptedDialogs::instance();
    for (int r : {1, 2}) {
        top();
        click(r);
        dialogs.pushPanelCancel();
        host_.guiSetPin(mgr_, 4, boolValue(true));
        host_.guiSetPin(mgr_, 4, boolValue(false));
        ASSERT_FALSE(dialogs.requests().empty());
        EXPECT_EQ(dialogs.requests().back().suggestedName, r == 1 ? "Pad, warm" : "Pad\xE2\x80\x9A warm");
    }
    host_.shutdown();
    EXPECT_TRUE(host_.faults().empty()) << host_.faults().front();
}

} // namespace
