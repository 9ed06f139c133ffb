// The audit's counters and the functions the test binary defines in place of libc's (and the C++
// library's operator new), each forwarding to the next definition.
//
// A definition here takes the place of libc's for the whole process because the executable comes
// first in the dynamic linker's search order; dlsym(RTLD_NEXT, name) then finds the one it
// replaced: the sanitizer's wrapper when there is one (see nextDefinition), else libc's. The heap is the exception: the
// C allocation functions go straight to glibc's own entries (__libc_malloc, ...), so no dlsym runs
// before the heap works, and under a sanitizer, which owns the heap, the sanitizer's allocation
// hooks count instead (see the header).
//
// Nothing on the counting path allocates, locks or touches a file: the state is thread-local,
// names are static texts, and each forwarding target is resolved once into a constant-initialised
// atomic.
#include "support/AudioThreadAudit.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/select.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define AUDIT_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define AUDIT_SANITIZER_HEAP 1
#endif
#endif

namespace test_support {

namespace {

struct ThreadState {
    AudioThreadAudit* armed;
    int paused;
    int inside;  // calls of ours being forwarded on this thread
};
constinit thread_local ThreadState tState{nullptr, 0, 0};

bool counting() noexcept
{
    return tState.armed && tState.paused == 0 && tState.inside == 0;
}

// One call of ours: counted when this thread watches and the call did not come from inside
// another call of ours.
class Seen {
public:
    Seen(AuditKind kind, const char* name) noexcept
    {
        if (counting())
            audit_detail::count(kind, name);
        ++tState.inside;
    }
    ~Seen() { --tState.inside; }
    Seen(const Seen&) = delete;
    Seen& operator=(const Seen&) = delete;
};

// A call of ours that is not counted itself (a syscall other than a futex call); what it calls
// is not counted either.
class Unseen {
public:
    Unseen() noexcept { ++tState.inside; }
    ~Unseen() { --tState.inside; }
    Unseen(const Unseen&) = delete;
    Unseen& operator=(const Unseen&) = delete;
};

const char* const kKindNames[kAuditKinds][2] = {
    {"allocation", "allocations"},
    {"free", "frees"},
    {"file system call", "file system calls"},
    {"lock", "locks"},
    {"thread start", "thread starts"},
    {"wait or wake", "waits and wakes"},
};

} // namespace

void audit_detail::count(AuditKind kind, const char* name) noexcept
{
    AuditReport& report = tState.armed->report_;
    ++report.counts[static_cast<std::size_t>(kind)];
    if (report.namedCount < AuditReport::kNames && !report.saw(name))
        report.names[report.namedCount++] = name;
}

std::uint64_t AuditReport::total() const
{
    std::uint64_t sum = 0;
    for (const std::uint64_t c : counts)
        sum += c;
    return sum;
}

bool AuditReport::saw(const char* name) const
{
    for (std::size_t i = 0; i < namedCount; ++i)
        if (std::strcmp(names[i], name) == 0)
            return true;
    return false;
}

void AuditReport::add(const AuditReport& other)
{
    for (std::size_t k = 0; k < kAuditKinds; ++k)
        counts[k] += other.counts[k];
    for (std::size_t i = 0; i < other.namedCount && namedCount < kNames; ++i)
        if (!saw(other.names[i]))
            names[namedCount++] = other.names[i];
}

std::string AuditReport::describe() const
{
    if (clean())
        return "nothing";
    std::string text;
    for (std::size_t k = 0; k < kAuditKinds; ++k) {
        if (counts[k] == 0)
            continue;
        text += (text.empty() ? "" : ", ") + std::to_string(counts[k]) + " " + kKindNames[k][counts[k] == 1 ? 0 : 1];
    }
    text += " (";
    for (std::size_t i = 0; i < namedCount; ++i)
        text += std::string(i ? ", " : "") + names[i];
    return text + ")";
}

AudioThreadAudit::AudioThreadAudit() noexcept : interrupted_(tState.armed)
{
    tState.armed = this;
}

AudioThreadAudit::~AudioThreadAudit()
{
    tState.armed = interrupted_;
}

AudioThreadAudit::Pause::Pause() noexcept
{
    ++tState.paused;
}

AudioThreadAudit::Pause::~Pause()
{
    --tState.paused;
}

bool AudioThreadAudit::countsThroughSanitizerHooks()
{
#ifdef AUDIT_SANITIZER_HEAP
    return true;
#else
    return false;
#endif
}

} // namespace test_support

namespace {

using test_support::AuditKind;
using test_support::Seen;
using test_support::Unseen;

// The definition this executable's one replaced, resolved on first use.
template <class Function>
Function nextDefinition(std::atomic<void*>& slot, const char* name) noexcept
{
    void* found = slot.load(std::memory_order_acquire);
    if (!found) {
        // A sanitizer linked into this executable (clang's) names its wrapper __interceptor_name
        // and gives it name only as a weak alias, which ours replaced: forward to the wrapper, so
        // that the sanitizer still sees every lock and file call.
        char wrapper[64] = "__interceptor_";
        const std::size_t prefix = std::strlen(wrapper);
        if (prefix + std::strlen(name) < sizeof wrapper) {
            std::memcpy(wrapper + prefix, name, std::strlen(name) + 1);
            found = ::dlsym(RTLD_DEFAULT, wrapper);
        }
        if (!found)
            found = ::dlsym(RTLD_NEXT, name);
        if (!found)
            std::abort();  // a function this libc does not have: remove it from the list
        slot.store(found, std::memory_order_release);
    }
    return reinterpret_cast<Function>(found);
}

} // namespace

#define AUDIT_NEXT(name)                                                     \
    ([]() noexcept {                                                         \
        static std::atomic<void*> slot{nullptr};                             \
        return nextDefinition<decltype(&::name)>(slot, #name);              \
    }())

#define AUDIT_EXPORT extern "C" __attribute__((visibility("default")))

// A counted function of kind; except is noexcept where libc declares the function so. The next
// definition is found when the program starts, not at a first call: a sanitizer's leak check at
// exit yields while it holds its allocator's lock, and looking a name up then would allocate.
#define AUDIT_FORWARD(kind, except, result, name, params, args)                                           \
    static std::atomic<void*> audit_slot_##name{nullptr};                                                 \
    [[maybe_unused]] static const bool audit_found_##name =                                               \
        nextDefinition<decltype(&::name)>(audit_slot_##name, #name) != nullptr;                           \
    AUDIT_EXPORT result name params except                                                                \
    {                                                                                                     \
        const Seen seen(AuditKind::kind, #name);                                                          \
        return nextDefinition<decltype(&::name)>(audit_slot_##name, #name) args;                          \
    }
#define AUDIT_NOTHROW noexcept
#define AUDIT_CANCELS

// ---- File system -------------------------------------------------------------------------------

// open and openat: the mode follows the flags only when they create a file.
#define AUDIT_OPEN(name, params, args)                                                              \
    AUDIT_EXPORT int name params                                                                    \
    {                                                                                               \
        const Seen seen(AuditKind::FileSystem, #name);                                              \
        va_list arguments;                                                                          \
        va_start(arguments, flags);                                                                 \
        const mode_t mode = __OPEN_NEEDS_MODE(flags) ? static_cast<mode_t>(va_arg(arguments, int)) : 0; \
        va_end(arguments);                                                                          \
        return AUDIT_NEXT(name) args;                                                               \
    }
AUDIT_OPEN(open, (const char* path, int flags, ...), (path, flags, mode))
AUDIT_OPEN(open64, (const char* path, int flags, ...), (path, flags, mode))
AUDIT_OPEN(openat, (int folder, const char* path, int flags, ...), (folder, path, flags, mode))
AUDIT_OPEN(openat64, (int folder, const char* path, int flags, ...), (folder, path, flags, mode))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, int, creat, (const char* p, mode_t m), (p, m))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, int, creat64, (const char* p, mode_t m), (p, m))

AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, FILE*, fopen, (const char* p, const char* m), (p, m))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, FILE*, fopen64, (const char* p, const char* m), (p, m))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, FILE*, freopen, (const char* p, const char* m, FILE* f), (p, m, f))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, FILE*, fdopen, (int fd, const char* m), (fd, m))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, int, fclose, (FILE * f), (f))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, size_t, fread, (void* b, size_t s, size_t n, FILE* f), (b, s, n, f))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, size_t, fwrite, (const void* b, size_t s, size_t n, FILE* f), (b, s, n, f))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, int, fflush, (FILE * f), (f))

AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, stat, (const char* p, struct stat* s), (p, s))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, stat64, (const char* p, struct stat64* s), (p, s))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, lstat, (const char* p, struct stat* s), (p, s))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, lstat64, (const char* p, struct stat64* s), (p, s))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, fstat, (int fd, struct stat* s), (fd, s))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, fstat64, (int fd, struct stat64* s), (fd, s))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, fstatat, (int d, const char* p, struct stat* s, int f), (d, p, s, f))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, fstatat64, (int d, const char* p, struct stat64* s, int f), (d, p, s, f))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, statx, (int d, const char* p, int f, unsigned m, struct statx* s),
              (d, p, f, m, s))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, statvfs, (const char* p, struct statvfs* s), (p, s))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, access, (const char* p, int m), (p, m))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, faccessat, (int d, const char* p, int m, int f), (d, p, m, f))

AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, DIR*, opendir, (const char* p), (p))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, DIR*, fdopendir, (int fd), (fd))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, struct dirent*, readdir, (DIR * d), (d))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, struct dirent64*, readdir64, (DIR * d), (d))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, int, closedir, (DIR * d), (d))

AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, mkdir, (const char* p, mode_t m), (p, m))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, mkdirat, (int d, const char* p, mode_t m), (d, p, m))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, rmdir, (const char* p), (p))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, rename, (const char* a, const char* b), (a, b))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, renameat, (int da, const char* a, int db, const char* b), (da, a, db, b))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, renameat2, (int da, const char* a, int db, const char* b, unsigned f),
              (da, a, db, b, f))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, unlink, (const char* p), (p))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, unlinkat, (int d, const char* p, int f), (d, p, f))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, remove, (const char* p), (p))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, link, (const char* a, const char* b), (a, b))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, linkat, (int da, const char* a, int db, const char* b, int f), (da, a, db, b, f))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, symlink, (const char* a, const char* b), (a, b))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, symlinkat, (const char* a, int d, const char* b), (a, d, b))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, ssize_t, readlink, (const char* p, char* b, size_t n), (p, b, n))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, ssize_t, readlinkat, (int d, const char* p, char* b, size_t n), (d, p, b, n))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, char*, realpath, (const char* p, char* r), (p, r))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, char*, getcwd, (char* b, size_t n), (b, n))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, chmod, (const char* p, mode_t m), (p, m))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, fchmod, (int fd, mode_t m), (fd, m))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, utimensat, (int d, const char* p, const struct timespec t[2], int f),
              (d, p, t, f))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, futimens, (int fd, const struct timespec t[2]), (fd, t))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, truncate, (const char* p, off_t n), (p, n))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, ftruncate, (int fd, off_t n), (fd, n))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, int, ftruncate64, (int fd, off64_t n), (fd, n))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, int, mkstemp, (char* t), (t))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, char*, mkdtemp, (char* t), (t))

AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, ssize_t, read, (int fd, void* b, size_t n), (fd, b, n))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, ssize_t, write, (int fd, const void* b, size_t n), (fd, b, n))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, ssize_t, pread, (int fd, void* b, size_t n, off_t o), (fd, b, n, o))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, ssize_t, pread64, (int fd, void* b, size_t n, off64_t o), (fd, b, n, o))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, ssize_t, pwrite, (int fd, const void* b, size_t n, off_t o), (fd, b, n, o))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, ssize_t, pwrite64, (int fd, const void* b, size_t n, off64_t o), (fd, b, n, o))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, ssize_t, readv, (int fd, const struct iovec* v, int n), (fd, v, n))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, ssize_t, writev, (int fd, const struct iovec* v, int n), (fd, v, n))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, ssize_t, sendfile, (int to, int from, off_t* o, size_t n), (to, from, o, n))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, off_t, lseek, (int fd, off_t o, int w), (fd, o, w))
AUDIT_FORWARD(FileSystem, AUDIT_NOTHROW, off64_t, lseek64, (int fd, off64_t o, int w), (fd, o, w))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, int, fsync, (int fd), (fd))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, int, fdatasync, (int fd), (fd))
AUDIT_FORWARD(FileSystem, AUDIT_CANCELS, int, close, (int fd), (fd))

// ---- Locks -------------------------------------------------------------------------------------

AUDIT_FORWARD(Lock, AUDIT_NOTHROW, int, pthread_mutex_lock, (pthread_mutex_t * m), (m))
AUDIT_FORWARD(Lock, AUDIT_NOTHROW, int, pthread_mutex_trylock, (pthread_mutex_t * m), (m))
AUDIT_FORWARD(Lock, AUDIT_NOTHROW, int, pthread_mutex_timedlock, (pthread_mutex_t * m, const struct timespec* t), (m, t))
AUDIT_FORWARD(Lock, AUDIT_NOTHROW, int, pthread_mutex_clocklock, (pthread_mutex_t * m, clockid_t c, const struct timespec* t),
              (m, c, t))
AUDIT_FORWARD(Lock, AUDIT_NOTHROW, int, pthread_rwlock_rdlock, (pthread_rwlock_t * l), (l))
AUDIT_FORWARD(Lock, AUDIT_NOTHROW, int, pthread_rwlock_wrlock, (pthread_rwlock_t * l), (l))
AUDIT_FORWARD(Lock, AUDIT_NOTHROW, int, pthread_rwlock_tryrdlock, (pthread_rwlock_t * l), (l))
AUDIT_FORWARD(Lock, AUDIT_NOTHROW, int, pthread_rwlock_trywrlock, (pthread_rwlock_t * l), (l))
AUDIT_FORWARD(Lock, AUDIT_NOTHROW, int, pthread_rwlock_timedrdlock, (pthread_rwlock_t * l, const struct timespec* t), (l, t))
AUDIT_FORWARD(Lock, AUDIT_NOTHROW, int, pthread_rwlock_timedwrlock, (pthread_rwlock_t * l, const struct timespec* t), (l, t))
AUDIT_FORWARD(Lock, AUDIT_NOTHROW, int, pthread_spin_lock, (pthread_spinlock_t * l), (l))
AUDIT_FORWARD(Lock, AUDIT_NOTHROW, int, pthread_spin_trylock, (pthread_spinlock_t * l), (l))

// ---- Waits and wakes ---------------------------------------------------------------------------

// A semaphore is counted here and not as a lock: its wait sleeps until another thread posts, and
// its post wakes one; one call is one count, so it is not a lock as well.
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, nanosleep, (const struct timespec* t, struct timespec* r), (t, r))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, clock_nanosleep, (clockid_t c, int f, const struct timespec* t, struct timespec* r),
              (c, f, t, r))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, usleep, (useconds_t u), (u))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, unsigned, sleep, (unsigned s), (s))
AUDIT_FORWARD(Wait, AUDIT_NOTHROW, int, sched_yield, (), ())
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, pthread_cond_wait, (pthread_cond_t * c, pthread_mutex_t* m), (c, m))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, pthread_cond_timedwait,
              (pthread_cond_t * c, pthread_mutex_t* m, const struct timespec* t), (c, m, t))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, pthread_cond_clockwait,
              (pthread_cond_t * c, pthread_mutex_t* m, clockid_t k, const struct timespec* t), (c, m, k, t))
AUDIT_FORWARD(Wait, AUDIT_NOTHROW, int, pthread_cond_signal, (pthread_cond_t * c), (c))
AUDIT_FORWARD(Wait, AUDIT_NOTHROW, int, pthread_cond_broadcast, (pthread_cond_t * c), (c))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, sem_wait, (sem_t * s), (s))
AUDIT_FORWARD(Wait, AUDIT_NOTHROW, int, sem_trywait, (sem_t * s), (s))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, sem_timedwait, (sem_t * s, const struct timespec* t), (s, t))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, sem_clockwait, (sem_t * s, clockid_t c, const struct timespec* t), (s, c, t))
AUDIT_FORWARD(Wait, AUDIT_NOTHROW, int, sem_post, (sem_t * s), (s))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, eventfd_read, (int fd, eventfd_t* v), (fd, v))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, eventfd_write, (int fd, eventfd_t v), (fd, v))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, pthread_join, (pthread_t t, void** r), (t, r))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, pthread_timedjoin_np, (pthread_t t, void** r, const struct timespec* w), (t, r, w))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, pthread_clockjoin_np, (pthread_t t, void** r, clockid_t c, const struct timespec* w),
              (t, r, c, w))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, poll, (struct pollfd * f, nfds_t n, int t), (f, n, t))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, ppoll, (struct pollfd * f, nfds_t n, const struct timespec* t, const sigset_t* s),
              (f, n, t, s))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, select, (int n, fd_set* r, fd_set* w, fd_set* e, struct timeval* t), (n, r, w, e, t))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, pselect,
              (int n, fd_set* r, fd_set* w, fd_set* e, const struct timespec* t, const sigset_t* s), (n, r, w, e, t, s))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, epoll_wait, (int fd, struct epoll_event* e, int n, int t), (fd, e, n, t))
AUDIT_FORWARD(Wait, AUDIT_CANCELS, int, epoll_pwait, (int fd, struct epoll_event* e, int n, int t, const sigset_t* s),
              (fd, e, n, t, s))

// syscall: only the futex calls are counted (std::atomic's wait and notify, and waits built by
// hand on a futex). Like the C library's own syscall, it passes on six arguments whether the
// caller gave them or not; reading the ones not given reads the caller's registers and stack,
// which the address sanitizer would take for a fault.
namespace {

bool futex(long number)
{
#ifdef SYS_futex_waitv
    if (number == SYS_futex_waitv)
        return true;
#endif
    return number == SYS_futex;
}

} // namespace

AUDIT_EXPORT __attribute__((no_sanitize_address)) long syscall(long number, ...) noexcept
{
    va_list arguments;
    va_start(arguments, number);
    long a[6];
    for (long& argument : a)
        argument = va_arg(arguments, long);
    va_end(arguments);
    if (!futex(number)) {
        const Unseen unseen;
        return AUDIT_NEXT(syscall)(number, a[0], a[1], a[2], a[3], a[4], a[5]);
    }
    const Seen seen(AuditKind::Wait, "syscall(SYS_futex)");
    return AUDIT_NEXT(syscall)(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

// ---- Thread and process starts -----------------------------------------------------------------

AUDIT_FORWARD(ThreadStart, AUDIT_NOTHROW, int, pthread_create,
              (pthread_t * t, const pthread_attr_t* a, void* (*f)(void*), void* p), (t, a, f, p))
AUDIT_FORWARD(ThreadStart, AUDIT_NOTHROW, pid_t, fork, (), ())
AUDIT_FORWARD(ThreadStart, AUDIT_CANCELS, int, posix_spawn,
              (pid_t * p, const char* f, const posix_spawn_file_actions_t* a, const posix_spawnattr_t* t,
               char* const v[], char* const e[]),
              (p, f, a, t, v, e))
AUDIT_FORWARD(ThreadStart, AUDIT_CANCELS, int, posix_spawnp,
              (pid_t * p, const char* f, const posix_spawn_file_actions_t* a, const posix_spawnattr_t* t,
               char* const v[], char* const e[]),
              (p, f, a, t, v, e))
AUDIT_FORWARD(ThreadStart, AUDIT_CANCELS, int, system, (const char* c), (c))
AUDIT_FORWARD(ThreadStart, AUDIT_CANCELS, FILE*, popen, (const char* c, const char* m), (c, m))

// ---- The heap ----------------------------------------------------------------------------------

#ifdef AUDIT_SANITIZER_HEAP

// The sanitizer's allocator calls these on the allocating thread for every allocation and free,
// its operator new and delete included.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*allocated)(const volatile void*, size_t),
                                                         void (*freed)(const volatile void*)) __attribute__((weak));

namespace {

void heapAllocated(const volatile void*, size_t) noexcept
{
    if (test_support::counting())
        test_support::audit_detail::count(AuditKind::Allocation, "heap allocation");
}

void heapFreed(const volatile void* pointer) noexcept
{
    if (pointer && test_support::counting())
        test_support::audit_detail::count(AuditKind::Free, "heap free");
}

[[gnu::constructor]] void installHeapHooks()
{
    if (__sanitizer_install_malloc_and_free_hooks)
        __sanitizer_install_malloc_and_free_hooks(heapAllocated, heapFreed);
}

} // namespace

#else

// glibc's own allocator entries, which its malloc and friends are aliases of.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void* __libc_valloc(size_t size);
void __libc_free(void* pointer);
}

namespace {

bool powerOfTwo(size_t n)
{
    return n != 0 && (n & (n - 1)) == 0;
}

void* allocate(size_t size, size_t alignment, const char* name)
{
    const Seen seen(AuditKind::Allocation, name);
    for (;;) {
        void* p = alignment ? __libc_memalign(alignment, size ? size : 1) : __libc_malloc(size ? size : 1);
        if (p)
            return p;
        const std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

void* allocateOrNull(size_t size, size_t alignment, const char* name) noexcept
{
    try {
        return allocate(size, alignment, name);
    } catch (...) {
        return nullptr;
    }
}

void release(void* pointer, const char* name) noexcept
{
    if (!pointer)
        return;
    const Seen seen(AuditKind::Free, name);
    __libc_free(pointer);
}

} // namespace

AUDIT_EXPORT void* malloc(size_t size) noexcept
{
    const Seen seen(AuditKind::Allocation, "malloc");
    return __libc_malloc(size);
}

AUDIT_EXPORT void* calloc(size_t count, size_t size) noexcept
{
    const Seen seen(AuditKind::Allocation, "calloc");
    return __libc_calloc(count, size);
}

AUDIT_EXPORT void* realloc(void* pointer, size_t size) noexcept
{
    const Seen seen(pointer && size == 0 ? AuditKind::Free : AuditKind::Allocation, "realloc");
    return __libc_realloc(pointer, size);
}

AUDIT_EXPORT void free(void* pointer) noexcept
{
    release(pointer, "free");
}

AUDIT_EXPORT int posix_memalign(void** out, size_t alignment, size_t size) noexcept
{
    const Seen seen(AuditKind::Allocation, "posix_memalign");
    if (!powerOfTwo(alignment) || alignment % sizeof(void*) != 0)
        return EINVAL;
    void* p = __libc_memalign(alignment, size);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}

AUDIT_EXPORT void* aligned_alloc(size_t alignment, size_t size) noexcept
{
    const Seen seen(AuditKind::Allocation, "aligned_alloc");
    if (!powerOfTwo(alignment)) {
        errno = EINVAL;
        return nullptr;
    }
    return __libc_memalign(alignment, size);
}

AUDIT_EXPORT void* memalign(size_t alignment, size_t size) noexcept
{
    const Seen seen(AuditKind::Allocation, "memalign");
    return __libc_memalign(alignment, size);
}

AUDIT_EXPORT void* valloc(size_t size) noexcept
{
    const Seen seen(AuditKind::Allocation, "valloc");
    return __libc_valloc(size);
}

#define AUDIT_ALIGNMENT(a) static_cast<size_t>(a)

void* operator new(size_t n) { return allocate(n, 0, "operator new"); }
void* operator new[](size_t n) { return allocate(n, 0, "operator new[]"); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return allocateOrNull(n, 0, "operator new"); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return allocateOrNull(n, 0, "operator new[]"); }
void* operator new(size_t n, std::align_val_t a) { return allocate(n, AUDIT_ALIGNMENT(a), "operator new (aligned)"); }
void* operator new[](size_t n, std::align_val_t a) { return allocate(n, AUDIT_ALIGNMENT(a), "operator new[] (aligned)"); }
void* operator new(size_t n, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return allocateOrNull(n, AUDIT_ALIGNMENT(a), "operator new (aligned)");
}
void* operator new[](size_t n, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return allocateOrNull(n, AUDIT_ALIGNMENT(a), "operator new[] (aligned)");
}

void operator delete(void* p) noexcept { release(p, "operator delete"); }
void operator delete[](void* p) noexcept { release(p, "operator delete[]"); }
void operator delete(void* p, size_t) noexcept { release(p, "operator delete"); }
void operator delete[](void* p, size_t) noexcept { release(p, "operator delete[]"); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p, "operator delete"); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p, "operator delete[]"); }
void operator delete(void* p, std::align_val_t) noexcept { release(p, "operator delete (aligned)"); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p, "operator delete[] (aligned)"); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { release(p, "operator delete (aligned)"); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { release(p, "operator delete[] (aligned)"); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p, "operator delete (aligned)"); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p, "operator delete[] (aligned)"); }

#endif
