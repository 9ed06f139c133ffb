// The category manager's operations that no pin or message reaches, called on the module objects
// the stand-in host made: the interface half's own file work, names and panels, and the processing
// half's bank names, start-over and tree listing. Files, messages and pins are asserted as bytes.
#include "CategoryBrowser/PrescatOperations.h"
#include "CategoryBrowser/PrescatTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using manager_test::last;
using manager_test::presetText;
using manager_test::readBytes;
using manager_test::writeBytes;
using platform::AlertAnswer;
using platform::DialogRequest;
using platform::ScriptedDialogs;
using prescat::ToGui;
using prescat::ToAudio;
using Sent = std::vector<std::pair<int, std::string>>;

std::string withZero(const std::string& text) { return text + std::string(1, '\0'); }
tav_host::Bytes payload(const std::string& text)
{
    tav_host::Bytes bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

// Values that print exactly with 7 decimals and differ from preset to preset.
float bankValue(int p, int k) { return static_cast<float>(p) * 0.5f + static_cast<float>(k) * 0.25f; }

class PrescatInterfaceOperations : public manager_test::ManagerGuiTest {
protected:
    PrescatInterfaceOperations() : ManagerGuiTest("QV_PatchManagerPrescat") {}

    prescat::InterfaceOperations& ops() { return *dynamic_cast<prescat::InterfaceOperations*>(interfaceOnly_.made); }
    void post(std::size_t i, int id, const std::string& text)
    {
        host_->postToGui(i, id, payload(text));
        host_->drain();
    }
    // A started interface half showing the folder "Bass" with these names; calls cleared.
    std::size_t showing(const std::string& list)
    {
        const std::size_t i = start();
        post(i, ToGui::kFolderList, "Bass");
        post(i, ToGui::kList, list);
        host_->clearCalls();
        return i;
    }
    static std::string namesAfter(const std::string& first)
    {
        std::string text = first;
        for (int k = static_cast<int>(std::count(first.begin(), first.end(), ',')) + 1; k < 128; ++k)
            text += ",empty";
        return text;
    }
    std::string shown(std::size_t i, int pin) const { return last(texts(i, pin)); }

    fs::path presetbase_ = folder_ / "Quorvane" / "TAVRIN TWO" / "Presetbase";
};

// FixPreset names the current entry from PresetName, shows it on the list and NameSave, then sends
// 133 with the name list and 130; SaveList sends the list alone; ReadNamesavePin puts a non-empty
// NameSave on PresetName.
TEST_F(PrescatInterfaceOperations, NamesAndTheirMessages)
{
    const std::size_t i = showing("Warm,Cold");
    host_->guiSetPin(i, manager_test::kPresetNumber, tav_host::intValue(1));
    host_->guiSetPin(i, manager_test::kPresetName, tav_host::textValue("Dark Pad"));
    host_->clearCalls();
    ops().FixPreset();
    const std::string list = namesAfter("Warm,Dark Pad");
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kUnusedNameList, withZero(list)}, {ToAudio::kFixPreset, ""}}));
    EXPECT_EQ(shown(i, manager_test::kPresetList), list);
    EXPECT_EQ(shown(i, manager_test::kNameSave), "Dark Pad");
    host_->clearCalls();
    ops().SaveList();
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kUnusedNameList, withZero(list)}}));

    host_->guiSetPin(i, manager_test::kNameSave, tav_host::textValue(""));
    host_->clearCalls();
    ops().ReadNamesavePin();
    EXPECT_TRUE(texts(i, manager_test::kPresetName).empty());
    host_->guiSetPin(i, manager_test::kNameSave, tav_host::textValue("Kept"));
    ops().ReadNamesavePin();
    EXPECT_EQ(texts(i, manager_test::kPresetName), std::vector<std::string>{"Kept"});
    EXPECT_TRUE(sent(i).empty());
}

// openpresetfilename opens in "TAVRIN TWO/Presetbase/Presets" for ".tavpreset" and creates no
// folder; SavePath sends its path, one zero byte after a cancel. savefavouritesfilename offers
// PresetName in the first favourites folder with room ("3_FAVOURITES", then "_01" ... "_10" ...),
// creates it, appends ".tavpreset" and asks before replacing.
TEST_F(PrescatInterfaceOperations, PanelsAndThePath)
{
    const std::size_t i = showing("Warm");
    auto& dialogs = ScriptedDialogs::instance();
    const fs::path chosen = folder_ / "in" / "Pad.tavpreset";
    dialogs.pushPanelAnswer(chosen);
    ops().openpresetfilename();
    ops().SavePath();
    dialogs.pushPanelCancel();
    ops().openpresetfilename();
    ops().SavePath();
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kPath, withZero(chosen.string())}, {ToAudio::kPath, withZero("")}}));
    auto r = dialogs.requests();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].kind, DialogRequest::Kind::OpenPanel);
    EXPECT_EQ(r[0].startFolder, presetbase_ / "Presets");
    EXPECT_EQ(r[0].fileType, "tavpreset");
    EXPECT_FALSE(fs::exists(presetbase_));
    EXPECT_FALSE(fs::exists(folder_ / "Quorvane" / "TAVRIN ONE"));

    const auto fill = [&](const std::string& name, int files) {
        for (int f = 0; f < files; ++f)
            writeBytes(presetbase_ / name / ("p" + std::to_string(f) + ".tavpreset"), "");
    };
    fill("3_FAVOURITES", 128);
    writeBytes(presetbase_ / "3_FAVOURITES" / "notes.txt", "");
    for (int n = 1; n <= 9; ++n)
        fill("3_FAVOURITES_0" + std::to_string(n), 128);
    host_->guiSetPin(i, manager_test::kPresetName, tav_host::textValue("Warm Pad"));
    host_->clearCalls();
    dialogs.reset();
    dialogs.pushPanelAnswer(presetbase_ / "3_FAVOURITES_10" / "Warm Pad");
    ops().savefavouritesfilename();
    ops().SavePath();
    EXPECT_TRUE(fs::is_directory(presetbase_ / "3_FAVOURITES_10"));
    EXPECT_FALSE(fs::exists(presetbase_ / "3_FAVOURITES_010"));

    fs::remove(presetbase_ / "3_FAVOURITES" / "p7.tavpreset");
    fs::remove(presetbase_ / "3_FAVOURITES" / "p8.tavpreset");
    writeBytes(presetbase_ / "3_FAVOURITES" / "Warm Pad.tavpreset", "");
    dialogs.pushPanelAnswer(presetbase_ / "3_FAVOURITES" / "Warm Pad");
    dialogs.pushAlertAnswer(AlertAnswer::Alternate);
    ops().savefavouritesfilename();
    ops().SavePath();
    EXPECT_EQ(sent(i), (Sent{{ToAudio::kPath, withZero((presetbase_ / "3_FAVOURITES_10" / "Warm Pad.tavpreset").string())},
                             {ToAudio::kPath, withZero((presetbase_ / "3_FAVOURITES" / "Warm Pad.tavpreset").string())}}));
    r = dialogs.requests();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].kind, DialogRequest::Kind::SavePanel);
    EXPECT_EQ(r[0].startFolder, presetbase_ / "3_FAVOURITES_10");
    EXPECT_EQ(r[0].suggestedName, "Warm Pad");
    EXPECT_EQ(r[1].startFolder, presetbase_ / "3_FAVOURITES");
    EXPECT_EQ(r[2].kind, DialogRequest::Kind::Confirm);
    EXPECT_EQ(r[2].title, "Save");
    EXPECT_EQ(r[2].message, "A file with the same name already exists.\nDo you want to replace it?");
    EXPECT_EQ(r[2].defaultButton, "No");
    EXPECT_EQ(r[2].alternateButton, "Replace");
}

// Both save panels offer the current row's file name as it is on disk: look-alikes that stand
// for "," and ";" as those, a file's own U+201A, U+037E and ESC (sent after an ESC) as themselves;
// a typed name as it stands. Folder names show their own characters without the escapes.
TEST_F(PrescatInterfaceOperations, SavePanelsOfferTheFilesOwnName)
{
    const std::string comma = "\xE2\x80\x9A", semicolon = "\xCD\xBE", esc = "\x1B";
    const std::size_t i = showing("");
    post(i, ToGui::kList, namesAfter("Pad" + comma + " warm #fav,Pad" + esc + comma + " warm,Tone" + semicolon + esc +
                                     semicolon + esc + esc));
    const std::vector<std::pair<std::string, std::string>> rows = {
        {".Pad" + comma + " warm", "Pad, warm"}, {"Pad" + comma + " warm", "Pad" + comma + " warm"},
        {"Tone" + semicolon + semicolon + esc, "Tone;" + semicolon + esc}};
    EXPECT_EQ(shown(i, manager_test::kPresetList),
              namesAfter(rows[0].first + "," + rows[1].first + "," + rows[2].first));
    auto& dialogs = ScriptedDialogs::instance();
    const auto offers = [&] {
        std::vector<std::string> names;
        dialogs.reset();
        dialogs.pushPanelCancel();
        release(i, manager_test::kSavePreset);
        dialogs.pushPanelCancel();
        ops().savefavouritesfilename();
        for (const auto& r : dialogs.requests())
            names.push_back(r.suggestedName);
        return names;
    };
    for (int k = 0; k < 3; ++k) {
        host_->guiSetPin(i, manager_test::kPresetNumber, tav_host::intValue(k));
        EXPECT_EQ(offers(), (std::vector<std::string>(2, rows[k].second))) << k;
    }
    host_->guiSetPin(i, manager_test::kPresetName, tav_host::textValue("Typed" + comma));
    EXPECT_EQ(offers(), (std::vector<std::string>(2, "Typed" + comma)));

    post(i, ToGui::kFolderList, "Bass" + esc + comma + ",Keys" + comma);
    EXPECT_EQ(shown(i, 15), "Bass" + comma + ",Keys" + comma);
}

// At the last path (an accepted save-preset panel, then a bank import): LoadPreset reads a preset
// file into the current entry's name and the edit buffer, SavePreset writes the same bytes back;
// LoadBank reads a bank into the names and bank copy without putting NameSave back, SaveBank
// writes the same bytes back. A missing file changes nothing.
TEST_F(PrescatInterfaceOperations, PresetAndBankFilesAtTheLastPath)
{
    const std::size_t i = showing("Warm,Cold,Soft");
    auto& dialogs = ScriptedDialogs::instance();
    host_->guiSetPin(i, manager_test::kPresetNumber, tav_host::intValue(2));
    dialogs.pushPanelAnswer(folder_ / "files" / "Bright");
    release(i, manager_test::kSavePreset);
    const fs::path presetFile = folder_ / "files" / "Bright.tavpreset";
    host_->clearCalls();
    ops().LoadPreset();
    EXPECT_TRUE(texts(i, manager_test::kPresetName).empty());

    const auto edit = prescat_test::valuesOf([](int k) { return bankValue(3, k); });
    const std::string presetBytes = presetText("Night Sky", edit);
    writeBytes(presetFile, presetBytes);
    ops().LoadPreset();
    EXPECT_EQ(shown(i, manager_test::kPresetName), "Night Sky");
    EXPECT_EQ(shown(i, manager_test::kNameSave), "Night Sky");
    EXPECT_EQ(shown(i, manager_test::kPresetList), namesAfter("Warm,Cold,Night Sky"));
    EXPECT_EQ(values(i, manager_test::kGuiUpdate), (std::vector<tav_host::Bytes>{tav_host::boolValue(true), tav_host::boolValue(false)}));
    fs::remove(presetFile);
    ops().SavePreset();
    EXPECT_EQ(readBytes(presetFile), presetBytes);

    const fs::path bankFile = folder_ / "in" / "Set.tavbank";
    const auto names = manager_test::numberedNames("Pad ");
    const std::string bankBytes = manager_test::bankText(names, bankValue);
    writeBytes(bankFile, bankBytes);
    dialogs.pushPanelAnswer(bankFile);
    dialogs.pushPanelCancel();
    release(i, manager_test::kLoadBank);
    host_->guiSetPin(i, manager_test::kNameSave, tav_host::textValue("Kept"));
    host_->clearCalls();
    ops().LoadBank();
    EXPECT_EQ(values(i, manager_test::kPresetNumber), std::vector<tav_host::Bytes>{tav_host::intValue(0)});
    EXPECT_EQ(texts(i, manager_test::kPresetName), std::vector<std::string>{"Pad 0"});
    EXPECT_TRUE(values(i, manager_test::kGuiUpdate).empty());
    std::string list = "Pad 0";
    for (int p = 1; p < 128; ++p)
        list += ",Pad " + std::to_string(p);
    EXPECT_EQ(shown(i, manager_test::kPresetList), list);
    fs::remove(bankFile);
    ops().SaveBank();
    EXPECT_TRUE(readBytes(bankFile) == bankBytes);
    EXPECT_TRUE(sent(i).empty());
}

class PrescatProcessingOperations : public prescat_test::PrescatTest {
protected:
    prescat::ProcessingOperations& ops() { return *dynamic_cast<prescat::ProcessingOperations*>(factory_.made); }
};

// LoadNames takes the names line of the bank file at the file path for the names a bank folder is
// written with, keeping the imported values. LoadStartupBank
// leaves no bank to write and resends the folder's list.
TEST_F(PrescatProcessingOperations, BankNamesAndStartingOver)
{
    preset("Presets/Lead.tavpreset");
    const fs::path bankFile = shared_.path() / "some.tavbank";
    writeBytes(bankFile, manager_test::bankText(manager_test::numberedNames("Bank "), bankValue));
    start();
    interfaceStarted();
    post(prescat::kPath, bankFile.string());
    post(prescat::kLoadBank);
    writeBytes(bankFile, manager_test::bankText(manager_test::numberedNames("Named ")));  // values not read
    post(prescat::kPath, bankFile.string());  // the file path names the bank file; no folder is made of a file
    post(prescat::kSaveBankFolder);
    clear();
    ops().LoadNames();
    settle();
    EXPECT_TRUE(posted().empty());
    const fs::path target = root_ / "MyBank";
    post(prescat::kPath, target.string());
    post(prescat::kSaveBankFolder);
    EXPECT_EQ(readBytes(target / "#002 Named 1.tavpreset"), presetText("Named 1", prescat_test::valuesOf([](int k) { return bankValue(1, k); })));

    clear();
    ops().LoadStartupBank();
    settle();
    EXPECT_EQ(posted(), (std::vector<prescat_test::Posted>{prescat_test::bare(130), {129, prescat_test::listOf({"Lead"})}}));
    post(prescat::kPath, (root_ / "Zero").string());
    post(prescat::kSaveBankFolder);
    EXPECT_FALSE(fs::exists(root_ / "Zero"));
}

// SaveListSearch lists the whole tree below the folder shown, category tags, "--" names and
// sub-folders included, empty bank slots left out, sorted by whole index entry (display first),
// and shows the first 128 of that order by their paths below the library root.
TEST_F(PrescatProcessingOperations, SaveListSearchListsTheTreeSorted)
{
    preset("Presets/#002 Beta #pa.tavpreset");
    preset("Presets/Alpha--x.tavpreset");
    preset("Presets/Sub/Gamma #fav.tavpreset");
    preset("Presets/#003 empty.tavpreset");
    writeBytes(root_ / "Presets" / "note.txt", "");
    for (int f = 0; f < 130; ++f) {
        char name[40];
        std::snprintf(name, sizeof name, "Many/#%03d N%03d.tavpreset", f, 129 - f);
        preset(name);
    }
    start();
    interfaceStarted();
    post(prescat::kFolderBase + 1);  // "Presets", after "Many"
    clear();
    ops().SaveListSearch();
    settle();
    EXPECT_EQ(posted(), (std::vector<prescat_test::Posted>{
                            prescat_test::bare(130),
                            {129, prescat_test::listOf({"Presets/Alpha--x", "Presets/#002 Beta #pa", "Presets/Sub/Gamma #fav"})}}));

    post(prescat::kFolderBase + 0);
    clear();
    ops().SaveListSearch();
    settle();
    const auto list = lastList();
    ASSERT_EQ(list.size(), 128u);
    EXPECT_EQ(list[0], "Many/#129 N000");
    EXPECT_EQ(list[127], "Many/#002 N127");
}

} // namespace
