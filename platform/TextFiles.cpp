#include "TextFiles.h"

#include "Log.h"
#include "StaleTemporaries.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes, LinkTrust links)
{
    // A symlink keeps its link: the file it names is replaced, in that file's own folder so that
    // the rename stays on one file system. A pipe or a device is never turned into a regular file.
    std::string error;
    const auto resolved = resolveWriteTarget(target, error, links);
    if (!resolved) {
        logLine("TAVRIN: cannot save \"%s\": %s", shownName(target.native()).c_str(), shownName(error).c_str());
        return false;
    }
    if (resolved->kind != WriteTarget::Kind::Regular) {
        logAboutFile("cannot save (not a regular file)", resolved->file);
        return false;
    }
    AtomicWriter writer;
    return writer.begin(resolved->file) && writer.write(bytes) && writer.commit();
}

ReadableFile::ReadableFile(const char* path)
{
    // A save cut off in the middle of writing a file in place is finished before anything reads.
    finishCutOffCopiesOnce();
    // The status first, so that nothing but a regular file is ever opened (opening a device may
    // act on it); then again on what was opened, in case the name changed in between.
    struct stat status {};
    if (::stat(path, &status) != 0 || !S_ISREG(status.st_mode))
        return;
    fd_ = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ >= 0 && (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(fd_);
        fd_ = -1;
    }
}

ReadableFile::~ReadableFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

ssize_t ReadableFile::read(char* into, std::size_t size)
{
    if (fd_ < 0)
        return -1;
    for (;;) {
        const ssize_t got = ::read(fd_, into, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

std::optional<std::string> readFileStart(const std::filesystem::path& file, std::size_t maxBytes, LinkTrust links)
{
    std::optional<WriteTarget> trusted;
    if (links == LinkTrust::OwnOnly) {
        std::string error;
        trusted = resolveWriteTarget(file, error, links);
        if (!trusted || trusted->kind != WriteTarget::Kind::Regular)
            return std::nullopt;
    }
    ReadableFile readable(trusted ? trusted->file.c_str() : file.c_str());
    if (!readable.isOpen())
        return std::nullopt;
    std::string contents;
    char chunk[16384];
    while (contents.size() < maxBytes) {
        const ssize_t got = readable.read(chunk, std::min(sizeof chunk, maxBytes - contents.size()));
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        contents.append(chunk, static_cast<std::size_t>(got));
    }
    return contents;
}

std::optional<std::string> readFile(const std::filesystem::path& file, std::size_t maxBytes, LinkTrust links)
{
    // One byte more than allowed tells a file of exactly maxBytes from a longer one.
    auto contents = readFileStart(file, maxBytes == SIZE_MAX ? maxBytes : maxBytes + 1, links);
    if (contents && contents->size() > maxBytes)
        return std::nullopt;
    return contents;
}

} // namespace platform
