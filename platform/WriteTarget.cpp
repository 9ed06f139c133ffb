#include "WriteTarget.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace platform {

std::optional<WriteTarget> resolveWriteTarget(const std::filesystem::path& target, std::string& error)
{
    constexpr int kMostLinks = 40; // as the kernel's own limit
    if (target.empty() || !target.has_filename()) {
        error = "\"" + target.string() + "\" names no file";
        return std::nullopt;
    }
    std::filesystem::path file = target;
    for (int links = 0; links <= kMostLinks; ++links) {
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

} // namespace platform
