#include "CategoryBrowser/PresetLibrary.h"

#include "SharedFolder.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace prescat {

namespace {

constexpr std::string_view kTags[kCategories] = {"",     " #ar", " #ba", " #br", " #cl", " #dr", " #ef", " #ep", " #le",
                                                 " #lf", " #or", " #ot", " #pa", " #pe", " #sa", " #sb", " #st", " #sw"};
constexpr std::string_view kLabels[kCategories] = {"ALL",    "ARPEGGIOS", "BASS",       "BRASS",      "CLAVINET", "DRUMS",
                                                   "EFFECTS", "EPIANO",   "LEADS",      "LFOPADS",    "ORGANS",   "OTHER",
                                                   "PADS",   "PERCUSSIVE", "SAMPLEHOLD", "STABS",     "STRINGS",  "SWEEPS"};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Removes every occurrence of part from text.
void removeAll(std::string& text, std::string_view part)
{
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at))
        text.erase(at, part.size());
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

bool hasCategoryTag(std::string_view text, int category)
{
    return category > 0 && category < kCategories && contains(text, kTags[category]);
}

bool hasAnyCategoryTag(std::string_view text)
{
    // Every tag starts " #": look only where that pair stands.
    for (std::size_t at = text.find(" #"); at != std::string_view::npos; at = text.find(" #", at + 1))
        for (int k = 1; k < kCategories; ++k)
            if (text.substr(at, 4) == kTags[k])
                return true;
    return false;
}

bool isPresetFileName(std::string_view name)
{
    return name.size() > kExtension.size() && name.substr(name.size() - kExtension.size()) == kExtension;
}

std::string retaggedName(std::string_view fileName, int category)
{
    std::string stem(fileName.substr(0, fileName.size() - kExtension.size()));
    const bool favourite = contains(stem, kFavouriteTag);
    for (int k = 1; k < kCategories; ++k)
        removeAll(stem, kTags[k]);
    removeAll(stem, kFavouriteTag);
    stem += categoryTag(category);
    if (favourite)
        stem += kFavouriteTag;
    return stem + std::string(kExtension);
}

std::string favouriteToggledName(std::string_view fileName)
{
    std::string stem(fileName.substr(0, fileName.size() - kExtension.size()));
    if (contains(stem, kFavouriteTag))
        removeAll(stem, kFavouriteTag);
    else
        stem += kFavouriteTag;
    return stem + std::string(kExtension);
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
    const std::size_t slash = relative.find_last_of("/\\");
    const std::string_view fileName = slash == std::string_view::npos ? relative : relative.substr(slash + 1);

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
        if (!keepCategoryTags && name[i] == ' ' && name.substr(i, 2) == " #") {
            bool tag = false;
            for (int k = 1; k < kCategories && !tag; ++k)
                tag = name.substr(i, 4) == kTags[k];
            if (tag) {
                i += 4;
                continue;
            }
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

void appendShownEntry(char* out, std::size_t capacity, std::size_t& length, std::string_view name)
{
    for (const char c : name) {
        const std::string_view shown = c == ',' ? kShownComma : c == ';' ? kShownSemicolon : std::string_view(&c, 1);
        if (length + shown.size() + 1 > capacity)
            break;
        std::memcpy(out + length, shown.data(), shown.size());
        length += shown.size();
    }
    out[length] = 0;
}

std::string withSeparatorsRestored(std::string_view shown)
{
    std::string out;
    out.reserve(shown.size());
    for (std::size_t i = 0; i < shown.size();) {
        if (shown.substr(i, kShownComma.size()) == kShownComma) {
            out += ',';
            i += kShownComma.size();
        } else if (shown.substr(i, kShownSemicolon.size()) == kShownSemicolon) {
            out += ';';
            i += kShownSemicolon.size();
        } else {
            out += shown[i++];
        }
    }
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

DirectoryLister::Range DirectoryLister::list(int folderFd)
{
    Range range;
    range.first = range.last = entriesUsed_;
    range.bytesMark = bytesUsed_;
    const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return range;
    alignas(8) char buffer[16384];
    bool full = false;
    while (!full) {
        const ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto* d = reinterpret_cast<const struct dirent64*>(buffer + at);
            at += d->d_reclen;
            const std::size_t length = std::strlen(d->d_name);
            if ((length == 1 && d->d_name[0] == '.') || (length == 2 && d->d_name[0] == '.' && d->d_name[1] == '.'))
                continue;
            if (entriesUsed_ >= kPoolEntries || bytesUsed_ + length > kPoolBytes || length > 0xFFFF) {
                full = true;
                break;
            }
            Kind kind = Kind::Other;
            unsigned char type = d->d_type;
            if (type == DT_UNKNOWN) {
                struct stat info {};
                if (::fstatat(fd, d->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0)
                    type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : S_ISLNK(info.st_mode) ? DT_LNK : DT_UNKNOWN;
            }
            if (type == DT_DIR)
                kind = Kind::Folder;
            else if (type == DT_REG)
                kind = Kind::File;
            else if (type == DT_LNK)
                kind = Kind::Link;
            std::memcpy(bytes_ + bytesUsed_, d->d_name, length);
            entries_[entriesUsed_++] = Entry{static_cast<uint32_t>(bytesUsed_), static_cast<uint16_t>(length), kind};
            bytesUsed_ += length;
        }
    }
    ::close(fd);
    range.last = entriesUsed_;
    const char* bytes = bytes_;
    std::sort(entries_ + range.first, entries_ + range.last, [bytes](const Entry& a, const Entry& b) {
        const int c = std::memcmp(bytes + a.nameAt, bytes + b.nameAt, std::min(a.nameLength, b.nameLength));
        return c != 0 ? c < 0 : a.nameLength < b.nameLength;
    });
    return range;
}

void DirectoryLister::release(const Range& range)
{
    entriesUsed_ = range.first;
    bytesUsed_ = range.bytesMark;
}

int openFolder(const char* path)
{
    return ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int openFolderAt(int parentFd, const char* name)
{
    return ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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
