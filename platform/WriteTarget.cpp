#include "WriteTarget.h"

#include "Log.h"
#include "StaleTemporaries.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
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

namespace {

std::atomic<void (*)(const std::filesystem::path& file)> beforeWriteInPlace{nullptr};

// Flushes folder's entries, so that a rename or removal in it outlives a power cut. Some file
// systems cannot flush a folder; the rename stands all the same.
void flushFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A file a rename must not replace: it has further links, or another owner; and the user may
// write it (else a rename, where the folder allows one, is still better than no save).
bool keptInPlace(const std::filesystem::path& file, const struct stat& status)
{
    return (status.st_nlink > 1 || status.st_uid != ::geteuid()) && ::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0;
}

} // namespace

namespace write_testing {
void setBeforeWriteInPlace(void (*hook)(const std::filesystem::path& file)) { beforeWriteInPlace = hook; }
} // namespace write_testing

bool AtomicWriter::failed(const char* what, int error)
{
    logAboutFile(what, file_, error);
    abandon();
    errno = error;
    return false;
}

bool AtomicWriter::begin(const std::filesystem::path& file)
{
    abandon();
    finishCutOffCopiesOnce();
    file_ = file;
    // What a killed write left here earlier goes first, before it fills the disk.
    sweepStaleTemporaries(file.parent_path());
    // Made no more open than the file it replaces, and for a new file as the umask says, which
    // open applies itself (reading the umask would change it for every thread meanwhile).
    struct stat existing {};
    const bool exists = ::stat(file.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    if (exists && keptInPlace(file, existing))
        return beginInPlace();
    std::filesystem::path temporary;
    const int fd = createTemporary(file.parent_path(), exists ? (existing.st_mode & 0666) : 0666, temporary);
    if (fd < 0) {
        // A folder the user may not write (or a read-only one) may still hold a file they may.
        if (exists && (errno == EACCES || errno == EPERM || errno == EROFS))
            return beginInPlace();
        return failed("cannot save", errno);
    }
    fd_ = fd;
    temporary_ = std::move(temporary);
    return true;
}

bool AtomicWriter::beginInPlace()
{
    // A copy an earlier write left goes into the file first: it is older than this one.
    finishCutOffCopies();
    std::filesystem::path folder;
    copyFolderFd_ = openCopyFolder(folder);
    if (copyFolderFd_ < 0)
        return failed("cannot save (no folder for a copy to write it in place)", errno);
    sweepStaleTemporaries(folder);  // copies a kill cut off before they were complete
    const int file = ::open(file_.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    const bool known = file >= 0 && identifyFile(file, identity_);
    const int cause = errno;
    if (file >= 0)
        ::close(file);
    if (!known)
        return failed("cannot save", cause);
    fd_ = createTemporaryIn(copyFolderFd_, 0600, copyName_);
    if (fd_ < 0)
        return failed("cannot save (no copy to write it in place)", errno);
    // Held to the end, so that no start of another process takes the copy for a cut-off one.
    const std::string head = copyRecordHead(file_, identity_);
    contentOffset_ = static_cast<off_t>(head.size());
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 || !writeAll(fd_, head.data(), head.size()))
        return failed("cannot save (no copy to write it in place)", errno);
    return true;
}

bool AtomicWriter::write(std::string_view bytes)
{
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    if (!writeAll(fd_, bytes.data(), bytes.size()))
        return failed("cannot save", errno);
    return true;
}

bool AtomicWriter::commit()
{
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    if (inPlace())
        return commitInPlace();
    struct stat existing {};
    bool ok = ::stat(file_.c_str(), &existing) != 0 || ::fchmod(fd_, existing.st_mode & 07777) == 0;
    ok = ok && ::fsync(fd_) == 0;
    const int fd = fd_;
    fd_ = -1;
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temporary_.c_str(), file_.c_str()) == 0;
    if (!ok)
        return failed("cannot save", errno);
    temporary_.clear();
    flushFolder(file_.parent_path());
    return true;
}

bool AtomicWriter::commitInPlace()
{
    // The copy is complete on disk under its ready name before a byte of the file changes.
    const std::string ready = std::string(kCopyMarker) + copyName_.substr(kTemporaryMarker.size());
    if (::fsync(fd_) != 0 || ::renameat(copyFolderFd_, copyName_.c_str(), copyFolderFd_, ready.c_str()) != 0)
        return failed("cannot save", errno);
    copyName_ = ready;
    if (::fsync(copyFolderFd_) != 0)
        return failed("cannot save", errno);
    if (const auto hook = beforeWriteInPlace.load())
        hook(file_);
    bool touched = false;
    if (!copyInto(fd_, contentOffset_, file_, identity_, touched)) {
        const int cause = errno;
        if (touched)  // the file is part new: its copy stays, and the next start finishes it
            copyName_.clear();
        logAboutFile(touched ? "cannot save (finished at the next start)" : "cannot save", file_, cause);
        abandon();
        errno = cause;
        return false;
    }
    abandon();  // the copy has done its work
    return true;
}

void AtomicWriter::abandon()
{
    // A copy's name goes while its lock is still held, so that no other process's start takes it
    // for a cut-off one in between.
    if (copyFolderFd_ >= 0 && !copyName_.empty() && ::unlinkat(copyFolderFd_, copyName_.c_str(), 0) == 0)
        ::fsync(copyFolderFd_);
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
    if (copyFolderFd_ >= 0)
        ::close(copyFolderFd_);
    copyFolderFd_ = -1;
    copyName_.clear();
}

} // namespace platform
