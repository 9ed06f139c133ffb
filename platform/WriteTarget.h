// Where a write of a whole file lands: the file a symlink names (the link stays a link), and
// whether that file may be replaced by a renamed temporary file or must be written in place; and
// the writer that replaces a file in one rename.
#pragma once

#include "StaleTemporaries.h"

#include <csignal>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct WriteTarget {
    enum class Kind {
        Regular, // a regular file or none yet: write a temporary file in its folder, rename it over
        Special, // a pipe, a device or a socket: never replaced, only written in place
    };
    Kind kind = Kind::Regular;
    std::filesystem::path file; // the path with every symlink followed
};

// Which symlinks a write follows.
enum class LinkTrust {
    Any,     // a file the user chose: every link is followed
    OwnOnly, // a file at a fixed name in a folder every local user may write: only links that
             // belong to the user running the process, as Linux follows links in shared sticky
             // folders, so that a link planted by someone else cannot redirect the write
};

// Follows the symlinks of target (40 at most, relative ones from the link's folder). Nothing,
// with a reason in error, for a folder, a symlink loop, an empty name, a failed look-up, and,
// with LinkTrust::OwnOnly, a link on the way that belongs to another user.
std::optional<WriteTarget> resolveWriteTarget(const std::filesystem::path& target, std::string& error,
                                              LinkTrust links = LinkTrust::Any);

// Writes all of size bytes to fd, going on after a signal unless *stop is set. false (errno set)
// when a write fails.
bool writeAll(int fd, const char* data, std::size_t size, const volatile std::sig_atomic_t* stop = nullptr);

// A file replaced in one rename: the new bytes go to a temporary file beside it, which commit
// renames over it (and then flushes the folder, so that the rename outlives a power cut), so that
// a reader, a crash or a full disk finds the old file or the new one, never a mix. The temporary
// has a short name of ours (StaleTemporaries.h), so a file whose name is as long as the file
// system allows can be written too. A temporary file that a killed process left in the folder is
// removed by a later begin there once it is an hour old.
//
// A file that a rename must not or cannot replace is written in place instead, keeping its inode,
// owner, permissions and every hard link: one with further links (all of them get the new
// bytes), one of another user (a rename would make it the saver's), and one in a folder that
// takes no temporary file (a read-only library, a shared sticky folder: the user may write the
// file but not its folder). The new bytes then go whole into a copy in a folder of the user's own
// first, and only once it is flushed into the file, so that a kill mid-write loses nothing: the
// next start finishes the copy (StaleTemporaries.h, "Copies for files written in place").
//
// Every failure is logged with the file's name and its cause (Log.h), and leaves errno set.
class AtomicWriter {
public:
    AtomicWriter() = default;
    // Abandons an uncommitted file.
    ~AtomicWriter() { abandon(); }
    AtomicWriter(const AtomicWriter&) = delete;
    AtomicWriter& operator=(const AtomicWriter&) = delete;

    // Creates the temporary file beside file, a path whose links are already followed (see
    // resolveWriteTarget), or the copy for a write in place; closed on exec. false when neither
    // can be made.
    bool begin(const std::filesystem::path& file);
    // Appends bytes to the temporary file or copy.
    bool write(std::string_view bytes);
    // Flushes the temporary file to disk, gives it the replaced file's permissions (a new file
    // keeps those it was made with: 0666 less the umask) and renames it over the file; or, in
    // place, writes the copy's bytes into the file. On false the temporary file is gone and the
    // file untouched (in place: or, when the write into it failed part-way, its copy kept for
    // the next start).
    bool commit();
    // Removes the temporary file or copy; the file stays as it was.
    void abandon();
    bool active() const { return fd_ >= 0; }
    // True when the file begun is written in place.
    bool inPlace() const { return copyFolderFd_ >= 0; }

private:
    bool beginInPlace();
    bool commitInPlace();
    bool failed(const char* what, int error);

    std::filesystem::path file_;
    std::filesystem::path temporary_;
    int fd_ = -1;
    // In place: the folder holding the copy, the copy's name there, and the file written.
    int copyFolderFd_ = -1;
    std::string copyName_;
    off_t contentOffset_ = 0;
    FileIdentity identity_;
};

namespace write_testing {
// For tests: called with the file after its copy is ready and before the file is written in
// place (a test stops the process there, or writes part of the file, as a kill mid-write would
// leave it); nullptr for none. [not while a write runs]
void setBeforeWriteInPlace(void (*hook)(const std::filesystem::path& file));
} // namespace write_testing

} // namespace platform
