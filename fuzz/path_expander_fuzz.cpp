// The folder-setting expander on any text. Every process creation is trapped by a system-call
// filter, so starting a child (or running a program) is a finding, and the environment must be
// exactly as it was after every call. A text without any character the expander acts on comes
// back as it is, and the same text always expands the same way.
#include "FuzzSupport.h"
#include "PathExpander.h"

#include <cerrno>
#include <sanitizer/common_interface_defs.h>
#include <csignal>
#include <pthread.h>
#include <cstring>
#include <string>
#include <vector>

#if defined(__linux__) && (defined(__x86_64__) || defined(__aarch64__))
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#define TAVRIN_FUZZ_SECCOMP 1
#endif

extern char** environ;

using fuzz_support::check;

namespace {

std::vector<std::string> environmentNow()
{
    std::vector<std::string> entries;
    for (char** entry = environ; entry && *entry; ++entry)
        entries.emplace_back(*entry);
    return entries;
}

std::vector<std::string>& environmentBefore()
{
    static std::vector<std::string> entries;
    return entries;
}

#ifdef TAVRIN_FUZZ_SECCOMP
void onTrappedCall(int, siginfo_t* info, void*)
{
    static const char message[] = "fuzz check failed: a process was about to start\n";
    (void)!::write(2, message, sizeof message - 1);
    (void)info;
    std::abort();
}

// fork, vfork, clone without CLONE_THREAD (a new process), execve and execveat trap; threads
// may still be made. Where signals are blocked (posix_spawn blocks them) the trap kills the
// process outright: still a failed run, though without a saved input.
void trapProcessCreation()
{
#if defined(__x86_64__)
    constexpr unsigned kArch = AUDIT_ARCH_X86_64;
#else
    constexpr unsigned kArch = AUDIT_ARCH_AARCH64;
#endif
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
#if defined(__x86_64__)
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fork, 6, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_vfork, 5, 0),
#else
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_execve, 6, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_execve, 5, 0),
#endif
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_execve, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_execveat, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone3, 2, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
        // clone3 hides its flags in memory: "not here", so the C library falls back to clone.
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        // clone: flags are the first argument; CLONE_THREAD makes a thread, allowed.
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, CLONE_THREAD, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    struct sigaction action {};
    action.sa_sigaction = onTrappedCall;
    action.sa_flags = SA_SIGINFO;
    check(::sigaction(SIGSYS, &action, nullptr) == 0, "SIGSYS handler installed");
    // A sandbox that forbids filters leaves the fork guard below as the only check.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        std::fprintf(stderr, "path_expander_fuzz: process creation is not trapped here (%s)\n", std::strerror(errno));
}
#endif

// No "$", "~", quote, backslash, backquote, blank, operator, line end or NUL.
bool isPlain(std::string_view text)
{
    static constexpr char kActive[] = "$~'\"\\` \t|&;<>(){}\n\r";
    return !text.empty() && text.find_first_of(std::string_view(kActive, sizeof kActive)) == std::string_view::npos;
}

} // namespace

// Leak checking stops the process's threads through a child process, which the filter traps.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    ::setenv("HOME", "/home/fuzz", 1);
    ::setenv("TAVRIN_SHARED_FOLDER", "/tmp/shared folder/", 1);
    ::setenv("EMPTY", "", 1);
    ::setenv("LONG", std::string(4000, 'L').c_str(), 1);
    environmentBefore() = environmentNow();
    // fork() through the C library runs this first.
    ::pthread_atfork([] { check(false, "fork() was called"); }, nullptr, nullptr);
#ifdef TAVRIN_FUZZ_SECCOMP
    // The sanitizers print a finding through a symbolizer process: start it now, before process
    // creation is trapped, so that it is reused then.
    char where[256];
    __sanitizer_symbolize_pc(__builtin_return_address(0), "%p %F %L", where, sizeof where);
    trapProcessCreation();
#endif
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto word = platform::expandShellWord(text);
    check(environmentNow() == environmentBefore(), "the environment is unchanged");
    check(platform::expandShellWord(text) == word, "the same text expands the same way");
    if (word)
        check(!word->empty() && word->size() <= platform::kMaxExpandedWordBytes, "a word within bounds");
    if (isPlain(text))
        check(word == std::string(text), "plain text stays as it is");
    return 0;
}
