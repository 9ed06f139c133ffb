// Which entries of a few folders changed, so that presets read ahead stay current when another
// process or another module writes, replaces, renames or removes one. Built on inotify.
//
// What is seen, per watched folder (its entries only, not its subfolders' entries): a name created
// (a file, a folder, a link), a file closed after writing, a name renamed into or out of the
// folder, a name removed, a name whose attributes changed (mode, times, owner, link count).
// A write is reported once the writer closes the file, not at each write: a file re-read while
// it is still being written would be half of it, and a writer that replaces atomically (writes a
// temporary file beside the target, then renames it over) is reported by the rename.
// Not seen: a write through a mapping of the file, and a file written by a program that keeps it
// open (until it closes it); changes made on another machine to a network folder.
//
// A folder path is resolved as given, links included (folders of the library may be links on
// purpose). If the path stops leading to the folder watched (the folder, or a folder above it,
// is removed, moved or replaced, or a link on the way retargeted), the next poll reports lost and
// watches whatever the path leads to from then on; a path that leads nowhere is tried again at
// every poll, and reported lost until it can be watched.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// Tells which names in a few folders were created, written, renamed or removed since it was last
// asked, without blocking. Used by one thread (the file worker); not for the audio thread.
class FolderWatch {
public:
    // A watch that cannot start (no inotify, limit reached) reports "lost" at every poll.
    FolderWatch();
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches the entries of folder (not its subfolders) from now on. false when it cannot: then
    // poll() reports lost for it (the caller must assume anything there may have changed).
    // A folder given again in the same spelling is one watch; two spellings of one folder (a
    // link and its target) are watched once and each reported under its own spelling.
    bool add(std::string_view folder);
    // Stops watching every folder. Changes not yet polled are dropped.
    void clear();
    // Calls changed(folder, name) for each name changed since the last poll, once per poll (folder
    // spelled as it was given to add). Returns false when changes may have been lost (queue
    // overflow, a watched folder removed or moved, a folder that could not be watched): then treat
    // everything watched as changed. Never waits for a change. changed must not call this watch.
    bool poll(const std::function<void(std::string_view folder, std::string_view name)>& changed);

    // Folders given to add() and not cleared, in the order given.
    std::size_t folders() const { return folders_.size(); }
    // True while inotify is there: when false, every poll reports lost.
    bool started() const { return fd_ >= 0; }
    // The descriptor that turns readable when a change waits to be polled (-1 when not started),
    // for a thread that sleeps until then.
    int fd() const { return fd_; }

private:
    struct Folder {
        std::string path;  // as given to add
        int watch = -1;    // inotify's watch descriptor; -1 while not watched
        dev_t device = 0;  // the folder the watch is on, to tell when the path leads elsewhere
        ino_t inode = 0;
    };

    bool watch(Folder& folder);
    void unwatch(Folder& folder);
    // Reads what the kernel has queued; false when something was lost.
    bool readEvents();
    void drain();

    int fd_ = -1;
    std::vector<Folder> folders_;
    std::vector<std::pair<int, std::string>> changed_;  // watch descriptor, name; kept for its room
};

} // namespace platform
