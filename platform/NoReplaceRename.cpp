#include "NoReplaceRename.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::atomic<bool> pretending{false};
std::atomic<void (*)()> betweenLinkAndUnlink{nullptr};

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// from gets the new name through a new link, and loses its old one only while that name still
// holds the file linked.
bool linkThenUnlink(const std::filesystem::path& from, const std::filesystem::path& to)
{
    // The file as it is now, held open, so that what the names hold later is compared with it.
    const int fd = ::open(from.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat ours {}, linked {}, named {};
    bool ok = ::fstat(fd, &ours) == 0;
    if (ok && S_ISDIR(ours.st_mode)) {
        errno = EXDEV;  // no hard link to a folder, and no rename that could not replace
        ok = false;
    }
    // A symbolic link gets a new name itself, never its target (no AT_SYMLINK_FOLLOW).
    ok = ok && ::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0) == 0;
    if (ok && ::lstat(to.c_str(), &linked) != 0) {
        ok = false;  // the new name is gone already: the old one stays
    } else if (ok && !sameFile(linked, ours)) {
        // from held another file by the time it was linked: that one is not ours to rename.
        ::unlink(to.c_str());
        errno = ESTALE;
        ok = false;
    }
    if (const auto hook = betweenLinkAndUnlink.load(); ok && hook)
        hook();
    if (ok && ::lstat(from.c_str(), &named) == 0 && sameFile(named, ours))
        ::unlink(from.c_str());
    const int failure = errno;
    ::close(fd);
    errno = failure;
    return ok;
}

} // namespace

namespace rename_testing {
void pretendNoNoReplace(bool pretend, void (*between)())
{
    betweenLinkAndUnlink.store(between);
    pretending.store(pretend);
}
} // namespace rename_testing

bool renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (!pretending && ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (pretending)
        errno = EINVAL;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    return linkThenUnlink(from, to);
}

} // namespace platform
