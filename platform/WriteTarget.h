// Where a write of a whole file lands: the file a symlink names (the link stays a link), and
// whether that file may be replaced by a renamed temporary file or must be written in place; and
// the writer that replaces a file in one rename.
#pragma once

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
// renames over it, so that a reader, a crash or a full disk finds the old file or the new one,
// never a mix. The temporary has a short name of ours (StaleTemporaries.h), so a file whose name
// is as long as the file system allows can be written too. A temporary file that a killed process
// left in the folder is removed by a later begin there once it is an hour old. Failures leave
// errno set.
class AtomicWriter {
public:
    AtomicWriter() = default;
    // Abandons an uncommitted file.
    ~AtomicWriter() { abandon(); }
    AtomicWriter(const AtomicWriter&) = delete;
    AtomicWriter& operator=(const AtomicWriter&) = delete;

    // Creates the temporary file beside file, a path whose links are already followed (see
    // resolveWriteTarget), closed on exec. false when it cannot be made.
    bool begin(const std::filesystem::path& file);
    // Appends bytes to the temporary file.
    bool write(std::string_view bytes);
    // Flushes the temporary file to disk, gives it the replaced file's permissions (a new file
    // keeps those it was made with: 0666 less the umask) and renames it over the file. On false
    // the temporary file is gone and the file untouched.
    bool commit();
    // Removes the temporary file; the file stays as it was.
    void abandon();
    bool active() const { return fd_ >= 0; }

private:
    std::filesystem::path file_;
    std::filesystem::path temporary_;
    int fd_ = -1;
};

} // namespace platform
