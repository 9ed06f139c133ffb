// Where a write of a whole file lands: the file a symlink names (the link stays a link), and
// whether that file may be replaced by a renamed temporary file or must be written in place.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

struct WriteTarget {
    enum class Kind {
        Regular, // a regular file or none yet: write a temporary file in its folder, rename it over
        Special, // a pipe, a device or a socket: never replaced, only written in place
    };
    Kind kind = Kind::Regular;
    std::filesystem::path file; // the path with every symlink followed
};

// Follows the symlinks of target (40 at most, relative ones from the link's folder). Nothing,
// with a reason in error, for a folder, a symlink loop, an empty name or a failed look-up.
std::optional<WriteTarget> resolveWriteTarget(const std::filesystem::path& target, std::string& error);

} // namespace platform
