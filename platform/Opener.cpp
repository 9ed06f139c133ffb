#include "Opener.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
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

} // namespace

CommandOpener::CommandOpener(std::string command) : command_(std::move(command)) {}

bool CommandOpener::open(std::string_view target)
{
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
    if (posix_spawnp(&child, command.c_str(), &setup.actions, nullptr, argv, environ) != 0)
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
    for (const char c : target) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return false;
    }
    return true;
}

} // namespace platform
