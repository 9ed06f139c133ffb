// The category manager's processing half through the stand-in host on generated libraries: the
// start-up lists, the selection road through the program change, loads with migration and init
// patch, saves, result pages and their arrows, the filters, tagging by renaming, bank folders,
// the effect mute, the backup restore and the bounds on what comes from outside.
#include "CategoryBrowser/PrescatTestSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

using namespace prescat_test;
using namespace prescat;
using manager_test::presetText;
using manager_test::readBytes;
using manager_test::writeBytes;

namespace {

const std::string kLabels[] = {"         SEARCH", "         SET",     "         ",        "         ALL",
                               "         FAVOURITE", "         ",     "         ALL",      "         ARPEGGIOS",
                               "         BASS",   "         BRASS",   "         CLAVINET", "         DRUMS",
                               "         EFFECTS", "         EPIANO", "         LEADS",    "         LFOPADS",
                               "         ORGANS", "         OTHER",   "         PADS",     "         PERCUSSIVE",
                               "         SAMPLEHOLD", "         STABS", "         STRINGS", "         SWEEPS"};

// A result page: rows 0-103 as given (then "empty"), the 24 command rows after.
std::vector<std::string> page(const std::vector<std::string>& rows, const std::vector<std::pair<int, std::string>>& labels = {})
{
    std::vector<std::string> out(128, "empty");
    std::copy(rows.begin(), rows.end(), out.begin());
    for (int i = 0; i < 24; ++i)
        out[static_cast<std::size_t>(104 + i)] = kLabels[i];
    for (const auto& [row, text] : labels)
        out[static_cast<std::size_t>(row)] = text;
    return out;
}

std::string numbered(const char* format, int i)
{
    char text[64];
    std::snprintf(text, sizeof text, format, i);
    return text;
}

// The init patch over a block whose other slots held `before`.
Values initPatch(float slot244)
{
    Values v{};
    const std::pair<int, float> set[] = {
        {0, 0.017f},   {2, -4},       {3, 4.26f},   {7, -5},       {8, 0.1322151f}, {9, 3.9249997f}, {12, 10},
        {13, 10},      {14, 10},      {16, 0.2f},   {17, 1.25f},   {18, 1},         {19, 5},         {23, 1},
        {26, 1},       {30, 1},       {32, 1},      {34, 1},       {38, 1},         {33, 47},        {36, 0.063623f},
        {54, 1},       {56, 1},       {58, 1},      {60, 1},       {62, -0.01425f}, {65, 1},         {66, 1},
        {67, 1},       {71, 1},       {82, 1},      {83, 1},       {88, 1},         {89, 0.083333f}, {90, -4},
        {91, 8.81f},   {93, 0.18f},   {94, 5.1f},   {95, 6.8f},    {96, 7.6f},      {98, 10},        {99, 10},
        {102, 0.54f},  {128, -5},     {129, 1.3f},  {130, 1.3f},   {132, 9.17401f}, {134, 0.0053735f}, {136, 0.3f},
        {151, 2},      {152, 2},      {153, 1}};
    for (const auto& [slot, value] : set)
        v[static_cast<std::size_t>(slot)] = value;
    v[244] = slot244;
    return v;
}

std::vector<Bytes> concat(std::vector<Bytes> a, const std::vector<Bytes>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class PrescatManager : public PrescatTest {};

// Start-up: the first 134 lists the root's folders in byte order (files left out) and the first
// folder's presets; a later 134 resends the folders and the folder of the last load. An ordinary
// folder is listed at once, without program change or mute; only exact ".tavpreset" files count.
TEST_F(PrescatManager, StartUpListsFoldersAndTheFirstFolder)
{
    folder("Presets");
    folder("3_SEARCH");
    preset("2_SAVED/Saved One.tavpreset");
    writeBytes(root_ / "readme.txt", "x");
    preset("Presets/B.tavpreset");
    preset("Presets/A #pa.tavpreset");
    preset("Presets/Upper.TAVPRESET");
    writeBytes(root_ / "Presets" / "notes.txt", "x");
    start();

    const std::string folders = listOf({"2_SAVED", "3_SEARCH", "Presets"});
    post(kInterfaceStarted);
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(300), {280, folders}, bare(130), {129, listOf({"Saved One"})}}));
    clear();
    post(kInterfaceStarted);
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(300), {280, folders}, bare(130), {129, listOf({"Saved One"})}}));
    clear();
    post(kFolderBase + 2);
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(130), {129, listOf({"A #pa", "B"})}}));
    EXPECT_TRUE(midiOut().empty());
}

// The selection road: a selection only sends [C0 n 00]; the program change coming back loads the
// entry (migrated), sends the dump, posts n and echoes [C0 n 00]. A missing "empty" entry gets
// the init patch (slot 244 kept); another missing file leaves the block as it was.
TEST_F(PrescatManager, SelectionLoadsOnlyWhenItsProgramChangeReturns)
{
    const Values b = valuesOf([](int k) { return k == 0 ? 0.1f : k == 1 ? 0.25f : k == 152 ? 0.7f : 0.0f; });
    preset("Presets/A.tavpreset");
    preset("Presets/B.tavpreset", b);
    start();
    interfaceStarted();
    const Values before = blockValues();

    post(1);
    EXPECT_EQ(midiOut(), (std::vector<Bytes>{pc(1)}));
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(blockValues(), before);

    clear();
    programChange(1);
    Values migrated = b;
    migrated[151] = 16;  // slot 0 at 0.1: band 31; slot 152 already at 0.5 or above keeps its value
    migrated[153] = 1;
    EXPECT_EQ(blockValues(), migrated);
    EXPECT_EQ(midiOut(), concat(dumpOf(migrated), {pc(1)}));
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(1)}));

    clear();
    block().set(244, 3.5f);
    programChange(5);
    EXPECT_EQ(blockValues(), initPatch(3.5f));
    EXPECT_EQ(midiOut(), concat(dumpOf(initPatch(3.5f)), {pc(5)}));

    // A file gone since the list was made: nothing loads, the dump and echo still go out. (In
    // real time once the folder watch has told the worker.)
    const uint64_t refreshes = prescat::readAheadRefreshes.load();
    std::filesystem::remove(root_ / "Presets" / "A.tavpreset");
    ASSERT_TRUE(readAheadRefreshed(refreshes));
    clear();
    programChange(0);
    EXPECT_EQ(blockValues(), initPatch(3.5f));
    EXPECT_EQ(midiOut(), concat(dumpOf(initPatch(3.5f)), {pc(0)}));
}

// Migration bands: slot 0 at 0 gives 2, 2, 1 to slots below 0.5 (a negative one replaced, one at
// 0.5 kept); a short file changes only the slots it gives.
TEST_F(PrescatManager, OldPresetsAreMigratedFromSlotZero)
{
    writeBytes(root_ / "Presets" / "Short.tavpreset", ",   Short;\r\n,  0.0000000;\r\n,  0.5000000;\r\n");
    preset("Presets/Bound.tavpreset", valuesOf([](int k) { return k == 0 ? 0.0585f : k == 151 ? 0.25f : 0.0f; }));
    start();
    interfaceStarted();
    block().set(2, 7.0f);
    block().set(151, -1.0f);
    block().set(152, 0.5f);
    programChange(1);
    EXPECT_EQ(block().get(0), 0.0f);
    EXPECT_EQ(block().get(1), 0.5f);
    EXPECT_EQ(block().get(2), 7.0f);
    EXPECT_EQ(block().get(151), 2.0f);
    EXPECT_EQ(block().get(152), 0.5f);
    EXPECT_EQ(block().get(153), 1.0f);
    // 0.0585 read as a float lies just below the bound 0.0585: band 15 (1, 2, 1) for the slots
    // below 0.5.
    programChange(0);
    EXPECT_EQ(block().get(151), 1.0f);
    EXPECT_EQ(block().get(152), 2.0f);
    EXPECT_EQ(block().get(153), 1.0f);
}

// Saving: 129 after a path of more than 10 bytes echoes [C0 current 00] (ignored when it
// returns), writes the block with the file's stem as name, and 0.3 s later refreshes folders and
// list. A path of 10 bytes does nothing.
TEST_F(PrescatManager, SaveWritesTheBlockAndRefreshesAfterADelay)
{
    preset("Presets/A.tavpreset");
    start();
    interfaceStarted();
    for (int k = 0; k < 256; ++k)
        block().set(k, k * 0.5f);

    post(kPath, "/tmp/a.tav");
    post(kSavePreset);
    EXPECT_TRUE(midiOut().empty());

    const auto file = root_ / "Presets" / "New Sound.tavpreset";
    post(kPath, file.string());
    post(kSavePreset);
    EXPECT_EQ(midiOut(), (std::vector<Bytes>{pc(0)}));
    EXPECT_EQ(readBytes(file), presetText("New Sound", blockValues()));
    clear();
    programChange(0);
    EXPECT_TRUE(midiOut().empty());
    EXPECT_TRUE(posted().empty());
    runSeconds(0.3);
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(300), {280, listOf({"Presets"})}, bare(130),
                                             {129, listOf({"A", "New Sound"})}}));

    // A stem of 30 bytes is written as its first 24.
    const auto longName = root_ / "Presets" / "ABCDEFGHIJKLMNOPQRSTUVWXYZabcd.tavpreset";
    post(kPath, longName.string());
    post(kSavePreset);
    EXPECT_EQ(readBytes(longName), presetText("ABCDEFGHIJKLMNOPQRSTUVWX", blockValues()));
}

// Result pages: page 0 holds results 0-102 with ">>" at 103; every later page "<<" at 0 and 102
// results; ">>" shows exactly while results remain. Arrows send no program change and turn the
// page; a result row loads its file when its program change returns.
TEST_F(PrescatManager, ResultPagesAndArrows)
{
    folder("3_SEARCH");
    for (int i = 0; i < 250; ++i)
        writeBytes(root_ / "Presets" / (numbered("P%03d", i) + ".tavpreset"), "x");
    preset("Presets/P209.tavpreset", valuesOf([](int k) { return k == 3 ? 0.75f : 1.0f; }));
    start();
    interfaceStarted();

    post(kFolderBase + 0);
    EXPECT_EQ(postedIds(), (std::vector<int>{509, 508}));
    EXPECT_EQ(midiOut(), (std::vector<Bytes>{pc(0)}));
    clear();
    programChange(0);  // the view switch's own program change: no load
    EXPECT_EQ(postedIds(), (std::vector<int>{508}));
    EXPECT_TRUE(midiOut().empty());
    clear();
    runSeconds(0.8);
    std::vector<std::string> rows;
    for (int i = 0; i < 103; ++i)
        rows.push_back("Presets/" + numbered("P%03d", i));
    rows.push_back(">>");
    EXPECT_EQ(postedIds(), (std::vector<int>{504, 503, 501, 130, 129}));
    EXPECT_EQ(lastList(), page(rows, {{105, "         SET "}}));

    clear();
    post(103);
    EXPECT_TRUE(midiOut().empty());
    rows = {"<<"};
    for (int i = 103; i < 205; ++i)
        rows.push_back("Presets/" + numbered("P%03d", i));
    rows.push_back(">>");
    EXPECT_EQ(postedIds(), (std::vector<int>{504, 502, 501, 130 + 103, 129}));
    EXPECT_EQ(lastList(), page(rows));

    clear();
    post(103);
    rows = {"<<"};
    for (int i = 205; i < 250; ++i)
        rows.push_back("Presets/" + numbered("P%03d", i));
    EXPECT_EQ(postedIds(), (std::vector<int>{505, 502, 501, 130 + 103, 129}));
    EXPECT_EQ(lastList(), page(rows));

    clear();
    post(5);
    EXPECT_EQ(midiOut(), (std::vector<Bytes>{pc(5)}));
    clear();
    programChange(5);
    EXPECT_EQ(block().get(3), 0.75f);
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(5)}));

    clear();
    post(0);
    EXPECT_TRUE(midiOut().empty());
    EXPECT_EQ(lastList()[1], "Presets/P103");
}

// Every page is reachable: with 5408 results page 52 still shows ">>" for result 5407, and it
// leads to a page showing it.
TEST_F(PrescatManager, ForwardArrowShowsWhileResultsRemain)
{
    folder("3_SEARCH");
    for (int i = 0; i < 5408; ++i)
        writeBytes(root_ / "P" / (numbered("%05d", i) + ".tavpreset"), "");
    start();
    interfaceStarted();
    post(kFolderBase + 0);
    programChange(0);
    runSeconds(0.8);
    for (int p = 1; p <= 52; ++p)
        post(103);
    clear();
    post(103);  // page 52 -> 53
    const auto list = lastList();
    EXPECT_EQ(list[0], "<<");
    EXPECT_EQ(list[1], "P/05407");
    EXPECT_EQ(list[2], "empty");
    EXPECT_EQ(postedIds(), (std::vector<int>{505, 502, 501, 233, 129}));
}

// Filters over the whole index: a category tag, the favourite mark, the case-insensitive search
// text (a folder name counts), an invalid or unsupported pattern searched literally, and EDIT
// mode listing only untagged presets. Names with "--" and empty bank slots are never indexed.
TEST_F(PrescatManager, CategoryFavouriteSearchAndEditFilters)
{
    folder("3_SEARCH");
    for (const char* name : {"Lead One #le", "Pad #pa #fav", "Plain", "Bass--old #ba", "#001 empty", "a(b"})
        writeBytes(root_ / "Presets" / (std::string(name) + ".tavpreset"), "");
    writeBytes(root_ / "Leads Folder" / "Thing.tavpreset", "");
    start();
    interfaceStarted();
    post(kFolderBase + 0);
    programChange(0);
    runSeconds(0.8);
    EXPECT_EQ(lastList(), page({"Presets/Lead One #le", "Presets/Pad #pa #fav", "Presets/Plain", "Leads Folder/Thing",
                                "Presets/a(b"},
                               {{105, "         SET "}}));

    const auto after = [&](int row) {
        clear();
        post(row);
        runSeconds(0.5);
        return lastList();
    };
    EXPECT_EQ(after(122), page({"Presets/Pad #pa #fav"}));  // PADS
    EXPECT_EQ(after(110), page({"Presets/Lead One #le", "Presets/Pad #pa #fav", "Presets/Plain", "Leads Folder/Thing",
                                "Presets/a(b"}));
    EXPECT_EQ(after(108), page({"Presets/Pad #pa #fav"}, {{108, "         FAVOURITE "}}));
    after(107);

    const auto search = [&](const std::string& text) {
        clear();
        post(kSearchText, text);
        runSeconds(0.5);
        return lastList();
    };
    EXPECT_EQ(search("LEAD"), page({"Presets/Lead One #le", "Leads Folder/Thing"}));
    EXPECT_EQ(search("^pl.*n"), page({"Presets/Plain"}));  // the display field starts the entry
    EXPECT_EQ(search("a(b"), page({"Presets/a(b"}));        // invalid: literal text
    EXPECT_EQ(search("(l)\\1"), page({}));                  // back-reference: literal text
    EXPECT_EQ(search(std::string(60, 'a') + "b"), page({}));  // cut to 49 bytes, still no match

    EXPECT_EQ(after(105), page({"Presets/Plain", "Leads Folder/Thing", "Presets/a(b"},
                               {{107, "         EDIT"}, {108, "         SAVE"}, {110, "         NO CATEGORY"}}));
}

// Tags by renaming: in EDIT mode a category row sets the category without a rebuild, SAVE (108)
// only sends its program change, and the returning [C0 108 00] re-tags the loaded file (category
// before favourite) and echoes it; the favourite toggle renames the loaded file's own name.
TEST_F(PrescatManager, TagsAndFavouritesByRenaming)
{
    folder("3_SEARCH");
    preset("Presets/Name #fav.tavpreset");
    preset("Presets/Other.tavpreset");
    start();
    interfaceStarted();
    post(kFolderBase + 0);
    programChange(0);
    runSeconds(0.8);
    post(105);
    runSeconds(0.5);
    ASSERT_EQ(lastList()[0], "Presets/Name #fav");

    post(0);
    programChange(0);
    clear();
    post(122);
    runSeconds(0.5);
    EXPECT_EQ(postedIds(), (std::vector<int>{508}));  // no rebuild in EDIT mode
    clear();
    post(108);
    EXPECT_EQ(midiOut(), (std::vector<Bytes>{pc(108)}));
    EXPECT_TRUE(fs::exists(root_ / "Presets" / "Name #fav.tavpreset"));
    clear();
    programChange(108);
    EXPECT_EQ(midiOut(), (std::vector<Bytes>{pc(108)}));
    EXPECT_TRUE(fs::exists(root_ / "Presets" / "Name #pa #fav.tavpreset"));
    EXPECT_FALSE(fs::exists(root_ / "Presets" / "Name #fav.tavpreset"));
    runSeconds(0.5);
    EXPECT_EQ(lastList()[0], "Presets/Other");

    // The favourite mark on the loaded file, and off again.
    programChange(0);
    clear();
    post(kToggleFavourite);
    EXPECT_EQ(postedIds(), (std::vector<int>{131, 130, 508}));
    EXPECT_EQ(midiOut(), (std::vector<Bytes>{pc(0)}));
    EXPECT_TRUE(fs::exists(root_ / "Presets" / "Other #fav.tavpreset"));
    runSeconds(0.5);
    EXPECT_EQ(lastList()[0], "Presets/Other #fav");  // the mark is no category: still listed in EDIT mode
}

// A factory preset stays one through every tag change: with the favourite mark off, tagged from
// no category and with the mark on and off again its number prefix keeps its space, the result
// rows show it, and a delete is refused with the file left in place.
TEST_F(PrescatManager, FactoryPresetsStayFactoryPresetsThroughTagChanges)
{
    folder("3_SEARCH");
    preset("Presets/#001 #fav.tavpreset");
    preset("Presets/#002 #pa.tavpreset");
    start();
    interfaceStarted();
    post(kFolderBase + 0);
    programChange(0);
    runSeconds(0.8);
    // The row showing slot 1 in the list shown last, whatever its tags.
    std::vector<std::string> shown;
    const auto slotOneRow = [&] {
        if (const auto list = lastList(); !list.empty())
            shown = list;
        const auto at = std::find_if(shown.begin(), shown.end(), [](const std::string& e) { return e.rfind("Presets/#001", 0) == 0; });
        EXPECT_NE(at, shown.end());
        return static_cast<int>(at - shown.begin());
    };
    const auto deleteRefused = [&](const std::string& file) {
        SCOPED_TRACE(file);
        const int row = slotOneRow();
        post(row);
        programChange(row);
        clear();
        post(kDeletePreset);
        runSeconds(0.5);
        EXPECT_EQ(postedIds(), (std::vector<int>{500}));
        EXPECT_TRUE(fs::exists(root_ / "Presets" / file));
    };
    const auto toggleFavourite = [&] {
        const int row = slotOneRow();
        post(row);
        programChange(row);
        post(kToggleFavourite);
        runSeconds(0.5);
    };

    toggleFavourite();
    EXPECT_TRUE(fs::exists(root_ / "Presets" / "#001 .tavpreset"));
    const auto unmarked = static_cast<std::size_t>(slotOneRow());
    ASSERT_LT(unmarked, shown.size());
    EXPECT_EQ(shown[unmarked], "Presets/#001 ");
    deleteRefused("#001 .tavpreset");

    // EDIT lists the untagged: slot 1 takes PADS.
    post(105);
    runSeconds(0.5);
    const int row = slotOneRow();
    post(row);
    programChange(row);
    post(kCategoryRow + 12);
    post(108);
    programChange(108);
    EXPECT_TRUE(fs::exists(root_ / "Presets" / "#001 #pa.tavpreset"));
    post(104);  // SEARCH lists them all again
    runSeconds(0.5);
    deleteRefused("#001 #pa.tavpreset");
    toggleFavourite();
    EXPECT_TRUE(fs::exists(root_ / "Presets" / "#001 #pa #fav.tavpreset"));
    toggleFavourite();
    deleteRefused("#001 #pa.tavpreset");
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "Presets"), fs::directory_iterator()), 2);
}

// Time order: in a plain folder the names come oldest first, files of the same second all
// listed in name order, and 508 replaces the selection right after the switch; a bank folder
// keeps its slot order and its selection.
TEST_F(PrescatManager, TimeOrderKeepsFilesOfTheSameSecond)
{
    preset("Presets/Mid.tavpreset");
    preset("Presets/New A.tavpreset");
    preset("Presets/New B.tavpreset");
    preset("Presets/Old.tavpreset");
    preset("ZBank/#002 B.tavpreset");
    preset("ZBank/#001 A.tavpreset");
    const auto now = fs::file_time_type::clock::now();
    fs::last_write_time(root_ / "Presets" / "Old.tavpreset", now - std::chrono::seconds(10));
    fs::last_write_time(root_ / "Presets" / "Mid.tavpreset", now - std::chrono::seconds(5));
    fs::last_write_time(root_ / "Presets" / "New A.tavpreset", now);
    fs::last_write_time(root_ / "Presets" / "New B.tavpreset", now);
    fs::last_write_time(root_ / "ZBank" / "#001 A.tavpreset", now);
    fs::last_write_time(root_ / "ZBank" / "#002 B.tavpreset", now - std::chrono::seconds(10));
    start();
    interfaceStarted();

    const std::string folders = listOf({"Presets", "ZBank"});
    post(kTimeOrderOn);
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(300), {280, folders}, bare(508), {129, listOf({"Old", "Mid", "New A", "New B"})}}));
    clear();
    post(kFolderBase + 1);
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(130), {129, listOf({"#001 A", "#002 B"})}}));
    clear();
    post(kFolderBase + 0);
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(130), {129, listOf({"Old", "Mid", "New A", "New B"})}}));
    clear();
    post(kTimeOrderOff);
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(300), {280, folders}, bare(508), {129, listOf({"Mid", "New A", "New B", "Old"})}}));
}

// Bank import and bank folder: 132 writes nothing before a successful import; 131 reads the bank,
// loads entry 0 by name (here no such file: block kept), posts 0 and sends [C0 00 00]; 132 then
// writes "#NNN name.tavpreset" files inside the chosen folder, "/" in names neutralised.
TEST_F(PrescatManager, BankImportThenBankFolder)
{
    folder("Presets");
    auto names = manager_test::numberedNames("Bank ");
    names[0] = "Alpha";
    names[1] = "../../evil";
    const auto bankFile = shared_.path() / "some.tavbank";
    writeBytes(bankFile, manager_test::bankText(names, [](int p, int k) { return k == 1 ? p * 0.5f : 0.0f; }));
    start();
    interfaceStarted();
    const auto target = root_ / "MyBank";

    post(kPath, target.string());
    post(kSaveBankFolder);
    EXPECT_FALSE(fs::exists(target));
    post(kPath, (shared_.path() / "missing.tavbank").string());
    post(kLoadBank);
    EXPECT_TRUE(posted().empty());
    EXPECT_TRUE(midiOut().empty());

    block().set(1, 0.25f);
    const Values before = blockValues();
    post(kPath, bankFile.string());
    post(kLoadBank);
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(0)}));
    EXPECT_EQ(midiOut(), concat(dumpOf(before), {pc(0)}));

    clear();
    post(kPath, target.string());
    post(kSaveBankFolder);
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(300), {280, listOf({"MyBank", "Presets"})}}));
    EXPECT_EQ(readBytes(target / "#001 Alpha.tavpreset"),
              presetText("Alpha", valuesOf([](int k) { return k == 1 ? 0.0f : 0.0f; })));
    EXPECT_EQ(readBytes(target / "#002 .._.._evil.tavpreset"),
              presetText("../../evil", valuesOf([](int k) { return k == 1 ? 0.5f : 0.0f; })));
    EXPECT_EQ(readBytes(target / "#128 Bank 127.tavpreset"),
              presetText("Bank 127", valuesOf([](int k) { return k == 1 ? 63.5f : 0.0f; })));
    EXPECT_FALSE(fs::exists(root_.parent_path() / "evil.tavpreset"));
    EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 128);
}

// Effects: a view switch mutes slots 16, 17, 19, 93 and 95 at once (13 and 90 untouched), having
// first backed them up; after the returning program change they come back 0.6 s later.
TEST_F(PrescatManager, ViewSwitchMutesEffectsUntilTheRestore)
{
    folder("3_SEARCH");
    start();
    interfaceStarted();
    const int slots[] = {13, 16, 17, 19, 90, 93, 95};
    for (int i = 0; i < 7; ++i)
        block().set(slots[i], 1.0f + static_cast<float>(i));
    post(kFolderBase + 0);
    const auto effects = [&] {
        std::vector<float> v;
        for (int s : slots)
            v.push_back(block().get(s));
        return v;
    };
    EXPECT_EQ(effects(), (std::vector<float>{1, 0, 0, 0, 5, 0, 0}));
    programChange(0);
    runSeconds(0.55);
    EXPECT_EQ(effects(), (std::vector<float>{1, 0, 0, 0, 5, 0, 0}));
    runSeconds(0.1);
    EXPECT_EQ(effects(), (std::vector<float>{1, 2, 3, 4, 5, 6, 7}));
}

// A missing library comes back from its backup at construction; with neither, nothing is made.
TEST_F(PrescatManager, MissingLibraryIsRestoredFromBackup)
{
    const auto backup = root_.parent_path() / "Presetbase_BACKUPINI";
    writeBytes(backup / "Presets" / "X.tavpreset", "x");
    start();
    EXPECT_TRUE(fs::exists(root_ / "Presets" / "X.tavpreset"));
    EXPECT_FALSE(fs::exists(backup));
}

TEST_F(PrescatManager, NoLibraryGivesEmptyLists)
{
    start();
    post(kInterfaceStarted);
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(300), {280, listOf({})}, bare(130), {129, listOf({})}}));
    EXPECT_FALSE(fs::exists(root_));
}

// Bounds: unknown ids, short or out-of-range program changes and other MIDI do nothing; a list
// entry holding "/" or ".." never names a file outside its folder.
TEST_F(PrescatManager, HostileInputIsBounded)
{
    preset("Presets/A.tavpreset", valuesOf([](int) { return 0.9f; }));
    preset("Outside.tavpreset", valuesOf([](int) { return 0.3f; }));
    start();
    interfaceStarted();
    const Values before = blockValues();
    for (int id : {-1, 133, 258, 328, 399, 403, 506, 1000, 0x7fffffff})
        post(id);  // 258: folder 58, of which there is none
    post(kPath, std::string(3000, 'a'));
    post(kSavePreset);
    programChange(Bytes{0xC0});
    programChange(Bytes{0xC0, 0x82, 0});
    programChange(Bytes{0x90, 1, 100});
    EXPECT_EQ(postedIds(), std::vector<int>{});
    EXPECT_TRUE(midiOut().empty());
    EXPECT_EQ(blockValues(), before);

    // A bank whose first name climbs out of the folder: entry 0 loads nothing.
    auto names = manager_test::numberedNames("N");
    names[0] = "../Outside";
    writeBytes(shared_.path() / "b.tavbank", manager_test::bankText(names));
    post(kPath, (shared_.path() / "b.tavbank").string());
    post(kLoadBank);
    EXPECT_EQ(blockValues(), before);
}

} // namespace

namespace {

// "2_SAVED": listed in saved (path) order; with time order on it is oldest first and opens on its
// last page; switched off the first time, the time order is held and the newest comes first. The
// refresh sends the program change 0x82, which loads nothing when it returns.
TEST_F(PrescatManager, SavedViewInTimeOrder)
{
    const auto now = fs::file_time_type::clock::now();
    for (int i = 0; i < 250; ++i) {
        const auto file = root_ / "2_SAVED" / (numbered("S%03d", 249 - i) + ".tavpreset");
        writeBytes(file, "");
        fs::last_write_time(file, now - std::chrono::seconds(1000 - i));  // S249 oldest, S000 newest
    }
    start();
    interfaceStarted();
    post(kFolderBase + 0);
    programChange(0);
    runSeconds(0.5);
    EXPECT_EQ(lastList()[0], "2_SAVED/S000");
    EXPECT_EQ(lastList()[102], "2_SAVED/S102");

    clear();
    post(kTimeOrderOn);
    EXPECT_EQ(postedIds(), (std::vector<int>{300, 280, 512, 131, 130, 508}));
    EXPECT_EQ(midiOut(), (std::vector<Bytes>{Bytes{0xC0, 0x82, 0x00}}));
    programChange(Bytes{0xC0, 0x82, 0x00});
    clear();
    runSeconds(0.5);
    auto list = lastList();
    EXPECT_EQ(list[0], "<<");
    EXPECT_EQ(list[1], "2_SAVED/S044");   // result 205 of 250, oldest first
    EXPECT_EQ(list[45], "2_SAVED/S000");  // the newest last
    EXPECT_EQ(list[46], "empty");

    clear();
    post(kTimeOrderOff);
    EXPECT_EQ(postedIds(), (std::vector<int>{510, 300, 280, 131, 130, 508}));
    programChange(Bytes{0xC0, 0x82, 0x00});
    runSeconds(0.5);
    list = lastList();
    EXPECT_EQ(list[0], "2_SAVED/S000");
    EXPECT_EQ(list[102], "2_SAVED/S102");
    EXPECT_EQ(list[103], ">>");
}

// The interface reopened in a result view: with a load made there, the page comes again with the
// category row and the selection; without one, the folder of the last load is listed instead.
TEST_F(PrescatManager, InterfaceRestartInAResultView)
{
    folder("3_SEARCH");
    preset("Presets/Pad #pa.tavpreset");
    start();
    interfaceStarted();
    post(kFolderBase + 0);
    programChange(0);
    runSeconds(0.8);
    clear();
    post(kInterfaceStarted);
    EXPECT_EQ(postedIds(), (std::vector<int>{300, 280, 130, 129}));
    EXPECT_EQ(lastList(), split(listOf({})));  // folder 0 ("3_SEARCH") listed as a folder

    post(kFolderBase + 0);
    programChange(0);
    runSeconds(0.8);
    post(122);
    runSeconds(0.5);
    post(0);
    programChange(0);
    clear();
    post(kInterfaceStarted);
    EXPECT_EQ(postedIds(), (std::vector<int>{300, 280, 505, 503, 501, 130, 129, 722, 130}));
    EXPECT_EQ(lastList()[0], "Presets/Pad #pa");
}

// Renaming touches only the file's own name: a favourite mark in a folder's name stays, and a
// file already gone is left alone. Message 128 loads a chosen file (migrated) into the block.
TEST_F(PrescatManager, RenamesOnlyTheFilesOwnName)
{
    preset("Faves #fav/Song.tavpreset", valuesOf([](int k) { return k == 7 ? 2.5f : 0.0f; }));
    start();
    interfaceStarted();
    programChange(0);
    EXPECT_EQ(block().get(7), 2.5f);
    post(kToggleFavourite);
    EXPECT_TRUE(fs::exists(root_ / "Faves #fav" / "Song #fav.tavpreset"));
    EXPECT_EQ(lastList(), split(listOf({"Song #fav"})));
    post(kToggleFavourite);  // the loaded path is gone: nothing renamed
    EXPECT_TRUE(fs::exists(root_ / "Faves #fav" / "Song #fav.tavpreset"));

    // A name of tags only: its favourite comes off (a one-space name, listed) and goes on again.
    preset("Faves #fav/ #fav.tavpreset");
    post(kFolderBase + 0);
    programChange(0);
    post(kToggleFavourite);
    EXPECT_TRUE(fs::exists(root_ / "Faves #fav" / " .tavpreset"));
    EXPECT_EQ(lastList(), split(listOf({" ", "Song #fav"})));
    programChange(0);
    post(kToggleFavourite);
    EXPECT_TRUE(fs::exists(root_ / "Faves #fav" / " #fav.tavpreset"));

    block().set(7, 0.0f);
    post(kPath, (root_ / "Faves #fav" / "Song #fav.tavpreset").string());
    post(kLoadPresetFile);
    EXPECT_EQ(block().get(7), 2.5f);
    EXPECT_EQ(block().get(151), 2.0f);  // slot 0 at 0: band 0
}

} // namespace

namespace {

// Favourites view and the time-order switch: 400 refreshes without the selection echo and marks
// the page 506; 402 the first time keeps the time order on (511), the second time lets it go
// (512).
TEST_F(PrescatManager, FavouritesViewTimeOrderSwitch)
{
    folder("3_FAVOURITES");
    preset("Presets/Pad #pa #fav.tavpreset");
    preset("Presets/Plain.tavpreset");
    start();
    interfaceStarted();
    post(kFolderBase + 0);
    programChange(0);
    runSeconds(0.8);
    EXPECT_EQ(lastList(), page({"Presets/Pad #pa #fav"}, {{105, "         SET "}, {108, "         FAVOURITE "}}));

    // What a switch message posts; then what the refresh 0.5 s after its selection came back posts.
    const auto press = [&](int message) {
        clear();
        post(message);
        return postedIds();
    };
    const auto refreshAfterEcho = [&] {
        programChange(0);
        clear();
        runSeconds(0.5);
        return postedIds();
    };

    EXPECT_EQ(press(kTimeOrderOn), (std::vector<int>{300, 280, 131, 130, 508}));
    EXPECT_EQ(midiOut(), (std::vector<Bytes>{pc(0)}));
    EXPECT_EQ(refreshAfterEcho(), (std::vector<int>{506, 505, 503, 129}));

    EXPECT_EQ(press(kTimeOrderOff), (std::vector<int>{300, 280, 511, 131, 130, 508}));
    EXPECT_EQ(refreshAfterEcho(), (std::vector<int>{506, 505, 503, 129}));

    EXPECT_EQ(press(kTimeOrderOff), (std::vector<int>{300, 280, 512, 131, 130, 508}));
    EXPECT_EQ(refreshAfterEcho(), (std::vector<int>{505, 503, 129}));
}

} // namespace

namespace {

// Names holding "," or ";" on result pages and in the folder list: every text holds exactly its
// entries, each such character shown as its look-alike (U+201A, U+037E), and on every row after
// the comma row a click loads, and a delete trashes, exactly the file the row shows.
TEST_F(PrescatManager, CommaNamesKeepResultRowsOnTheirFiles)
{
    folder("3_SEARCH");
    const auto file = [](int i) { return i < 110 ? numbered("Presets/P%03d, x", i) : std::string("Presets, more/Q; y"); };
    for (int i = 0; i <= 110; ++i)
        preset(file(i) + ".tavpreset", valuesOf([i](int) { return static_cast<float>(i) / 128.0f; }));
    start();
    post(kInterfaceStarted);
    auto texts = posted();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[1], (Posted{280, listOf({"3_SEARCH", "Presets", shownInList("Presets, more")})}));
    EXPECT_EQ(texts[3], (Posted{129, listOf({})}));  // "3_SEARCH" listed as a folder

    post(kFolderBase + 0);
    programChange(0);
    runSeconds(0.8);
    std::vector<std::string> rows;
    for (int i = 0; i < 103; ++i)
        rows.push_back(shownInList(file(i)));
    rows.push_back(">>");
    EXPECT_EQ(lastList(), page(rows, {{105, "         SET "}}));

    clear();
    post(kNextArrowRow);
    rows = {"<<"};
    for (int i = 103; i <= 110; ++i)
        rows.push_back(shownInList(file(i)));
    EXPECT_EQ(lastList(), page(rows));
    for (int row = 8; row >= 2; --row) {
        const int i = 102 + row;
        SCOPED_TRACE(file(i));
        post(row);
        programChange(row);
        EXPECT_EQ(block().get(2), static_cast<float>(i) / 128.0f);
        clear();
        post(kDeletePreset);
        EXPECT_FALSE(fs::exists(root_ / (file(i) + ".tavpreset")));
        EXPECT_TRUE(fs::exists(root_ / (file(i - 1) + ".tavpreset")));
        rows.pop_back();
        EXPECT_EQ(lastList(), page(rows));
    }
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(shared_.path() / "xdg" / "Trash" / "files"),
                            fs::recursive_directory_iterator()),
              7);
}

// A program change of 128 or more coming back in a result view (the saved-view refresh sends
// 0x82) loads nothing and ends the search like any command row.
TEST_F(PrescatManager, OutOfRangeProgramChangeBackEndsTheSearch)
{
    const auto now = fs::file_time_type::clock::now();
    for (const char* name : {"alpha", "beta"}) {
        preset(std::string("2_SAVED/") + name + ".tavpreset", valuesOf([](int) { return 0.25f; }));
        fs::last_write_time(root_ / "2_SAVED" / (std::string(name) + ".tavpreset"), now - std::chrono::seconds(name[0]));
    }
    start();
    interfaceStarted();
    post(kFolderBase + 0);
    programChange(0);
    runSeconds(0.5);
    post(kSearchText, "alp");
    runSeconds(0.5);
    EXPECT_EQ(lastList(), page({"2_SAVED/alpha"}));
    const Values before = blockValues();

    clear();
    post(kTimeOrderOn);
    EXPECT_EQ(midiOut(), (std::vector<Bytes>{Bytes{0xC0, 0x82, 0x00}}));
    programChange(Bytes{0xC0, 0x82, 0x00});
    clear();
    runSeconds(0.5);
    EXPECT_EQ(lastList(), page({"2_SAVED/beta", "2_SAVED/alpha"}));  // oldest first
    EXPECT_EQ(postedIds(), (std::vector<int>{505, 503, 501, 130, 129}));
    EXPECT_EQ(blockValues(), before);
    EXPECT_TRUE(midiOut().empty());
}

} // namespace
