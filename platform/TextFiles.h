// File services the preset modules share: reads that never block and never run away, whole-file
// writes that never leave a half-written file, and (PathExpander.h) the expansion of a folder
// text like a shell word.
#pragma once

#include "PathExpander.h"
#include "WriteTarget.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace platform {

// Writes bytes to a temporary file beside target and renames it over target, so that a crash or
// a full disk leaves either the old file or the new one, never a mix. A symlinked target keeps its
// link: the file it names is replaced in that file's folder (with LinkTrust::OwnOnly, for a file
// at a fixed name in a shared folder, only links of the user running the process are followed).
// A file a rename cannot or must not replace (a read-only folder, further hard links, another
// owner) is written in place, safe from a kill all the same (AtomicWriter in WriteTarget.h).
// false when any step fails (the target is then untouched and the temporary file removed), for a
// target that is not a regular file (a folder, a pipe, a device), which is never replaced, and
// for a link that is not trusted; each such failure is logged with the name and the cause.
bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes, LinkTrust links = LinkTrust::Any);

// A regular file open for reading. Only regular files open, and without waiting: a pipe, a
// device, a socket or a folder (or a link to one) would block or never end, and counts as a file
// that cannot be read.
class ReadableFile {
public:
    explicit ReadableFile(const char* path);
    ~ReadableFile();
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // Up to size bytes from where the last read ended: their count, 0 at the end, -1 on a failure.
    ssize_t read(char* into, std::size_t size);

private:
    int fd_ = -1;
};

// What a file is read whole up to unless its reader gives a limit of its own.
inline constexpr std::size_t kMostFileBytes = std::size_t{64} << 20;

// The first maxBytes bytes of a regular file (all of a shorter one); nothing when it cannot be
// opened (see ReadableFile) or read. With LinkTrust::OwnOnly (a fixed name in a shared folder) a
// link of another user on the way makes the file one that cannot be read, so that nobody can
// have a user's private file read and copied where others see it.
std::optional<std::string> readFileStart(const std::filesystem::path& file, std::size_t maxBytes,
                                         LinkTrust links = LinkTrust::Any);

// The whole regular file; nothing when it cannot be opened or read, or holds more than maxBytes.
std::optional<std::string> readFile(const std::filesystem::path& file, std::size_t maxBytes = kMostFileBytes,
                                    LinkTrust links = LinkTrust::Any);

} // namespace platform
