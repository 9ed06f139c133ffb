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
#include <sys/types.h>
#include <type_traits>

struct statx;

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

// A tag (" #xx", " #fav", its leading space its own) is a word of its own: its bytes are the tag
// only where the end of the text, a space or a "/" (the end of a folder's name in a path) follows
// them. A word of the user's that starts like a tag ("Mix #array", "#001 #favourite") is never
// taken for one: not found, not cut, not filtered on. Taking a whole tag out leaves every other
// one whole and makes no new one, so the order tags are taken out in does not matter.
bool tagAt(std::string_view text, std::size_t at, std::string_view tag);
// Position of the first whole tag from `from` on, or npos.
std::size_t findTag(std::string_view text, std::string_view tag, std::size_t from = 0);
inline bool hasTag(std::string_view text, std::string_view tag) { return findTag(text, tag) != std::string_view::npos; }
// The category (1-17) whose tag stands whole at `at`, or 0.
int categoryTagAt(std::string_view text, std::size_t at);
// Category k's tag occurs whole in text (k 1-17); false for other k.
bool hasCategoryTag(std::string_view text, int category);
bool hasAnyCategoryTag(std::string_view text);
inline bool hasFavouriteTag(std::string_view text) { return hasTag(text, kFavouriteTag); }
// text with every whole category tag (kCategoryTags) and/or favourite tag (kFavouriteTags) taken
// out, byte for byte otherwise.
enum TagKinds : unsigned { kCategoryTags = 1, kFavouriteTags = 2 };
std::string withoutTags(std::string_view text, unsigned kinds);
// text ends in exactly ".tavpreset" (byte comparison) and has a stem before it.
bool isPresetFileName(std::string_view name);

// ---- Renaming ---------------------------------------------------------------------------------

// A preset file name re-tagged: every whole category tag and favourite mark taken out of the stem,
// then the tag of category (1-17; none for other values) and, when the name had it, " #fav".
// Only the file's own name is given and changed, never its folders. The name must satisfy
// isPresetFileName. A name left with no stem is " .tavpreset", which the library lists. A number
// prefix stays whole, so a factory preset stays one: a tag right after it shares its space, which
// stays when the tag comes off ("#001 #fav" <-> "#001 ").
std::string retaggedName(std::string_view fileName, int category);
// The favourite mark taken off the name (every whole one), or put on before the extension.
std::string favouriteToggledName(std::string_view fileName);

// A list or bank name made fit to be one component of a file name in the library: "/" and
// "\" become "_", NUL ends it, and a name that is "." or ".." (or empty) gets a leading "_".
std::string safeNameComponent(std::string_view name);

// A path below the library root as given by a list entry (a stem, or a relative path in a result
// view): true when every component is a real name (no empty, "." or ".." component), so that
// root + "/" + entry stays inside the library. Folder views allow no "/" at all.
bool isInsideLibraryEntry(std::string_view entry, bool subfoldersAllowed);

// ---- Which file a path names -------------------------------------------------------------------

// Which file a path named when it was read: the link itself for a linked preset; not known when
// there was none. A file system may give a new file the inode number of one just removed (ext4
// does at once), so the number alone does not tell a file from the one written after it under its
// name: the time the file was born does, or, where the file system keeps none, the last change of
// its status (which a rename, a link or a write changes as well: the file then counts as another
// one, and an action on it is left undone rather than done on the wrong file).
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    int64_t seconds = 0;       // born, or the status last changed
    uint32_t nanoseconds = 0;
    bool born = false;         // the time is the birth time
    bool known = false;
    bool operator==(const FileIdentity&) const = default;
};

// [worker] The identity of the file at path now (not known when there is none).
FileIdentity identify(std::string_view path);
// The identity a file's status gives (statx with or without its birth time).
FileIdentity identityOf(const struct ::statx& status);

// Where identify() reads a file's status: statx without following a link (lstat where the kernel
// has no statx). Tests put a file system of their choosing in its place; nullptr puts the real
// one back. Set while no file work runs.
using StatusReader = int (*)(const char* path, struct ::statx& out);
void setStatusReaderForTests(StatusReader reader);

// ---- Index entries ----------------------------------------------------------------------------

inline constexpr int kEntryBytes = 100;  // index, result and name slots hold 99 bytes + NUL

// One preset file's index entry: display "," number "," relative, where relative is the path
// below the library root without the extension, number the first "#NNN " prefix of the file
// name (or nothing) and display the file name without extension with every number prefix and
// (unless keepCategoryTags) every whole category tag removed. A display too long for the slot is cut;
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
// U+201A and ";" as U+037E, in UTF-8. A name's own U+201A, U+037E or ESC goes after an ESC, so
// the interface half can tell a file's own characters from the look-alikes and offer its name as
// it is on disk. Names on disk, in the tables and in file paths keep their own characters.
inline constexpr std::string_view kShownComma = "\xE2\x80\x9A";   // U+201A SINGLE LOW-9 QUOTATION MARK
inline constexpr std::string_view kShownSemicolon = "\xCD\xBE";   // U+037E GREEK QUESTION MARK
inline constexpr char kListEscape = '\x1B';
// Bytes an entry of n bytes may take in a list text.
inline constexpr std::size_t shownEntryBytes(std::size_t n) { return n * kShownComma.size(); }
// Appends name as one list entry to out (capacity bytes with its NUL) at length; stops at the
// first character that would not fit (a look-alike or an escaped character is never split).
void appendShownEntry(char* out, std::size_t capacity, std::size_t& length, std::string_view name);
// A list entry as the name it came from: look-alikes back as "," and ";", escaped characters as
// themselves.
std::string nameFromListEntry(std::string_view entry);
// A name as a list shows it: "," and ";" as their look-alikes.
std::string withLookAlikes(std::string_view name);

// ---- Directory listing in fixed memory ----------------------------------------------------------

// Lists folders into a fixed pool of names and walks trees depth first, so the whole walk visits
// paths in path order. A listing takes the first entries of the whole folder in its order (byte
// order of names, or oldest first), as many as asked for and as the pool has room for: while
// reading it keeps the smallest so far in a bounded max-heap, so a folder of any size is read in
// the same memory. Whoever wants more of a folder than one listing held lists it again after the
// last entry taken. Nothing is allocated after construction. Names longer than 255 bytes (no
// Linux file system makes them) are left out.
class DirectoryLister {
public:
    enum class Kind : uint8_t { Folder, File, Link, Other };
    enum class Order : uint8_t { Name, Time };  // Time: last-write second, then name
    struct Entry {
        int64_t second;  // 0 in name order
        uint32_t nameAt;
        uint16_t nameLength;
        Kind kind;
    };
    struct Range {
        uint32_t first = 0;
        uint32_t last = 0;
        std::size_t bytesMark = 0;  // pool bytes in use before the listing
        bool more = false;          // the folder holds entries after the last one taken
    };
    // Where a listing resumes: only entries after this one are taken.
    struct Mark {
        int64_t second = 0;
        uint16_t length = 0;
        bool set = false;
        char name[256];
    };
    // The caller's choice of entries: whether one counts and, in time order, its last-write
    // second. name is NUL-terminated; folderFd is the folder being listed.
    class Keep {
    public:
        template <class F>
            requires(!std::is_same_v<std::remove_cv_t<F>, Keep>)
        Keep(F& f) // NOLINT(google-explicit-constructor): a lambda passed where a Keep is asked for
            : f_(&f), call_([](void* f, std::string_view name, Kind kind, int folderFd, int64_t& second) {
                  return (*static_cast<F*>(f))(name, kind, folderFd, second);
              })
        {
        }
        bool operator()(std::string_view name, Kind kind, int folderFd, int64_t& second) const
        {
            return call_(f_, name, kind, folderFd, second);
        }

    private:
        void* f_;
        bool (*call_)(void*, std::string_view, Kind, int, int64_t&);
    };

    static constexpr std::size_t kPoolBytes = 2u << 20;
    static constexpr uint32_t kPoolEntries = 65536;
    static constexpr int kMaxDepth = 48;
    static constexpr std::size_t kMaxName = 255;

    DirectoryLister();
    ~DirectoryLister();
    DirectoryLister(const DirectoryLister&) = delete;
    DirectoryLister& operator=(const DirectoryLister&) = delete;

    // Lists the folder open as folderFd (not closed here) on top of the pool: the first entries in
    // order that keep accepts and that come after `after` (when given), at most `wanted` of them,
    // sorted; levelsBelow is the number of listings that may still be made on top of this one
    // (room is left for them). release() gives the room back.
    Range list(int folderFd, uint32_t wanted, Order order, const Mark* after, uint32_t levelsBelow, Keep keep);
    void release(const Range& range);
    std::string_view name(const Entry& entry) const { return std::string_view(bytes_ + entry.nameAt, entry.nameLength); }
    const Entry& entry(uint32_t i) const { return entries_[i]; }
    // The mark after entry i.
    void markAfter(uint32_t i, Mark& mark) const;

    // Walks the tree below the folder at path (not following links to folders) in path order and
    // calls visit(relativePath, kind) for every entry that is not a folder and that
    // keep(name, kind) accepts; relativePath is the path below the walk's root. Each folder is
    // listed about `wanted` entries at a time. visit returns false to stop. false when path
    // cannot be opened.
    template <class KeepFile, class Visit>
    bool walk(const char* path, uint32_t wanted, KeepFile&& keep, Visit&& visit);

    // Visits the same files as walk() in no particular order: each folder is read once, its files
    // visited as they come and its folders walked after it, nothing sorted. For callers that want
    // the whole set and order it themselves. false when path cannot be opened, visit stopped the
    // walk, or the folders still to walk did not fit the pool: then not every file was visited.
    template <class KeepFile, class Visit>
    bool walkAnyOrder(const char* path, KeepFile&& keep, Visit&& visit);

    // Lists the single folder at path; calls visit(name, kind, folderFd) in order for the entries
    // keep accepts (as for list()), about `wanted` at a time, until visit returns false.
    template <class Visit>
    bool each(const char* path, uint32_t wanted, Order order, Keep keep, Visit&& visit);

private:
    // The unordered walk; visit is called as visit(relativePath, kind, folderFd, unused).
    bool walkUnordered(const char* path, Keep keep, Keep visit);
    bool walkFolderUnordered(int fd, std::size_t pathLength, int depth, Keep keep, Keep visit);
    template <class Visit>
    bool walkFolder(int fd, std::size_t pathLength, int depth, uint32_t wanted, Keep keep, Visit& visit);
    // list() in parts.
    struct Listing;
    bool shareOfPool(Listing& listing, uint32_t wanted, uint32_t levelsBelow) const;
    void take(Listing& listing, int64_t second, std::string_view name, Kind kind);
    // Moves the names of the entries from first on to the start of the region, closing holes.
    void compact(uint32_t first, uint32_t count, std::size_t bytesMark);
    static uint32_t grown(uint32_t wanted) { return wanted < kPoolEntries / 2 ? wanted * 2 : kPoolEntries; }

    char* bytes_;
    Entry* entries_;
    std::size_t bytesUsed_ = 0;
    uint32_t entriesUsed_ = 0;
    Mark cut_;  // the first entry left out by the listing in progress
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

template <class KeepFile, class Visit>
bool DirectoryLister::walk(const char* path, uint32_t wanted, KeepFile&& keep, Visit&& visit)
{
    const int fd = openFolder(path);
    if (fd < 0)
        return false;
    auto keepEntry = [&keep](std::string_view name, Kind kind, int, int64_t&) { return kind == Kind::Folder || keep(name, kind); };
    path_[0] = 0;
    walkFolder(fd, 0, 0, wanted, keepEntry, visit);
    closeFolder(fd);
    return true;
}

template <class Visit>
bool DirectoryLister::walkFolder(int fd, std::size_t pathLength, int depth, uint32_t wanted, Keep keep, Visit& visit)
{
    Mark after;
    bool goOn = true;
    uint32_t limit = wanted;
    for (bool more = true; more && goOn; limit = grown(limit)) {
        const Range range = list(fd, limit, Order::Name, after.set ? &after : nullptr,
                                 static_cast<uint32_t>(kMaxDepth - 1 - depth), keep);
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
                if (depth + 1 < kMaxDepth) {
                    const int child = openFolderAt(fd, path_ + length - e.nameLength);
                    if (child >= 0) {
                        goOn = walkFolder(child, length, depth + 1, wanted, keep, visit);
                        closeFolder(child);
                    }
                }
            } else {
                goOn = visit(std::string_view(path_, length), e.kind);
            }
            path_[pathLength] = 0;
        }
        more = range.more && range.last > range.first;
        if (more)
            markAfter(range.last - 1, after);
        release(range);
    }
    return goOn;
}

template <class KeepFile, class Visit>
bool DirectoryLister::walkAnyOrder(const char* path, KeepFile&& keep, Visit&& visit)
{
    auto keepFile = [&keep](std::string_view name, Kind kind, int, int64_t&) { return keep(name, kind); };
    auto visitFile = [&visit](std::string_view relative, Kind kind, int, int64_t&) { return visit(relative, kind); };
    return walkUnordered(path, Keep(keepFile), Keep(visitFile));
}

template <class Visit>
bool DirectoryLister::each(const char* path, uint32_t wanted, Order order, Keep keep, Visit&& visit)
{
    const int fd = openFolder(path);
    if (fd < 0)
        return false;
    Mark after;
    char name[kMaxName + 1];
    bool goOn = true;
    for (bool more = true; more && goOn; wanted = grown(wanted)) {
        const Range range = list(fd, wanted, order, after.set ? &after : nullptr, 0, keep);
        for (uint32_t i = range.first; i < range.last && goOn; ++i) {
            const std::string_view n = this->name(entries_[i]);
            std::copy(n.begin(), n.end(), name);
            name[n.size()] = 0;
            goOn = visit(std::string_view(name, n.size()), entries_[i].kind, fd);
        }
        more = range.more && range.last > range.first;
        if (more)
            markAfter(range.last - 1, after);
        release(range);
    }
    closeFolder(fd);
    return true;
}

} // namespace prescat
