#include "WriteTarget.h"

#include "StaleTemporaries.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Six letters for a temporary file's name: random, or from the clock and a counter when the
// system gives no random bytes.
std::string temporaryLetters()
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
    std::string letters;
    for (int i = 0; i < 6; ++i, bits /= sizeof kLetters - 1)
        letters += kLetters[bits % (sizeof kLetters - 1)];
    return letters;
}

// The temporaries of AtomicWriter: ".tav" and six letters. A preset file with an empty name,
// ".tavpreset", fits the pattern too and is never taken for one.
constexpr TemporaryPattern kTemporaryPattern{".tav", 6};
constexpr std::string_view kPresetWithoutName = ".tavpreset";

} // namespace

std::optional<WriteTarget> resolveWriteTarget(const std::filesystem::path& target, std::string& error, LinkTrust links)
{
    constexpr int kMostLinks = 40; // as the kernel's own limit
    if (target.empty() || !target.has_filename()) {
        error = "\"" + target.string() + "\" names no file";
        return std::nullopt;
    }
    std::filesystem::path file = target;
    for (int link = 0; link <= kMostLinks; ++link) {
        struct stat status {};
        if (::lstat(file.c_str(), &status) != 0) {
            if (errno == ENOENT)
                return WriteTarget{WriteTarget::Kind::Regular, file};
            error = file.string() + ": " + std::strerror(errno);
            return std::nullopt;
        }
        if (S_ISREG(status.st_mode))
            return WriteTarget{WriteTarget::Kind::Regular, file};
        if (S_ISDIR(status.st_mode)) {
            error = file.string() + " is a folder";
            return std::nullopt;
        }
        if (!S_ISLNK(status.st_mode))
            return WriteTarget{WriteTarget::Kind::Special, file};
        if (links == LinkTrust::OwnOnly && status.st_uid != ::geteuid()) {
            error = file.string() + " is a link of another user";
            return std::nullopt;
        }
        std::error_code ec;
        const std::filesystem::path named = std::filesystem::read_symlink(file, ec);
        if (ec) {
            error = file.string() + ": " + ec.message();
            return std::nullopt;
        }
        file = named.is_absolute() ? named : file.parent_path() / named;
        if (!file.has_filename()) {
            error = target.string() + " names no file";
            return std::nullopt;
        }
    }
    error = target.string() + ": too many levels of symbolic links";
    return std::nullopt;
}

bool writeAll(int fd, const char* data, std::size_t size, const volatile std::sig_atomic_t* stop)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR && !(stop && *stop))
                continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool AtomicWriter::begin(const std::filesystem::path& file)
{
    abandon();
    // What a killed write left here earlier goes first, before it fills the disk.
    sweepStaleTemporaries(file.parent_path(), kTemporaryPattern, kPresetWithoutName);
    // Made no more open than the file it replaces, and for a new file as the umask says, which
    // open applies itself (reading the umask would change it for every thread meanwhile).
    struct stat existing {};
    const mode_t mode = ::stat(file.c_str(), &existing) == 0 ? (existing.st_mode & 0666) : 0666;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path temporary = file.parent_path() / (".tav" + temporaryLetters());
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            fd_ = fd;
            file_ = file;
            temporary_ = std::move(temporary);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool AtomicWriter::write(std::string_view bytes)
{
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    return writeAll(fd_, bytes.data(), bytes.size());
}

bool AtomicWriter::commit()
{
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    struct stat existing {};
    bool ok = ::stat(file_.c_str(), &existing) != 0 || ::fchmod(fd_, existing.st_mode & 07777) == 0;
    ok = ok && ::fsync(fd_) == 0;
    const int fd = fd_;
    fd_ = -1;
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temporary_.c_str(), file_.c_str()) == 0;
    if (ok) {
        temporary_.clear();
        return true;
    }
    const int failure = errno;
    abandon();
    errno = failure;
    return false;
}

void AtomicWriter::abandon()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
}

} // namespace platform
