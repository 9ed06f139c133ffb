#include "CategoryBrowser/PresetLibrary.h"

#include "SharedFolder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace prescat {

namespace {

constexpr std::string_view kTags[kCategories] = {"",     " #ar", " #ba", " #br", " #cl", " #dr", " #ef", " #ep", " #le",
                                                 " #lf", " #or", " #ot", " #pa", " #pe", " #sa", " #sb", " #st", " #sw"};
constexpr std::string_view kLabels[kCategories] = {"ALL",    "ARPEGGIOS", "BASS",       "BRASS",      "CLAVINET", "DRUMS",
                                                   "EFFECTS", "EPIANO",   "LEADS",      "LFOPADS",    "ORGANS",   "OTHER",
                                                   "PADS",   "PERCUSSIVE", "SAMPLEHOLD", "STABS",     "STRINGS",  "SWEEPS"};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// True when a number prefix "#NNN " ends just before end: its space is the byte at end - 1.
bool numberPrefixEndsAt(std::string_view text, std::size_t end)
{
    return end >= static_cast<std::size_t>(kNumberPrefixBytes) &&
           findNumberPrefix(text, end - kNumberPrefixBytes) == end - kNumberPrefixBytes;
}

// Copies src into out (capacity bytes with NUL) at *length; false when it does not fit.
bool append(char* out, std::size_t capacity, std::size_t& length, std::string_view src)
{
    if (length + src.size() + 1 > capacity)
        return false;
    if (!src.empty())
        std::memcpy(out + length, src.data(), src.size());
    length += src.size();
    out[length] = 0;
    return true;
}

} // namespace

std::string_view categoryTag(int category)
{
    return category > 0 && category < kCategories ? kTags[category] : std::string_view();
}

std::string_view categoryLabel(int category)
{
    return category >= 0 && category < kCategories ? kLabels[category] : std::string_view();
}

std::string libraryRootPath()
{
    return (platform::sharedFolder() / "Quorvane" / "TAVRIN TWO" / "Presetbase").string();
}

std::string libraryBackupPath()
{
    return (platform::sharedFolder() / "Quorvane" / "TAVRIN TWO" / "Presetbase_BACKUPINI").string();
}

std::size_t findNumberPrefix(std::string_view text, std::size_t from)
{
    for (std::size_t at = text.find('#', from); at != std::string_view::npos; at = text.find('#', at + 1)) {
        if (at + kNumberPrefixBytes <= text.size() && isDigit(text[at + 1]) && isDigit(text[at + 2]) &&
            isDigit(text[at + 3]) && text[at + 4] == ' ')
            return at;
    }
    return std::string_view::npos;
}

namespace {

bool isTagEnd(std::string_view text, std::size_t end) { return end == text.size() || text[end] == ' ' || text[end] == '/'; }

// Bytes of the tag of kinds standing whole at `at`, or 0.
std::size_t tagLengthAt(std::string_view text, std::size_t at, unsigned kinds)
{
    if ((kinds & kCategoryTags) && categoryTagAt(text, at) != 0)
        return 4;
    if ((kinds & kFavouriteTags) && tagAt(text, at, kFavouriteTag))
        return kFavouriteTag.size();
    return 0;
}

// text without the whole tags of kinds, in one pass. In a file name (numberedName) a tag right
// after a number prefix ("#001 #fav") shares the prefix's space: that space stays, or the prefix
// that keeps a factory preset from being deleted would be gone.
std::string removeTags(std::string_view text, unsigned kinds, bool numberedName)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = text[i] == ' ' ? tagLengthAt(text, i, kinds) : 0;
        if (length == 0) {
            out += text[i++];
            continue;
        }
        if (numberedName && numberPrefixEndsAt(text, i + 1))
            out += ' ';
        i += length;
    }
    return out;
}

} // namespace

bool tagAt(std::string_view text, std::size_t at, std::string_view tag)
{
    return at < text.size() && text.substr(at, tag.size()) == tag && isTagEnd(text, at + tag.size());
}

std::size_t findTag(std::string_view text, std::string_view tag, std::size_t from)
{
    for (std::size_t at = text.find(tag, from); at != std::string_view::npos; at = text.find(tag, at + 1))
        if (isTagEnd(text, at + tag.size()))
            return at;
    return std::string_view::npos;
}

int categoryTagAt(std::string_view text, std::size_t at)
{
    if (at + 4 > text.size() || text[at] != ' ' || text[at + 1] != '#' || !isTagEnd(text, at + 4))
        return 0;
    for (int k = 1; k < kCategories; ++k)
        if (kTags[k][2] == text[at + 2] && kTags[k][3] == text[at + 3])
            return k;
    return 0;
}

bool hasCategoryTag(std::string_view text, int category)
{
    return category > 0 && category < kCategories && hasTag(text, kTags[category]);
}

bool hasAnyCategoryTag(std::string_view text)
{
    // Every tag starts " #": look only where that pair stands.
    for (std::size_t at = text.find(" #"); at != std::string_view::npos; at = text.find(" #", at + 1))
        if (categoryTagAt(text, at) != 0)
            return true;
    return false;
}

std::string withoutTags(std::string_view text, unsigned kinds) { return removeTags(text, kinds, false); }

bool isPresetFileName(std::string_view name)
{
    return name.size() > kExtension.size() && name.substr(name.size() - kExtension.size()) == kExtension;
}

namespace {

// A name of tags only keeps one space for its stem: ".tavpreset" alone would be a hidden file the
// library does not list. That space gives way to the tags put back on.
constexpr std::string_view kTagsOnlyStem = " ";

std::string stemOf(std::string_view fileName)
{
    return std::string(fileName.substr(0, fileName.size() - kExtension.size()));
}

std::string fileNameOf(std::string stem, std::string_view tags)
{
    // The first tag's space serves as the space of a number prefix the stem ends in, as the tag
    // removal leaves it ("#001 " and " #fav" give "#001 #fav").
    if (!tags.empty() && (stem == kTagsOnlyStem || numberPrefixEndsAt(stem, stem.size())))
        stem.pop_back();
    stem += tags;
    return (stem.empty() ? std::string(kTagsOnlyStem) : stem) + std::string(kExtension);
}

} // namespace

std::string retaggedName(std::string_view fileName, int category)
{
    const std::string stem = stemOf(fileName);
    const bool favourite = hasFavouriteTag(stem);
    return fileNameOf(removeTags(stem, kCategoryTags | kFavouriteTags, true),
                      std::string(categoryTag(category)) + std::string(favourite ? kFavouriteTag : ""));
}

std::string favouriteToggledName(std::string_view fileName)
{
    const std::string stem = stemOf(fileName);
    if (!hasFavouriteTag(stem))
        return fileNameOf(stem, kFavouriteTag);
    return fileNameOf(removeTags(stem, kFavouriteTags, true), "");
}

std::string safeNameComponent(std::string_view name)
{
    std::string out(name.substr(0, name.find('\0')));
    std::replace(out.begin(), out.end(), '/', '_');
    std::replace(out.begin(), out.end(), '\\', '_');
    if (out.empty() || out == "." || out == "..")
        out.insert(out.begin(), '_');
    return out;
}

bool isInsideLibraryEntry(std::string_view entry, bool subfoldersAllowed)
{
    if (entry.empty() || entry.find('\0') != std::string_view::npos)
        return false;
    if (!subfoldersAllowed && entry.find('/') != std::string_view::npos)
        return false;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = entry.find('/', start);
        const std::string_view part = entry.substr(start, end == std::string_view::npos ? entry.size() - start : end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (end == std::string_view::npos)
            return true;
        start = end + 1;
    }
}

// ---- Which file a path names -------------------------------------------------------------------

namespace {

int realStatus(const char* path, struct ::statx& out)
{
    if (::statx(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &out) == 0)
        return 0;
    // A kernel (or a sandbox) without statx: lstat, which knows no birth time.
    struct stat info {};
    if (::lstat(path, &info) != 0)
        return -1;
    out = {};
    out.stx_mask = STATX_BASIC_STATS;
    out.stx_dev_major = major(info.st_dev);
    out.stx_dev_minor = minor(info.st_dev);
    out.stx_ino = info.st_ino;
    out.stx_ctime.tv_sec = info.st_ctim.tv_sec;
    out.stx_ctime.tv_nsec = static_cast<uint32_t>(info.st_ctim.tv_nsec);
    return 0;
}

std::atomic<StatusReader> statusReader{nullptr};

} // namespace

FileIdentity identityOf(const struct ::statx& status)
{
    FileIdentity id;
    id.device = makedev(status.stx_dev_major, status.stx_dev_minor);
    id.inode = status.stx_ino;
    id.born = (status.stx_mask & STATX_BTIME) != 0;
    const struct statx_timestamp& time = id.born ? status.stx_btime : status.stx_ctime;
    id.seconds = time.tv_sec;
    id.nanoseconds = time.tv_nsec;
    id.known = true;
    return id;
}

FileIdentity identify(std::string_view path)
{
    char text[4096];
    if (path.empty() || path.size() >= sizeof text || path.find('\0') != std::string_view::npos)
        return FileIdentity{};
    std::memcpy(text, path.data(), path.size());
    text[path.size()] = 0;
    struct ::statx status {};
    const StatusReader reader = statusReader.load(std::memory_order_acquire);
    if ((reader ? reader(text, status) : realStatus(text, status)) != 0)
        return FileIdentity{};
    return identityOf(status);
}

void setStatusReaderForTests(StatusReader reader) { statusReader.store(reader, std::memory_order_release); }

bool makeIndexEntry(std::string_view relativeFile, bool keepCategoryTags, IndexEntry& out)
{
    if (!isPresetFileName(relativeFile.substr(relativeFile.rfind('/') + 1)))
        return false;
    // "#NNN empty.tavpreset" marks an empty slot of a bank folder.
    for (std::size_t at = findNumberPrefix(relativeFile); at != std::string_view::npos;
         at = findNumberPrefix(relativeFile, at + 1))
        if (relativeFile.substr(at + kNumberPrefixBytes, 5) == "empty" &&
            relativeFile.size() > at + kNumberPrefixBytes + 5 &&
            relativeFile.substr(at + kNumberPrefixBytes + 6, 9) == "tavpreset")
            out.emptySlot = true;
    const std::string_view relative = relativeFile.substr(0, relativeFile.size() - kExtension.size());
    if (relative.empty())
        return false;
    out.inSaved = contains(relative, "2_SAVED");
    std::size_t nameAt = relative.size();
    while (nameAt > 0 && relative[nameAt - 1] != '/' && relative[nameAt - 1] != '\\')
        --nameAt;
    const std::string_view fileName = relative.substr(nameAt);

    // name: the file name without its number prefixes; number: the first of them.
    std::size_t nameLength = 0;
    out.name[0] = 0;
    std::string_view number;
    std::size_t from = 0;
    for (std::size_t at = findNumberPrefix(fileName); ; at = findNumberPrefix(fileName, from)) {
        const std::size_t end = at == std::string_view::npos ? fileName.size() : at;
        const std::string_view piece = fileName.substr(from, end - from);
        const std::size_t room = sizeof out.name - 1 - nameLength;
        if (!piece.empty())
            std::memcpy(out.name + nameLength, piece.data(), std::min(room, piece.size()));
        nameLength += std::min(room, piece.size());
        out.name[nameLength] = 0;
        if (at == std::string_view::npos)
            break;
        if (number.empty())
            number = fileName.substr(at, kNumberPrefixBytes);
        from = at + kNumberPrefixBytes;
    }
    const std::string_view name(out.name, nameLength);
    out.dashes = contains(name, "--");

    // The relative field and the number must fit; the display gives way.
    const std::size_t fixed = 2 + number.size() + relative.size();
    if (fixed + 1 > sizeof out.text)
        return false;
    std::size_t length = 0;
    std::size_t displayRoom = sizeof out.text - 1 - fixed;
    out.text[0] = 0;
    for (std::size_t i = 0; i < name.size() && displayRoom > 0;) {
        if (!keepCategoryTags && categoryTagAt(name, i) != 0) {
            i += 4;
            continue;
        }
        out.text[length++] = name[i++];
        --displayRoom;
    }
    out.text[length] = 0;
    append(out.text, sizeof out.text, length, ",");
    append(out.text, sizeof out.text, length, number);
    append(out.text, sizeof out.text, length, ",");
    out.relativeAt = static_cast<uint8_t>(length);
    append(out.text, sizeof out.text, length, relative);
    return true;
}

// ---- List texts -------------------------------------------------------------------------------

namespace {

// The character of a name at i as a list text carries it; the bytes it takes in the name.
std::string_view listForm(std::string_view name, std::size_t i, std::size_t& taken, char (&escaped)[4])
{
    taken = 1;
    if (name[i] == ',')
        return kShownComma;
    if (name[i] == ';')
        return kShownSemicolon;
    for (const std::string_view own : {kShownComma, kShownSemicolon, std::string_view(&kListEscape, 1)}) {
        if (name.substr(i, own.size()) == own) {
            escaped[0] = kListEscape;
            std::memcpy(escaped + 1, own.data(), own.size());
            taken = own.size();
            return std::string_view(escaped, own.size() + 1);
        }
    }
    return name.substr(i, 1);
}

} // namespace

void appendShownEntry(char* out, std::size_t capacity, std::size_t& length, std::string_view name)
{
    for (std::size_t i = 0; i < name.size();) {
        std::size_t taken = 0;
        char escaped[4];
        const std::string_view shown = listForm(name, i, taken, escaped);
        if (length + shown.size() + 1 > capacity)
            break;
        std::memcpy(out + length, shown.data(), shown.size());
        length += shown.size();
        i += taken;
    }
    out[length] = 0;
}

std::string nameFromListEntry(std::string_view entry)
{
    std::string out;
    out.reserve(entry.size());
    for (std::size_t i = 0; i < entry.size();) {
        if (entry[i] == kListEscape && i + 1 < entry.size()) {
            const std::size_t n = entry.substr(i + 1, kShownComma.size()) == kShownComma         ? kShownComma.size()
                                  : entry.substr(i + 1, kShownSemicolon.size()) == kShownSemicolon ? kShownSemicolon.size()
                                                                                                  : 1;
            out += entry.substr(i + 1, n);
            i += 1 + n;
        } else if (entry.substr(i, kShownComma.size()) == kShownComma) {
            out += ',';
            i += kShownComma.size();
        } else if (entry.substr(i, kShownSemicolon.size()) == kShownSemicolon) {
            out += ';';
            i += kShownSemicolon.size();
        } else {
            out += entry[i++];
        }
    }
    return out;
}

std::string withLookAlikes(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    for (const char c : name)
        out += c == ',' ? kShownComma : c == ';' ? kShownSemicolon : std::string_view(&c, 1);
    return out;
}

// ---- Directory listing --------------------------------------------------------------------------

DirectoryLister::DirectoryLister()
    : bytes_(new char[kPoolBytes]), entries_(new Entry[kPoolEntries])
{
}

DirectoryLister::~DirectoryLister()
{
    delete[] bytes_;
    delete[] entries_;
}

namespace {

// An entry's place in a listing: by second (all 0 in name order), then by name as unsigned bytes,
// a name that is a prefix of another first.
struct Key {
    int64_t second;
    std::string_view name;
};

bool operator<(const Key& a, const Key& b)
{
    return a.second != b.second ? a.second < b.second : a.name.compare(b.name) < 0;
}

Key keyOf(const DirectoryLister::Mark& mark) { return Key{mark.second, std::string_view(mark.name, mark.length)}; }

void setMark(DirectoryLister::Mark& mark, int64_t second, const char* name, std::size_t length)
{
    mark.set = true;
    mark.second = second;
    mark.length = static_cast<uint16_t>(length);
    std::memcpy(mark.name, name, length);
}

// Room held back for each listing that may still be made on top of one in progress.
constexpr uint32_t kEntriesPerLevel = 16;
constexpr std::size_t kBytesPerLevel = kEntriesPerLevel * 2 * (DirectoryLister::kMaxName + 1);

DirectoryLister::Kind kindOf(int folderFd, const struct dirent64& d)
{
    unsigned char type = d.d_type;
    if (type == DT_UNKNOWN) {
        struct stat info {};
        if (::fstatat(folderFd, d.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0)
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : S_ISLNK(info.st_mode) ? DT_LNK : DT_UNKNOWN;
    }
    return type == DT_DIR   ? DirectoryLister::Kind::Folder
           : type == DT_REG ? DirectoryLister::Kind::File
           : type == DT_LNK ? DirectoryLister::Kind::Link
                            : DirectoryLister::Kind::Other;
}

// Calls each(name, kind) for every entry of the folder open as fd but "." and ".." (names within
// kMaxName), until it returns false. false: the folder was not read to its end.
template <class Each>
bool readFolder(int fd, Each&& each)
{
    alignas(8) char buffer[16384];
    while (true) {
        const ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0)
            return false;
        for (ssize_t at = 0; at < got;) {
            const auto* d = reinterpret_cast<const struct dirent64*>(buffer + at);
            at += d->d_reclen;
            const std::size_t length = std::strlen(d->d_name);
            if (length == 0 || length > DirectoryLister::kMaxName || (length == 1 && d->d_name[0] == '.') ||
                (length == 2 && d->d_name[0] == '.' && d->d_name[1] == '.'))
                continue;
            if (!each(std::string_view(d->d_name, length), kindOf(fd, *d)))
                return false;
        }
    }
}

// Listing order of pool entries whose names are in bytes.
struct EntryOrder {
    const char* bytes;
    Key key(const DirectoryLister::Entry& e) const { return Key{e.second, std::string_view(bytes + e.nameAt, e.nameLength)}; }
    bool operator()(const DirectoryLister::Entry& a, const DirectoryLister::Entry& b) const { return key(a) < key(b); }
};

} // namespace

// A listing in progress: its share of the pool and the entries it keeps, entries_[range.first,
// range.first + count).
struct DirectoryLister::Listing {
    Range range;
    uint32_t capacity = 0;
    std::size_t region = 0;
    std::size_t liveLimit = 0;
    uint32_t count = 0;
    std::size_t live = 0;
    bool heap = false;  // the entries are a max-heap once something had to be left out
};

DirectoryLister::Range DirectoryLister::list(int folderFd, uint32_t wanted, Order order, const Mark* after,
                                             uint32_t levelsBelow, Keep keep)
{
    Listing listing;
    listing.range.first = listing.range.last = entriesUsed_;
    listing.range.bytesMark = bytesUsed_;
    if (!shareOfPool(listing, wanted, levelsBelow))
        return listing.range;
    const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return listing.range;

    const Key afterKey = after ? keyOf(*after) : Key{};
    cut_.set = false;
    readFolder(fd, [&](std::string_view name, Kind kind) {
        int64_t second = 0;
        if (!keep(name, kind, folderFd, second))
            return true;
        if (order == Order::Name)
            second = 0;
        const Key key{second, name};
        if ((after && !(afterKey < key)) || (cut_.set && !(key < keyOf(cut_))))
            return true;
        take(listing, second, name, kind);
        return true;
    });
    ::close(fd);

    Range& range = listing.range;
    if (bytesUsed_ - range.bytesMark > listing.live)
        compact(range.first, listing.count, range.bytesMark);  // listings on top get the room back
    std::sort(entries_ + range.first, entries_ + range.first + listing.count, EntryOrder{bytes_});
    range.last = range.first + listing.count;
    entriesUsed_ = range.last;
    range.more = cut_.set;
    return range;
}

// This listing's share of the pool: entries up to `capacity`, names within `region` bytes,
// of which at most half are live, so that closing the holes evicted names leave always
// frees room for the next name and costs little per name. false: no room beside what the
// listings that may be made on top need.
bool DirectoryLister::shareOfPool(Listing& listing, uint32_t wanted, uint32_t levelsBelow) const
{
    const uint32_t reservedEntries = levelsBelow * kEntriesPerLevel;
    const std::size_t reservedBytes = levelsBelow * kBytesPerLevel;
    if (kPoolEntries - entriesUsed_ <= reservedEntries || kPoolBytes - bytesUsed_ < reservedBytes + kBytesPerLevel)
        return false;
    listing.capacity = std::min(std::max(wanted, 1u), kPoolEntries - entriesUsed_ - reservedEntries);
    listing.region = kPoolBytes - bytesUsed_ - reservedBytes;
    listing.liveLimit = listing.region / 2;
    return true;
}

// Keeps the entry among the first ones in order; when the share is full it takes the place of
// the last one kept, or is left out if it comes after it. cut_ marks the first entry left out.
void DirectoryLister::take(Listing& listing, int64_t second, std::string_view name, Kind kind)
{
    Entry* const first = entries_ + listing.range.first;
    const EntryOrder before{bytes_};
    const std::size_t length = name.size();
    if (listing.count >= listing.capacity || listing.live + length > listing.liveLimit) {
        if (!listing.heap) {
            std::make_heap(first, first + listing.count, before);
            listing.heap = true;
        }
        if (before.key(first[0]) < Key{second, name}) {
            // After everything kept and no room: the first entry left out so far.
            setMark(cut_, second, name.data(), length);
            return;
        }
    }
    if (bytesUsed_ + length > listing.range.bytesMark + listing.region) {
        compact(listing.range.first, listing.count, listing.range.bytesMark);
        std::make_heap(first, first + listing.count, before);
    }
    std::memcpy(bytes_ + bytesUsed_, name.data(), length);
    first[listing.count++] = Entry{second, static_cast<uint32_t>(bytesUsed_), static_cast<uint16_t>(length), kind};
    bytesUsed_ += length;
    listing.live += length;
    if (listing.heap)
        std::push_heap(first, first + listing.count, before);
    while (listing.count > listing.capacity || listing.live > listing.liveLimit) {
        std::pop_heap(first, first + listing.count, before);
        const Entry& out = first[--listing.count];
        listing.live -= out.nameLength;
        setMark(cut_, out.second, bytes_ + out.nameAt, out.nameLength);
    }
}

bool DirectoryLister::walkUnordered(const char* path, Keep keep, Keep visit)
{
    const int fd = openFolder(path);
    if (fd < 0)
        return false;
    path_[0] = 0;
    const bool whole = walkFolderUnordered(fd, 0, 0, keep, visit);
    closeFolder(fd);
    return whole;
}

// The limits are walkFolder's (depth, path length), so both walks visit the same files.
bool DirectoryLister::walkFolderUnordered(int fd, std::size_t pathLength, int depth, Keep keep, Keep visit)
{
    // The folders met wait in the pool (names only) until the folder is read.
    const uint32_t firstFolder = entriesUsed_;
    const std::size_t bytesMark = bytesUsed_;
    bool roomy = true;
    const bool read = readFolder(fd, [&](std::string_view name, Kind kind) {
        const std::size_t length = pathLength + (pathLength ? 1 : 0) + name.size();
        if (length + 1 > sizeof path_)
            return true;  // too deep to name: left out
        if (kind == Kind::Folder) {
            if (depth + 1 >= kMaxDepth)
                return true;
            roomy = entriesUsed_ < kPoolEntries && bytesUsed_ + name.size() <= kPoolBytes;
            if (!roomy)
                return false;
            std::memcpy(bytes_ + bytesUsed_, name.data(), name.size());
            entries_[entriesUsed_++] = Entry{0, static_cast<uint32_t>(bytesUsed_), static_cast<uint16_t>(name.size()), kind};
            bytesUsed_ += name.size();
            return true;
        }
        int64_t unused = 0;
        if (!keep(name, kind, fd, unused))
            return true;
        char* at = path_ + pathLength;
        if (pathLength)
            *at++ = '/';
        std::memcpy(at, name.data(), name.size());
        path_[length] = 0;
        const bool goOn = visit(std::string_view(path_, length), kind, fd, unused);
        path_[pathLength] = 0;
        return goOn;
    });
    bool whole = read && roomy;
    for (uint32_t i = firstFolder; i < entriesUsed_ && whole; ++i) {
        const Entry e = entries_[i];
        const std::size_t length = pathLength + (pathLength ? 1 : 0) + e.nameLength;
        char* at = path_ + pathLength;
        if (pathLength)
            *at++ = '/';
        std::memcpy(at, bytes_ + e.nameAt, e.nameLength);
        path_[length] = 0;
        const int child = openFolderAt(fd, path_ + length - e.nameLength);
        if (child >= 0) {
            whole = walkFolderUnordered(child, length, depth + 1, keep, visit);
            closeFolder(child);
        }
        path_[pathLength] = 0;
    }
    entriesUsed_ = firstFolder;
    bytesUsed_ = bytesMark;
    return whole;
}

void DirectoryLister::compact(uint32_t first, uint32_t count, std::size_t bytesMark)
{
    Entry* const begin = entries_ + first;
    std::sort(begin, begin + count, [](const Entry& a, const Entry& b) { return a.nameAt < b.nameAt; });
    std::size_t to = bytesMark;
    for (Entry* e = begin; e != begin + count; ++e) {
        std::memmove(bytes_ + to, bytes_ + e->nameAt, e->nameLength);
        e->nameAt = static_cast<uint32_t>(to);
        to += e->nameLength;
    }
    bytesUsed_ = to;
    // The heap order is gone: the caller rebuilds it.
}

void DirectoryLister::release(const Range& range)
{
    entriesUsed_ = range.first;
    bytesUsed_ = range.bytesMark;
}

void DirectoryLister::markAfter(uint32_t i, Mark& mark) const
{
    setMark(mark, entries_[i].second, bytes_ + entries_[i].nameAt, entries_[i].nameLength);
}

int openFolder(const char* path)
{
    return ::open(path, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
}

int openFolderAt(int parentFd, const char* name)
{
    return ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

void closeFolder(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

DirectoryLister::Kind kindFollowingLinks(int folderFd, const char* name)
{
    struct stat info {};
    if (::fstatat(folderFd, name, &info, 0) != 0)
        return DirectoryLister::Kind::Other;
    if (S_ISDIR(info.st_mode))
        return DirectoryLister::Kind::Folder;
    return S_ISREG(info.st_mode) ? DirectoryLister::Kind::File : DirectoryLister::Kind::Other;
}

bool modifiedSecond(int folderFd, const char* name, int64_t& second)
{
    struct stat info {};
    if (::fstatat(folderFd, name, &info, 0) != 0 || !S_ISREG(info.st_mode))
        return false;
    second = static_cast<int64_t>(info.st_mtim.tv_sec);
    return true;
}

} // namespace prescat
