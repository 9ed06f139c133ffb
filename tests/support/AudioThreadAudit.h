// Counts what a thread does that the host's audio thread must never do: heap allocations and
// frees, file system calls, locks, thread starts, and waits and wakes (a module that waits or
// wakes another thread through the kernel cannot pass). The test binary defines those functions
// itself (AudioThreadAudit.cpp) and forwards each to the next definition (libc, or the sanitizer
// that wraps it), counting a call only when the calling thread has an armed audit that is not
// paused. Calls from other threads are never counted, and a call made from inside a call being
// forwarded (fopen's own malloc) is not counted again.
//
// What is seen, and how:
//   - allocations and frees: operator new/new[]/delete/delete[] in every form (plain, nothrow,
//     aligned, sized), malloc, calloc, realloc, free, posix_memalign, aligned_alloc, memalign,
//     valloc. Under AddressSanitizer or ThreadSanitizer the sanitizer owns the heap and its
//     operator new, so there the audit counts every allocation and free through the sanitizer's
//     allocator hooks instead, as "heap allocation" and "heap free" (no finer name).
//   - file system calls: open/openat/creat, fopen/fdopen/freopen/fclose/fread/fwrite/fflush,
//     the stat family and statx, access, directory walks (opendir, fdopendir, readdir, closedir),
//     mkdir/rmdir, rename, unlink, remove, link, symlink, readlink, read/write and their
//     positioned and vectored forms, lseek, fsync, fdatasync, close, truncate, ftruncate,
//     utimensat, futimens, chmod, realpath, getcwd, mkstemp, mkdtemp (the 64-bit twins too).
//     fstatat is the libc entry of the newfstatat system call.
//   - locks: pthread_mutex_lock/trylock/timedlock/clocklock, pthread_rwlock_*lock,
//     pthread_spin_lock/trylock.
//   - waits and wakes: nanosleep, clock_nanosleep, usleep, sleep, sched_yield (pthread_yield
//     too: the C library's header makes it a call of sched_yield), pthread_cond_wait/timedwait/
//     clockwait/signal/broadcast, sem_wait/trywait/timedwait/clockwait and sem_post (a semaphore
//     is a wait, not a lock, and is counted once), pthread_join/timedjoin_np/clockjoin_np (so
//     std::thread::join), eventfd_read/eventfd_write, poll, ppoll,
//     select, pselect, epoll_wait, epoll_pwait, and syscall when it is a futex call. So
//     std::this_thread::sleep_for and yield (nanosleep, sched_yield), std::condition_variable and
//     std::atomic's wait and notify (a futex through syscall) are seen. read and write on an
//     eventfd count as file system calls.
//   - thread and process starts: pthread_create, fork, posix_spawn, posix_spawnp, system, popen.
// Calls libc makes to itself (fopen's own open) do not pass through these definitions; only what
// module code, the C++ library and RE2 call.
//
// [any thread] Arm and pause on the thread that is to be watched; an audit must end on that
// thread too. Nothing here allocates, locks or calls the file system while armed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace test_support {

enum class AuditKind : std::uint8_t { Allocation, Free, FileSystem, Lock, ThreadStart, Wait };
inline constexpr std::size_t kAuditKinds = 6;

// What one or more armed audits saw.
struct AuditReport {
    static constexpr std::size_t kNames = 8;

    std::array<std::uint64_t, kAuditKinds> counts{};
    std::array<const char*, kNames> names{};  // the first distinct calls counted (static texts)
    std::size_t namedCount = 0;

    std::uint64_t count(AuditKind kind) const { return counts[static_cast<std::size_t>(kind)]; }
    std::uint64_t total() const;
    bool clean() const { return total() == 0; }
    bool saw(const char* name) const;
    // Counts summed; names appended while there is room.
    void add(const AuditReport& other);
    // "2 allocations, 1 file system call (fopen, malloc)"; "nothing" when clean.
    std::string describe() const;
};

class AudioThreadAudit;
namespace audit_detail {
void count(AuditKind kind, const char* name) noexcept;
}

// Armed on the calling thread from construction to destruction. Audits nest: the innermost one
// counts, and the one it interrupted counts again once it ends.
class AudioThreadAudit {
public:
    AudioThreadAudit() noexcept;
    ~AudioThreadAudit();
    AudioThreadAudit(const AudioThreadAudit&) = delete;
    AudioThreadAudit& operator=(const AudioThreadAudit&) = delete;

    const AuditReport& report() const { return report_; }

    // Nothing is counted on the calling thread while one lives: the host's own work inside an
    // audited call. Pauses nest.
    class Pause {
    public:
        Pause() noexcept;
        ~Pause();
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;
    };

    // True when allocations are seen through the sanitizer's allocator hooks (ASan, TSan).
    static bool countsThroughSanitizerHooks();

private:
    friend void audit_detail::count(AuditKind kind, const char* name) noexcept;

    AuditReport report_;
    AudioThreadAudit* interrupted_ = nullptr;
};

} // namespace test_support
