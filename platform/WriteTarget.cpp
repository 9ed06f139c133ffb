#include "WriteTarget.h"

#include "StaleTemporaries.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

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
    sweepStaleTemporaries(file.parent_path());
    // Made no more open than the file it replaces, and for a new file as the umask says, which
    // open applies itself (reading the umask would change it for every thread meanwhile).
    struct stat existing {};
    const mode_t mode = ::stat(file.c_str(), &existing) == 0 ? (existing.st_mode & 0666) : 0666;
    std::filesystem::path temporary;
    const int fd = createTemporary(file.parent_path(), mode, temporary);
    if (fd < 0)
        return false;
    fd_ = fd;
    file_ = file;
    temporary_ = std::move(temporary);
    return true;
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
