#include "StaleTemporaries.h"

#include "Log.h"
#include "SharedFolder.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
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
#include <sys/file.h>
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

// The folders this process looked through lately. A few dozen are plenty: a preset manager
// writes into a handful; a folder pushed out is at worst looked through once more.
class SweptFolders {
public:
    // True (and the folder is noted as looked through now) when it is due.
    bool due(const FileIdentity& folder)
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
        FileIdentity folder;
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

bool identifyFile(int fd, FileIdentity& id)
{
    struct statx status {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &status) == 0 && (status.stx_mask & STATX_INO)) {
        id.device = makedev(status.stx_dev_major, status.stx_dev_minor);
        id.inode = status.stx_ino;
        if (status.stx_mask & STATX_BTIME) {
            id.bornSeconds = status.stx_btime.tv_sec;
            id.bornNanoseconds = status.stx_btime.tv_nsec;
        }
        return true;
    }
    struct stat plain {};
    if (::fstat(fd, &plain) != 0)
        return false;
    id.device = plain.st_dev;
    id.inode = plain.st_ino;
    return true;
}

namespace {

bool isMarkedName(std::string_view name, std::string_view marker)
{
    if (name.size() != marker.size() + kTemporaryLetters || name.substr(0, marker.size()) != marker)
        return false;
    for (const char c : name.substr(marker.size()))
        if (!isLetterOrDigit(c))
            return false;
    return true;
}

} // namespace

bool isTemporaryName(std::string_view name) { return isMarkedName(name, kTemporaryMarker); }

bool isCopyName(std::string_view name) { return isMarkedName(name, kCopyMarker); }

namespace {

// Opens a new file of a fresh temporary name through open(name), trying other names while one is
// taken.
template <typename Open>
int createNamed(std::string& name, Open&& open)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = temporaryName();
        const int fd = open(name);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

constexpr int kCreateFlags = O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

} // namespace

int createTemporary(const std::filesystem::path& folder, mode_t mode, std::filesystem::path& made)
{
    std::string name;
    const int fd = createNamed(name, [&](const std::string& n) { return ::open((folder / n).c_str(), O_WRONLY | kCreateFlags, mode); });
    if (fd >= 0)
        made = folder / name;
    return fd;
}

int createTemporaryIn(int folderFd, mode_t mode, std::string& name)
{
    return createNamed(name, [&](const std::string& n) { return ::openat(folderFd, n.c_str(), O_RDWR | kCreateFlags, mode); });
}

std::size_t sweepStaleTemporaries(const std::filesystem::path& folder, const OtherNameRule& alsoRemove)
{
    const std::filesystem::path listed = folder.empty() ? std::filesystem::path(".") : folder;
    const int folderFd = ::open(listed.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return 0;
    FileIdentity id;
    if (!identifyFile(folderFd, id) || !sweptFolders().due(id)) {
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

// ---- Copies for files written in place ----------------------------------------------------------

namespace {

constexpr std::string_view kCopyHeadLine = "TAVRIN copy 1\n";

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The bytes of a percent-encoded path; nothing for a byte that encoding never leaves as it is,
// or a "%" without two hexadecimal digits.
std::optional<std::string> percentDecoded(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (text.size() - i < 3)
                return std::nullopt;
            const int high = hexDigit(text[i + 1]), low = hexDigit(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else if (isLetterOrDigit(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
            out += c;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

// Decimal numbers separated by single spaces, the whole text.
template <typename... Numbers>
bool readNumbers(std::string_view text, Numbers&... numbers)
{
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    bool ok = true;
    bool first = true;
    auto one = [&](auto& number) {
        if (!ok)
            return;
        if (!first && (at == end || *at++ != ' '))
            ok = false;
        first = false;
        if (!ok || at == end || *at == '+' || *at == ' ')
            return void(ok = false);
        const auto [next, error] = std::from_chars(at, end, number);
        ok = error == std::errc{};
        at = next;
    };
    (one(numbers), ...);
    return ok && at == end;
}

// The next line of bytes from at (without its break), and at past it; nothing without a break.
std::optional<std::string_view> nextLine(std::string_view bytes, std::size_t& at)
{
    const std::size_t end = bytes.find('\n', at);
    if (end == std::string_view::npos)
        return std::nullopt;
    const std::string_view line = bytes.substr(at, end - at);
    at = end + 1;
    return line;
}

} // namespace

std::string percentEncodedPath(std::string_view path)
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

std::string copyRecordHead(const std::filesystem::path& file, const FileIdentity& identity)
{
    return std::string(kCopyHeadLine) + "file=" + percentEncodedPath(file.native()) + "\nid=" +
           std::to_string(static_cast<std::uint64_t>(identity.device)) + " " + std::to_string(static_cast<std::uint64_t>(identity.inode)) +
           " " + std::to_string(identity.bornSeconds) + " " + std::to_string(identity.bornNanoseconds) + "\n\n";
}

std::optional<CopyRecord> parseCopyRecord(std::string_view bytes)
{
    bytes = bytes.substr(0, kMostCopyHeadBytes);
    if (bytes.substr(0, kCopyHeadLine.size()) != kCopyHeadLine)
        return std::nullopt;
    std::size_t at = kCopyHeadLine.size();
    const auto fileLine = nextLine(bytes, at);
    const auto idLine = nextLine(bytes, at);
    const auto blank = nextLine(bytes, at);
    if (!fileLine || !idLine || !blank || !blank->empty() || fileLine->substr(0, 5) != "file=" || idLine->substr(0, 3) != "id=")
        return std::nullopt;
    const auto path = percentDecoded(fileLine->substr(5));
    if (!path || path->empty() || path->front() != '/' || path->find('\0') != std::string::npos)
        return std::nullopt;
    std::uint64_t device = 0, inode = 0;
    CopyRecord record;
    if (!readNumbers(idLine->substr(3), device, inode, record.identity.bornSeconds, record.identity.bornNanoseconds) ||
        record.identity.bornNanoseconds >= 1000000000u)
        return std::nullopt;
    record.identity.device = static_cast<dev_t>(device);
    record.identity.inode = static_cast<ino_t>(inode);
    if (record.identity.device != device || record.identity.inode != inode)
        return std::nullopt;
    record.file = *path;
    record.contentOffset = at;
    return record;
}

namespace {

// The folder, open, when it is a real folder of the user's own that nobody else may enter: one
// planted by another user in a shared folder (or a link to one) could hand them the copies.
int openOwnFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() && (status.st_mode & 077) == 0)
        return fd;
    ::close(fd);
    errno = EACCES;
    return -1;
}

// Where copies may go, best first (see openCopyFolder).
std::vector<std::filesystem::path> copyFolders()
{
    std::vector<std::filesystem::path> folders{sharedFolder() / (".tavrin-copies-" + std::to_string(::geteuid()))};
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    if (state && state[0] == '/')
        folders.push_back(std::filesystem::path(state) / "tavrin-copies");
    else if (home && home[0] == '/')
        folders.push_back(std::filesystem::path(home) / ".local" / "state" / "tavrin-copies");
    return folders;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Writes all of size bytes at offset of fd.
bool writeAllAt(int fd, const char* data, std::size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, data, size, offset);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        offset += written;
    }
    return true;
}

// Copies copyFd from offset from to the start of target; the length copied in length.
bool copyContent(int copyFd, off_t from, int target, off_t& length, bool& touched)
{
    std::vector<char> chunk(std::size_t{1} << 16);
    length = 0;
    for (;;) {
        const ssize_t got = ::pread(copyFd, chunk.data(), chunk.size(), from + length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        touched = true;
        if (!writeAllAt(target, chunk.data(), static_cast<std::size_t>(got), length))
            return false;
        length += got;
    }
}

} // namespace

int openCopyFolder(std::filesystem::path& where)
{
    int failure = ENOENT;
    const auto folders = copyFolders();
    for (std::size_t i = 0; i < folders.size(); ++i) {
        const auto& folder = folders[i];
        std::error_code ignored;
        if (i > 0)  // the user's own state folder may be made; the shared folder must exist
            std::filesystem::create_directories(folder.parent_path(), ignored);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            failure = errno;
            continue;
        }
        const int fd = openOwnFolder(folder);
        if (fd >= 0) {
            where = folder;
            return fd;
        }
        failure = errno;
    }
    errno = failure;
    return -1;
}

bool copyInto(int copyFd, off_t from, const std::filesystem::path& file, const FileIdentity& identity, bool& touched)
{
    touched = false;
    // Never through a link put in its place, never blocking on a pipe put there.
    const int target = ::open(file.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (target < 0)
        return false;
    FileIdentity now;
    struct stat status {};
    bool ok = identifyFile(target, now) && ::fstat(target, &status) == 0;
    if (ok && (!S_ISREG(status.st_mode) || !(now == identity))) {
        errno = ESTALE;
        ok = false;
    }
    off_t length = 0;
    ok = ok && copyContent(copyFd, from, target, length, touched);
    touched = touched || ok;  // the cut below changes it too
    ok = ok && ::ftruncate(target, length) == 0;
    ok = ok && ::fsync(target) == 0;
    int failure = ok ? 0 : errno;
    if (::close(target) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    errno = failure;
    return ok;
}

namespace {

enum class Finished { Written, Dropped, Kept, Skipped };

// Finishes the ready copy name in folderFd unless a live writer holds it.
Finished finishCopy(int folderFd, const char* name)
{
    const int fd = ::openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Finished::Skipped;
    struct stat status {}, named {};
    Finished result = Finished::Skipped;
    // The lock tells a cut-off copy from a live one; the name, looked at once the lock is ours,
    // that its writer did not finish and remove it meanwhile.
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstatat(folderFd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        sameFile(status, named)) {
        std::string head(kMostCopyHeadBytes, '\0');
        const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
        const auto record = got > 0 ? parseCopyRecord(std::string_view(head.data(), static_cast<std::size_t>(got))) : std::nullopt;
        bool touched = false;
        if (!record) {
            logLine("TAVRIN: an unreadable copy of a save was removed");
            result = Finished::Dropped;
        } else if (copyInto(fd, static_cast<off_t>(record->contentOffset), record->file, record->identity, touched)) {
            logAboutFile("finished the cut-off save of", record->file);
            result = Finished::Written;
        } else {
            const int cause = errno;
            const bool gone = cause == ESTALE || cause == ENOENT || cause == ELOOP;
            logAboutFile(gone ? "dropped the cut-off save of" : "cannot finish the cut-off save of", record->file, cause);
            result = gone ? Finished::Dropped : Finished::Kept;
        }
        if (result != Finished::Kept && ::unlinkat(folderFd, name, 0) == 0)
            ::fsync(folderFd);
    }
    ::close(fd);
    return result;
}

std::size_t finishIn(int folderFd)
{
    std::vector<std::string> names;
    if (DIR* entries = ::fdopendir(::fcntl(folderFd, F_DUPFD_CLOEXEC, 0))) {
        while (const dirent* entry = ::readdir(entries))
            if (isCopyName(entry->d_name))
                names.emplace_back(entry->d_name);
        ::closedir(entries);
    }
    std::size_t written = 0;
    for (const std::string& name : names)
        written += finishCopy(folderFd, name.c_str()) == Finished::Written;
    return written;
}

} // namespace

std::size_t finishCutOffCopies()
{
    std::size_t written = 0;
    for (const auto& folder : copyFolders()) {
        const int fd = openOwnFolder(folder);
        if (fd < 0)
            continue;
        written += finishIn(fd);
        ::close(fd);
    }
    return written;
}

namespace {
std::atomic<bool> copiesFinished{false};
std::mutex finishing;
} // namespace

void finishCutOffCopiesOnce()
{
    if (copiesFinished.load(std::memory_order_acquire))
        return;
    const std::lock_guard<std::mutex> lock(finishing);
    if (copiesFinished.load(std::memory_order_relaxed))
        return;
    finishCutOffCopies();
    copiesFinished.store(true, std::memory_order_release);
}

void forgetCutOffCopiesFinished() { copiesFinished.store(false, std::memory_order_release); }

} // namespace platform
