#include "Trash.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
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
        prepareTrash(shared / uid, false))
        return shared / uid;
    const fs::path own = top / (".Trash-" + uid);
    if (prepareTrash(own, false) && ::lstat(own.c_str(), &info) == 0 && info.st_uid == ::getuid())
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

// Reserves a name in trash with its info file, then moves the item into "files".
bool moveInto(const fs::path& trash, const fs::path& item, const std::string& pathText)
{
    const std::string info = "[Trash Info]\nPath=" + trashInfoPathText(pathText) + "\nDeletionDate=" + deletionDate() + "\n";
    for (int attempt = 1; attempt <= 10000; ++attempt) {
        const std::string name = candidateName(item.filename(), attempt);
        const fs::path infoFile = trash / "info" / (name + ".trashinfo");
        const fs::path target = trash / "files" / name;
        const int fd = ::open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        struct stat existing {};
        const bool taken = ::lstat(target.c_str(), &existing) == 0;
        const bool written = !taken && writeAll(fd, info);
        ::close(fd);
        if (taken) {
            ::unlink(infoFile.c_str());
            continue;
        }
        if (written && ::rename(item.c_str(), target.c_str()) == 0)
            return true;
        ::unlink(infoFile.c_str());
        return false;
    }
    return false;
}

} // namespace

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

std::string trashInfoPathText(const std::string& path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') || byte == '-' ||
            byte == '_' || byte == '.' || byte == '~' || byte == '/') {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 15];
        }
    }
    return out;
}

bool moveToTrash(const fs::path& itemPath)
{
    try {
        std::error_code error;
        const fs::path item = fs::absolute(itemPath, error).lexically_normal();
        if (error || !item.has_filename() || item.filename() == "." || item.filename() == "..")
            return false;
        struct stat info {};
        if (::lstat(item.c_str(), &info) != 0)
            return false;
        bool ok = false;
        const dev_t device = deviceOf(item.parent_path(), ok);
        if (!ok)
            return false;
        if (const auto home = homeTrash()) {
            // The home trash counts when it is (or would be made) on the item's file system.
            fs::path existing = *home;
            while (!fs::exists(existing, error) && existing.has_relative_path())
                existing = existing.parent_path();
            bool homeOk = false;
            if (deviceOf(existing, homeOk) == device && homeOk && prepareTrash(*home, true))
                return moveInto(*home, item, item.string());
        }
        const fs::path top = topFolderOf(item.parent_path(), device);
        const auto trash = volumeTrash(top);
        if (!trash)
            return false;
        return moveInto(*trash, item, item.lexically_relative(top).string());
    } catch (...) {
        return false;
    }
}

} // namespace platform
