#include "TextFiles.h"

#include "WriteTarget.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes)
{
    // A symlink keeps its link: the file it names is replaced, in that file's own folder so that
    // the rename stays on one file system. A pipe or a device is never turned into a regular file.
    std::string error;
    const auto resolved = resolveWriteTarget(target, error);
    if (!resolved || resolved->kind != WriteTarget::Kind::Regular)
        return false;
    const std::filesystem::path& file = resolved->file;
    std::string temporary = (file.parent_path() / std::string(".").append(file.filename().string()).append(".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    bool ok = true;
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (ok && left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            ok = errno == EINTR;
        } else {
            data += written;
            left -= static_cast<size_t>(written);
        }
    }
    // mkstemp creates 0600: keep the replaced file's permissions, or those of an ordinary file.
    struct stat existing {};
    const mode_t mode = ::stat(file.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
    ok = ok && ::fchmod(fd, mode) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temporary.c_str(), file.c_str()) == 0;
    if (!ok)
        std::remove(temporary.c_str());
    return ok;
}

std::optional<std::string> readFile(const std::filesystem::path& file)
{
    std::FILE* stream = std::fopen(file.c_str(), "rb");
    if (!stream)
        return std::nullopt;
    std::string contents;
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, stream)) > 0)
        contents.append(chunk, got);
    const bool failed = std::ferror(stream) != 0;
    std::fclose(stream);
    if (failed)
        return std::nullopt;
    return contents;
}

} // namespace platform
