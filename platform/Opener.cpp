#include "Opener.h"
#include "Utf8.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

#ifdef __APPLE__
constexpr const char* kPlatformOpener = "open";
#else
constexpr const char* kPlatformOpener = "xdg-open";
#endif

Opener* current = nullptr;

// Closes the spawn's file actions and attributes on every way out.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    bool ok = false;
    SpawnSetup() { ok = posix_spawn_file_actions_init(&actions) == 0; }
    ~SpawnSetup()
    {
        if (ok)
            posix_spawn_file_actions_destroy(&actions);
    }
};

bool isExecutableFile(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The file a command names: an absolute path as it is; a bare name as the first executable
// regular file of that name in PATH's absolute entries. An empty or relative entry would mean the
// host's current folder, which nobody chose as a place to run programs from, so it is skipped; a
// relative path is refused for the same reason.
std::optional<std::string> resolveCommand(const std::string& command)
{
    if (command.empty())
        return std::nullopt;
    if (command.find('/') != std::string::npos) {
        if (command.front() == '/' && isExecutableFile(command))
            return command;
        return std::nullopt;
    }
    const char* path = std::getenv("PATH");
    const std::string searchPath = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= searchPath.size()) {
        std::size_t end = searchPath.find(':', start);
        if (end == std::string::npos)
            end = searchPath.size();
        const std::string entry = searchPath.substr(start, end - start);
        if (!entry.empty() && entry.front() == '/') {
            const std::string candidate = entry + (entry.back() == '/' ? "" : "/") + command;
            if (isExecutableFile(candidate))
                return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
}

} // namespace

CommandOpener::CommandOpener(std::string command) : command_(std::move(command)) {}

bool CommandOpener::open(std::string_view target)
{
    const auto file = resolveCommand(command_);
    if (!file)
        return false;
    SpawnSetup setup;
    if (!setup.ok)
        return false;
    // Standard input from /dev/null; every descriptor of the host's beyond the standard three is
    // closed in the child, so the opener inherits none of the host's files or sockets.
    if (posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) != 0 ||
        posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1) != 0)
        return false;

    std::string command = command_;
    std::string argument(target);
    char* argv[] = {command.data(), argument.data(), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, file->c_str(), &setup.actions, nullptr, argv, environ) != 0)
        return false;
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

Opener& opener()
{
    static CommandOpener platformOpener{kPlatformOpener};
    return current ? *current : platformOpener;
}

void setOpener(Opener* opener)
{
    current = opener;
}

bool isOpenableTarget(std::string_view target)
{
    if (target.empty() || target.front() == '-')
        return false;
    std::wstring characters;
    try {
        characters = utf8::toWide(target);
    } catch (const std::exception&) {
        return false;
    }
    for (const wchar_t c : characters) {
        // C0, DEL and C1 controls, and the line and paragraph separators, which a reader of the
        // text may take as the end of a line.
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029)
            return false;
    }
    return true;
}

} // namespace platform
