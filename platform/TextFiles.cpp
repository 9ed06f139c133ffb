#include "TextFiles.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes)
{
    if (target.empty() || !target.has_filename())
        return false;
    std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    bool ok = true;
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (ok && left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            ok = false;
        } else {
            data += written;
            left -= static_cast<size_t>(written);
        }
    }
    // mkstemp creates 0600: keep the replaced file's permissions, or those of an ordinary file.
    struct stat existing {};
    const mode_t mode = ::stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
    ok = ok && ::fchmod(fd, mode) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temporary.c_str(), target.c_str()) == 0;
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
