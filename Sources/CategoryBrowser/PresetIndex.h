// The category manager's index and result pages: every preset file of the library as an index
// entry (display "," number "," relative), sorted; the entries that pass the view's filters as
// results; and one page of results with its arrows, written into the list the interface shows.
// All tables are fixed (16,384 entries of 100 bytes each for the index and the results) and
// allocated once, so rebuilding, filtering and paging allocate nothing.
//
// Paging: page 0 shows results 0-102 in rows 0-102; page p >= 1 shows "<<" in row 0 and results
// 102p+1 .. 102p+102 in rows 1-102; row 103 shows ">>" exactly while results remain after the
// page, so every result is on a reachable page.
#pragma once

#include "CategoryBrowser/PresetLibrary.h"
#include "PresetStore/PresetBank.h"

#include <memory>
#include <string_view>

namespace re2 {
class RE2;
}

namespace prescat {

inline constexpr int kMaxIndexEntries = 16384;
// The page that shows the last result of a full result array.
inline constexpr int kLastPage = (kMaxIndexEntries - 103 + 101) / 102;

// The filters of a result view. Tags count where they stand whole (PresetLibrary.h): in an index
// entry the file name at the end of its relative field, or a folder's name in it. search, when
// set, is matched case-insensitively anywhere in the text (linear time); it is owned by the caller.
struct FilterRules {
    int category = 0;        // 0: any; 1-17: that tag
    bool favouriteOnly = false;
    bool editMode = false;   // only presets without any category tag
    const re2::RE2* search = nullptr;
};
bool passesFilter(std::string_view text, const FilterRules& rules);

// The last page of n results (oldest-first views open there).
inline int lastPageOf(int results) { return results <= 103 ? 0 : (results - 104) / 102 + 1; }

class PresetIndex {
public:
    PresetIndex();
    ~PresetIndex();
    PresetIndex(const PresetIndex&) = delete;
    PresetIndex& operator=(const PresetIndex&) = delete;

    // The whole tree below root (links to folders not followed) in path order, at most 16,384
    // entries, then sorted by whole entry as unsigned bytes. Left out: empty bank slots, names
    // with "--", and with onlySaved paths without "2_SAVED".
    void rescan(const char* root, bool onlySaved);
    // The index entries that pass rules, in index order, become the results.
    void filter(const FilterRules& rules);
    // The preset files of one folder (relativeFolder below the root) straight into the results, in
    // path order or oldest first; the file name (number prefix removed) must pass rules.
    void collectFolder(const char* folder, std::string_view relativeFolder, bool byTime, const FilterRules& rules);
    // The results newest first after an oldest-first collection.
    void reverseResults();

    int fileCount() const { return fileCount_; }
    int resultCount() const { return resultCount_; }

    struct Arrows {
        bool previous = false;
        bool next = false;
    };
    // Rows 0-103 of names := page p of the results ("empty" where none); rows 104-127 untouched.
    Arrows writePage(int page, preset_bank::NameTable& names) const;

    // The first `wanted` preset files of one folder (no folders) in path order, or oldest first by
    // last-write second with ties in path order, handed to take(name, folderFd) in that order;
    // take returns false to stop, and more than `wanted` are handed on while it goes on.
    template <class Take>
    void eachPresetFile(const char* folder, bool byTime, int wanted, Take&& take);

    DirectoryLister& lister() { return lister_; }

private:
    struct Tables;
    void addResult(const char* text, uint8_t relativeAt);

    std::unique_ptr<Tables> tables_;
    DirectoryLister lister_;
    int fileCount_ = 0;
    int resultCount_ = 0;
    bool overfull_ = false;  // the last rescan filled the index
};

template <class Take>
void PresetIndex::eachPresetFile(const char* folder, bool byTime, int wanted, Take&& take)
{
    auto keep = [byTime](std::string_view name, DirectoryLister::Kind kind, int folderFd, int64_t& second) {
        return kind != DirectoryLister::Kind::Folder && isPresetFileName(name) &&
               (!byTime || modifiedSecond(folderFd, name.data(), second));
    };
    lister_.each(folder, static_cast<uint32_t>(wanted), byTime ? DirectoryLister::Order::Time : DirectoryLister::Order::Name,
                 keep, [&take](std::string_view name, DirectoryLister::Kind, int folderFd) { return take(name, folderFd); });
}

} // namespace prescat
