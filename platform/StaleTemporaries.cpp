#include "StaleTemporaries.h"

#include <array>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

bool isLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// The folders this process looked through lately. A few dozen are plenty: a preset manager
// writes into a handful; a folder pushed out is at worst looked through once more.
class SweptFolders {
public:
    // True (and the folder is noted as looked through now) when it is due.
    bool due(const std::string& folder)
    {
        const auto now = std::chrono::steady_clock::now();
        const std::lock_guard<std::mutex> lock(mutex_);
        Entry* oldest = &entries_[0];
        for (Entry& entry : entries_) {
            if (entry.used && entry.folder == folder) {
                if (now - entry.when < kSweepInterval)
                    return false;
                entry.when = now;
                return true;
            }
            if (!entry.used || (oldest->used && entry.when < oldest->when))
                oldest = &entry;
        }
        *oldest = Entry{true, folder, now};
        return true;
    }

    void forget()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        entries_.fill(Entry{});
    }

private:
    struct Entry {
        bool used = false;
        std::string folder;
        std::chrono::steady_clock::time_point when{};
    };
    std::mutex mutex_;
    std::array<Entry, 32> entries_{};
};

SweptFolders& sweptFolders()
{
    static SweptFolders folders;
    return folders;
}

} // namespace

bool TemporaryPattern::matches(std::string_view name) const
{
    if (name.size() != prefix.size() + letters || name.substr(0, prefix.size()) != prefix)
        return false;
    for (const char c : name.substr(prefix.size()))
        if (!isLetterOrDigit(c))
            return false;
    return true;
}

std::size_t sweepStaleTemporaries(const std::filesystem::path& folder, const TemporaryPattern& pattern, std::string_view spared)
{
    const std::filesystem::path listed = folder.empty() ? std::filesystem::path(".") : folder;
    if (!sweptFolders().due(listed.lexically_normal().string()))
        return 0;
    const int folderFd = ::open(listed.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return 0;
    DIR* entries = ::fdopendir(folderFd);
    if (!entries) {
        ::close(folderFd);
        return 0;
    }
    const uid_t user = ::geteuid();
    const std::time_t staleBefore = std::time(nullptr) - kStaleTemporaryAge.count();
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(entries)) {
        const std::string_view name(entry->d_name);
        if (!pattern.matches(name) || name == spared || (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN))
            continue;
        struct stat status {};
        if (::fstatat(folderFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode) ||
            status.st_uid != user || status.st_mtim.tv_sec >= staleBefore)
            continue;
        // unlinkat removes the name itself and never follows a link.
        if (::unlinkat(folderFd, entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(entries);
    return removed;
}

void forgetSweptFolders() { sweptFolders().forget(); }

} // namespace platform
