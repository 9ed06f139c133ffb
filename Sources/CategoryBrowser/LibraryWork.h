// The category manager's library work, done on the bundle's file worker: the folder table, the
// folder and result lists with their presets read ahead; the whole-library
// index and its filters (the search pattern is made, used and freed here), preset and bank
// files, tags by renaming and the Trash. The processing half asks with a LibraryJob and picks up
// what it hands back, ready to copy or to swap in; nothing here runs on the audio thread.
//
// A job's request is a copy of what the work needs. Tables the processing half hands over by
// pointer (the list buffer to fill, the bank to write or fill) are not touched by it until the job
// is picked up; a read-ahead fills only the presets of its list, which the processing half leaves
// alone until the read-ahead is picked up. The index, the directory lister and the search
// pattern belong to LibraryWork and are touched only by jobs, one at a time.
#pragma once

#include "CategoryBrowser/PresetIndex.h"
#include "CategoryBrowser/PresetLibrary.h"
#include "CategoryBrowser/PrescatMessages.h"
#include "FileWorker.h"
#include "FolderWatch.h"
#include "PresetStore/PresetBank.h"

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

// What a load needs of one preset file: the values it gives to slots 0 .. count - 1.
struct PresetRead {
    static constexpr int kMissing = -1;  // the file could not be opened
    int count = kMissing;
    float values[preset_bank::kSlots] = {};
    FileIdentity file;
};

// Writes into the library asked for by every category manager in the process, counted on the
// audio thread as they are submitted: a manager whose read-ahead has not seen them all asks
// the worker what changed before a program change loads from it.
inline std::atomic<uint64_t> libraryWrites{0};

// What changed among the presets of the list shown since the last look: the entries re-read.
struct PresetChanges {
    uint64_t list = 0;  // the list whose entries these are
    int count = 0;
    int entries[kEntries] = {};
    preset_bank::PathBuffer paths[kEntries];
    PresetRead presets[kEntries];
};

// The presets of the list shown, read by the worker with the list, so that a program change loads
// in the block it arrives in. An entry answers only for the path it was read from.
class PresetCache {
public:
    // The preset read for list entry at path; nullptr when none was (the caller asks the worker).
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

// A list as the interface half shows it, and its presets.
struct ListResult {
    preset_bank::NameTable names{preset_bank::kWideNameSlotBytes};
    char text[kListTextBytes] = {};
    int32_t textSize = 1;         // with the NUL
    bool numbered = false;        // folder list: its first preset file has a number prefix
    PresetIndex::Arrows arrows;   // result page
    int page = 0;                 // result page shown (a saved view in time order opens the last)
    PresetCache presets;
    uint64_t generation = 0;      // which request built it
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
        Folders,          // the folder table
        FolderList,       // one folder's presets, by name or oldest first
        ResultPage,       // a page of the stored results
        RescanAndPage,    // the whole-library index, its filter, then a page
        FilterAndPage,    // the stored index filtered, then a page
        SavedAndPage,     // one folder straight into the results, then a page
        TreeList,         // the first 128 presets of a folder tree
        ReadPreset,       // one preset file
        SavePreset,       // the name line of the file there, then the values written to it
        LoadBank,         // a bank file, then the preset of its first name
        LoadNames,        // a bank file's names line
        WriteBankFolder,  // the bank as a folder of preset files, then the folder table
        Retag,            // a preset file's category tag (favourite kept)
        ToggleFavourite,  // a preset file's favourite mark
        Trash,            // a preset file to the Trash
        StartupPath,      // a graph start's settings: the startup bank path
        PresetChanges,    // the presets of the list shown that changed on disk, read again
    };

    // The processing half's state the work needs, copied when asked.
    struct Request {
        What what = What::Folders;
        preset_bank::PathBuffer path;   // the folder listed, or the file acted on
        preset_bank::PathBuffer base;   // where list entries are looked up: folder, or root in a result view
        bool subfoldersAllowed = false; // list entries are paths below the root (result view)
        bool readAhead = false;         // a list: its presets are read with it (offline loads read their file)
        uint64_t generation = 0;        // a list: its number
        FileIdentity file;              // Retag, ToggleFavourite, Trash: act only while the path names this file
        // Folder list
        bool timeOrder = false;
        bool checkNumbered = false;     // time order or its switch: note whether the folder is a bank
        // Result views
        int page = 0;
        bool savedOrderHeld = false;
        bool onlySaved = false;         // "3_SEARCHSAVED": the index keeps "2_SAVED" paths only
        bool editMode = false;
        bool favouriteFilter = false;
        bool folderJustChosen = false;
        int category = 0;
        bool searchActive = false;
        char searchText[kSearchBytes + 1] = {};
        // Files
        float values[preset_bank::kSlots] = {};  // SavePreset
        char name[preset_bank::kWideNameSlotBytes] = {};  // SavePreset: the name written
        bool loadName = false;          // SavePreset: read the name line first
    };

    LibraryJob() = default;
    LibraryJob(const LibraryJob&) = delete;
    LibraryJob& operator=(const LibraryJob&) = delete;

    // [worker; inside submit() offline]
    void run() noexcept override;

    Request request;
    // Where the work puts its big results (set with the request; owned by the processing half).
    class LibraryWork* library = nullptr;
    ListResult* list = nullptr;
    FolderTable* folders = nullptr;
    const preset_bank::BankMemory* bankFrom = nullptr;  // LoadBank starts from it; WriteBankFolder writes it
    preset_bank::BankMemory* bank = nullptr;             // LoadBank fills it
    const preset_bank::NameTable* bankNames = nullptr;   // WriteBankFolder
    PresetChanges* changes = nullptr;                    // PresetChanges fills it
    pin_text::FileSettings startup;                      // StartupPath: a copy, as later graph starts retake theirs
    // For the asker: what it does with the result, the list entry it was asked for, and the
    // library writes submitted before it.
    uint8_t then = 0;
    int entry = 0;
    uint64_t writesBefore = 0;

    // Results
    bool ok = false;                    // the work was done (the file could be read, renamed, ...)
    PresetRead preset;                  // ReadPreset, SavePreset (the file written), LoadBank (entry 0), Retag/ToggleFavourite (the renamed file)
    preset_bank::PathBuffer newPath;    // Retag/ToggleFavourite: the file's new path; LoadBank: entry 0's file;
                                        // StartupPath: the path (empty: no file operation)
    preset_bank::NameTable names{preset_bank::kWideNameSlotBytes};  // LoadBank, LoadNames; SavePreset: slot 0 the name line read
    bool nameRead = false;              // SavePreset
    bool sameFile = false;              // Retag, ToggleFavourite, Trash: the path still named the file asked for
};

// The worker's side of one category manager: its library root, index, lister, search pattern and
// the watch on the folders of the presets read ahead. [worker] (made and destroyed with the module)
class LibraryWork {
public:
    explicit LibraryWork(std::string root);
    ~LibraryWork();
    LibraryWork(const LibraryWork&) = delete;
    LibraryWork& operator=(const LibraryWork&) = delete;

    const std::string& root() const { return root_; }

    void listFolders(FolderTable& out);
    void listFolder(const LibraryJob::Request& request, ListResult& out);
    void rescan(bool onlySaved) { index_.rescan(root_.c_str(), onlySaved); }
    void filter(const LibraryJob::Request& request);
    // The results of one saved folder; the page it opens on.
    int collectSaved(const LibraryJob::Request& request);
    void writePage(const LibraryJob::Request& request, ListResult& out);
    void listTree(const LibraryJob::Request& request, ListResult& out);
    // Reads the preset of every list entry that names a file (at most 128 files); the list
    // builders leave none read. Their folders are watched from then on.
    void readPresets(const LibraryJob::Request& request, ListResult& out);
    // The presets of the last list read ahead whose files changed since the last look, read again.
    void readChanges(PresetChanges& out);
    // Reads the preset file at path (its name line is not kept). false when it cannot be opened.
    bool readPreset(std::string_view path, PresetRead& out);

private:
    FilterRules filterRules(const LibraryJob::Request& request);
    // The user's search text as a pattern; compiled again only when the text changes.
    const re2::RE2* searchPattern(std::string_view text);
    void joinNames(ListResult& out);

    const std::string root_;
    PresetIndex index_;
    std::unique_ptr<re2::RE2> search_;
    std::string searchText_;
    IndexEntry treeEntries_[kEntries];  // listTree's smallest entries so far
    platform::FolderWatch watch_;       // the folders of the presets read ahead
    preset_bank::PathBuffer watched_[kEntries];  // their files, by list entry
    uint64_t watchedList_ = 0;
    unsigned lostLooks_ = 0;  // looks in a row that found changes lost
    preset_bank::NameTable nameLine_{2};  // where readPreset drops the name line
};

// out := the parts joined; false (out emptied, so no file operation follows) when they would not
// fit a path.
bool joinPath(preset_bank::PathBuffer& out, std::initializer_list<std::string_view> parts);

// The file of a list entry: base + "/" + entry + ".tavpreset"; false (out emptied) when the entry
// would lead outside the library or the path would not fit.
bool entryPath(std::string_view base, std::string_view entry, bool subfoldersAllowed, preset_bank::PathBuffer& out);

} // namespace prescat
