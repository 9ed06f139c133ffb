#include "Trash.h"

#include "StaleTemporaries.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace fs = std::filesystem;

namespace {

bool isRealFolder(const fs::path& folder)
{
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isOwnRealFolder(const fs::path& folder)
{
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
}

// Makes folder (mode 0700) unless it exists as a real folder.
bool makeFolder(const fs::path& folder)
{
    if (::mkdir(folder.c_str(), 0700) == 0)
        return true;
    return errno == EEXIST && isRealFolder(folder);
}

// The folder, then its parents as far as needed, mode 0700.
bool makeFolders(const fs::path& folder)
{
    if (isRealFolder(folder))
        return true;
    if (folder.has_parent_path() && folder.parent_path() != folder && !makeFolders(folder.parent_path()))
        return false;
    return makeFolder(folder);
}

// A trash folder ready to take items: it and its "files" and "info" exist as real folders.
bool prepareTrash(const fs::path& trash, bool withParents)
{
    if (!(withParents ? makeFolders(trash) : makeFolder(trash)))
        return false;
    return makeFolder(trash / "files") && makeFolder(trash / "info");
}

dev_t deviceOf(const fs::path& path, bool& ok)
{
    struct stat info {};
    ok = ::stat(path.c_str(), &info) == 0;
    return info.st_dev;
}

// The top folder of the file system holding folder: the highest ancestor on the same device.
fs::path topFolderOf(const fs::path& folder, dev_t device)
{
    fs::path top = folder;
    while (top.has_relative_path()) {
        const fs::path parent = top.parent_path();
        bool ok = false;
        if (deviceOf(parent, ok) != device || !ok)
            break;
        top = parent;
    }
    return top;
}

// The volume's trash for top folder, made ready; nothing when neither form can be used.
std::optional<fs::path> volumeTrash(const fs::path& top)
{
    const std::string uid = std::to_string(::getuid());
    const fs::path shared = top / ".Trash";
    struct stat info {};
    if (::lstat(shared.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0 &&
        prepareTrash(shared / uid, false) && isOwnRealFolder(shared / uid))
        return shared / uid;
    const fs::path own = top / (".Trash-" + uid);
    if (prepareTrash(own, false) && isOwnRealFolder(own))
        return own;
    return std::nullopt;
}

// "name", then "stem.2.ext", "stem.3.ext", ...
std::string candidateName(const fs::path& name, int attempt)
{
    if (attempt == 1)
        return name.string();
    return name.stem().string() + "." + std::to_string(attempt) + name.extension().string();
}

std::string deletionDate()
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

bool writeAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The info text, complete on disk under a temporary name of ours, which trash-list does not read.
std::optional<fs::path> writePendingInfo(const fs::path& trash, const std::string& text)
{
    fs::path pending;
    const int fd = createTemporary(trash / "info", 0600, pending);
    if (fd < 0)
        return std::nullopt;
    const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written) {
        ::unlink(pending.c_str());
        return std::nullopt;
    }
    return pending;
}

// Whether the info file name, another name of a pending text a killed delete left, reserves a
// name whose item never reached "files" (the kill came between placing the one and moving the
// other): such an info file names nothing and would stay in the Trash's list for good.
bool placedForNothing(const fs::path& files, const char* name)
{
    constexpr std::string_view kInfo = ".trashinfo";
    const std::string_view info(name);
    if (info.size() <= kInfo.size() || info.substr(info.size() - kInfo.size()) != kInfo)
        return false;
    struct stat item {};
    return ::lstat((files / info.substr(0, info.size() - kInfo.size())).c_str(), &item) != 0 && errno == ENOENT;
}

// Gives the complete pending file the name to; false with errno EEXIST when the name is taken.
// renamed tells that it was renamed rather than linked.
bool placeExclusively(const fs::path& pending, const fs::path& to, bool& renamed)
{
    renamed = false;
    if (::link(pending.c_str(), to.c_str()) == 0)
        return true;
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return false;
    // A file system without hard links (FAT on a stick): a rename that refuses an existing name.
    renamed = ::renameat2(AT_FDCWD, pending.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
    return renamed;
}

// Moves item to a name in "files" that was free a moment ago, never over one taken since.
bool moveExclusively(const fs::path& item, const fs::path& to)
{
    if (::renameat2(AT_FDCWD, item.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    return (errno == EINVAL || errno == ENOSYS) && ::rename(item.c_str(), to.c_str()) == 0;
}

std::atomic<void (*)(const fs::path& infoFile)> afterInfoPlaced{nullptr};

// Whether the info file placed from pending is still in place, made fresh so that no cleanup
// takes it for an abandoned one from now on (a delete paused over an hour after placing it, or
// its text aside, would otherwise lose it to another instance's cleanup).
bool stillPlaced(const fs::path& pending, const fs::path& infoFile)
{
    struct stat text {}, placed {};
    return ::utimensat(AT_FDCWD, pending.c_str(), nullptr, AT_SYMLINK_NOFOLLOW) == 0 && ::lstat(pending.c_str(), &text) == 0 &&
           ::lstat(infoFile.c_str(), &placed) == 0 && text.st_dev == placed.st_dev && text.st_ino == placed.st_ino;
}

enum class Placing { Moved, Failed, Lost };

// Places an info file under the first free name, then moves the item there.
Placing placeAndMove(const fs::path& trash, const fs::path& item, const std::string& text)
{
    const auto pending = writePendingInfo(trash, text);
    if (!pending)
        return Placing::Failed;
    Placing result = Placing::Failed;
    for (int attempt = 1; attempt <= 10000; ++attempt) {
        const std::string name = candidateName(item.filename(), attempt);
        const fs::path infoFile = trash / "info" / (name + ".trashinfo");
        const fs::path target = trash / "files" / name;
        struct stat existing {};
        if (::lstat(target.c_str(), &existing) == 0)
            continue;  // an item whose info file is gone still holds its name
        bool renamed = false;
        if (!placeExclusively(*pending, infoFile, renamed)) {
            if (errno == EEXIST)
                continue;
            break;
        }
        if (const auto hook = afterInfoPlaced.load())
            hook(infoFile);
        // An info file renamed into place is no temporary of ours, which no cleanup takes.
        if (!renamed && !stillPlaced(*pending, infoFile)) {
            result = Placing::Lost;  // the name it held may be another's now: never removed here
            break;
        }
        result = moveExclusively(item, target) ? Placing::Moved : Placing::Failed;
        if (result == Placing::Failed)
            ::unlink(infoFile.c_str());
        break;
    }
    ::unlink(pending->c_str());
    return result;
}

// Reserves a name in trash with its info file, then moves the item into "files". The info file
// appears by name only complete (a kill mid-way leaves at most a pending file trash-list skips),
// and always before the item, so a trashed item never lacks its original path.
bool moveInto(const fs::path& trash, const fs::path& item, const std::string& pathText)
{
    // What a killed delete left earlier goes first: its text aside, and the info file it placed
    // from that text for an item it never moved. An info file is only ever taken as such when it
    // is another name (a hard link) of our own abandoned text, never by its name or content, so
    // the info files of other programs stay whatever they hold.
    const fs::path files = trash / "files";
    sweepStaleTemporaries(trash / "info", [&files](int, const char* name) { return placedForNothing(files, name); });
    const std::string text = "[Trash Info]\nPath=" + trashInfoPathText(pathText) + "\nDeletionDate=" + deletionDate() + "\n";
    // An info file lost before the move is placed anew (a few times at most, should cleanups
    // keep taking it).
    for (int round = 0; round < 3; ++round) {
        const Placing placed = placeAndMove(trash, item, text);
        if (placed != Placing::Lost)
            return placed == Placing::Moved;
    }
    return false;
}

// The item's own name in its folder with every link resolved; nothing when the folder is gone.
std::optional<fs::path> realLocation(const fs::path& item)
{
    std::error_code error;
    const fs::path folder = fs::canonical(item.parent_path(), error);
    if (error)
        return std::nullopt;
    return folder / item.filename();
}

// The device of path, or of its nearest ancestor that exists (a trash not yet made).
std::optional<dev_t> deviceOfNearest(fs::path path)
{
    for (;;) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0)
            return info.st_dev;
        if (errno != ENOENT || !path.has_relative_path())
            return std::nullopt;
        path = path.parent_path();
    }
}

} // namespace

namespace trash_testing {
void setAfterInfoPlaced(void (*hook)(const fs::path& infoFile)) { afterInfoPlaced = hook; }
} // namespace trash_testing

std::optional<fs::path> homeTrash()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/')
        return fs::path(dataHome) / "Trash";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return fs::path(home) / ".local" / "share" / "Trash";
    return std::nullopt;
}

std::string trashInfoPathText(const std::string& path) { return percentEncodedPath(path); }

bool moveToTrash(const fs::path& itemPath)
{
    try {
        std::error_code error;
        const fs::path given = fs::absolute(itemPath, error).lexically_normal();
        if (error || !given.has_filename() || given.filename() == "." || given.filename() == "..")
            return false;
        // Links on the way (a library or shared folder linked onto another volume) decide
        // nothing: the trash is chosen by where the item really is, and that is the path recorded.
        const auto item = realLocation(given);
        if (!item)
            return false;
        struct stat info {};
        if (::lstat(item->c_str(), &info) != 0)
            return false;
        bool ok = false;
        const dev_t device = deviceOf(item->parent_path(), ok);
        if (!ok)
            return false;
        // Without a home trash the home volume is unknown, and a trash made at a volume's top
        // might be on it.
        const auto home = homeTrash();
        if (!home)
            return false;
        const auto homeDevice = deviceOfNearest(home->parent_path());
        if (!homeDevice)
            return false;
        // An item on the home volume goes to the home trash or nowhere.
        if (*homeDevice == device)
            return prepareTrash(*home, true) && moveInto(*home, *item, item->string());
        const fs::path top = topFolderOf(item->parent_path(), device);
        const auto trash = volumeTrash(top);
        if (!trash)
            return false;
        return moveInto(*trash, *item, item->lexically_relative(top).string());
    } catch (...) {
        return false;
    }
}

} // namespace platform
