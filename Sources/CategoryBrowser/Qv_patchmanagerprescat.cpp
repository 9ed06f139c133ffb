// The category manager's processing half: browses the preset library (a tree of preset files with
// categories, favourites and saved lists) folder by folder or in paged result views, answers its
// interface half, and loads a preset into the shared preset block when its own program change
// comes back to its MIDI input. A selection never loads directly: it is answered by [C0 n 00].
#include "CategoryBrowser/CategoryStore.h"
#include "CategoryBrowser/PresetIndex.h"
#include "CategoryBrowser/PresetLibrary.h"
#include "CategoryBrowser/PrescatMessages.h"
#include "CategoryBrowser/PrescatOperations.h"
#include "Common/PayloadText.h"
#include "Common/PinText.h"
#include "Common/SampleCount.h"
#include "Common/SampleCountdown.h"
#include "PresetStore/ControllerDump.h"
#include "PresetStore/PresetBank.h"
#include "PresetStore/PresetBlock.h"

#include <re2/re2.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace prescat;

constexpr std::string_view kEmpty = preset_bank::kEmptyName;
constexpr int kFolderBytes = 50;                      // folder names of at most 49 bytes
constexpr std::size_t kShortestPath = 10;             // a path this short names no file
constexpr std::size_t kSearchBytes = 49;
// 128 entries of up to 99 bytes, each byte possibly shown as a look-alike, and 127 commas.
constexpr std::size_t kListTextBytes = kEntries * (shownEntryBytes(kEntryBytes - 1) + 1);
constexpr int kMutedSlots[] = {16, 17, 19, 93, 95};
constexpr int kBackedUpSlots[] = {13, 16, 17, 19, 90, 93, 95};
constexpr std::string_view kNineSpaces = "         ";

std::string_view lastComponent(std::string_view path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

class Qv_patchmanagerprescat : public MpBase, public ProcessingOperations {
public:
    enum Pin { kMidiIn, kMidiOut, kId, kAutoPath, kPathPc, kPathMac, kAudioOut };

    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    StringInPin id_;
    BoolInPin autoPath_;
    StringInPin pathPc_;  // read nowhere: the product runs on one system
    StringInPin pathMac_;
    AudioOutPin audioOut_;  // never written; streaming so that the timers always run

    // Shared preset block, and the bank of the last bank import (only a buffer on its way to a
    // bank folder).
    PresetBlock block_;
    preset_bank::BankMemory bank_;
    preset_bank::NameTable bankNames_{preset_bank::kWideNameSlotBytes};
    bool bankImported_ = false;
    // The list the interface shows: file stems in a folder view, result paths and command labels
    // in a result view.
    preset_bank::NameTable names_{preset_bank::kWideNameSlotBytes};
    preset_bank::NameTable scratchNames_{preset_bank::kWideNameSlotBytes};  // a load never renames
    char folders_[kFolders][kFolderBytes] = {};
    int folderCount_ = 0;  // slots of folders_ holding a folder
    PresetIndex index_;
    char listText_[kListTextBytes] = {};

    std::string root_ = libraryRootPath();  // fixed at construction
    preset_bank::PathBuffer folderPath_;  // the folder listed; root + "/" in whole-library views
    preset_bank::PathBuffer filePath_;
    preset_bank::PathBuffer guiPath_;
    bool guiPathValid_ = false;
    std::string productId_;
    char searchText_[kSearchBytes + 1] = {};
    std::unique_ptr<RE2> search_;

    int currentEntry_ = 0;    // list position 0-127 (104-127: commands in a result view)
    // The user's selection: the row and file of the last preset a program change loaded from the
    // list. Delete, favourite and tagging act on it only while that row of the list now shown
    // still names that file (after a folder change, a view switch, a new search or time order,
    // a delete, it names another file or none).
    int selectedEntry_ = -1;
    preset_bank::PathBuffer selectedFile_;
    int selectedFolder_ = 0;  // 0-127
    int loadedFolder_ = 0;
    bool firstStart_ = true;
    int page_ = 0;            // 0 to kLastPage
    int category_ = 0;        // 0-17
    bool timeOrder_ = false;
    bool ignoreNextProgramChange_ = false;
    bool searchView_ = false;
    bool resultView_ = false;
    bool prevArrowActive_ = false;
    bool nextArrowActive_ = false;
    bool editMode_ = false;
    bool favouriteFilter_ = false;
    bool viewSwitchPending_ = false;
    bool muteOnNextProgramChange_ = false;
    bool searchActive_ = false;
    bool savedListView_ = false;
    bool searchSavedView_ = false;
    bool savedView_ = false;
    bool folderJustChosen_ = false;
    bool loadedInSearchView_ = false;
    bool rescan_ = true;
    bool orderToggled_ = false;
    bool suppressSelectionEcho_ = false;
    bool savedOrderHeld_ = false;
    bool favouritesOrderHeld_ = false;
    float effectBackup_[PresetBlock::kSlots] = {};
    bool effectBackupTaken_ = false;
    float sampleRate_ = 0.0f;  // Hz

    SampleCountdown saveTimer_;     // 0.3 s: refresh after a save
    SampleCountdown rebuildTimer_;  // 0.5 s (0.8 s into "3_SEARCH" / "3_FAVOURITES"): CollectListSearch
    SampleCountdown muteTimer_;     // 0.2 s: mute again, then the restore timer
    SampleCountdown restoreTimer_;  // 0.4 s: effects back from the backup
    SampleCountdown pageTimer_;     // 0.5 s: SendListSearch in the favourites view

    Qv_patchmanagerprescat()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kId, id_);
        initializePin(kAutoPath, autoPath_);
        initializePin(kPathPc, pathPc_);
        initializePin(kPathMac, pathMac_);
        initializePin(kAudioOut, audioOut_);
        restoreLibraryFromBackup();
        join(folderPath_, {root_, "/Presets"});
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_patchmanagerprescat::subProcess);
        sampleRate_ = getSampleRate();
        block_.open(host);
        bank_.clear();
        return mpapi::MP_RESULT_OK;
    }

    void onGraphStart() override
    {
        try {
            const preset_bank::StartupPath start =
                preset_bank::startupBankPath(host, autoPath_.value, id_.value, pathMac_.value);
            productId_ = start.idText.value_or("");
            filePath_.assign(start.workingPath.value_or(""));
        } catch (...) {
            filePath_.clear();  // no memory for the path texts: no startup path
        }
        MpPluginBase::onGraphStart();
    }

    void onSetPins() override { audioOut_.setStreaming(true); }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        try {
            programChangeIn(bytes, size);
        } catch (...) {
            // A file operation that ran out of memory changes nothing further.
        }
    }

    void subProcess(int, int frames)
    {
        try {
            if (saveTimer_.endsIn(frames))
                refreshAfterSave();
            if (rebuildTimer_.endsIn(frames))
                CollectListSearch();
            if (muteTimer_.endsIn(frames)) {
                MuteEffects();
                restoreTimer_.start(samplesIn(0.4f, sampleRate_));
            }
            if (restoreTimer_.endsIn(frames))
                RestoreEffects();
            if (pageTimer_.endsIn(frames))
                SendListSearch();
        } catch (...) {
            // As above: the lists stay as they were.
        }
    }

    int32_t receiveMessageFromGui(int32_t id, int32_t size, const void* data) noexcept override
    {
        try {
            dispatch(id, size, data);
        } catch (...) {
            // Filesystem and memory errors end the request, never the host.
        }
        return mpapi::MP_RESULT_OK;
    }

private:
    // ---- Program changes ------------------------------------------------------------------------

    void programChangeIn(const unsigned char* bytes, int size)
    {
        if (!bytes || size < 2 || (bytes[0] & 0xF0) != 0xC0)
            return;
        const int p = bytes[1];
        if (muteOnNextProgramChange_) {
            muteTimer_.start(samplesIn(0.2f, sampleRate_));
            postToGui(kDropSelection);
        } else if (searchView_ && p >= kFirstCommandRow) {
            postToGui(kDropSelection);
        }
        // Only data bytes name list positions: 0x80 and above (the saved-view refresh sends 0x82)
        // load nothing and leave the current entry, but in a result view they end the search like
        // any command row.
        if (!ignoreNextProgramChange_) {
            if (!resultView_) {
                if (p < kEntries) {
                    currentEntry_ = p;
                    ChangePreset();
                    keepSelection();
                    postToGui(p);
                    sendProgramChange(p);
                }
            } else if (!viewSwitchPending_ && p >= kEntries) {
                searchActive_ = false;
            } else if (!viewSwitchPending_) {
                currentEntry_ = p;
                const bool arrow = (p == kNextArrowRow && nextArrowActive_) || (p == kPrevArrowRow && prevArrowActive_);
                if (arrow) {
                    // The message handler has turned the page.
                } else if (p <= kNextArrowRow) {
                    ChangePreset();
                    keepSelection();
                    postToGui(p);
                    sendProgramChange(p);
                } else {
                    searchActive_ = false;
                    if (p == 108 && editMode_)
                        SetCategory();
                }
            }
        }
        ignoreNextProgramChange_ = muteOnNextProgramChange_ = viewSwitchPending_ = false;
    }

    // ---- Messages ---------------------------------------------------------------------------------

    void dispatch(int32_t id, int32_t size, const void* data)
    {
        if (id >= kSelectRowBase && id < kSelectRowBase + kEntries) {
            selectOrCommand(id - kSelectRowBase);
            return;
        }
        if (id >= kFolderBase && id < kFolderBase + kFolders) {
            // Only slots that hold a folder can be chosen.
            if (id - kFolderBase < folderCount_)
                switchFolder(id - kFolderBase);
            return;
        }
        switch (id) {
        case kLoadPresetFile:
            if (LoadPath()) {
                filePath_.assign(guiPath_.view());
                LoadPreset();
                FixPreset();
            }
            break;
        case kSavePreset:
            if (LoadPath()) {
                ignoreNextProgramChange_ = true;
                sendProgramChange(currentEntry_);
                filePath_.assign(guiPath_.view());
                LoadName();
                SavePreset();
            }
            break;
        case kFixPreset:
            FixPreset();
            break;
        case kLoadBank:
            if (LoadPath()) {
                filePath_.assign(guiPath_.view());
                LoadBank();
            }
            break;
        case kSaveBankFolder:
            if (LoadPath() && bankImported_) {
                filePath_.assign(guiPath_.view());
                SaveBank();
            }
            break;
        case kInterfaceStarted:
            interfaceStarted();
            break;
        case kFirstStore:
            if (firstStart_)
                FixPreset();
            firstStart_ = false;
            break;
        case kPath: {
            // A path too long for the field is refused, not cut into another file's name.
            const std::string_view path = payload::text(size, data);
            if (!guiPath_.assign(path))
                guiPath_.clear();
            break;
        }
        case kTimeOrderOn:
            timeOrderOn();
            break;
        case kDeletePreset:
            DeletePreset();
            break;
        case kTimeOrderOff:
            timeOrderOff();
            break;
        case kToggleFavourite:
            toggleFavourite();
            break;
        case kSearchText:
            setSearchText(payload::text(size, data));
            break;
        default:
            break;
        }
    }

    void selectOrCommand(int n)
    {
        if (searchView_ && currentEntry_ >= kFirstCommandRow)
            postToGui(kDropSelection);
        const bool nextArrow = n == kNextArrowRow && nextArrowActive_;
        const bool prevArrow = n == kPrevArrowRow && prevArrowActive_;
        if (!nextArrow && !prevArrow)
            sendProgramChange(n);
        if (!ignoreNextProgramChange_ && resultView_ && !viewSwitchPending_) {
            currentEntry_ = n;
            if (nextArrow) {
                if (page_ < kLastPage)
                    ++page_;
                SendListSearch();
            } else if (prevArrow) {
                if (page_ > 0)
                    --page_;
                SendListSearch();
            } else if (n >= kFirstCommandRow) {
                searchActive_ = false;
            }
            if (currentEntry_ >= kFirstCommandRow) {
                postToGui(kDropSelection);
                command(currentEntry_);
            }
        }
        if (viewSwitchPending_)
            rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
    }

    void command(int row)
    {
        switch (row) {
        case 104:  // SEARCH
        case 105:  // SET
            editMode_ = row == 105;
            page_ = 0;
            category_ = 0;
            rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
            break;
        case 107:  // ALL
        case 108:  // FAVOURITE; in EDIT mode the tagging runs when [C0 108 00] returns
            if (!editMode_) {
                favouriteFilter_ = row == 108;
                page_ = 0;
                rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
            }
            break;
        default:
            if (row >= kCategoryRow && row < kCategoryRow + kCategories) {
                category_ = row - kCategoryRow;
                page_ = 0;
                if (!editMode_)
                    rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
            }
            break;
        }
    }

    void interfaceStarted()
    {
        favouritesOrderHeld_ = false;
        if (timeOrder_)
            postToGui(kFixPresetOn);
        if (firstStart_) {
            UpdateBanks();
            setFolderPath(selectedFolder_);
            SaveList();
            firstStart_ = false;
            return;
        }
        if (!(searchView_ && loadedInSearchView_))
            selectedFolder_ = loadedFolder_;
        setFolderPath(selectedFolder_);
        SendBanks();
        if (!searchView_) {
            SaveList();
        } else if (loadedInSearchView_) {
            SendListSearch();
            postToGui(kCategoryRowBase + category_);
            postToGui(kSelectBase + currentEntry_);
        } else {
            searchView_ = false;
            SaveList();
        }
    }

    void switchFolder(int f)
    {
        selectedFolder_ = f;
        folderJustChosen_ = true;
        searchActive_ = false;
        setFolderPath(f);
        resultView_ = false;
        favouritesOrderHeld_ = false;
        savedListView_ = searchSavedView_ = savedView_ = false;

        const std::string_view name = folders_[f];
        float rebuild = 0.5f;
        bool special = true;
        bool favourites = false;
        if (name == "3_SEARCH") {
            join(folderPath_, {root_, "/"});
            rebuild = 0.8f;
        } else if (name == "3_FAVOURITES") {
            favourites = true;
            join(folderPath_, {root_, "/"});
            rebuild = 0.8f;
        } else if (contains(name, "_EE_")) {
            savedListView_ = true;
        } else if (name == "3_SEARCHSAVED") {
            searchSavedView_ = true;
        } else if (name == "2_SAVED") {
            savedListView_ = savedView_ = true;
        } else if (name == "3_RELOADS") {
            savedListView_ = true;
        } else {
            special = false;
        }

        if (special) {
            resultView_ = true;
            page_ = 0;
            editMode_ = false;
            favouriteFilter_ = favourites;
            category_ = 0;
            searchView_ = true;
            viewSwitchPending_ = true;
            muteOnNextProgramChange_ = true;
            MuteEffects();
            postToGui(kViewSwitched);
            postToGui(kDropSelection);
            sendProgramChange(currentEntry_);
            rebuildTimer_.start(samplesIn(rebuild, sampleRate_));
        } else {
            prevArrowActive_ = nextArrowActive_ = searchView_ = editMode_ = favouriteFilter_ = false;
            category_ = 0;
            SaveList();
        }
    }

    void timeOrderOn()
    {
        timeOrder_ = true;
        savedOrderHeld_ = favouritesOrderHeld_ = false;
        UpdateBanks();
        orderToggled_ = false;
        if (!searchView_) {
            orderToggled_ = true;
            SaveList();
        } else if (savedView_) {
            page_ = 0;
            postToGui(kClearKeepName);
            savedViewRefresh();
        } else if (favouriteFilter_) {
            suppressSelectionEcho_ = true;
            favouritesRefresh();
        }
    }

    void timeOrderOff()
    {
        timeOrder_ = false;
        if (savedView_ && !savedOrderHeld_) {
            savedOrderHeld_ = true;
            timeOrder_ = true;
            postToGui(kFixPresetOn);
        }
        UpdateBanks();
        orderToggled_ = false;
        if (!searchView_) {
            orderToggled_ = true;
            SaveList();
        } else if (savedView_) {
            page_ = 0;
            savedViewRefresh();
        } else if (favouriteFilter_) {
            suppressSelectionEcho_ = true;
            if (favouritesOrderHeld_) {
                postToGui(kClearKeepName);
            } else {
                timeOrder_ = true;
                favouritesOrderHeld_ = true;
                postToGui(kFixPresetOnKeepName);
            }
            favouritesRefresh();
        }
    }

    void savedViewRefresh()
    {
        muteOnNextProgramChange_ = true;
        MuteEffects();
        postToGui(kSelectBase + 1);
        postToGui(kSelectBase + currentEntry_);
        postToGui(kDropSelection);
        sendProgramChange(130);  // 0x82: comes back as no list position
        rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
    }

    void favouritesRefresh()
    {
        muteOnNextProgramChange_ = true;
        MuteEffects();
        postToGui(kSelectBase + 1);
        postToGui(kSelectBase + currentEntry_);
        postToGui(kDropSelection);
        sendProgramChange(currentEntry_);
        pageTimer_.start(samplesIn(0.5f, sampleRate_));
    }

    void toggleFavourite()
    {
        if (!selectionShown())
            return;
        MuteEffects();
        muteTimer_.start(samplesIn(0.2f, sampleRate_));
        postToGui(kSelectBase + 1);
        postToGui(kSelectBase + currentEntry_);
        postToGui(kDropSelection);
        muteOnNextProgramChange_ = true;
        sendProgramChange(currentEntry_);
        if (isPresetFileInLibrary(selectedFile_.view(), root_))
            renamePresetFile(selectedFile_.view(), root_, favouriteToggledName(lastComponent(selectedFile_.view())));
        rescan_ = true;
        MuteEffects();
        restoreTimer_.start(samplesIn(0.4f, sampleRate_));
        if (searchView_)
            rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
        else
            SaveList();
    }

    void setSearchText(std::string_view text)
    {
        text = pin_text::cutAtCharBoundary(text, kSearchBytes);
        if (!text.empty())
            std::memcpy(searchText_, text.data(), text.size());
        searchText_[text.size()] = 0;
        search_ = compileSearch(text);
        searchActive_ = true;
        page_ = 0;
        rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
    }

    // The user's search text as a case-insensitive pattern of linear matching time. A pattern the
    // matcher cannot take (invalid, or a feature such as a back-reference) is searched as literal
    // text instead.
    static std::unique_ptr<RE2> compileSearch(std::string_view text)
    {
        RE2::Options options;
        options.set_case_sensitive(false);
        options.set_log_errors(false);
        options.set_never_capture(true);
        options.set_max_mem(1 << 20);
        auto pattern = std::make_unique<RE2>(re2::StringPiece(text.data(), text.size()), options);
        if (pattern->ok())
            return pattern;
        pattern = std::make_unique<RE2>(RE2::QuoteMeta(re2::StringPiece(text.data(), text.size())), options);
        if (pattern->ok())
            return pattern;
        options.set_encoding(RE2::Options::EncodingLatin1);  // bytes that are not UTF-8
        return std::make_unique<RE2>(RE2::QuoteMeta(re2::StringPiece(text.data(), text.size())), options);
    }

    // ---- Timers -----------------------------------------------------------------------------------

    void refreshAfterSave()
    {
        searchActive_ = false;
        UpdateBanks();
        setFolderPath(selectedFolder_);
        if (!searchView_)
            SaveList();
        else if (searchSavedView_ || savedView_)
            CollectListSearch();
    }

    // ---- Effects ----------------------------------------------------------------------------------

    void MuteEffects()
    {
        // Restoring an empty backup would silence the effects for good: take one first.
        if (!effectBackupTaken_)
            BackupEffects();
        for (int slot : kMutedSlots)
            block_.set(slot, 0.0f);
    }

    void RestoreEffects()
    {
        for (int slot : kMutedSlots)
            block_.set(slot, effectBackup_[slot]);
    }

    void BackupEffects()
    {
        for (int slot : kBackedUpSlots)
            effectBackup_[slot] = block_.get(slot);
        effectBackupTaken_ = true;
    }

    // ---- Preset store -----------------------------------------------------------------------------

    bool validEntry() const { return currentEntry_ >= 0 && currentEntry_ < kEntries; }

    void FixPreset()
    {
        if (validEntry())
            bank_.storeFrom(currentEntry_, block_);
    }

    // The length check of the received path: 10 bytes or fewer name no file.
    bool LoadPath()
    {
        if (guiPath_.size() <= kShortestPath) {
            guiPath_.clear();
            guiPathValid_ = false;
            return false;
        }
        guiPathValid_ = true;
        return true;
    }

    // The file of list entry i: in the folder shown, or below the root in a result view. An entry
    // that would lead outside the library names no file (out is emptied).
    void entryPath(int i, preset_bank::PathBuffer& out) const
    {
        const std::string_view entry = i >= 0 && i < kEntries ? names_.view(i) : std::string_view();
        if (!isInsideLibraryEntry(entry, searchView_)) {
            out.clear();
            return;
        }
        join(out, {searchView_ ? std::string_view(root_) : folderPath_.view(), "/", entry, kExtension});
    }

    void setFilePathToEntry() { entryPath(currentEntry_, filePath_); }

    void keepSelection()
    {
        selectedEntry_ = currentEntry_;
        selectedFile_.assign(filePath_.view());
    }

    bool selectionShown() const
    {
        if (selectedFile_.empty())
            return false;
        preset_bank::PathBuffer shown;
        entryPath(selectedEntry_, shown);
        return shown.view() == selectedFile_.view();
    }

    void ChangePreset()
    {
        setFilePathToEntry();
        LoadPreset();
        SendDump();
    }

    void LoadPreset()
    {
        loadedFolder_ = selectedFolder_;
        loadedInSearchView_ = searchView_;
        float values[PresetBlock::kSlots];
        block_.read(values);
        if (preset_bank::LoadPreset(filePath_.view(), scratchNames_, 0, values)) {
            migrateOldPreset(values);
        } else if (validEntry() && names_.view(currentEntry_) == kEmpty) {
            writeInitPatch(values);
        } else {
            return;
        }
        block_.write(values);
        BackupEffects();
    }

    void SendDump() { controller_dump::sendDump(block_, midiOut_); }

    void SavePreset()
    {
        BackupEffects();
        std::string_view name = lastComponent(filePath_.view());
        name = name.substr(0, name.rfind('.'));
        if (name.size() >= static_cast<std::size_t>(preset_bank::kNameKeepWhole))
            name = pin_text::cutAtCharBoundary(name, preset_bank::kNameFieldColumns);
        preset_bank::SavePreset(filePath_.view(), name, block_);
        rescan_ = true;
        saveTimer_.start(samplesIn(0.3f, sampleRate_));
    }

    void LoadName()
    {
        if (validEntry())
            preset_bank::LoadName(filePath_.view(), names_, currentEntry_);
    }

    // The imported bank as a folder of "#NNN name.tavpreset" files.
    void SaveBank()
    {
        writeBankFolder(filePath_.view(), bankNames_, bank_);
        UpdateBanks();
    }

    void LoadBank()
    {
        preset_bank::NameTable names = names_;
        if (!preset_bank::LoadBank(filePath_.view(), names, bank_, preset_bank::FieldConversion::Decimal))
            return;
        bankNames_ = names;
        names_ = names;
        bankImported_ = true;
        currentEntry_ = 0;
        ChangePreset();
        postToGui(kShowEntryBase);
        sendProgramChange(0);
    }

    void SetCategory()
    {
        if (!selectionShown())
            return;
        sendProgramChange(currentEntry_);
        if (isPresetFileInLibrary(selectedFile_.view(), root_))
            renamePresetFile(selectedFile_.view(), root_, retaggedName(lastComponent(selectedFile_.view()), category_));
        rescan_ = true;
        favouriteFilter_ = false;
        category_ = 0;
        if (searchView_)
            rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
        else
            SaveList();
    }

    void DeletePreset()
    {
        if (currentEntry_ != selectedEntry_ || !selectionShown())
            return;
        if (hasNumberPrefix(names_.view(currentEntry_))) {
            postToGui(kRemovalDenied);
            return;
        }
        setFilePathToEntry();
        rescan_ = true;
        trashPresetFile(filePath_.view(), root_);
        if (searchView_)
            CollectListSearch();
        else
            SaveList();
    }

    // ---- Lists ------------------------------------------------------------------------------------

    // out := the parts joined; emptied (no file operation) when the path would not fit.
    static bool join(preset_bank::PathBuffer& out, std::initializer_list<std::string_view> parts)
    {
        char text[preset_bank::kPathBytes];
        std::size_t length = 0;
        for (std::string_view part : parts) {
            if (length + part.size() >= sizeof text) {
                out.clear();
                return false;
            }
            if (!part.empty())
                std::memcpy(text + length, part.data(), part.size());
            length += part.size();
        }
        if (!out.assign(std::string_view(text, length)))
            out.clear();
        return !out.empty();
    }

    void setFolderPath(int f) { join(folderPath_, {root_, "/", folders_[f]}); }

    void postToGui(int32_t id, int32_t size = 0, const void* data = nullptr)
    {
        if (host)
            host->postMessageToGui(id, size, data);
    }

    void sendProgramChange(int program)
    {
        const unsigned char bytes[3] = {0xC0, static_cast<unsigned char>(program), 0x00};
        midiOut_.send(bytes, 3, 0);
    }

    // Joins count texts of text(i) with "," into listText_; its size with the NUL. A "," or ";"
    // inside a text is shown as its look-alike, so the list holds exactly count entries.
    template <class Text>
    int32_t joined(int count, Text&& text)
    {
        std::size_t length = 0;
        listText_[0] = 0;
        for (int i = 0; i < count; ++i) {
            if (i && length + 2 <= sizeof listText_)
                listText_[length++] = ',';
            appendShownEntry(listText_, sizeof listText_, length, text(i));
        }
        return static_cast<int32_t>(length + 1);
    }

    void UpdateBanks()
    {
        int count = 0;
        // A name too long for its slot could not be opened again from the slot: left out.
        auto folder = [](std::string_view name, DirectoryLister::Kind kind, int fd, int64_t&) {
            return name.size() < kFolderBytes &&
                   (kind == DirectoryLister::Kind::Folder ||
                    (kind == DirectoryLister::Kind::Link && kindFollowingLinks(fd, name.data()) == DirectoryLister::Kind::Folder));
        };
        index_.lister().each(root_.c_str(), kFolders, DirectoryLister::Order::Name, folder,
                             [&](std::string_view name, DirectoryLister::Kind, int) {
                                 std::memcpy(folders_[count], name.data(), name.size());
                                 folders_[count][name.size()] = 0;
                                 return ++count < kFolders;
                             });
        folderCount_ = count;
        for (int f = count; f < kFolders; ++f)
            std::memcpy(folders_[f], kEmpty.data(), kEmpty.size() + 1);
        SendBanks();
    }

    void SendBanks()
    {
        postToGui(kFolderNumberBase + selectedFolder_);
        postToGui(kFolderList, joined(kFolders, [this](int f) { return std::string_view(folders_[f]); }), listText_);
    }

    int32_t joinedNames()
    {
        return joined(kEntries, [this](int i) { return names_.view(i); });
    }

    void SaveList()
    {
        bool numbered = false;
        int count = 0;
        const auto fill = [&](std::string_view name, int) {
            const std::string_view stem = name.substr(0, name.size() - kExtension.size());
            // A stem too long for its slot could not be loaded from it: left out.
            if (stem.size() < static_cast<std::size_t>(kEntryBytes))
                names_.setName(count++, stem);
            return count < kEntries;
        };
        bool first = true;
        index_.eachPresetFile(folderPath_.c_str(), false, kEntries, [&](std::string_view name, int fd) {
            if ((timeOrder_ || orderToggled_) && first)
                numbered = hasNumberPrefix(folderPath_.view()) || hasNumberPrefix(name);
            first = false;
            return fill(name, fd);
        });
        if (timeOrder_ && !numbered) {
            count = 0;
            index_.eachPresetFile(folderPath_.c_str(), true, kEntries, fill);
        }
        for (int i = count; i < kEntries; ++i)
            names_.setName(i, kEmpty);
        if (numbered) {
            orderToggled_ = false;
            postToGui(kSelectBase + currentEntryInList());
        } else if (orderToggled_) {
            postToGui(kDropSelection);
        } else {
            postToGui(kSelectBase + currentEntryInList());
        }
        orderToggled_ = false;
        postToGui(kList, joinedNames(), listText_);
    }

    int currentEntryInList() const { return validEntry() ? currentEntry_ : 0; }

    void CollectListSearch()
    {
        if (savedView_ || savedListView_) {
            CollectListSave();
        } else if (rescan_) {
            rescan_ = false;
            CollectList();
        } else {
            FilterList();
        }
    }

    void CollectList()
    {
        MuteEffects();
        join(folderPath_, {root_, "/"});
        index_.rescan(root_.c_str(), searchSavedView_);
        MuteEffects();
        restoreTimer_.start(samplesIn(0.4f, sampleRate_));
        FilterList();
    }

    FilterRules filterRules() const
    {
        FilterRules rules;
        rules.category = category_;
        rules.favouriteOnly = favouriteFilter_;
        rules.editMode = editMode_;
        rules.search = searchActive_ ? search_.get() : nullptr;
        return rules;
    }

    void FilterList()
    {
        MuteEffects();
        index_.filter(filterRules());
        MuteEffects();
        restoreTimer_.start(samplesIn(0.4f, sampleRate_));
        SendListSearch();
    }

    void CollectListSave()
    {
        MuteEffects();
        const bool byTime = timeOrder_ && savedView_;
        const std::string_view folder =
            folderPath_.size() > root_.size() + 1 ? folderPath_.view().substr(root_.size() + 1) : std::string_view();
        index_.collectFolder(folderPath_.c_str(), folder, byTime, filterRules());
        if (byTime) {
            if (!savedOrderHeld_)
                page_ = lastPageOf(index_.resultCount());
            else
                index_.reverseResults();
        }
        MuteEffects();
        restoreTimer_.start(samplesIn(0.4f, sampleRate_));
        SendListSearch();
    }

    void SendListSearch()
    {
        if (favouriteFilter_ && timeOrder_)
            postToGui(kFavouritesInTimeOrder);
        const PresetIndex::Arrows arrows = index_.writePage(page_, names_);
        prevArrowActive_ = arrows.previous;
        nextArrowActive_ = arrows.next;
        postToGui(arrows.next ? kNextArrowShown : kNextArrowHidden);
        postToGui(arrows.previous ? kPrevArrowShown : kPrevArrowHidden);
        writeCommandRows();
        const int32_t size = joinedNames();
        if (!suppressSelectionEcho_) {
            postToGui(kClearFirstSelect);
            postToGui(kSelectBase + currentEntryInList());
        }
        suppressSelectionEcho_ = false;
        // The list comes last: the interface reads it with the selection and arrows in place.
        postToGui(kList, size, listText_);
    }

    void writeCommandRows()
    {
        const auto label = [this](int row, std::string_view word) {
            char text[kEntryBytes];
            const std::size_t n = std::min(word.size(), sizeof text - 1 - kNineSpaces.size());
            std::memcpy(text, kNineSpaces.data(), kNineSpaces.size());
            std::memcpy(text + kNineSpaces.size(), word.data(), n);
            names_.setName(row, std::string_view(text, kNineSpaces.size() + n));
        };
        label(104, "SEARCH");
        label(105, folderJustChosen_ ? "SET " : "SET");
        folderJustChosen_ = false;
        label(106, "");
        label(107, editMode_ ? "EDIT" : "ALL");
        label(108, editMode_ ? "SAVE" : (favouriteFilter_ ? "FAVOURITE " : "FAVOURITE"));
        label(109, "");
        label(110, editMode_ ? "NO CATEGORY" : "ALL");
        for (int k = 1; k < kCategories; ++k)
            label(kCategoryRow + k, categoryLabel(k));
    }

    // ---- Construction -------------------------------------------------------------------------------

    // A missing library is brought back from its backup; nothing is created. Errors leave the
    // library as it is: the lists then come out empty.
    void restoreLibraryFromBackup()
    {
        struct stat info {};
        if (::lstat(root_.c_str(), &info) == 0 || errno != ENOENT)
            return;
        const std::string backup = libraryBackupPath();
        if (::lstat(backup.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            ::rename(backup.c_str(), root_.c_str());
    }

    // ---- Operations no message reaches ------------------------------------------------------------

    // The bank memory only carries an import on its way to a bank folder: starting over leaves
    // none to write.
    void LoadStartupBank() override
    {
        bank_.clear();
        bankImported_ = false;
        SaveList();
    }

    void LoadNames() override
    {
        preset_bank::NameTable names = names_;
        if (!preset_bank::LoadNames(filePath_.view(), names))
            return;
        bankNames_ = names;
        names_ = names;
    }

    // Of the first 16384 entries listed only the 128 smallest are kept, in a heap whose top is the
    // largest kept, so the list needs no more room than it shows.
    void SaveListSearch() override
    {
        const std::string_view below =
            folderPath_.size() > root_.size() + 1 ? folderPath_.view().substr(root_.size() + 1) : std::string_view();
        const auto larger = [this](int a, int b) { return std::strcmp(treeEntries_[a].text, treeEntries_[b].text) < 0; };
        int heap[kEntries];
        int kept = 0;
        int listed = 0;
        const auto presetFile = [](std::string_view name, DirectoryLister::Kind) { return isPresetFileName(name); };
        index_.lister().walk(folderPath_.c_str(), kMaxIndexEntries, presetFile, [&](std::string_view relative, DirectoryLister::Kind) {
            char file[2048];
            std::size_t length = 0;
            if (below.size() + 1 + relative.size() > sizeof file)
                return true;
            if (!below.empty()) {
                std::memcpy(file, below.data(), below.size());
                file[below.size()] = '/';
                length = below.size() + 1;
            }
            std::memcpy(file + length, relative.data(), relative.size());
            length += relative.size();
            IndexEntry entry;
            if (!makeIndexEntry(std::string_view(file, length), true, entry) || entry.emptySlot)
                return true;
            ++listed;
            if (kept < kEntries) {
                treeEntries_[kept] = entry;
                heap[kept] = kept;
                ++kept;
                std::push_heap(heap, heap + kept, larger);
            } else if (std::strcmp(entry.text, treeEntries_[heap[0]].text) < 0) {
                std::pop_heap(heap, heap + kept, larger);
                treeEntries_[heap[kept - 1]] = entry;
                std::push_heap(heap, heap + kept, larger);
            }
            return listed < kMaxIndexEntries;
        });
        std::sort_heap(heap, heap + kept, larger);
        for (int i = 0; i < kEntries; ++i)
            names_.setName(i, i < kept ? std::string_view(treeEntries_[heap[i]].text + treeEntries_[heap[i]].relativeAt) : kEmpty);
        postToGui(kSelectBase + currentEntryInList());
        postToGui(kList, joinedNames(), listText_);
    }

    IndexEntry treeEntries_[kEntries];  // SaveListSearch's smallest entries so far
};

MP_REGISTER_MODULE(Qv_patchmanagerprescat, L"QV_PatchManagerPrescat")
