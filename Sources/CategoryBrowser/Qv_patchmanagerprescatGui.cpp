// Interface half of the category preset manager: turns the buttons, the FixPreset toggle, the
// typed name or search text and the chosen folder into commands for the processing half; runs the
// file panels and the confirmation boxes; keeps the names of the list now shown and the folder
// names, and writes the selection, command values, names and list texts on its pins for the list
// and folder views.
#include "CategoryBrowser/CategoryListDisplay.h"
#include "CategoryBrowser/PrescatMessages.h"
#include "CategoryBrowser/PrescatOperations.h"
#include "CategoryBrowser/PresetLibrary.h"
#include "Common/PayloadText.h"
#include "Common/PinText.h"
#include "Dialogs.h"
#include "GuiButtons.h"
#include "MpInterface.h"
#include "PresetStore/ListManagerGui.h"
#include "PresetStore/PresetBank.h"
#include "SharedFolder.h"
#include "Utf8.h"

#include <array>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

using namespace prescat;
namespace fs = std::filesystem;

class Qv_patchmanagerprescatGui : public MpGuiBase, public InterfaceOperations {
public:
    enum Pin {
        kPresetNumber, kPresetList, kPresetName, kLoadPreset, kSavePreset, kFixPreset, kLoadBank, kSaveBank,
        kId, kAutoPath, kPathPC, kPathMac, kGuiUpdate, kNameSave, kFolderNumber, kFolderList, kFolderName,
        kPresetNumberDisplay,
    };
    static constexpr int32_t kNothingSelected = 130;  // PresetNumber while no row is selected
    static constexpr int32_t kSelectionCleared = 180; // written before kNothingSelected
    static constexpr int32_t kBlankRow = 106;         // written before the first category row
    // A message id from here on is a command value for PresetNumber (id - base; 710 gives 110).
    static constexpr int32_t kCommandValueBase = ToGui::kCategoryRowBase - kCategoryRow;
    static constexpr std::size_t kNameBytes = 49;     // name table slots and search text
    static constexpr std::size_t kSavedNameBytes = 99;
    static constexpr std::size_t kPathBytes = 1023;
    static constexpr std::size_t kNameListBytes = 3999;
    static constexpr int kSaveRounds = 100;           // panel and replace question, at most

    Qv_patchmanagerprescatGui()
    {
        initializePin(kPresetNumber, presetNumber_, &Qv_patchmanagerprescatGui::onSetPresetNumber);
        initializePin(kPresetList, presetList_, &Qv_patchmanagerprescatGui::onSetOutput);
        initializePin(kPresetName, presetName_, &Qv_patchmanagerprescatGui::onSetPresetName);
        initializePin(kLoadPreset, deletePin_, &Qv_patchmanagerprescatGui::onSetLoadPreset);
        initializePin(kSavePreset, savePresetPin_, &Qv_patchmanagerprescatGui::onSetSavePreset);
        initializePin(kFixPreset, fixPreset_, &Qv_patchmanagerprescatGui::onSetFixPreset);
        initializePin(kLoadBank, loadBankPin_, &Qv_patchmanagerprescatGui::onSetLoadBank);
        initializePin(kSaveBank, favouritePin_, &Qv_patchmanagerprescatGui::onSetSaveBank);
        initializePin(kId, id_, &Qv_patchmanagerprescatGui::onSetOutput);
        initializePin(kAutoPath, autoPath_, &Qv_patchmanagerprescatGui::onSetOutput);
        initializePin(kPathPC, pathPC_, &Qv_patchmanagerprescatGui::onSetOutput);
        initializePin(kPathMac, pathMac_, &Qv_patchmanagerprescatGui::onSetOutput);
        initializePin(kGuiUpdate, guiUpdate_, &Qv_patchmanagerprescatGui::onSetOutput);
        initializePin(kNameSave, nameSave_, &Qv_patchmanagerprescatGui::onSetOutput);
        initializePin(kFolderNumber, folderNumber_, &Qv_patchmanagerprescatGui::onSetFolderNumber);
        initializePin(kFolderList, folderList_, &Qv_patchmanagerprescatGui::onSetOutput);
        initializePin(kFolderName, folderName_, &Qv_patchmanagerprescatGui::onSetOutput);
        initializePin(kPresetNumberDisplay, presetNumberDisplay_, &Qv_patchmanagerprescatGui::onSetOutput);
    }

    int32_t initialize() noexcept override
    {
        send(ToAudio::kInterfaceStarted);
        return mpapi::MP_RESULT_OK;
    }

    // Pins the module only writes, or whose values are read when another handler runs.
    void onSetOutput() {}

    // A selection or a command value from the list view. Only list positions 0-127 go to the
    // processing half: values such as 130 or 180, which this half itself writes, are message ids
    // of other commands there.
    void onSetPresetNumber()
    {
        const int32_t n = presetNumber_.getValue();
        const bool position = n >= 0 && n < kEntries;
        // Page arrows and command rows are not presets.
        presetChosen_ = position && !(searchView_ && (isActiveArrow(n) || n > kNextArrowRow));
        if (position) {
            firstSelect_ = true;
            selectionPending_ = false;
            selectionFolder_ = currentFolder_;
            selectionChosen_ = presetChosen_;
        }
        if (searchView_ && n >= kFirstCommandRow && n < kEntries)
            saveName_ = false;
        if (firstSelect_ && position) {
            send(n);
            nameEdited_ = false;
            const bool arrow = searchView_ && isActiveArrow(n);
            if (!arrow)
                current_ = n;
            const std::string shown = shownName(current_);
            if (!(searchView_ && (arrow || n > kNextArrowRow))) {
                setText(presetName_, shown);
                setText(nameSave_, shown);
                savedName_ = pin_text::cutAtCharBoundary(shown, kSavedNameBytes);
            }
            if (arrow)
                noPrompt_ = true;
        }
        if (!searchView_) {
            presetNumberDisplay_ = current_;
            savedName_ = pin_text::cutAtCharBoundary(names_[current_], kSavedNameBytes);
        } else if (n <= kNextArrowRow) {
            presetNumberDisplay_ = current_;
        }
    }

    // The typed name made fit for a file name; in a search view on the command page it is the
    // search text. A text that cannot be written as UTF-8 is passed over.
    void onSetPresetName()
    {
        std::optional<std::string> typed = pinText(presetName_);
        if (!typed)
            return;
        std::string& name = *typed;
        bool changed = false;
        for (char& c : name)
            if (c == '\n' || c == '"' || c == ',' || c == '/' || c == ':' || c == ';' || c == '<' || c == '\\' || c == '|') {
                c = ' ';
                changed = true;
            }
        const std::string_view cut = display::firstChars(name, display::kDisplayChars);
        if (cut.size() < name.size()) {
            name.resize(cut.size());
            changed = true;
        }
        if (changed)
            setText(presetName_, name);
        if (searchView_ && presetNumber_.getValue() >= kFirstCommandRow && !saveName_)
            sendText(ToAudio::kSearchText, pin_text::cutAtCharBoundary(name, kNameBytes));
        nameEdited_ = true;
    }

    // The delete button: a confirmed delete, a favourite removed, or a pointer to the original.
    // With no preset selected it does nothing. After a delete the row holds another preset: the
    // next report of the current entry shows nothing selected.
    void onSetLoadPreset()
    {
        if (!deleteButton_.released(deletePin_.getValue()) || !presetChosen_)
            return;
        if ((!searchView_ && !favouritesFilter_) || deleteHere_) {
            if (confirmed("Delete Preset", "Really delete this preset?")) {
                send(ToAudio::kDeletePreset);
                dropChosen();
                firstSelect_ = false;
            }
        } else if (favouritesFilter_) {
            if (confirmed("Remove Favourite", "Remove preset from favourites list?"))
                send(ToAudio::kToggleFavourite);
        } else {
            platform::alerts().notice("Delete Preset", "Please delete this preset in its original place", "OK");
        }
    }

    void onSetSavePreset()
    {
        if (!savePresetButton_.released(savePresetPin_.getValue()))
            return;
        if (searchView_ && !savedView_ && fixPreset_.getValue() && !nameEdited_)
            setText(presetName_, std::string(display::stem(names_[current_])));
        const fs::path folder = presetbase() / "2_SAVED";
        std::error_code ignored;
        fs::create_directories(folder, ignored);
        runSavePanel(folder, offeredName(), ".tavpreset");
        sendPanelPath();
        if (panelAccepted_) {
            justSaved_ = saveName_ = true;
            lastPath_ = panelPath_;
            send(ToAudio::kSavePreset);
        }
    }

    // Acts at every notification. The processing half's answer to 400 may switch the toggle off,
    // so the pin is read again after sending it.
    void onSetFixPreset()
    {
        justSaved_ = searchView_;
        if (fixPreset_.getValue()) {
            send(ToAudio::kTimeOrderOn);
            if (!fixPreset_.getValue())
                send(ToAudio::kTimeOrderOff);
        } else {
            send(ToAudio::kTimeOrderOff);
        }
        if (searchView_ && !savedView_ && presetNumber_.getValue() <= kNextArrowRow) {
            const std::string_view entry = names_[current_];
            if (fixPreset_.getValue() && display::hasFolderPart(entry))
                setText(presetName_, std::string(display::folderPart(entry)));
            else if (!fixPreset_.getValue() && display::hasFolderPart(entry))
                setText(presetName_, std::string(display::stem(entry)));
        }
    }

    // Bank import: the bank file, then the folder its presets are written into.
    void onSetLoadBank()
    {
        if (!loadBankButton_.released(loadBankPin_.getValue()))
            return;
        takePanel(platform::filePanels().chooseFileToOpen(platform::sharedFolder() / "Quorvane" / "TAVRIN ONE" /
                                                              "Presetbase" / "Banks",
                                                          "tavbank"));
        sendPanelPath();
        if (!panelAccepted_)
            return;
        lastPath_ = panelPath_;
        bankName_ = pin_text::cutAtCharBoundary(fs::path(panelPath_).stem().string(), kSavedNameBytes);
        send(ToAudio::kLoadBank);
        runSavePanel(presetbase(), bankName_, "");
        sendPanelPath();
        if (panelAccepted_)
            send(ToAudio::kSaveBankFolder);
    }

    // The favourite button, for the selected preset only; removing a favourite asks first, and
    // only a "Yes" goes ahead.
    void onSetSaveBank()
    {
        if (!favouriteButton_.released(favouritePin_.getValue()) || !presetChosen_)
            return;
        if (favouritesFilter_ && !confirmed("Remove Favourite", "Remove preset from favourites list?"))
            return;
        if (searchView_)
            noPrompt_ = true;
        send(ToAudio::kToggleFavourite);
    }

    void onSetFolderNumber()
    {
        const int32_t f = folderNumber_.getValue();
        if (f < 0 || f >= kFolders)
            return;
        // A selection dropped in its folder (its row now holds another preset) is not shown again.
        const bool reselect = f == selectionFolder_ && selectionChosen_ && presetNumber_.getValue() == kNothingSelected;
        if (!reselect && presetNumber_.getValue() < kEntries) {
            selectionFolder_ = currentFolder_;
            selectionChosen_ = presetChosen_;
        }
        presetChosen_ = reselect;
        favouritesFilter_ = deleteHere_ = saveName_ = unmarkedFavourites_ = locationOff_ = false;
        send(ToAudio::kFolderBase + f);
        currentFolder_ = f;
        firstSelect_ = false;
        setText(folderName_, folders_[f]);
        if (reselect) {
            presetNumber_ = current_;
            firstSelect_ = true;
        }
    }

    int32_t receiveMessageFromAudio(int32_t id, int32_t size, void* data) noexcept override
    {
        try {
            receive(id, payload::text(size, data));
        } catch (...) {
            // Nothing escapes to the host: a message that cannot be handled is passed over.
        }
        return mpapi::MP_RESULT_OK;
    }

private:
    void receive(int32_t id, std::string_view text)
    {
        if (id >= ToGui::kShowEntryBase && id < ToGui::kShowEntryBase + kEntries) {
            showLoadedEntry(id - ToGui::kShowEntryBase);
        } else if (id == ToGui::kReloadStartupNames) {
            LoadStartupBank();
        } else if (id == ToGui::kList) {
            readListForView(text);
        } else if (id >= ToGui::kSelectBase && id < ToGui::kSelectBase + kEntries) {
            showCurrentEntry(id - ToGui::kSelectBase);
        } else if (id == ToGui::kGuiUpdatePulse) {
            pulseGuiUpdate();
        } else if (id == ToGui::kFolderList) {
            ReadFolder(text);
        } else if (id >= ToGui::kFolderNumberBase && id < ToGui::kFolderNumberBase + kFolders) {
            folderNumber_ = id - ToGui::kFolderNumberBase;
            currentFolder_ = id - ToGui::kFolderNumberBase;
        } else if (id >= kCommandValueBase) {
            presetNumber_ = id - kCommandValueBase;
            dropChosen();
        } else {
            receiveFlag(id);
        }
    }

    void receiveFlag(int32_t id)
    {
        switch (id) {
        // The delete was refused: the preset stays, and so does its selection.
        case ToGui::kRemovalDenied:
            platform::alerts().notice("Removal denied", "Can't delete a factory Preset!", "OK");
            presetChosen_ = firstSelect_ = true;
            if (currentFolder_ == selectionFolder_)
                selectionChosen_ = true;
            break;
        case ToGui::kClearFirstSelect: firstSelect_ = false; break;
        case ToGui::kPrevArrowShown: leftArrow_ = true; break;
        case ToGui::kPrevArrowHidden: leftArrow_ = false; break;
        case ToGui::kNextArrowShown: rightArrow_ = true; break;
        case ToGui::kNextArrowHidden: rightArrow_ = false; break;
        case ToGui::kFavouritesInTimeOrder: unmarkedFavourites_ = true; break;
        case ToGui::kSearchViewFlag: searchView_ = true; break;
        // Two writes each, so that the final value arrives as a change even when the pin held it.
        case ToGui::kDropSelection:
            presetNumber_ = kSelectionCleared;
            presetNumber_ = kNothingSelected;
            dropChosen();
            break;
        case ToGui::kViewSwitched:
            dropChosen();
            presetNumber_ = kBlankRow;
            presetNumber_ = kCategoryRow;
            break;
        case ToGui::kFixPresetOn: fixPreset_ = true; break;
        case ToGui::kFixPresetOnKeepName:
            fixPreset_ = true;
            locationOff_ = true;
            break;
        case ToGui::kClearKeepName: locationOff_ = false; break;
        default: break;
        }
    }

    // The processing half loaded entry n.
    void showLoadedEntry(int n)
    {
        presetChosen_ = true;
        presetNumber_ = n;
        presetNumberDisplay_ = n;
        current_ = n;
        const std::string shown = shownName(n);
        if (searchView_ && fixPreset_.getValue() && !savedView_ && !(favouritesFilter_ && locationOff_)) {
            const std::string_view entry = names_[n];
            setText(presetName_, display::hasFolderPart(entry) ? display::folderPart(entry) : entry);
        } else {
            setText(presetName_, shown);
        }
        setText(nameSave_, shown);
    }

    // The processing half's current entry. After a folder choice the first report only says that
    // nothing is selected yet, and re-arms the selection.
    void showCurrentEntry(int n)
    {
        if (!firstSelect_) {
            presetNumber_ = kNothingSelected;
            selectionPending_ = true;
            firstSelect_ = true;
            dropChosen();
            return;
        }
        if (n != current_)
            dropChosen();
        nameEdited_ = false;
        presetNumber_ = n;
        current_ = n;
        presetNumberDisplay_ = n;
        selectionPending_ = false;
        if (searchView_) {
            const std::string shown(display::stem(names_[n]));
            setText(presetName_, shown);
            setText(nameSave_, shown);
        }
    }

    // The view follows the current folder's name.
    void readListForView(std::string_view text)
    {
        const std::string& folder = folders_[currentFolder_];
        const bool contained = folder.find("_EE_") != std::string::npos;
        if (folder == "3_SEARCH" || folder == "3_FAVOURITES")
            setView(true, false, false);
        else if (contained)
            setView(true, true, true);
        else if (folder == "3_SEARCHSAVED")
            setView(true, true, false);
        else if (folder == "2_SAVED" || folder == "3_RELOADS")
            setView(true, true, true);
        else
            setView(false, false, false);
        if (searchView_)
            ReadListSearch(text);
        else
            ReadList(text);
    }

    void setView(bool search, bool saved, bool deleteHere)
    {
        searchView_ = search;
        savedView_ = saved;
        deleteHere_ = deleteHere;
    }

    void ReadList(std::string_view text)
    {
        favouritesFilter_ = false;
        std::string shown;
        const auto pieces = display::listPieces(text);
        for (int k = 0; k < kEntries; ++k) {
            const display::Entry entry = display::folderViewEntry(nameFromListEntry(pieceAt(pieces, k)));
            setRowName(k, entry.name);
            shown += shownEntry(withLookAlikes(entry.display));
            if (k < kEntries - 1)
                shown += ',';
        }
        setText(presetList_, shown);
        if (!selectionPending_ && !justSaved_)
            showNameOrNameSave(names_[current_]);
        if (prompt_) {
            setText(presetName_, savedName_);
            prompt_ = false;
        }
    }

    void ReadListSearch(std::string_view text)
    {
        favouritesFilter_ = false;
        std::string shown;
        const auto pieces = display::listPieces(text);
        for (int k = 0; k < kEntries; ++k) {
            const display::Entry entry =
                display::searchViewEntry(nameFromListEntry(pieceAt(pieces, k)), !unmarkedFavourites_);
            setRowName(k, entry.name);
            shown += shownEntry(withLookAlikes(entry.display));
            if (k < kEntries - 1)
                shown += ',';
        }
        if (names_[108].find("         FAVOURITE ") != std::string::npos)
            favouritesFilter_ = true;
        setText(presetList_, shown);
        if (!selectionPending_ && !justSaved_)
            showNameOrNameSave(std::string(display::stem(names_[current_])));
        justSaved_ = false;
        if (presetNumber_.getValue() >= kFirstCommandRow && !noPrompt_ && !saveName_) {
            setText(presetName_, "Enter Search Term...");
            prompt_ = true;
        } else {
            prompt_ = false;
        }
        noPrompt_ = unmarkedFavourites_ = false;
    }

    // Folder names are only shown: a folder's own look-alike characters lose their escapes.
    void ReadFolder(std::string_view text)
    {
        std::string shown;
        for (std::size_t at = 0;;) {
            const std::size_t end = text.find(',', at);
            shown += withLookAlikes(nameFromListEntry(text.substr(at, end - at)));
            if (end == std::string_view::npos)
                break;
            shown += ',';
            at = end + 1;
        }
        display::readFolderNames(shown, folders_);
        setText(folderList_, shown);
        setText(folderName_, folders_[currentFolder_]);
    }

    // Row k's name as its file has it, and as the list and the name pins show it.
    void setRowName(int k, std::string_view own)
    {
        ownNames_[k] = pin_text::cutAtCharBoundary(own, kNameBytes);
        names_[k] = pin_text::cutAtCharBoundary(withLookAlikes(own), kNameBytes);
    }

    // What a save panel offers: the current entry's own name (its stem in a search view) while
    // PresetName shows that entry, else PresetName as it stands.
    std::string offeredName() const
    {
        if (pinWide(presetName_) != utf8::toWide(shownName(current_), utf8::OnError::Replace))
            return std::string(pin_text::cutAtCharBoundary(pinText(presetName_).value_or(std::string()), kNameBytes));
        return searchView_ ? std::string(display::stem(ownNames_[current_])) : ownNames_[current_];
    }

    // With NameSave empty the entry's name goes on both name pins; otherwise the host's kept name
    // is shown.
    void showNameOrNameSave(const std::string& name)
    {
        const std::wstring kept = pinWide(nameSave_);
        if (kept.empty()) {
            setText(presetName_, name);
            setText(nameSave_, name);
        } else {
            presetName_ = kept;
        }
    }

    // The bank file at the last path into this half's own copy and the name table; then the name
    // the host keeps goes back on the current entry.
    void LoadStartupBank()
    {
        LoadBank();
        const std::wstring kept = pinWide(nameSave_);
        if (!kept.empty()) {
            presetName_ = kept;
            if (const auto name = pinText(nameSave_)) {
                names_[current_] = ownNames_[current_] = pin_text::cutAtCharBoundary(*name, kNameBytes);
                UpdateList();
            }
        }
    }

    void UpdateList() { setText(presetList_, nameList()); }

    // --- Panels --------------------------------------------------------------------------------

    static fs::path presetbase() { return platform::sharedFolder() / "Quorvane" / "TAVRIN TWO" / "Presetbase"; }

    // A path longer than the path field is refused like a cancel rather than cut.
    void takePanel(const std::optional<fs::path>& answer)
    {
        panelAccepted_ = answer && answer->native().size() <= kPathBytes;
        panelPath_ = panelAccepted_ ? answer->native() : std::string();
    }

    // A save panel whose path gets suffix appended; anything already at that name is replaced
    // only on "Replace" (a box that gives no answer counts as "No").
    void runSavePanel(const fs::path& folder, std::string_view suggestedName, std::string_view suffix)
    {
        for (int round = 0; round < kSaveRounds; ++round) {
            auto answer = platform::filePanels().chooseFileToSave(folder, suggestedName, "");
            if (answer)
                answer = fs::path(answer->native() + std::string(suffix));
            takePanel(answer);
            if (!panelAccepted_ || !platform::existsAt(panelPath_))
                return;
            const platform::AlertAnswer replace = platform::alerts().confirm(
                "Save", "A file with the same name already exists.\nDo you want to replace it?", "No", "Replace");
            if (replace == platform::AlertAnswer::Alternate)
                return;
        }
        takePanel(std::nullopt);
    }

    // Also after a cancel: then one zero byte, which the processing half ignores.
    void sendPanelPath() { sendText(ToAudio::kPath, panelPath_); }

    // Only the default button ("Yes") goes ahead.
    static bool confirmed(std::string_view title, std::string_view message)
    {
        return platform::alerts().confirm(title, message, "Yes", "No") == platform::AlertAnswer::Default;
    }

    // --- Names and pins ------------------------------------------------------------------------

    // Nothing selected any more; nor when the user comes back to this folder.
    void dropChosen()
    {
        presetChosen_ = false;
        if (currentFolder_ == selectionFolder_)
            selectionChosen_ = false;
    }

    bool isActiveArrow(int32_t n) const { return (n == kPrevArrowRow && leftArrow_) || (n == kNextArrowRow && rightArrow_); }

    std::string shownName(int entry) const
    {
        const std::string& name = names_[entry];
        return searchView_ ? std::string(display::stem(name)) : name;
    }

    // The list view skips empty names and would shift every later row onto its neighbour's
    // preset: a name that is only markers shows as one space.
    static std::string_view shownEntry(const std::string& display)
    {
        return display.empty() ? std::string_view(" ") : std::string_view(display);
    }

    static std::string_view pieceAt(const std::vector<std::string_view>& pieces, int k)
    {
        return k < static_cast<int>(pieces.size()) ? pieces[k] : std::string_view("empty");
    }


    // A text pin's value up to its first NUL; as UTF-8, or nothing when a character has no UTF-8
    // form.
    static std::wstring pinWide(const StringGuiPin& pin)
    {
        const std::wstring& value = pin.getValue();
        return value.substr(0, value.find(L'\0'));
    }
    static std::optional<std::string> pinText(const StringGuiPin& pin)
    {
        try {
            return utf8::fromWide(pinWide(pin), utf8::OnError::Throw);
        } catch (const std::range_error&) {
            return std::nullopt;
        }
    }

    // Names from the processing half and the tables are shown with U+FFFD for bytes that are not
    // UTF-8; the tables keep the bytes.
    static void setText(StringGuiPin& pin, std::string_view bytes) { pin = utf8::toWide(bytes, utf8::OnError::Replace); }

    void pulseGuiUpdate()
    {
        guiUpdate_ = true;
        guiUpdate_ = false;
    }

    void send(int32_t id)
    {
        if (host)
            host->postMessageToAudio(id, 0, nullptr);
    }

    void sendText(int32_t id, std::string_view text)
    {
        if (!host)
            return;
        const std::string payload(text);
        host->postMessageToAudio(id, static_cast<int32_t>(payload.size() + 1), payload.c_str());
    }

    MpGuiPin<int32_t> presetNumber_;
    StringGuiPin presetList_;
    StringGuiPin presetName_;
    MpGuiPin<bool> deletePin_;     // LoadPreset
    MpGuiPin<bool> savePresetPin_;
    MpGuiPin<bool> fixPreset_;
    MpGuiPin<bool> loadBankPin_;
    MpGuiPin<bool> favouritePin_;  // SaveBank
    StringGuiPin id_;
    MpGuiPin<bool> autoPath_;
    StringGuiPin pathPC_;
    StringGuiPin pathMac_;
    MpGuiPin<bool> guiUpdate_;
    StringGuiPin nameSave_;
    MpGuiPin<int32_t> folderNumber_;
    StringGuiPin folderList_;
    StringGuiPin folderName_;
    MpGuiPin<int32_t> presetNumberDisplay_;

    std::array<std::string, kEntries> names_;    // the list now shown, markers removed
    std::array<std::string, kEntries> ownNames_; // the same as their files have them
    std::array<std::string, kFolders> folders_;  // the folder names
    int current_ = 0;                            // list position last selected
    int currentFolder_ = 0;
    int selectionFolder_ = 0;                    // folder of the last selection
    std::string savedName_;                      // put back after the search prompt
    std::string panelPath_;                      // last panel's path; empty when cancelled
    bool panelAccepted_ = false;
    std::string lastPath_;                       // the path a save or bank import went ahead with
    std::string bankName_;                       // the imported bank's name, offered for its folder
    preset_bank::BankMemory bankCopy_;
    ReleaseButton deleteButton_, savePresetButton_, loadBankButton_, favouriteButton_;

    bool firstSelect_ = true;       // selections go to the processing half
    // A preset of the list now shown is selected: clicked, or reported loaded. Delete and
    // favourite act only then.
    bool presetChosen_ = false;
    bool selectionChosen_ = false;  // presetChosen_ when the last selection was made
    bool searchView_ = false;
    bool savedView_ = false;
    bool deleteHere_ = false;
    bool favouritesFilter_ = false;
    bool leftArrow_ = false;
    bool rightArrow_ = false;
    bool noPrompt_ = false;
    bool prompt_ = false;
    bool unmarkedFavourites_ = false;
    bool locationOff_ = false;
    bool selectionPending_ = false;
    bool justSaved_ = false;
    bool saveName_ = false;
    bool nameEdited_ = false;

    // ---- File work of this half's own ----------------------------------------------------------
    // No pin or message of the patch reaches these. Each does what the list managers' interface
    // halves do under the same name, on this half's names, edit buffer and bank copy, at the last
    // path.
public:
    void SavePath() override { sendPanelPath(); }
    void SaveList() override { sendText(ToAudio::kUnusedNameList, nameList()); }

    void FixPreset() override
    {
        const std::string name = pinText(presetName_).value_or(std::string());
        names_[current_] = ownNames_[current_] = pin_text::cutAtCharBoundary(name, kNameBytes);
        UpdateList();
        setText(nameSave_, names_[current_]);
        SaveList();
        send(ToAudio::kFixPreset);
    }

    void ReadNamesavePin() override
    {
        const std::wstring kept = pinWide(nameSave_);
        if (!kept.empty())
            presetName_ = kept;
    }

    void LoadPreset() override
    {
        preset_bank::NameTable table = nameTable();
        if (!preset_bank::LoadPreset(lastPath_, table, current_, editBuffer_))
            return;
        names_[current_] = ownNames_[current_] = table.view(current_);
        UpdateList();
        setText(presetName_, names_[current_]);
        setText(nameSave_, names_[current_]);
        pulseGuiUpdate();
    }

    void SavePreset() override { preset_bank::SavePreset(lastPath_, names_[current_], editBuffer_); }
    void SaveBank() override { preset_bank::SaveBank(lastPath_, nameTable(), bankCopy_); }

    void LoadBank() override
    {
        preset_bank::NameTable table;
        if (!preset_bank::LoadBank(lastPath_, table, bankCopy_, preset_bank::FieldConversion::Atof))
            return;
        if (current_ == 0)
            pulseGuiUpdate();
        current_ = 0;
        presetNumber_ = 0;
        for (int k = 0; k < kEntries; ++k)
            names_[k] = ownNames_[k] = table.view(k);
        UpdateList();
        setText(presetName_, names_[0]);
    }

    // The list managers' open panel; with no base folder or ID here their folder chain makes
    // nothing.
    void openpresetfilename() override
    {
        takePanel(ListManagerGui::openPanel(preset_bank::StartupPath{}, autoPath_.getValue(),
                                            ListManagerGui::FileKind::Preset, presetbase() / "Presets"));
    }

    void savefavouritesfilename() override
    {
        const std::optional<fs::path> folder = favouritesFolder();
        if (!folder) {
            takePanel(std::nullopt);
            return;
        }
        std::error_code ignored;
        fs::create_directories(*folder, ignored);
        runSavePanel(*folder, offeredName(), ".tavpreset");
    }

private:
    // The names joined by ",", as PresetList shows them and 133 carries them; a "," or ";" inside
    // a name (one read from a bank file) is shown as its look-alike, so the list keeps its entries.
    std::string nameList() const
    {
        std::string list;
        for (int k = 0; k < kEntries; ++k) {
            if (k)
                list += ',';
            list += withLookAlikes(names_[k]);
        }
        return std::string(pin_text::cutAtCharBoundary(list, kNameListBytes));
    }

    preset_bank::NameTable nameTable() const
    {
        preset_bank::NameTable table;
        for (int k = 0; k < kEntries; ++k)
            table.setName(k, names_[k]);
        return table;
    }

    // "3_FAVOURITES", then "3_FAVOURITES_01" ... "3_FAVOURITES_127": the first holding fewer than
    // 128 preset files (a missing folder holds none).
    static std::optional<fs::path> favouritesFolder()
    {
        for (int n = 0; n < kFolders; ++n) {
            std::string name = "3_FAVOURITES";
            if (n > 0)
                name += (n < 10 ? "_0" : "_") + std::to_string(n);
            const fs::path folder = presetbase() / name;
            if (presetFilesIn(folder) < kEntries)
                return folder;
        }
        return std::nullopt;
    }

    // Preset files in folder, counted up to 128.
    static int presetFilesIn(const fs::path& folder)
    {
        int count = 0;
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end && count < kEntries; it.increment(error))
            if (it->path().extension() == ".tavpreset" && !it->is_directory(error))
                ++count;
        return count;
    }

    preset_bank::PresetValues editBuffer_{};  // one preset read from or written to a preset file
};

MP_REGISTER_MODULE(Qv_patchmanagerprescatGui, L"QV_PatchManagerPrescat")
