// The category manager's file side, kept on the bundle's file worker: the folder table, the list
// shown with its presets read ahead, the page and arrows of a result view, the selected file,
// the bank memory of an import, the effect backup, the whole-library index and its filters, and
// the jobs that change them one at a time in the one order of requests. The processing half
// never waits for any of it: an input that needs the disk, or something this side keeps, is a
// LibraryJob when it arrives, and the worker completes it from what it keeps then, as it stands
// after every earlier request. Nothing here runs on the audio thread.
//
// The processing half picks up what a job hands back (the list text, the folder table, the values
// to write into the shared block as of the job's place, whether a file operation acted) and makes
// its answers from it; the tables it hands over (a list text buffer, a folder table) are the
// worker's until the job comes back.
#pragma once

#include "CategoryBrowser/PresetIndex.h"
#include "CategoryBrowser/PresetLibrary.h"
#include "CategoryBrowser/PrescatMessages.h"
#include "FileWorker.h"
#include "FolderWatch.h"
#include "PresetStore/BlockShadow.h"
#include "PresetStore/PresetBank.h"
#include "PresetStore/PresetBlock.h"

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace re2 {
class RE2;
}

namespace prescat {

inline constexpr int kFolderBytes = 50;       // folder names of at most 49 bytes
inline constexpr std::size_t kSearchBytes = 49;
// 128 entries of up to 99 bytes, each byte possibly shown as a look-alike, and 127 commas.
inline constexpr std::size_t kListTextBytes = kEntries * (shownEntryBytes(kEntryBytes - 1) + 1);
inline constexpr int kMutedSlots[] = {16, 17, 19, 93, 95};
inline constexpr int kBackedUpSlots[] = {13, 16, 17, 19, 90, 93, 95};
// Where a list is: a folder of the table (0-127), or one of these.
inline constexpr int kRootFolder = -1;     // the library root, "root/": whole-library views
inline constexpr int kPresetsFolder = -2;  // "root/Presets", before the first folder table
inline constexpr int kKeepFolder = -3;     // where it was

// What a load needs of one preset file: the values it gives to slots 0 .. count - 1.
struct PresetRead {
    static constexpr int kMissing = -1;  // the file could not be opened
    int count = kMissing;
    float values[preset_bank::kSlots] = {};
    FileIdentity file;
};

// Writes into the library by every category manager in the process, counted by the worker as
// each is made: a manager whose read-ahead has not seen them all looks at its folder watch before
// a program change loads from it.
inline std::atomic<uint64_t> libraryWrites{0};
// Changed presets the folder watches have read again into their read-aheads (tests wait on it).
inline std::atomic<uint64_t> readAheadRefreshes{0};

// The presets of the list shown, read by the worker with the list. An entry answers only for the
// path it was read from.
class PresetCache {
public:
    // The preset read for list entry at path; nullptr when none was.
    const PresetRead* find(int entry, std::string_view path) const;
    void store(int entry, std::string_view path, const PresetRead& preset);
    // After a write: every entry read from path takes preset (kMissing: the file is gone).
    void refresh(std::string_view path, const PresetRead& preset);
    // Every entry below folder is read again when asked for.
    void forgetBelow(std::string_view folder);
    void forgetAll();

private:
    struct Entry {
        preset_bank::PathBuffer path;  // empty: nothing read
        PresetRead preset;
    };
    Entry entries_[kEntries];
};

// A list as the interface half gets it.
struct ListText {
    char text[kListTextBytes] = {};
    int32_t textSize = 1;         // with the NUL
    bool numbered = false;        // folder list: its first preset file has a number prefix
    PresetIndex::Arrows arrows;   // result page
};

// The library root's folders (at most 128, each at most 49 bytes) and their list text.
struct FolderTable {
    char names[kFolders][kFolderBytes] = {};
    int count = 0;  // slots holding a folder; "empty" after them
    char text[kFolders * (shownEntryBytes(kFolderBytes - 1) + 1)] = {};
    int32_t textSize = 1;
};

// One piece of library work and what it hands back. The processing half keeps a few as members.
class LibraryJob final : public file_worker::Job {
public:
    enum class What : uint8_t {
        None,
        Folders,          // the folder table (then, maybe, a list: Request::listAfter)
        FolderList,       // one folder's presets, by name or oldest first
        ResultPage,       // a page of the stored results
        RescanAndPage,    // the whole-library index, its filter, then a page
        FilterAndPage,    // the stored index filtered, then a page
        SavedAndPage,     // one folder straight into the results, then a page
        TreeList,         // the first 128 presets of a folder tree
        Row,              // row 0 or 103 of a result view: a shown arrow turns the page
        LoadEntry,        // a program change: the list entry's preset into the block
        LoadFile,         // a preset file into the block, then into bank memory
        SavePreset,       // the name line of the file there, then the block written to it
        FixPreset,        // the block into bank memory
        Backup,           // the effect slots backed up, unless they are
        Restore,          // the effect slots from their backup
        LoadBank,         // a bank file into bank memory and the names, then its first preset
        LoadNames,        // a bank file's names line
        ClearBank,        // bank memory zero, no import left to write
        WriteBankFolder,  // the imported bank as a folder of preset files, then the folder table
        Retag,            // the selected file's category tag (favourite kept)
        ToggleFavourite,  // the selected file's favourite mark
        Trash,            // the selected file to the Trash
        StartupPath,      // a graph start's settings: the startup bank path
    };

    // What the work needs of the processing half's state, copied when the input arrived.
    struct Request {
        What what = What::None;
        What listAfter = What::None;    // Folders, file work: the list made after it
        int folder = kKeepFolder;       // lists from now on are here (the folder's path as the table
                                        // names it now; after a folder table, as the new one does)
        bool searchView = false;        // list entries are paths below the root
        bool readAhead = false;         // a list: its presets are read with it
        bool clearArrows = false;       // a folder list of a folder view: no page arrows
        int entry = 0;                  // the current entry (a row, a program change)
        bool resultView = false;        // LoadEntry, Row: rows 0 and 103 may be arrows
        bool turnPage = false;          // Row: an arrow turns the page
        preset_bank::PathBuffer path;   // the file acted on, or the folder written
        // Folder list
        bool timeOrder = false;
        bool checkNumbered = false;     // time order or its switch: note whether the folder is a bank
        // Result views
        bool resetPage = false;         // the page goes back to 0 first
        bool savedOrderHeld = false;
        bool onlySaved = false;         // "3_SEARCHSAVED": the index keeps "2_SAVED" paths only
        bool editMode = false;
        bool favouriteFilter = false;
        bool folderJustChosen = false;
        int category = 0;
        bool searchActive = false;
        char searchText[kSearchBytes + 1] = {};
        // Files
        char name[preset_bank::kWideNameSlotBytes] = {};  // SavePreset: the name written
        bool loadName = false;          // SavePreset: read the name line first
        // How the answers are made, as the module stood when the input arrived
        int selectedFolder = 0;
        bool orderToggled = false;
        bool suppressSelectionEcho = false;
        bool favouritesInTimeOrder = false;
    };

    // The work's name in the log when it is refused; whether it makes a list.
    static const char* name(What what);
    static bool isList(What what);

    LibraryJob() = default;
    LibraryJob(const LibraryJob&) = delete;
    LibraryJob& operator=(const LibraryJob&) = delete;

    // [worker; inside submit() offline]
    void run() noexcept override;

    Request request;
    preset_block::Snapshot seen;        // the block as the input saw it (jobs on the block)
    const pin_text::FileSettings* startup = nullptr;  // StartupPath: a copy, as later graph starts retake theirs
    class LibraryWork* library = nullptr;
    ListText* list = nullptr;           // where a list goes (the processing half's)
    FolderTable* folders = nullptr;     // where a folder table goes
    bool owed = false;                  // the processing half answers from its result

    // Results
    bool ok = false;       // the work was done (the file could be read, renamed, ...)
    bool acted = false;    // LoadEntry, LoadBank, Row: there is something to answer
    bool write = false;    // values go into the block as of the job's place
    bool turned = false;   // Row: the page turned; file work: the list after it made (list holds it)
    bool denied = false;   // Trash: the selection is a factory preset
    float values[preset_bank::kSlots] = {};

private:
    void folderTable();
    void row();
    void load();
    void loadFile();
    void save();
    void fix();
    void effects();
    void loadBank();
    void fileWork();
    void startupPath();
};

// The worker's side of one category manager. [worker] (made and destroyed with the module; only
// its jobs and its folder watch's ready() touch it, one at a time)
class LibraryWork final : public file_worker::Watch {
public:
    explicit LibraryWork(std::string root);
    ~LibraryWork();
    LibraryWork(const LibraryWork&) = delete;
    LibraryWork& operator=(const LibraryWork&) = delete;

    // [not the audio thread] The shadow of the block the module opened; in real time, the folder
    // watch starts being read on the worker.
    void start(preset_block::Shadow* shadow, bool realTime);
    // [not the audio thread, after the last job] The watch is no longer read.
    void stop();

    const std::string& root() const { return root_; }
    preset_block::Shadow& shadow() { return *shadow_; }

    // file_worker::Watch: the folders of the presets read ahead changed; their presets are read
    // again into the read-ahead, so a program change loads them as they are now.
    int fd() const noexcept override;
    void ready() noexcept override;

    // ---- What jobs do -----------------------------------------------------------------------
    void listFolders(FolderTable& out);
    // Builds the list the request names into the list shown (with its presets when asked) and
    // its text into out.
    void makeList(LibraryJob::What what, const LibraryJob::Request& request, ListText& out);
    void resetPage() { page_ = 0; }
    void setFolder(int folder) { folderPath(folder, listPath_); }
    // A row of a result view: true when it is a page arrow shown.
    bool arrowRow(int row) const;
    // The page the arrow row points to (never beyond the first or last), into out.
    bool turnPage(int row, const LibraryJob::Request& request, ListText& out);
    // The list entry's preset over the shadow as of place: true when something was loaded (a
    // file, or the init patch for an "empty" entry). The entry becomes the selection. values:
    // the block as it then is.
    bool loadEntry(int entry, uint64_t place, float (&values)[preset_bank::kSlots]);
    // The preset file at path the same way, then into bank memory at entry.
    bool loadPath(std::string_view path, int entry, uint64_t place, float (&values)[preset_bank::kSlots]);
    void backupEffects(bool always);
    // The muted slots from their backup, as of place, into values.
    void restoreEffects(uint64_t place, float (&values)[preset_bank::kSlots]);
    void storeInBank(int entry);
    // The block as the worker knows it written to the request's file (values: what was written).
    bool save(const LibraryJob::Request& request, float (&values)[preset_bank::kSlots]);
    bool loadBank(std::string_view path, uint64_t place, float (&values)[preset_bank::kSlots]);
    bool loadNames();
    void clearBank();
    bool writeBank(std::string_view folder, FolderTable& out);
    // The selected file renamed or trashed, if it is still the file shown and the file it was;
    // true when so (the answers follow).
    bool retag(const LibraryJob::Request& request, bool favourite);
    bool trash(const LibraryJob::Request& request, bool& denied);
    void setFilePath(std::string_view path) { filePath_.assign(path); }
    // Reads the preset file at path (its name line is not kept). false when it cannot be opened.
    bool readPreset(std::string_view path, PresetRead& out);

private:
    bool folderPath(int folder, preset_bank::PathBuffer& out) const;
    bool entryFile(int entry, preset_bank::PathBuffer& out) const;
    bool selectionShown(int entry) const;
    void listFolder(const preset_bank::PathBuffer& path, const LibraryJob::Request& request, ListText& out);
    void writePage(const LibraryJob::Request& request, ListText& out);
    void listTree(const preset_bank::PathBuffer& path);
    FilterRules filterRules(const LibraryJob::Request& request);
    // The user's search text as a pattern; compiled again only when the text changes.
    const re2::RE2* searchPattern(std::string_view text);
    void joinNames(ListText& out);
    // The presets of every list entry that names a file; their folders are watched from then on.
    void readPresets();
    // What the watch saw since it last looked, read again into the read-ahead.
    void refreshChanged();
    bool applyPreset(const PresetRead& preset, int entry, uint64_t place, float (&values)[preset_bank::kSlots]);
    void counted();  // a write into the library was made

    const std::string root_;
    preset_block::Shadow* shadow_ = nullptr;
    bool watching_ = false;
    PresetIndex index_;
    std::unique_ptr<re2::RE2> search_;
    std::string searchText_;
    IndexEntry treeEntries_[kEntries];  // listTree's smallest entries so far
    FolderTable table_;
    // The list shown: its names, where they are, its presets and, in a result view, its page.
    preset_bank::NameTable names_{preset_bank::kWideNameSlotBytes};
    preset_bank::PathBuffer listPath_;  // where lists are made
    preset_bank::PathBuffer base_;
    bool searchView_ = false;
    bool readAhead_ = false;
    PresetCache presets_;
    PresetIndex::Arrows arrows_;
    int page_ = 0;
    // The selection: the row and file of the last preset a program change loaded from the list.
    int selectedEntry_ = -1;
    preset_bank::PathBuffer selectedFile_;
    FileIdentity selectedId_;
    preset_bank::PathBuffer filePath_;  // the last file loaded, or the startup bank
    preset_bank::BankMemory bank_;
    preset_bank::BankMemory bankIn_;   // a bank import on its way
    preset_bank::NameTable bankNames_{preset_bank::kWideNameSlotBytes};
    preset_bank::NameTable scratchNames_{preset_bank::kWideNameSlotBytes};
    bool bankImported_ = false;
    float effectBackup_[preset_bank::kSlots] = {};
    bool backupTaken_ = false;
    platform::FolderWatch watch_;       // the folders of the presets read ahead
    preset_bank::PathBuffer watched_[kEntries];  // their files, by list entry
    uint64_t writesSeen_ = 0;
    unsigned lostLooks_ = 0;  // looks in a row that found changes lost
    preset_bank::NameTable nameLine_{2};  // where readPreset drops the name line
};

// A missing library is brought back from its backup; nothing is created. Errors leave the
// library as it is: the lists then come out empty. [not the audio thread]
void restoreLibraryFromBackup(const std::string& root);

// out := the parts joined; false (out emptied, so no file operation follows) when they would not
// fit a path.
bool joinPath(preset_bank::PathBuffer& out, std::initializer_list<std::string_view> parts);

// The file of a list entry: base + "/" + entry + ".tavpreset"; false (out emptied) when the entry
// would lead outside the library or the path would not fit.
bool entryPath(std::string_view base, std::string_view entry, bool subfoldersAllowed, preset_bank::PathBuffer& out);

} // namespace prescat
