// The category manager's interface half driven as the host drives it: pins, buttons, scripted file
// panels and boxes, and the processing half's messages. Only the interface half is created, so
// every message it posts stays recorded and can be asserted with its payload.
#include "CategoryBrowser/PrescatMessages.h"
#include "PresetStore/ManagerTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using manager_test::last;
using platform::AlertAnswer;
using platform::DialogRequest;
using platform::ScriptedDialogs;
using prescat::ToGui;
using prescat::ToAudio;
using tav_host::boolValue;
using tav_host::intValue;
using tav_host::textValue;

struct Pin {
    enum : int {
        kPresetNumber, kPresetList, kPresetName, kLoadPreset, kSavePreset, kFixPreset, kLoadBank, kSaveBank,
        kId, kAutoPath, kPathPC, kPathMac, kGuiUpdate, kNameSave, kFolderNumber, kFolderList, kFolderName,
        kPresetNumberDisplay,
    };
};

// The folder table the tests work with: ordinary folders and every special view.
constexpr int kBass = 0, kLeads = 1, kSearch = 2, kSaved = 3, kFavourites = 4, kEdit = 5, kSearchSaved = 6, kReloads = 7;
const std::string kFolderText = "Bass,Leads,3_SEARCH,2_SAVED,3_FAVOURITES,Live_EE_Set,3_SEARCHSAVED,3_RELOADS";

const std::string kFavouriteOff = "         FAVOURITE";
const std::string kFavouriteOn = "         FAVOURITE ";
const std::string kPrompt = "Enter Search Term...";
const std::string kReplaceMessage = "A file with the same name already exists.\nDo you want to replace it?";

using Entries = std::map<int, std::string>;

// 128 entries joined by ",", "empty" where none is given.
std::string joined(const Entries& entries)
{
    std::string text;
    for (int k = 0; k < 128; ++k) {
        if (k)
            text += ',';
        const auto it = entries.find(k);
        text += it == entries.end() ? "empty" : it->second;
    }
    return text;
}

// The command page of a search view's list (positions 104-127) added to entries.
Entries withCommandPage(Entries entries, const std::string& favourite = kFavouriteOff)
{
    const std::string blank(9, ' ');
    entries[104] = blank + "SEARCH";
    entries[105] = blank + "SET";
    entries[106] = blank;
    entries[107] = blank + "ALL";
    entries[108] = favourite;
    entries[109] = blank;
    entries[110] = blank + "ALL";
    const char* categories[] = {"ARPEGGIOS", "BASS",   "BRASS",      "CLAVINET",   "DRUMS", "EFFECTS",
                                "EPIANO",    "LEADS",  "LFOPADS",    "ORGANS",     "OTHER", "PADS",
                                "PERCUSSIVE", "SAMPLEHOLD", "STABS", "STRINGS", "SWEEPS"};
    for (int c = 0; c < 17; ++c)
        entries[111 + c] = blank + categories[c];
    return entries;
}

// A folder's list as the processing half sends it, and what the view shows of it.
const Entries kFolderEntries = {
    {0, "#001 Fat Bass #ba"},
    {1, "Warm Pad #pa #fav"},
    {2, "#002# Keys #ep #fav"},
    {3, "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234"},
    {4, "ABCDEFGHIJKLMNOPQRSTUVWXY #fav"},
    {5, "Lead #le #st"},
    {6, " #ar"},
    {7, "#12 Short"},
    {8, "Multi #001 Mid #sw"},
    {9, "Bass/Sub #ba #fav"},
};
const Entries kFolderDisplay = {
    {0, "Fat Bass"},
    {1, ".Warm Pad"},
    {2, ".Keys"},
    {3, "ABCDEFGHIJKLMNOPQRSTUVWXY"},
    {4, ".ABCDEFGHIJKLMNOPQRSTUVWX"},
    {5, "Lead"},
    {6, " "},  // only markers: one space, so that the list view keeps the position
    {7, "#12 Short"},
    {8, "Multi Mid"},
    {9, ".Bass/Sub"},
};

// A search view's result page, with page arrows, and what the view shows of it.
const Entries kSearchEntries = {
    {0, "<<"},
    {1, "Bass/Fat Bass #ba #fav"},
    {2, "Leads/#003 Lead One #le"},
    {3, "Keys\\#004# E Piano #ep"},
    {4, "Pads/ABCDEFGHIJKLMNOPQRSTUVWXYZ1234 #pa"},
    {5, "Solo #fav"},
    {103, ">>"},
};
const Entries kSearchDisplay = {
    {0, "<<"},
    {1, ".Fat Bass"},
    {2, "Lead One"},
    {3, "E Piano"},
    {4, "ABCDEFGHIJKLMNOPQRSTUVWXY"},
    {5, ".Solo"},
    {103, ">>"},
};

class PrescatGuiTest : public manager_test::ManagerGuiTest {
protected:
    PrescatGuiTest() : ManagerGuiTest("QV_PatchManagerPrescat") {}

    static std::string withZero(std::string text) { return text + std::string(1, '\0'); }
    static tav_host::Bytes payload(const std::string& text)
    {
        tav_host::Bytes bytes(text.begin(), text.end());
        bytes.push_back(0);
        return bytes;
    }

    // A message from the processing half, delivered at once.
    void post(std::size_t i, int id, const std::string& text)
    {
        host_->postToGui(i, id, payload(text));
        host_->drain();
    }
    void post(std::size_t i, int id)
    {
        host_->postToGui(i, id, {});
        host_->drain();
    }
    void set(std::size_t i, int pin, tav_host::Bytes value) { host_->guiSetPin(i, pin, std::move(value)); }

    // The processing half shows folder f with this list.
    void show(std::size_t i, int folder, const Entries& entries)
    {
        post(i, ToGui::kFolderNumberBase + folder);
        post(i, ToGui::kList, joined(entries));
    }

    // A started browser: folder table known, folder "Bass" with its list; calls and dialogs clear.
    std::size_t browser()
    {
        const std::size_t i = start();
        post(i, ToGui::kFolderList, kFolderText);
        show(i, kBass, kFolderEntries);
        host_->clearCalls();
        ScriptedDialogs::instance().reset();
        return i;
    }

    std::vector<int> ints(std::size_t i, int pin) const
    {
        std::vector<int> out;
        for (const auto& value : values(i, pin)) {
            std::int32_t v = 0;
            EXPECT_TRUE(tav_host::readInt(value, v));
            out.push_back(v);
        }
        return out;
    }
    std::string name(std::size_t i) const { return last(texts(i, Pin::kPresetName)); }

    static std::vector<DialogRequest> requests() { return ScriptedDialogs::instance().requests(); }
    static void expectConfirm(const DialogRequest& r, const std::string& title, const std::string& message,
                              const std::string& yes = "Yes", const std::string& no = "No")
    {
        EXPECT_EQ(r.kind, DialogRequest::Kind::Confirm);
        EXPECT_EQ(r.title, title);
        EXPECT_EQ(r.message, message);
        EXPECT_EQ(r.defaultButton, yes);
        EXPECT_EQ(r.alternateButton, no);
    }
    static void expectNotice(const DialogRequest& r, const std::string& title, const std::string& message)
    {
        EXPECT_EQ(r.kind, DialogRequest::Kind::Notice);
        EXPECT_EQ(r.title, title);
        EXPECT_EQ(r.message, message);
        EXPECT_EQ(r.defaultButton, "OK");
    }

    fs::path presetbase_ = folder_ / "Quorvane" / "TAVRIN TWO" / "Presetbase";
    fs::path bankFolder_ = folder_ / "Quorvane" / "TAVRIN ONE" / "Presetbase" / "Banks";
};

using Sent = std::vector<std::pair<int, std::string>>;
using Texts = std::vector<std::string>;
using Ints = std::vector<int>;

// Start posts only 134. Delete, save, bank import and favourite buttons act once, on release; a
// repeated value does nothing. FixPreset sends 400 or 402 at every notification.
TEST_F(PrescatGuiTest, StartAndButtonKinds)
{
    const std::size_t i = start();
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kInterfaceStarted, ""}}));
    EXPECT_TRUE(host_->callsOf(tav_host::CallKind::TransmitPin, i).empty());

    set(i, Pin::kPresetNumber, intValue(2));
    host_->clearCalls();
    auto& dialogs = ScriptedDialogs::instance();
    dialogs.pushAlertAnswer(AlertAnswer::Default);
    set(i, Pin::kLoadPreset, boolValue(true));
    set(i, Pin::kLoadPreset, boolValue(true));
    EXPECT_TRUE(requests().empty());
    set(i, Pin::kLoadPreset, boolValue(false));
    set(i, Pin::kLoadPreset, boolValue(false));
    ASSERT_EQ(requests().size(), 1u);
    expectConfirm(requests()[0], "Delete Preset", "Really delete this preset?");
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kDeletePreset, ""}}));

    // "No", and a box that could not be shown, delete nothing.
    set(i, Pin::kPresetNumber, intValue(3));
    host_->clearCalls();
    dialogs.pushAlertAnswer(AlertAnswer::Alternate);
    release(i, Pin::kLoadPreset);
    release(i, Pin::kLoadPreset);
    EXPECT_EQ(requests().size(), 3u);
    EXPECT_TRUE(sent(i).empty());

    // The favourite button with the favourites filter off sends 500 without asking.
    set(i, Pin::kSaveBank, boolValue(true));
    EXPECT_TRUE(sent(i).empty());
    set(i, Pin::kSaveBank, boolValue(false));
    set(i, Pin::kSaveBank, boolValue(false));
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kToggleFavourite, ""}}));
    EXPECT_EQ(requests().size(), 3u);

    // Save and bank import open their panels on release only; a cancel still sends an empty path.
    host_->clearCalls();
    set(i, Pin::kSavePreset, boolValue(true));
    set(i, Pin::kLoadBank, boolValue(true));
    EXPECT_EQ(requests().size(), 3u);
    set(i, Pin::kSavePreset, boolValue(false));
    set(i, Pin::kLoadBank, boolValue(false));
    ASSERT_EQ(requests().size(), 5u);
    EXPECT_EQ(requests()[3].kind, DialogRequest::Kind::SavePanel);
    EXPECT_EQ(requests()[4].kind, DialogRequest::Kind::OpenPanel);
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kPath, withZero("")}, {ToAudio::kPath, withZero("")}}));
    EXPECT_TRUE(fs::is_directory(folder_ / "Quorvane" / "TAVRIN TWO" / "Presetbase" / "2_SAVED"));
    EXPECT_FALSE(fs::exists(folder_ / "Quorvane" / "TAVRIN ONE"));

    host_->clearCalls();
    for (bool on : {true, true, false, false, true})
        set(i, Pin::kFixPreset, boolValue(on));
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kTimeOrderOn, ""},
                             {ToAudio::kTimeOrderOn, ""},
                             {ToAudio::kTimeOrderOff, ""},
                             {ToAudio::kTimeOrderOff, ""},
                             {ToAudio::kTimeOrderOn, ""}}));
}

// A row 0-127 goes to the processing half as its own id and names PresetName, NameSave and the
// display; negative values and 128 or more send nothing and leave the names.
TEST_F(PrescatGuiTest, SelectionsGoOutAsTheirOwnId)
{
    const std::size_t i = browser();
    set(i, Pin::kPresetNumber, intValue(4));
    EXPECT_EQ(sent(i), (Sent{{4, ""}}));
    EXPECT_EQ(texts(i, Pin::kPresetName), Texts{"ABCDEFGHIJKLMNOPQRSTUVWXY"});
    EXPECT_EQ(texts(i, Pin::kNameSave), Texts{"ABCDEFGHIJKLMNOPQRSTUVWXY"});
    EXPECT_EQ(ints(i, Pin::kPresetNumberDisplay), Ints{4});

    host_->clearCalls();
    for (int n : {-1, 128, 130, 180, 100000})
        set(i, Pin::kPresetNumber, intValue(n));
    set(i, Pin::kPresetNumber, intValue(127));
    EXPECT_EQ(sent(i), (Sent{{127, ""}}));
    EXPECT_EQ(texts(i, Pin::kPresetName), Texts{"empty"});
    EXPECT_EQ(ints(i, Pin::kPresetNumberDisplay), Ints{127});
}

// Folder choice sends 200 + f and shows the folder's name; outside 0-127 nothing happens. The
// first report after a choice says "nothing selected" (130) and re-arms; returning to the folder
// of the last selection while nothing is selected shows that selection again.
TEST_F(PrescatGuiTest, FolderChoiceAndReselection)
{
    const std::size_t i = browser();
    set(i, Pin::kPresetNumber, intValue(5));
    host_->clearCalls();
    set(i, Pin::kFolderNumber, intValue(kLeads));
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kFolderBase + kLeads, ""}}));
    EXPECT_EQ(texts(i, Pin::kFolderName), Texts{"Leads"});

    host_->clearCalls();
    set(i, Pin::kFolderNumber, intValue(128));
    set(i, Pin::kFolderNumber, intValue(-1));
    EXPECT_TRUE(sent(i).empty());
    EXPECT_TRUE(host_->callsOf(tav_host::CallKind::TransmitPin, i).empty());

    post(i, ToGui::kSelectBase + 1);
    EXPECT_EQ(ints(i, Pin::kPresetNumber), Ints{130});
    EXPECT_TRUE(ints(i, Pin::kPresetNumberDisplay).empty());
    // The list that follows leaves the names alone while the selection is pending.
    post(i, ToGui::kList, joined({{0, "Other"}}));
    EXPECT_TRUE(texts(i, Pin::kPresetName).empty());

    // Back to "Bass", where row 5 was selected: it is selected again at once.
    host_->clearCalls();
    set(i, Pin::kFolderNumber, intValue(kBass));
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kFolderBase + kBass, ""}}));
    EXPECT_EQ(ints(i, Pin::kPresetNumber), Ints{5});
    EXPECT_EQ(texts(i, Pin::kFolderName), Texts{"Bass"});
    post(i, ToGui::kSelectBase + 6);
    EXPECT_EQ(ints(i, Pin::kPresetNumber), (Ints{5, 6}));
    EXPECT_EQ(ints(i, Pin::kPresetNumberDisplay), Ints{6});

    // Without a return to the selection folder the second report after a choice shows the entry.
    host_->clearCalls();
    set(i, Pin::kFolderNumber, intValue(kLeads));
    post(i, ToGui::kSelectBase + 1);
    post(i, ToGui::kSelectBase + 1);
    EXPECT_EQ(ints(i, Pin::kPresetNumber), (Ints{130, 1}));
    EXPECT_EQ(ints(i, Pin::kPresetNumberDisplay), Ints{1});
    // 501 clears the first selection again.
    post(i, ToGui::kClearFirstSelect);
    post(i, ToGui::kSelectBase + 2);
    EXPECT_EQ(ints(i, Pin::kPresetNumber), (Ints{130, 1, 130}));
}

// Typed names: nine separators become spaces, 26 characters or more are cut to 25, and the text
// is written back only when it changed. A text that has no UTF-8 form is passed over.
TEST_F(PrescatGuiTest, TypedNameIsCleaned)
{
    const std::size_t i = browser();
    set(i, Pin::kPresetName, textValue("a\n\"b,/c:;<\\|d"));
    set(i, Pin::kPresetName, textValue("ABCDEFGHIJKLMNOPQRSTUVWXY"));
    set(i, Pin::kPresetName, textValue("ABCDEFGHIJKLMNOPQRSTUVWXYZ"));
    set(i, Pin::kPresetName, textValue("\xC3\xA9" "BCDEFGHIJKLMNOPQRSTUVWXY\xC3\xA9"));
    set(i, Pin::kPresetName, textValue("Bass/Lead 2"));
    EXPECT_EQ(texts(i, Pin::kPresetName),
              (Texts{"a  b  c     d", "ABCDEFGHIJKLMNOPQRSTUVWXY", "\xC3\xA9" "BCDEFGHIJKLMNOPQRSTUVWXY", "Bass Lead 2"}));
    EXPECT_TRUE(sent(i).empty());

    host_->clearCalls();
    set(i, Pin::kPresetName, textValue(std::u32string{U'a', U'/', char32_t(0xD800)}));
    EXPECT_TRUE(host_->callsOf(tav_host::CallKind::TransmitPin, i).empty());
}

// In a search view on the command page, a typed name is the search text (505, at most 49 bytes
// and a zero); not on a list row, not in a folder view, and not after an accepted save until a
// command row or another folder is chosen.
TEST_F(PrescatGuiTest, SearchTextOnTheCommandPage)
{
    const std::size_t i = browser();
    post(i, ToGui::kViewSwitched);
    set(i, Pin::kPresetName, textValue("folder view"));
    EXPECT_TRUE(sent(i).empty());

    show(i, kSearch, withCommandPage(kSearchEntries));
    host_->clearCalls();
    set(i, Pin::kPresetName, textValue("Bass;Pad"));
    EXPECT_EQ(texts(i, Pin::kPresetName), Texts{"Bass Pad"});
    std::string longText;
    for (int c = 0; c < 25; ++c)
        longText += "\xC3\xA9";
    set(i, Pin::kPresetName, textValue(longText));
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kSearchText, withZero("Bass Pad")},
                             {ToAudio::kSearchText, withZero(longText.substr(0, 48))}}));

    host_->clearCalls();
    set(i, Pin::kPresetNumber, intValue(2));
    set(i, Pin::kPresetName, textValue("row"));
    EXPECT_EQ(sent(i), (Sent{{2, ""}}));

    // An accepted save: typed names are names again, until a command row is chosen.
    set(i, Pin::kPresetNumber, intValue(107));
    ScriptedDialogs::instance().pushPanelAnswer(presetbase_ / "2_SAVED" / "Mine");
    release(i, Pin::kSavePreset);
    host_->clearCalls();
    set(i, Pin::kPresetName, textValue("after save"));
    EXPECT_TRUE(sent(i).empty());
    // The list that follows the save shows no search prompt either.
    post(i, ToGui::kList, joined(withCommandPage(kSearchEntries)));
    EXPECT_TRUE(texts(i, Pin::kPresetName).empty());
    set(i, Pin::kPresetNumber, intValue(104));
    set(i, Pin::kPresetName, textValue("again"));
    EXPECT_EQ(sent(i), (Sent{{104, ""}, {ToAudio::kSearchText, withZero("again")}}));

    // A folder choice clears it too.
    set(i, Pin::kPresetNumber, intValue(107));
    ScriptedDialogs::instance().pushPanelAnswer(presetbase_ / "2_SAVED" / "Mine2");
    release(i, Pin::kSavePreset);
    set(i, Pin::kFolderNumber, intValue(kSearch));
    show(i, kSearch, withCommandPage(kSearchEntries));
    host_->clearCalls();
    set(i, Pin::kPresetName, textValue("folder"));
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kSearchText, withZero("folder")}}));
}

// Command values on PresetNumber: the pairs 180/130 and 106/110 written as two changes, 600 + v
// as v; ids between the handled ranges and below 0 change nothing.
TEST_F(PrescatGuiTest, CommandValuesAndIgnoredIds)
{
    const std::size_t i = browser();
    post(i, ToGui::kDropSelection);
    post(i, ToGui::kDropSelection);
    EXPECT_EQ(ints(i, Pin::kPresetNumber), (Ints{180, 130, 180, 130}));

    host_->clearCalls();
    post(i, ToGui::kViewSwitched);
    post(i, ToGui::kViewSwitched);
    post(i, ToGui::kCategoryRowBase + 6);
    post(i, ToGui::kCategoryRowBase - prescat::kCategoryRow);
    post(i, ToGui::kCategoryRowBase - prescat::kCategoryRow + 1000);
    EXPECT_EQ(ints(i, Pin::kPresetNumber), (Ints{106, 110, 106, 110, 116, 0, 1000}));
    EXPECT_TRUE(sent(i).empty());

    host_->clearCalls();
    for (int id : {-1, -600, 259, 281, 299, 428, 499, 513, ToGui::kCategoryRowBase - prescat::kCategoryRow - 1})
        post(i, id, "x");
    EXPECT_TRUE(host_->callsOf(tav_host::CallKind::TransmitPin, i).empty());
    EXPECT_TRUE(sent(i).empty());
    EXPECT_TRUE(requests().empty());

    // 258 pulses GuiUpdate; 300 + f sets FolderNumber without asking for the folder.
    post(i, ToGui::kGuiUpdatePulse);
    post(i, ToGui::kFolderNumberBase + 127);
    EXPECT_EQ(values(i, Pin::kGuiUpdate), (std::vector<tav_host::Bytes>{boolValue(true), boolValue(false)}));
    EXPECT_EQ(ints(i, Pin::kFolderNumber), Ints{127});
    EXPECT_TRUE(sent(i).empty());
    // 510 turns FixPreset on.
    post(i, ToGui::kFixPresetOn);
    EXPECT_EQ(values(i, Pin::kFixPreset), std::vector<tav_host::Bytes>{boolValue(true)});
}

// A folder's list: number prefixes and category tags removed, favourites led by a full stop,
// entries cut to 25 characters; pieces cut at "," and ";" with empty pieces skipped. PresetName
// and NameSave take the current entry's name while NameSave is empty, NameSave's text otherwise.
TEST_F(PrescatGuiTest, FolderViewList)
{
    const std::size_t i = start();
    post(i, ToGui::kFolderList, kFolderText);
    host_->clearCalls();
    std::string text = joined(kFolderEntries);
    text = ",;" + text.replace(text.find(','), 1, ";,,");
    post(i, ToGui::kList, text);
    EXPECT_EQ(texts(i, Pin::kPresetList), Texts{joined(kFolderDisplay)});
    EXPECT_EQ(texts(i, Pin::kPresetName), Texts{"Fat Bass"});
    EXPECT_EQ(texts(i, Pin::kNameSave), Texts{"Fat Bass"});

    // Names as the name table keeps them.
    const std::pair<int, std::string> names[] = {{1, "Warm Pad"}, {2, "Keys"}, {3, "ABCDEFGHIJKLMNOPQRSTUVWXY"},
                                                 {4, "ABCDEFGHIJKLMNOPQRSTUVWXY"}, {6, ""}, {9, "Bass/Sub"},
                                                 {50, "empty"}};
    for (const auto& [row, expected] : names) {
        set(i, Pin::kPresetNumber, intValue(row));
        EXPECT_EQ(last(texts(i, Pin::kNameSave)), expected) << row;
    }

    // With NameSave holding a text, the list shows it whatever the current entry.
    host_->clearCalls();
    set(i, Pin::kNameSave, textValue("Kept"));
    post(i, ToGui::kList, joined({{50, "Other"}}));
    EXPECT_EQ(texts(i, Pin::kPresetName), Texts{"Kept"});
    EXPECT_TRUE(texts(i, Pin::kNameSave).empty());

    // A text without its terminating zero is read to its size; a byte that is not UTF-8 shows as
    // U+FFFD.
    host_->clearCalls();
    const std::string raw = "Caf\xE9,B";
    host_->postToGui(i, ToGui::kList, tav_host::Bytes(raw.begin(), raw.end()));
    EXPECT_EQ(texts(i, Pin::kPresetList), Texts{joined({{0, "Caf\xEF\xBF\xBD"}, {1, "B"}})});

    // Fewer than 128 pieces: the rest are "empty"; more than 128: the rest are ignored.
    host_->clearCalls();
    post(i, ToGui::kList, "A,B");
    EXPECT_EQ(texts(i, Pin::kPresetList), Texts{joined({{0, "A"}, {1, "B"}})});
    post(i, ToGui::kList, joined({}) + ",Extra");
    EXPECT_EQ(last(texts(i, Pin::kPresetList)), joined({}));
}

// A search view's list: names keep their folder part, the display shows the stem, number
// prefixes and tags removed, favourites marked unless 506 asked for unmarked ones (for one list);
// labels pass through. The favourites filter is on when position 108 holds its label with the
// trailing space.
TEST_F(PrescatGuiTest, SearchViewList)
{
    // With NameSave empty the current entry's stem goes on both name pins; the name table keeps
    // more than 25 characters here.
    const std::size_t i = browser();
    set(i, Pin::kPresetNumber, intValue(4));
    set(i, Pin::kNameSave, textValue(""));
    host_->clearCalls();
    show(i, kSearch, withCommandPage(kSearchEntries));
    EXPECT_EQ(texts(i, Pin::kPresetList), Texts{joined(withCommandPage(kSearchDisplay))});
    EXPECT_EQ(texts(i, Pin::kPresetName), Texts{"ABCDEFGHIJKLMNOPQRSTUVWXYZ1234"});
    EXPECT_EQ(texts(i, Pin::kNameSave), Texts{"ABCDEFGHIJKLMNOPQRSTUVWXYZ1234"});

    host_->clearCalls();
    post(i, ToGui::kFavouritesInTimeOrder);
    post(i, ToGui::kList, joined(withCommandPage(kSearchEntries)));
    Entries unmarked = kSearchDisplay;
    unmarked[1] = "Fat Bass";
    unmarked[5] = "Solo";
    EXPECT_EQ(texts(i, Pin::kPresetList), Texts{joined(withCommandPage(unmarked))});
    post(i, ToGui::kList, joined(withCommandPage(kSearchEntries)));
    EXPECT_EQ(last(texts(i, Pin::kPresetList)), joined(withCommandPage(kSearchDisplay)));

    // Selections name the pins with the stem; the name table keeps the folder part, which
    // FixPreset shows.
    host_->clearCalls();
    set(i, Pin::kPresetNumber, intValue(3));
    EXPECT_EQ(texts(i, Pin::kNameSave), Texts{"E Piano"});
    set(i, Pin::kFixPreset, boolValue(true));
    set(i, Pin::kFixPreset, boolValue(false));
    set(i, Pin::kPresetNumber, intValue(4));
    set(i, Pin::kFixPreset, boolValue(true));
    EXPECT_EQ(texts(i, Pin::kPresetName), (Texts{"E Piano", "Keys", "E Piano", "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234", "Pads"}));
    // An entry without folder part stays as it is.
    set(i, Pin::kPresetNumber, intValue(5));
    host_->clearCalls();
    set(i, Pin::kFixPreset, boolValue(true));
    set(i, Pin::kFixPreset, boolValue(false));
    EXPECT_TRUE(texts(i, Pin::kPresetName).empty());

    // Favourites filter: the delete and favourite buttons ask "Remove Favourite".
    post(i, ToGui::kList, joined(withCommandPage(kSearchEntries, kFavouriteOn)));
    host_->clearCalls();
    auto& dialogs = ScriptedDialogs::instance();
    dialogs.pushAlertAnswer(AlertAnswer::Default);
    release(i, Pin::kLoadPreset);
    dialogs.pushAlertAnswer(AlertAnswer::Alternate);
    release(i, Pin::kSaveBank);
    release(i, Pin::kSaveBank);
    dialogs.pushAlertAnswer(AlertAnswer::Default);
    release(i, Pin::kSaveBank);
    ASSERT_EQ(requests().size(), 4u);
    for (const auto& r : requests())
        expectConfirm(r, "Remove Favourite", "Remove preset from favourites list?");
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kToggleFavourite, ""}, {ToAudio::kToggleFavourite, ""}}));

    // Filter off again: the delete button points to the preset's own folder, sends nothing.
    post(i, ToGui::kList, joined(withCommandPage(kSearchEntries)));
    host_->clearCalls();
    dialogs.reset();
    release(i, Pin::kLoadPreset);
    ASSERT_EQ(requests().size(), 1u);
    expectNotice(requests()[0], "Delete Preset", "Please delete this preset in its original place");
    EXPECT_TRUE(sent(i).empty());
}

// The view follows the current folder's name when a list comes: which parser, whether FixPreset
// switches the name (saved-view clear), and whether the delete button deletes (delete-here).
TEST_F(PrescatGuiTest, ViewTable)
{
    struct Case {
        int folder;
        bool search, switchesName, deletes;
    };
    const Case cases[] = {{kBass, false, false, true},        {kSearch, true, true, false},
                          {kFavourites, true, true, false},   {kEdit, true, false, true},
                          {kSearchSaved, true, false, false}, {kSaved, true, false, true},
                          {kReloads, true, false, true},      {kLeads, false, false, true}};
    const std::size_t i = browser();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const std::string tag = "view " + std::to_string(c.folder);  // each list differs
        show(i, c.folder, {{1, "Bass/Fat Bass #ba #fav"}, {2, tag}});
        EXPECT_EQ(last(texts(i, Pin::kPresetList)), joined({{1, c.search ? ".Fat Bass" : ".Bass/Fat Bass"}, {2, tag}}));
        set(i, Pin::kPresetNumber, intValue(1));
        host_->clearCalls();
        set(i, Pin::kFixPreset, boolValue(true));
        EXPECT_EQ(texts(i, Pin::kPresetName), c.switchesName ? Texts{"Bass"} : Texts{});
        set(i, Pin::kFixPreset, boolValue(false));

        ScriptedDialogs::instance().reset();
        ScriptedDialogs::instance().pushAlertAnswer(AlertAnswer::Default);
        host_->clearCalls();
        release(i, Pin::kLoadPreset);
        ASSERT_EQ(requests().size(), 1u);
        EXPECT_EQ(requests()[0].kind, c.deletes ? DialogRequest::Kind::Confirm : DialogRequest::Kind::Notice);
        const Sent expected = c.deletes ? Sent{{ToAudio::kDeletePreset, ""}} : Sent{};
        EXPECT_EQ(sent(i), expected);
    }

    // 507 makes the view a search view until the next ordinary list.
    show(i, kBass, {{1, "Bass/Fat Bass"}});
    post(i, ToGui::kSearchViewFlag);
    host_->clearCalls();
    set(i, Pin::kPresetNumber, intValue(1));
    EXPECT_EQ(texts(i, Pin::kPresetName), Texts{"Fat Bass"});
    post(i, ToGui::kList, joined({{1, "Bass/Fat Bass"}}));
    set(i, Pin::kPresetNumber, intValue(2));
    set(i, Pin::kPresetNumber, intValue(1));
    EXPECT_EQ(last(texts(i, Pin::kPresetName)), "Bass/Fat Bass");
}

// The search prompt: a search list with PresetNumber 104 or above shows "Enter Search Term...",
// unless a page turn or the favourite button came before it; the next folder list puts the name
// of the last selection back.
TEST_F(PrescatGuiTest, SearchPromptAndItsRestore)
{
    const std::size_t i = browser();
    set(i, Pin::kPresetNumber, intValue(1));              // saved name "Warm Pad"
    post(i, ToGui::kShowEntryBase + 2);             // NameSave "Keys"
    EXPECT_EQ(last(texts(i, Pin::kNameSave)), "Keys");

    post(i, ToGui::kFolderNumberBase + kSearch);
    post(i, ToGui::kViewSwitched);
    host_->clearCalls();
    post(i, ToGui::kList, joined(withCommandPage(kSearchEntries)));
    EXPECT_EQ(texts(i, Pin::kPresetName), (Texts{kPrompt}));

    host_->clearCalls();
    show(i, kBass, kFolderEntries);
    EXPECT_EQ(texts(i, Pin::kPresetName), (Texts{"Keys", "Warm Pad"}));
    // Restored once only.
    host_->clearCalls();
    post(i, ToGui::kList, joined(kFolderEntries));
    EXPECT_EQ(texts(i, Pin::kPresetName), Texts{"Keys"});

    // The favourite button in a search view: no prompt for the list that follows its 508.
    show(i, kSearch, withCommandPage(kSearchEntries));
    set(i, Pin::kPresetNumber, intValue(1));
    set(i, Pin::kPresetName, textValue("typed"));
    release(i, Pin::kSaveBank);
    post(i, ToGui::kDropSelection);
    host_->clearCalls();
    post(i, ToGui::kList, joined(withCommandPage(kSearchEntries)));
    EXPECT_EQ(texts(i, Pin::kPresetName), Texts{"Fat Bass"});
    post(i, ToGui::kList, joined(withCommandPage(kSearchEntries)));
    EXPECT_EQ(texts(i, Pin::kPresetName), (Texts{"Fat Bass", kPrompt}));
}

// Page arrows: with the arrow active, row 0 (left) and row 103 (right) are sent but change neither
// the current entry nor the names, and the next search list shows no prompt; inactive, they are
// rows. Command rows are sent and leave the names and the display.
TEST_F(PrescatGuiTest, PageArrows)
{
    const std::size_t i = browser();
    show(i, kSearch, withCommandPage(kSearchEntries));
    set(i, Pin::kPresetNumber, intValue(2));
    post(i, ToGui::kPrevArrowShown);
    post(i, ToGui::kNextArrowShown);
    host_->clearCalls();
    set(i, Pin::kPresetNumber, intValue(0));
    set(i, Pin::kPresetNumber, intValue(103));
    set(i, Pin::kPresetNumber, intValue(110));
    EXPECT_EQ(sent(i), (Sent{{0, ""}, {103, ""}, {110, ""}}));
    EXPECT_TRUE(texts(i, Pin::kPresetName).empty());
    EXPECT_TRUE(texts(i, Pin::kNameSave).empty());
    EXPECT_TRUE(ints(i, Pin::kPresetNumberDisplay).empty());

    // The page turn suppressed the prompt of the next list only.
    post(i, ToGui::kList, joined(withCommandPage(kSearchEntries)));
    EXPECT_TRUE(texts(i, Pin::kPresetName).empty());
    post(i, ToGui::kList, joined(withCommandPage(kSearchEntries)));
    EXPECT_EQ(texts(i, Pin::kPresetName), Texts{kPrompt});

    post(i, ToGui::kPrevArrowHidden);
    post(i, ToGui::kNextArrowHidden);
    host_->clearCalls();
    set(i, Pin::kPresetNumber, intValue(0));
    set(i, Pin::kPresetNumber, intValue(103));
    EXPECT_EQ(texts(i, Pin::kPresetName), (Texts{"<<", ">>"}));
    EXPECT_EQ(ints(i, Pin::kPresetNumberDisplay), (Ints{0, 103}));
}

// The processing half's reports: a loaded entry (0-127) sets the number, display and names; in a
// search view with FixPreset on PresetName shows the folder part, except with the favourites
// filter and 511's location-off; 130 + n in a search view names the stem.
TEST_F(PrescatGuiTest, LoadedEntryReports)
{
    const std::size_t i = browser();
    post(i, ToGui::kShowEntryBase + 1);
    EXPECT_EQ(ints(i, Pin::kPresetNumber), Ints{1});
    EXPECT_EQ(ints(i, Pin::kPresetNumberDisplay), Ints{1});
    EXPECT_EQ(texts(i, Pin::kPresetName), Texts{"Warm Pad"});
    EXPECT_EQ(texts(i, Pin::kNameSave), Texts{"Warm Pad"});

    show(i, kFavourites, withCommandPage(kSearchEntries, kFavouriteOn));
    post(i, ToGui::kFixPresetOn);
    host_->clearCalls();
    post(i, ToGui::kShowEntryBase + 1);
    post(i, ToGui::kFixPresetOnKeepName);
    post(i, ToGui::kShowEntryBase + 2);
    post(i, ToGui::kClearKeepName);
    post(i, ToGui::kShowEntryBase + 3);
    post(i, ToGui::kShowEntryBase + 5);
    EXPECT_EQ(texts(i, Pin::kPresetName), (Texts{"Bass", "Lead One", "Keys", "Solo"}));
    EXPECT_EQ(texts(i, Pin::kNameSave), (Texts{"Fat Bass", "Lead One", "E Piano", "Solo"}));
    EXPECT_TRUE(sent(i).empty());

    host_->clearCalls();
    post(i, ToGui::kSelectBase + 4);
    EXPECT_EQ(ints(i, Pin::kPresetNumber), Ints{4});
    EXPECT_EQ(texts(i, Pin::kPresetName), Texts{"ABCDEFGHIJKLMNOPQRSTUVWXYZ1234"});

    // 500 from the processing half after a delete: the refusal notice, nothing else; the preset
    // stays selected, so the buttons act on it again.
    show(i, kBass, kFolderEntries);
    set(i, Pin::kPresetNumber, intValue(0));
    ScriptedDialogs::instance().reset();
    ScriptedDialogs::instance().pushAlertAnswer(AlertAnswer::Default);
    release(i, Pin::kLoadPreset);
    host_->clearCalls();
    post(i, ToGui::kRemovalDenied);
    ASSERT_EQ(requests().size(), 2u);
    expectNotice(requests()[1], "Removal denied", "Can't delete a factory Preset!");
    EXPECT_TRUE(host_->callsOf(tav_host::CallKind::TransmitPin, i).empty());
    release(i, Pin::kSaveBank);
    release(i, Pin::kLoadPreset);
    EXPECT_EQ(requests().size(), 3u);
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kToggleFavourite, ""}}));
}

// Folder list: names cut at ",", FolderList the whole text, FolderName the current folder's name.
TEST_F(PrescatGuiTest, FolderList)
{
    const std::size_t i = start();
    post(i, ToGui::kFolderNumberBase + 2);
    host_->clearCalls();
    const std::string text = "A,ABCDEFGHIJKLMNOPQRSTUVWXY,ABCDEFGHIJKLMNOPQRSTUVWXYZ,";
    post(i, ToGui::kFolderList, text);
    EXPECT_EQ(texts(i, Pin::kFolderList), Texts{text});
    EXPECT_EQ(texts(i, Pin::kFolderName), Texts{"ABCDEFGHIJKLMNOPQRSTUVWX"});
    for (const auto& [f, expected] : std::vector<std::pair<int, std::string>>{{1, "ABCDEFGHIJKLMNOPQRSTUVWXY"}, {3, ""}, {0, "A"}}) {
        set(i, Pin::kFolderNumber, intValue(f));
        EXPECT_EQ(last(texts(i, Pin::kFolderName)), expected) << f;
    }
    // An empty text changes no name but still writes both pins.
    post(i, ToGui::kFolderList, "");
    EXPECT_EQ(last(texts(i, Pin::kFolderList)), "");
    set(i, Pin::kFolderNumber, intValue(1));
    EXPECT_EQ(last(texts(i, Pin::kFolderName)), "ABCDEFGHIJKLMNOPQRSTUVWXY");
}

// Save-preset panel: opens in "2_SAVED" (made first) offering PresetName, appends ".tavpreset"
// always, asks before replacing (only "Replace" goes ahead; "No" and a box without answer show the
// panel again), then 136 with the path and 129. A cancel sends only an empty path; a path longer
// than 1023 bytes is refused like a cancel.
TEST_F(PrescatGuiTest, SavePresetPanel)
{
    const std::size_t i = browser();
    set(i, Pin::kPresetName, textValue("My Sound"));
    const fs::path saved = presetbase_ / "2_SAVED";
    manager_test::writeBytes(saved / "Old.tavpreset", "old");
    host_->clearCalls();
    auto& dialogs = ScriptedDialogs::instance();
    for (int round = 0; round < 3; ++round)
        dialogs.pushPanelAnswer(saved / "Old");
    dialogs.pushAlertAnswer(AlertAnswer::Default);
    dialogs.pushAlertAnswer(AlertAnswer::Failed);
    dialogs.pushAlertAnswer(AlertAnswer::Alternate);
    release(i, Pin::kSavePreset);
    const auto r = requests();
    ASSERT_EQ(r.size(), 6u);
    for (int k : {0, 2, 4}) {
        EXPECT_EQ(r[k].kind, DialogRequest::Kind::SavePanel);
        EXPECT_EQ(r[k].startFolder, saved);
        EXPECT_EQ(r[k].suggestedName, "My Sound");
        EXPECT_EQ(r[k].fileType, "");
        expectConfirm(r[k + 1], "Save", kReplaceMessage, "No", "Replace");
    }
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kPath, withZero((saved / "Old.tavpreset").string())},
                             {ToAudio::kSavePreset, ""}}));

    // Typed extension is not looked at; a cancel after "No" ends as cancelled.
    host_->clearCalls();
    dialogs.reset();
    dialogs.pushPanelAnswer(folder_ / "x.tavpreset");
    release(i, Pin::kSavePreset);
    dialogs.pushPanelAnswer(saved / "Old");
    dialogs.pushAlertAnswer(AlertAnswer::Default);
    release(i, Pin::kSavePreset);
    EXPECT_EQ(requests().size(), 4u);
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kPath, withZero((folder_ / "x.tavpreset.tavpreset").string())},
                             {ToAudio::kSavePreset, ""},
                             {ToAudio::kPath, withZero("")}}));

    // 1023 bytes with the extension fit; 1024 do not.
    host_->clearCalls();
    const std::string fits = "/" + std::string(1012, 'a');
    dialogs.pushPanelAnswer(fs::path(fits));
    release(i, Pin::kSavePreset);
    dialogs.pushPanelAnswer(fs::path(fits + "b"));
    release(i, Pin::kSavePreset);
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kPath, withZero(fits + ".tavpreset")},
                             {ToAudio::kSavePreset, ""},
                             {ToAudio::kPath, withZero("")}}));
}

// In a search view with FixPreset on and the name not typed, the save panel offers the current
// entry's stem, not its folder.
TEST_F(PrescatGuiTest, SavePresetOffersTheStemInASearchView)
{
    const std::size_t i = browser();
    show(i, kSearch, withCommandPage(kSearchEntries));
    set(i, Pin::kPresetNumber, intValue(1));
    set(i, Pin::kFixPreset, boolValue(true));
    EXPECT_EQ(name(i), "Bass");
    release(i, Pin::kSavePreset);
    EXPECT_EQ(name(i), "Fat Bass");
    EXPECT_EQ(requests().back().suggestedName, "Fat Bass");

    // A typed name is kept.
    set(i, Pin::kPresetName, textValue("Own"));
    release(i, Pin::kSavePreset);
    EXPECT_EQ(requests().back().suggestedName, "Own");
}

// A name shown with look-alikes of "," and ";" (U+201A, U+037E) is offered in the save panel as
// its file's own name.
TEST_F(PrescatGuiTest, SavePanelOffersTheFilesOwnCommas)
{
    const std::size_t i = browser();
    show(i, kBass, {{0, "Pad\xE2\x80\x9A warm"}, {1, "Tone\xCD\xBE soft #pa"}});
    set(i, Pin::kPresetNumber, intValue(1));
    EXPECT_EQ(name(i), "Tone\xCD\xBE soft");
    release(i, Pin::kSavePreset);
    EXPECT_EQ(requests().back().suggestedName, "Tone; soft");
    set(i, Pin::kPresetNumber, intValue(0));
    release(i, Pin::kSavePreset);
    EXPECT_EQ(requests().back().suggestedName, "Pad, warm");
}

// Bank import: the open panel in "TAVRIN ONE/Presetbase/Banks" for ".tavbank", 136 and 131, then
// the save-bank panel in "TAVRIN TWO/Presetbase" offering the bank's name without folder and
// extension, asking before replacing an existing folder, then 136 and 132. Message 128 then reads
// that bank's names into the list.
TEST_F(PrescatGuiTest, BankImportAndItsNames)
{
    const std::size_t i = browser();
    const fs::path bank = folder_ / "in" / "Imported Set.v2.tavbank";
    manager_test::writeBytes(bank, manager_test::bankText(manager_test::namesWith({{0, "Init Bass"}, {1, "Soft Strings"}})));
    fs::create_directories(presetbase_ / "Imported Set.v2");
    auto& dialogs = ScriptedDialogs::instance();
    dialogs.pushPanelAnswer(bank);
    dialogs.pushPanelAnswer(presetbase_ / "Imported Set.v2");
    dialogs.pushAlertAnswer(AlertAnswer::Alternate);
    release(i, Pin::kLoadBank);
    const auto r = requests();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].kind, DialogRequest::Kind::OpenPanel);
    EXPECT_EQ(r[0].startFolder, bankFolder_);
    EXPECT_EQ(r[0].fileType, "tavbank");
    EXPECT_EQ(r[1].kind, DialogRequest::Kind::SavePanel);
    EXPECT_EQ(r[1].startFolder, presetbase_);
    EXPECT_EQ(r[1].suggestedName, "Imported Set.v2");
    EXPECT_EQ(r[1].fileType, "");
    expectConfirm(r[2], "Save", kReplaceMessage, "No", "Replace");
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kPath, withZero(bank.string())},
                             {ToAudio::kLoadBank, ""},
                             {ToAudio::kPath, withZero((presetbase_ / "Imported Set.v2").string())},
                             {ToAudio::kSaveBankFolder, ""}}));

    // The bank's names: entry 0 current (it was already: GuiUpdate pulses), its name shown.
    host_->clearCalls();
    set(i, Pin::kNameSave, textValue(""));
    post(i, ToGui::kReloadStartupNames);
    EXPECT_EQ(last(texts(i, Pin::kPresetList)), joined({{0, "Init Bass"}, {1, "Soft Strings"}}));
    EXPECT_EQ(name(i), "Init Bass");
    EXPECT_EQ(values(i, Pin::kGuiUpdate), (std::vector<tav_host::Bytes>{boolValue(true), boolValue(false)}));
    // A kept name replaces the current entry's name.
    host_->clearCalls();
    set(i, Pin::kPresetNumber, intValue(1));
    set(i, Pin::kNameSave, textValue("Kept Name"));
    post(i, ToGui::kReloadStartupNames);
    EXPECT_EQ(ints(i, Pin::kPresetNumber), Ints{0});
    EXPECT_TRUE(values(i, Pin::kGuiUpdate).empty());
    EXPECT_EQ(last(texts(i, Pin::kPresetList)), joined({{0, "Kept Name"}, {1, "Soft Strings"}}));
    EXPECT_EQ(name(i), "Kept Name");

    // A bank that cannot be read: only the kept name goes on PresetName and into the list.
    fs::remove(bank);
    host_->clearCalls();
    set(i, Pin::kNameSave, textValue("Other Kept"));
    post(i, ToGui::kReloadStartupNames);
    EXPECT_TRUE(ints(i, Pin::kPresetNumber).empty());
    EXPECT_EQ(texts(i, Pin::kPresetName), Texts{"Other Kept"});
    EXPECT_EQ(texts(i, Pin::kPresetList), Texts{joined({{0, "Other Kept"}, {1, "Soft Strings"}})});
    manager_test::writeBytes(bank, "x");

    // A cancelled save-bank panel: the empty path and no 132.
    host_->clearCalls();
    dialogs.pushPanelAnswer(bank);
    dialogs.pushPanelCancel();
    release(i, Pin::kLoadBank);
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kPath, withZero(bank.string())},
                             {ToAudio::kLoadBank, ""},
                             {ToAudio::kPath, withZero("")}}));
}

// Delete in the saved views deletes even with the favourites filter on.
TEST_F(PrescatGuiTest, DeleteInSavedViewWithFilter)
{
    const std::size_t i = browser();
    show(i, kSaved, withCommandPage(kSearchEntries, kFavouriteOn));
    set(i, Pin::kPresetNumber, intValue(2));
    ScriptedDialogs::instance().pushAlertAnswer(AlertAnswer::Default);
    host_->clearCalls();
    release(i, Pin::kLoadPreset);
    ASSERT_EQ(requests().size(), 1u);
    expectConfirm(requests()[0], "Delete Preset", "Really delete this preset?");
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kDeletePreset, ""}}));
}

} // namespace
