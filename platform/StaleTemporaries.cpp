#include "StaleTemporaries.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

bool isLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// A fresh temporary name: the marker and eight letters, random, or from the clock and a counter
// when the system gives no random bytes.
std::string temporaryName()
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t bits = 0;
    if (::getentropy(&bits, sizeof bits) != 0) {
        timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        bits = (counter.fetch_add(1) + 1) * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint64_t>(now.tv_nsec) ^
               (static_cast<std::uint64_t>(::getpid()) << 32);
    }
    std::string name(kTemporaryMarker);
    for (std::size_t i = 0; i < kTemporaryLetters; ++i, bits /= sizeof kLetters - 1)
        name += kLetters[bits % (sizeof kLetters - 1)];
    return name;
}

// A folder as the file system knows it: "dir", "dir/." and a link to it are one folder. Its
// birth time, where the file system records one, tells a new folder from one removed a moment
// before whose inode number it got again.
struct FolderId {
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t bornSeconds = 0;
    std::uint32_t bornNanoseconds = 0;
    bool operator==(const FolderId&) const = default;
};

bool identify(int folderFd, FolderId& id)
{
    struct statx status {};
    if (::statx(folderFd, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &status) == 0 && (status.stx_mask & STATX_INO)) {
        id.device = makedev(status.stx_dev_major, status.stx_dev_minor);
        id.inode = status.stx_ino;
        if (status.stx_mask & STATX_BTIME) {
            id.bornSeconds = status.stx_btime.tv_sec;
            id.bornNanoseconds = status.stx_btime.tv_nsec;
        }
        return true;
    }
    struct stat plain {};
    if (::fstat(folderFd, &plain) != 0)
        return false;
    id.device = plain.st_dev;
    id.inode = plain.st_ino;
    return true;
}

// The folders this process looked through lately. A few dozen are plenty: a preset manager
// writes into a handful; a folder pushed out is at worst looked through once more.
class SweptFolders {
public:
    // True (and the folder is noted as looked through now) when it is due.
    bool due(const FolderId& folder)
    {
        const auto now = std::chrono::steady_clock::now();
        const std::lock_guard<std::mutex> lock(mutex_);
        Entry* oldest = &entries_[0];
        for (Entry& entry : entries_) {
            if (entry.used && entry.folder == folder) {
                if (now - entry.when < kSweepInterval)
                    return false;
                entry.when = now;
                return true;
            }
            if (!entry.used || (oldest->used && entry.when < oldest->when))
                oldest = &entry;
        }
        *oldest = Entry{true, folder, now};
        return true;
    }

    void forget()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        entries_.fill(Entry{});
    }

private:
    struct Entry {
        bool used = false;
        FolderId folder;
        std::chrono::steady_clock::time_point when{};
    };
    std::mutex mutex_;
    std::array<Entry, 32> entries_{};
};

// Made on first use and never destroyed: a file-worker job may still write while the process
// exits and its statics go. It lives in static storage rather than on the heap, so that the
// bundle unloading takes it along instead of leaking it.
SweptFolders& sweptFolders()
{
    alignas(SweptFolders) static unsigned char storage[sizeof(SweptFolders)];
    static SweptFolders& folders = *new (storage) SweptFolders;
    return folders;
}

// The status of a regular file in folderFd, the link itself never followed.
bool regularFile(int folderFd, const dirent& entry, struct stat& status)
{
    if (entry.d_type != DT_REG && entry.d_type != DT_UNKNOWN)
        return false;
    return ::fstatat(folderFd, entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode);
}

} // namespace

bool isTemporaryName(std::string_view name)
{
    if (name.size() != kTemporaryMarker.size() + kTemporaryLetters || name.substr(0, kTemporaryMarker.size()) != kTemporaryMarker)
        return false;
    for (const char c : name.substr(kTemporaryMarker.size()))
        if (!isLetterOrDigit(c))
            return false;
    return true;
}

int createTemporary(const std::filesystem::path& folder, mode_t mode, std::filesystem::path& made)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path temporary = folder / temporaryName();
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            made = std::move(temporary);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

std::size_t sweepStaleTemporaries(const std::filesystem::path& folder, const OtherNameRule& alsoRemove)
{
    const std::filesystem::path listed = folder.empty() ? std::filesystem::path(".") : folder;
    const int folderFd = ::open(listed.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return 0;
    FolderId id;
    if (!identify(folderFd, id) || !sweptFolders().due(id)) {
        ::close(folderFd);
        return 0;
    }
    DIR* entries = ::fdopendir(folderFd);
    if (!entries) {
        ::close(folderFd);
        return 0;
    }
    const uid_t user = ::geteuid();
    const std::time_t staleBefore = std::time(nullptr) - kStaleTemporaryAge.count();
    std::size_t removed = 0;
    // A temporary with further names was linked into place by the write that made it (the Trash
    // does so): those names are looked at before it goes, while it still tells which they are.
    std::vector<std::pair<std::string, struct stat>> linked;
    while (const dirent* entry = ::readdir(entries)) {
        struct stat status {};
        if (!isTemporaryName(entry->d_name) || !regularFile(folderFd, *entry, status) || status.st_uid != user ||
            status.st_mtim.tv_sec >= staleBefore)
            continue;
        if (status.st_nlink > 1 && alsoRemove)
            linked.emplace_back(entry->d_name, status);
        else if (::unlinkat(folderFd, entry->d_name, 0) == 0)  // the name itself; a link is never followed
            ++removed;
    }
    if (!linked.empty()) {
        ::rewinddir(entries);
        while (const dirent* entry = ::readdir(entries)) {
            struct stat status {};
            if (isTemporaryName(entry->d_name) || !regularFile(folderFd, *entry, status))
                continue;
            const bool ofOurs = std::any_of(linked.begin(), linked.end(), [&](const auto& temporary) {
                return temporary.second.st_dev == status.st_dev && temporary.second.st_ino == status.st_ino;
            });
            if (ofOurs && alsoRemove(folderFd, entry->d_name) && ::unlinkat(folderFd, entry->d_name, 0) == 0)
                ++removed;
        }
        for (const auto& [name, temporary] : linked)
            if (::unlinkat(folderFd, name.c_str(), 0) == 0)
                ++removed;
    }
    ::closedir(entries);
    return removed;
}

void forgetSweptFolders() { sweptFolders().forget(); }

} // namespace platform
