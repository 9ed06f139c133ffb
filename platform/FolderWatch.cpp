#include "FolderWatch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace platform {

namespace {

// No IN_MODIFY: it comes at every write, while the file is still half written, and floods the
// queue for a large file; IN_CLOSE_WRITE comes once the writer is done with it, and an atomic
// replace is an IN_MOVED_TO. No IN_DONT_FOLLOW: a folder given as a link is watched where it
// leads. IN_EXCL_UNLINK: a file removed while still open says nothing more under its old name.
constexpr uint32_t kEntryEvents = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_ATTRIB;
constexpr uint32_t kFolderEvents = IN_DELETE_SELF | IN_MOVE_SELF;
constexpr uint32_t kMask = kEntryEvents | kFolderEvents | IN_ONLYDIR | IN_EXCL_UNLINK;

// Room for many events a read; the kernel hands out whole events only, and refuses a buffer that
// cannot take the longest one.
constexpr std::size_t kBufferSize = 16384;
static_assert(kBufferSize >= sizeof(inotify_event) + NAME_MAX + 1);
// Reads in one poll at most, so that a folder changing without pause still lets poll return;
// what is left waits in the kernel's queue for the next poll.
constexpr int kMostReads = 64;

bool sameFolder(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

FolderWatch::FolderWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FolderWatch::~FolderWatch()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool FolderWatch::add(std::string_view folder)
{
    for (const Folder& known : folders_)
        if (known.path == folder)
            return known.watch >= 0;
    folders_.push_back(Folder{std::string(folder)});
    return fd_ >= 0 && watch(folders_.back());
}

void FolderWatch::clear()
{
    while (!folders_.empty()) {
        unwatch(folders_.back());
        folders_.pop_back();
    }
    drain();
}

bool FolderWatch::poll(const std::function<void(std::string_view folder, std::string_view name)>& changed)
{
    if (fd_ < 0)
        return false;
    changed_.clear();
    bool whole = readEvents();
    // A path that leads elsewhere now (the folder or one above it moved, a link retargeted)
    // watches what it leads to; a folder not watched is tried again. Either way what happened
    // there meanwhile is unknown.
    for (Folder& folder : folders_) {
        if (folder.watch >= 0) {
            struct stat now {};
            if (::stat(folder.path.c_str(), &now) == 0 && now.st_dev == folder.device && now.st_ino == folder.inode)
                continue;
            unwatch(folder);
        }
        watch(folder);
        whole = false;
    }

    std::sort(changed_.begin(), changed_.end());
    changed_.erase(std::unique(changed_.begin(), changed_.end()), changed_.end());
    for (const auto& [descriptor, name] : changed_)
        for (const Folder& folder : folders_)
            if (folder.watch == descriptor)
                changed(folder.path, name);
    return whole;
}

// The stat before and after tells that the watch is on the folder the path led to when it was
// set (the kernel does not say which folder it watches).
bool FolderWatch::watch(Folder& folder)
{
    if (folder.path.empty() || folder.path.find('\0') != std::string::npos)
        return false;
    struct stat before {};
    if (::stat(folder.path.c_str(), &before) != 0 || !S_ISDIR(before.st_mode))
        return false;
    const int descriptor = ::inotify_add_watch(fd_, folder.path.c_str(), kMask);
    if (descriptor < 0)
        return false;
    folder.watch = descriptor;
    struct stat after {};
    if (::stat(folder.path.c_str(), &after) != 0 || !sameFolder(before, after)) {
        unwatch(folder);
        return false;
    }
    folder.device = after.st_dev;
    folder.inode = after.st_ino;
    return true;
}

// The kernel's watch goes with the last folder on it (two spellings of one folder share it).
void FolderWatch::unwatch(Folder& folder)
{
    const int descriptor = std::exchange(folder.watch, -1);
    if (descriptor < 0)
        return;
    for (const Folder& other : folders_)
        if (other.watch == descriptor)
            return;
    ::inotify_rm_watch(fd_, descriptor);
}

bool FolderWatch::readEvents()
{
    alignas(inotify_event) char buffer[kBufferSize];
    bool whole = true;
    for (int reads = 0; reads < kMostReads; ++reads) {
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return whole && (got == 0 || errno == EAGAIN || errno == EWOULDBLOCK);
        const auto size = static_cast<std::size_t>(got);
        std::size_t at = 0;
        while (size - at >= sizeof(inotify_event)) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            at += sizeof event;
            if (event.len > size - at) {  // a cut event: the kernel never hands one out
                whole = false;
                break;
            }
            // The name is padded with NULs to len bytes; no NUL at all would end at len.
            const std::string_view name(buffer + at, ::strnlen(buffer + at, event.len));
            at += event.len;

            if (event.mask & IN_Q_OVERFLOW) {
                whole = false;
                continue;
            }
            bool ours = false;
            for (Folder& folder : folders_) {
                if (folder.watch != event.wd)
                    continue;
                ours = true;
                if (event.mask & IN_IGNORED)  // the kernel dropped the watch: the folder is gone
                    folder.watch = -1;
            }
            if (!ours)  // a watch already removed
                continue;
            if (event.mask & (IN_IGNORED | IN_UNMOUNT | kFolderEvents) || name.empty())
                whole = false;  // the folder itself removed, moved or changed (its mode: what can be read)
            else if (event.mask & kEntryEvents)
                changed_.emplace_back(event.wd, name);
        }
        if (at != size)
            whole = false;
    }
    return whole;
}

// Leaves the queue empty of what was there: events of watches just removed.
void FolderWatch::drain()
{
    if (fd_ < 0)
        return;
    alignas(inotify_event) char buffer[kBufferSize];
    for (int reads = 0; reads < kMostReads; ++reads) {
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return;
    }
}

} // namespace platform
