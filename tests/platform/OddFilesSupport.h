// Odd files for tests of readers and writers: pipes, links onto an endless device, links of
// another user, and a watch on calls that might wait on them for good.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace odd_files {

// Runs action in a forked child whose first byte written to a file kills it (no room to grow any
// file, SIGXFSZ fatal), as a crash in the middle of a write would; true when it died so.
inline bool killedMidWrite(const std::function<void()>& action)
{
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_DFL);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 0;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        action();
        ::_exit(0);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ;
}

// Tells whether call returns within two seconds. A call waiting on one of the pipes is released
// by opening the pipe's other end; one that still runs (reading an endless device) cannot be
// stopped, so the test run ends there.
inline bool returnsAtOnce(const std::function<void()>& call, const std::vector<std::filesystem::path>& pipes = {})
{
    using namespace std::chrono_literals;
    auto done = std::async(std::launch::async, call);
    if (done.wait_for(2s) == std::future_status::ready)
        return true;
    for (const auto& pipe : pipes)
        if (const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0)
            ::close(fd);
    if (done.wait_for(2s) != std::future_status::ready) {
        std::fprintf(stderr, "a file operation never returned\n");
        std::_Exit(1);
    }
    return false;
}

// A pipe at file, replacing what is there.
inline void makePipe(const std::filesystem::path& file)
{
    std::filesystem::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
}

// A link at file onto an endless device, replacing what is there.
inline void linkToZero(const std::filesystem::path& file)
{
    std::filesystem::remove(file);
    std::filesystem::create_symlink("/dev/zero", file);
}

// Makes the link at file belong to another user; false when this process may not.
inline bool giveAway(const std::filesystem::path& link)
{
    return ::geteuid() != 65534 && ::lchown(link.c_str(), 65534, 65534) == 0;
}

// Gives the link at file back to the user running the tests.
inline void takeBack(const std::filesystem::path& link)
{
    ASSERT_EQ(::lchown(link.c_str(), ::geteuid(), ::getegid()), 0);
}

} // namespace odd_files
