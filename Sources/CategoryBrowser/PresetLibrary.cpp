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

// ---- Preset values ------------------------------------------------------------------------------

void migrateOldPreset(float (&slots)[256])
{
    static constexpr double kBounds[31] = {
        0.0183387,  0.0210161, 0.02369355, 0.026371,   0.0290484, 0.0317258,  0.0344032, 0.03708065,
        0.0397581,  0.0424355, 0.0451129,  0.0477903,  0.05046775, 0.0531452, 0.0558226, 0.0585,
        0.0611774,  0.0638548, 0.06653225, 0.0692097,  0.0718871, 0.0745645,  0.0772419, 0.07991935,
        0.0825968,  0.0852742, 0.0879516,  0.090629,   0.09330645, 0.0959839, 0.0986613};
    static constexpr float kBands[32][3] = {
        {2, 2, 1},  {1, 1, 1},   {2, 2, 1},   {3, 3, 1},  {4, 4, 1},  {5, 5, 1},   {6, 6, 1},  {7, 7, 1},
        {8, 8, 1},  {9, 9, 1},   {10, 10, 1}, {11, 11, 1}, {12, 12, 1}, {13, 13, 1}, {14, 14, 1}, {1, 2, 1},
        {2, 1, 1},  {1, 16, 1},  {2, 16, 1},  {16, 1, 1}, {16, 2, 1}, {1, 1, 2},   {2, 2, 2},  {7, 7, 2},
        {16, 16, 2}, {1, 2, 2},  {2, 1, 2},   {2, 16, 2}, {2, 15, 2}, {1, 16, 3},  {16, 1, 3}, {16, 16, 1}};
    const double mode = static_cast<double>(slots[0]);
    int band = -1;
    if (mode < kBounds[0])
        band = 0;
    else if (mode > kBounds[30])
        band = 31;
    else
        for (int k = 0; k < 30; ++k)
            if (mode > kBounds[k] && mode < kBounds[k + 1])
                band = k + 1;
    if (band < 0)
        return;  // on a bound (or NaN): no band
    for (int i = 0; i < 3; ++i)
        if (slots[151 + i] < 0.5f)
            slots[151 + i] = kBands[band][i];
}

void writeInitPatch(float (&slots)[256])
{
    struct Value {
        int slot;
        float value;
    };
    static constexpr Value kValues[] = {
        {0, 0.017f},     {2, -4.0f},       {3, 4.26f},     {7, -5.0f},     {8, 0.1322151f},  {9, 3.9249997f},
        {12, 10.0f},     {13, 10.0f},      {14, 10.0f},    {16, 0.2f},     {17, 1.25f},      {18, 1.0f},
        {19, 5.0f},      {23, 1.0f},       {26, 1.0f},     {30, 1.0f},     {32, 1.0f},       {34, 1.0f},
        {38, 1.0f},      {33, 47.0f},      {36, 0.063623f}, {54, 1.0f},    {56, 1.0f},       {58, 1.0f},
        {60, 1.0f},      {62, -0.01425f},  {65, 1.0f},     {66, 1.0f},     {67, 1.0f},       {71, 1.0f},
        {82, 1.0f},      {83, 1.0f},       {88, 1.0f},     {89, 0.083333f}, {90, -4.0f},     {91, 8.81f},
        {93, 0.18f},     {94, 5.1f},       {95, 6.8f},     {96, 7.6f},     {98, 10.0f},      {99, 10.0f},
        {102, 0.54f},    {128, -5.0f},     {129, 1.3f},    {130, 1.3f},    {132, 9.17401f},  {134, 0.0053735f},
        {136, 0.3f},     {151, 2.0f},      {152, 2.0f},    {153, 1.0f}};
    static_assert(sizeof kValues / sizeof kValues[0] == 52);
    const float kept = slots[244];
    std::fill(std::begin(slots), std::end(slots), 0.0f);
    for (const Value& v : kValues)
        slots[v.slot] = v.value;
    slots[244] = kept;
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
