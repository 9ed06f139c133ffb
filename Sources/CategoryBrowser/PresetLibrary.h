// The category manager's preset library on disk: where it lives, how a preset file's name carries
// its bank slot, category and favourite mark, the category table, and a directory lister that
// works in fixed memory so the list builders can run from timer expiries.
//
// Library tree below the shared folder:
//   Quorvane/TAVRIN TWO/Presetbase             the library root; every sub-folder is a folder
//   Quorvane/TAVRIN TWO/Presetbase_BACKUPINI   a backup, moved into place when the root is missing
// File name: ["#NNN "] name [" #xx"] [" #fav"] ".tavpreset"
//   "#NNN " (001-128): slot of a bank folder, a factory preset that is never deleted;
//   " #xx": a category tag of the table below; " #fav": the favourite mark, after the category.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace prescat {

inline constexpr int kCategories = 18;                  // 0 = none/ALL, 1-17 tagged
inline constexpr std::string_view kExtension = ".tavpreset";
inline constexpr std::string_view kFavouriteTag = " #fav";
inline constexpr int kNumberPrefixBytes = 5;            // "#NNN "

// Tag of category k (" #ar" .. " #sw"; "" for 0) and its label ("ALL" .. "SWEEPS").
std::string_view categoryTag(int category);
std::string_view categoryLabel(int category);

// Library root and backup folder below the shared folder (platform::sharedFolder()).
std::string libraryRootPath();
std::string libraryBackupPath();

// ---- Name tests, all plain byte searches (linear time) ----------------------------------------

inline bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }
// Position of the first "#" digit digit digit " " in text, or npos.
std::size_t findNumberPrefix(std::string_view text, std::size_t from = 0);
inline bool hasNumberPrefix(std::string_view text) { return findNumberPrefix(text) != std::string_view::npos; }
// Category k's tag occurs in text (k 1-17); false for other k.
bool hasCategoryTag(std::string_view text, int category);
bool hasAnyCategoryTag(std::string_view text);
// text ends in exactly ".tavpreset" (byte comparison) and has a stem before it.
bool isPresetFileName(std::string_view name);

// ---- Renaming ---------------------------------------------------------------------------------

// A preset file name re-tagged: every category tag and the favourite mark taken out of the stem,
// then the tag of category (1-17; none for other values) and, when the name had it, " #fav".
// Only the file's own name is given and changed, never its folders. The name must satisfy
// isPresetFileName.
std::string retaggedName(std::string_view fileName, int category);
// The favourite mark taken off the name (every occurrence), or put on before the extension.
std::string favouriteToggledName(std::string_view fileName);

// A list or bank name made fit to be one component of a file name in the library: "/" and
// "\" become "_", NUL ends it, and a name that is "." or ".." (or empty) gets a leading "_".
std::string safeNameComponent(std::string_view name);

// A path below the library root as given by a list entry (a stem, or a relative path in a result
// view): true when every component is a real name (no empty, "." or ".." component), so that
// root + "/" + entry stays inside the library. Folder views allow no "/" at all.
bool isInsideLibraryEntry(std::string_view entry, bool subfoldersAllowed);

// ---- Index entries ----------------------------------------------------------------------------

inline constexpr int kEntryBytes = 100;  // index, result and name slots hold 99 bytes + NUL

// One preset file's index entry: display "," number "," relative, where relative is the path
// below the library root without the extension, number the first "#NNN " prefix of the file
// name (or nothing) and display the file name without extension with every number prefix and
// (unless keepCategoryTags) every category tag removed. A display too long for the slot is cut;
// a relative path too long for it makes no entry (it could not be loaded from a list slot).
struct IndexEntry {
    char text[kEntryBytes] = {};
    uint8_t relativeAt = 0;   // where the relative field starts in text
    bool emptySlot = false;   // "#NNN empty.tavpreset"
    bool inSaved = false;     // relative holds "2_SAVED"
    bool dashes = false;      // the file name holds "--"
    char name[kEntryBytes] = {}; // the file name without extension and number prefixes, tags kept
};
// relativeFile: the file's path below the root, with its ".tavpreset". false: no entry.
bool makeIndexEntry(std::string_view relativeFile, bool keepCategoryTags, IndexEntry& out);

// ---- List texts -------------------------------------------------------------------------------

// The lists the interface half shows travel as one text of entries joined by "," (the interface
// also ends an entry at ";"). A name holding either character would split into two entries and
// shift every later row onto its neighbour's file, so the text shows them as look-alikes: "," as
// U+201A and ";" as U+037E, in UTF-8. Names on disk, in the tables and in file paths keep their
// own characters; only the text that is shown carries the look-alikes.
inline constexpr std::string_view kShownComma = "\xE2\x80\x9A";   // U+201A SINGLE LOW-9 QUOTATION MARK
inline constexpr std::string_view kShownSemicolon = "\xCD\xBE";   // U+037E GREEK QUESTION MARK
// Bytes an entry of n bytes may take in a list text.
inline constexpr std::size_t shownEntryBytes(std::size_t n) { return n * kShownComma.size(); }
// Appends name as one list entry to out (capacity bytes with its NUL) at length; stops at the
// first character that would not fit (a look-alike is never split).
void appendShownEntry(char* out, std::size_t capacity, std::size_t& length, std::string_view name);
// A shown name with its look-alikes back as "," and ";": the name of the file it came from.
std::string withSeparatorsRestored(std::string_view shown);

// ---- Directory listing in fixed memory ----------------------------------------------------------

// Lists folders into a fixed pool of names, each folder's entries in byte order of their names,
// and walks trees depth first, so the whole walk visits paths in path order. Nothing is
// allocated after construction; a folder with more entries or name bytes than the pool has room
// for is listed as far as it fits.
class DirectoryLister {
public:
    enum class Kind : uint8_t { Folder, File, Link, Other };
    struct Entry {
        uint32_t nameAt;
        uint16_t nameLength;
        Kind kind;
    };
    struct Range {
        uint32_t first = 0;
        uint32_t last = 0;
        std::size_t bytesMark = 0;  // pool bytes in use before the listing
    };

    static constexpr std::size_t kPoolBytes = 2u << 20;
    static constexpr uint32_t kPoolEntries = 65536;
    static constexpr int kMaxDepth = 48;

    DirectoryLister();
    ~DirectoryLister();
    DirectoryLister(const DirectoryLister&) = delete;
    DirectoryLister& operator=(const DirectoryLister&) = delete;

    // Lists the folder open as folderFd (not closed here) on top of the pool, sorted; release()
    // with the range's first entry gives the room back.
    Range list(int folderFd);
    void release(const Range& range);
    std::string_view name(const Entry& entry) const { return std::string_view(bytes_ + entry.nameAt, entry.nameLength); }
    const Entry& entry(uint32_t i) const { return entries_[i]; }

    // Walks the tree below the folder at path (not following links to folders) in path order and
    // calls visit(relativePath, kind) for every entry that is not a folder; relativePath is the
    // path below the walk's root. visit returns false to stop. false when path cannot be opened.
    template <class Visit>
    bool walk(const char* path, Visit&& visit);

    // Lists the single folder at path; calls visit(name, kind, folderFd) in byte order of names.
    template <class Visit>
    bool each(const char* path, Visit&& visit);

private:
    template <class Visit>
    bool walkFolder(int fd, std::size_t pathLength, int depth, Visit& visit);

    char* bytes_;
    Entry* entries_;
    std::size_t bytesUsed_ = 0;
    uint32_t entriesUsed_ = 0;
    char path_[4096] = {};
};

// Opens path as a folder for listing; -1 on failure.
int openFolder(const char* path);
int openFolderAt(int parentFd, const char* name);
void closeFolder(int fd);
// Kind of name in folderFd following links (a link to a folder counts as a folder).
DirectoryLister::Kind kindFollowingLinks(int folderFd, const char* name);
// Last-write time in whole seconds of a regular file (links followed); false for anything else.
bool modifiedSecond(int folderFd, const char* name, int64_t& second);

template <class Visit>
bool DirectoryLister::walk(const char* path, Visit&& visit)
{
    const int fd = openFolder(path);
    if (fd < 0)
        return false;
    path_[0] = 0;
    walkFolder(fd, 0, 0, visit);
    closeFolder(fd);
    return true;
}

template <class Visit>
bool DirectoryLister::walkFolder(int fd, std::size_t pathLength, int depth, Visit& visit)
{
    const Range range = list(fd);
    bool goOn = true;
    for (uint32_t i = range.first; i < range.last && goOn; ++i) {
        const Entry& e = entries_[i];
        const std::size_t length = pathLength + (pathLength ? 1 : 0) + e.nameLength;
        if (length + 1 > sizeof path_)
            continue;  // too deep to name: left out
        char* at = path_ + pathLength;
        if (pathLength)
            *at++ = '/';
        std::copy(bytes_ + e.nameAt, bytes_ + e.nameAt + e.nameLength, at);
        path_[length] = 0;
        if (e.kind == Kind::Folder) {
            if (depth + 1 >= kMaxDepth)
                continue;
            const int child = openFolderAt(fd, path_ + length - e.nameLength);
            if (child >= 0) {
                goOn = walkFolder(child, length, depth + 1, visit);
                closeFolder(child);
            }
        } else {
            goOn = visit(std::string_view(path_, length), e.kind);
        }
        path_[pathLength] = 0;
    }
    release(range);
    return goOn;
}

template <class Visit>
bool DirectoryLister::each(const char* path, Visit&& visit)
{
    const int fd = openFolder(path);
    if (fd < 0)
        return false;
    const Range range = list(fd);
    char name[1024];
    for (uint32_t i = range.first; i < range.last; ++i) {
        const std::string_view n = this->name(entries_[i]);
        if (n.size() >= sizeof name)
            continue;
        std::copy(n.begin(), n.end(), name);
        name[n.size()] = 0;
        if (!visit(std::string_view(name, n.size()), entries_[i].kind, fd))
            break;
    }
    release(range);
    closeFolder(fd);
    return true;
}

} // namespace prescat
