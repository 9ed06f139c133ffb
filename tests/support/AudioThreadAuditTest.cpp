// The audit that proves the audio thread free: it must see, on the thread that armed it, each kind
// of call it counts, reached directly or through the C++ library, and nothing of another thread.
#include "support/AudioThreadAudit.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/select.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using test_support::AudioThreadAudit;
using test_support::AuditKind;
using test_support::AuditReport;

const bool kHooks = AudioThreadAudit::countsThroughSanitizerHooks();

// What the calling thread did in action, as the audit saw it.
AuditReport audited(const std::function<void()>& action)
{
    AuditReport seen;
    {
        AudioThreadAudit audit;
        action();
        seen = audit.report();
    }
    return seen;
}

void newAndDelete()
{
    int* volatile p = new int(7);  // volatile: the pair may not be optimised away
    delete p;
}

TEST(AudioThreadAudit, SeesEachKindOfCallOnTheArmedThreadByName)
{
    const AuditReport heap = audited(newAndDelete);
    EXPECT_EQ(heap.count(AuditKind::Allocation), 1u);
    EXPECT_EQ(heap.count(AuditKind::Free), 1u);
    EXPECT_EQ(heap.total(), 2u);
    EXPECT_EQ(heap.describe(), kHooks ? "1 allocation, 1 free (heap allocation, heap free)"
                                      : "1 allocation, 1 free (operator new, operator delete)");

    // fopen's own allocation and open are inside fopen: one call each, named as called.
    const AuditReport file = audited([] {
        if (std::FILE* f = std::fopen("/dev/null", "r"))
            std::fclose(f);
    });
    EXPECT_EQ(file.describe(), "2 file system calls (fopen, fclose)");

    std::mutex mutex;
    const AuditReport lock = audited([&] { const std::lock_guard hold(mutex); });
    EXPECT_EQ(lock.describe(), "1 lock (pthread_mutex_lock)");

    const AuditReport thread = audited([] { std::thread([] {}).join(); });
    EXPECT_EQ(thread.count(AuditKind::ThreadStart), 1u);
    EXPECT_TRUE(thread.saw("pthread_create"));
    EXPECT_EQ(thread.count(AuditKind::Allocation), 1u);  // the thread's state, made by std::thread

    // Through the C++ library, which calls libc from its own shared object: each step is seen by
    // the names of the libc calls it makes.
    test_support::TemporaryFolder folder("tavrin-audit");
    const auto inside = folder.path() / "a";
    std::error_code ignored;
    const std::pair<std::vector<const char*>, std::function<void()>> steps[] = {
        {{"mkdir"}, [&] { std::filesystem::create_directory(inside, ignored); }},
        {{"stat"}, [&] { [[maybe_unused]] const bool is = std::filesystem::is_directory(inside, ignored); }},
        {{"fopen64", "write", "fclose"}, [&] { std::ofstream(inside / "f") << "x"; }},
        {{"openat", "fdopendir", "readdir", "closedir"}, [&] { std::filesystem::directory_iterator walk(inside, ignored); }},
        {{"rename"}, [&] { std::filesystem::rename(inside / "f", inside / "g", ignored); }},
        {{"remove"}, [&] { std::filesystem::remove(inside / "g", ignored); }},
    };
    for (const auto& [names, step] : steps) {
        const AuditReport seen = audited(step);
        EXPECT_GE(seen.count(AuditKind::FileSystem), names.size()) << seen.describe();
        for (const char* name : names)
            EXPECT_TRUE(seen.saw(name)) << name << " in " << seen.describe();
    }
}

// Another thread's calls are never counted, even while this thread is armed; a pause stops
// counting; an inner audit counts alone and the outer one takes over again after it.
TEST(AudioThreadAudit, CountsOnlyTheArmedThreadWhileNotPaused)
{
    std::atomic<int> stage{0};
    std::thread other([&] {
        while (stage.load() != 1)
            std::this_thread::yield();
        newAndDelete();
        if (std::FILE* f = std::fopen("/dev/null", "r"))
            std::fclose(f);
        std::mutex mutex;
        { const std::lock_guard hold(mutex); }
        std::thread([] {}).join();
        std::this_thread::sleep_for(std::chrono::microseconds(1));
        stage.store(2);
    });
    const AuditReport meanwhile = audited([&] {  // a spin that neither waits nor yields
        stage.store(1);
        while (stage.load() != 2) {
        }
    });
    other.join();
    EXPECT_TRUE(meanwhile.clean()) << meanwhile.describe();

    AuditReport outer, inner;
    {
        AudioThreadAudit audit;
        {
            const AudioThreadAudit::Pause pause;
            newAndDelete();
            const int fd = ::open("/dev/null", O_RDONLY);
            ::close(fd);
            std::this_thread::yield();
        }
        {
            AudioThreadAudit nested;
            newAndDelete();
            inner = nested.report();
        }
        const int fd = ::open("/dev/null", O_RDONLY);
        ::close(fd);
        outer = audit.report();
    }
    EXPECT_EQ(inner.total(), 2u);
    EXPECT_EQ(outer.describe(), "2 file system calls (open, close)");
    EXPECT_TRUE(audited([] {}).clean());

    AuditReport sum = outer;
    sum.add(inner);
    EXPECT_EQ(sum.total(), 4u);
    EXPECT_TRUE(sum.saw("open") && sum.saw(kHooks ? "heap free" : "operator delete"));
}

// What action counted on this thread, armed while another thread ran it: must be nothing.
AuditReport auditedWhileAnotherRuns(const std::function<void()>& action)
{
    std::atomic<int> stage{0};
    std::thread other([&] {
        while (stage.load() != 1) {
        }
        action();
        stage.store(2);
    });
    const AuditReport seen = audited([&] {
        stage.store(1);
        while (stage.load() != 2) {
        }
    });
    other.join();
    return seen;
}

timespec past()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    --now.tv_sec;
    return now;
}

// Every way of waiting for or waking another thread through the kernel is seen by name on the
// armed thread, directly and through the C++ library, and not when another thread does it.
TEST(AudioThreadAudit, SeesEachWaitAndWakeOnTheArmedThreadOnly)
{
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
    std::condition_variable condition;
    sem_t semaphore;
    ASSERT_EQ(::sem_init(&semaphore, 0, 0), 0);
    const int event = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    ASSERT_GE(event, 0);
    ASSERT_GE(epoll, 0);
    epoll_event interest{};
    interest.events = EPOLLIN;
    ASSERT_EQ(::epoll_ctl(epoll, EPOLL_CTL_ADD, event, &interest), 0);
    const timespec tiny{0, 1000};
    const timespec zero{0, 0};
    int futexWord = 0;

    const std::pair<const char*, std::function<void()>> steps[] = {
        {"1 wait or wake (nanosleep)", [] { std::this_thread::sleep_for(std::chrono::microseconds(1)); }},
        {"1 wait or wake (sched_yield)", [] { std::this_thread::yield(); }},
        {"1 wait or wake (sched_yield)", [] { ::sched_yield(); }},
        {"1 wait or wake (clock_nanosleep)", [&] { ::clock_nanosleep(CLOCK_MONOTONIC, 0, &tiny, nullptr); }},
        {"1 wait or wake (nanosleep)", [&] { ::nanosleep(&tiny, nullptr); }},
        {"1 wait or wake (usleep)", [] { ::usleep(1); }},
        {"1 wait or wake (sleep)", [] { ::sleep(0); }},
        {"1 wait or wake (pthread_cond_signal)", [&] { condition.notify_one(); }},
        {"1 wait or wake (pthread_cond_broadcast)", [&] { condition.notify_all(); }},
        {"1 lock, 1 wait or wake (pthread_mutex_lock, pthread_cond_timedwait)",
         [&] {
             ::pthread_mutex_lock(&mutex);
             const timespec then = past();
             EXPECT_EQ(::pthread_cond_timedwait(&cond, &mutex, &then), ETIMEDOUT);
             ::pthread_mutex_unlock(&mutex);
         }},
        {"1 lock, 1 wait or wake (pthread_mutex_lock, pthread_cond_clockwait)",
         [&] {
             ::pthread_mutex_lock(&mutex);
             const timespec then = past();
             EXPECT_EQ(::pthread_cond_clockwait(&cond, &mutex, CLOCK_REALTIME, &then), ETIMEDOUT);
             ::pthread_mutex_unlock(&mutex);
         }},
        {"2 waits and wakes (sem_post, sem_wait)",
         [&] {
             ::sem_post(&semaphore);
             ::sem_wait(&semaphore);
         }},
        {"3 waits and wakes (sem_post, sem_trywait)",
         [&] {
             ::sem_post(&semaphore);
             EXPECT_EQ(::sem_trywait(&semaphore), 0);
             EXPECT_EQ(::sem_trywait(&semaphore), -1);
         }},
        {"1 wait or wake (sem_timedwait)",
         [&] {
             const timespec then = past();
             EXPECT_EQ(::sem_timedwait(&semaphore, &then), -1);
         }},
        {"1 wait or wake (sem_clockwait)",
         [&] {
             const timespec then = past();
             EXPECT_EQ(::sem_clockwait(&semaphore, CLOCK_REALTIME, &then), -1);
         }},
        {"2 waits and wakes (eventfd_write, eventfd_read)",
         [&] {
             eventfd_t value = 0;
             ::eventfd_write(event, 3);
             ::eventfd_read(event, &value);
             EXPECT_EQ(value, 3u);
         }},
        {"2 file system calls (write, read)",
         [&] {
             std::uint64_t value = 1;
             EXPECT_EQ(::write(event, &value, sizeof value), 8);
             EXPECT_EQ(::read(event, &value, sizeof value), 8);
         }},
        {"1 wait or wake (poll)",
         [&] {
             pollfd ready{event, POLLIN, 0};
             EXPECT_EQ(::poll(&ready, 1, 0), 0);
         }},
        {"1 wait or wake (ppoll)",
         [&] {
             pollfd ready{event, POLLIN, 0};
             EXPECT_EQ(::ppoll(&ready, 1, &zero, nullptr), 0);
         }},
        {"1 wait or wake (select)",
         [&] {
             timeval none{0, 0};
             EXPECT_EQ(::select(0, nullptr, nullptr, nullptr, &none), 0);
         }},
        {"1 wait or wake (pselect)", [&] { EXPECT_EQ(::pselect(0, nullptr, nullptr, nullptr, &zero, nullptr), 0); }},
        {"1 wait or wake (epoll_wait)",
         [&] {
             epoll_event got{};
             EXPECT_EQ(::epoll_wait(epoll, &got, 1, 0), 0);
         }},
        {"1 wait or wake (epoll_pwait)",
         [&] {
             epoll_event got{};
             EXPECT_EQ(::epoll_pwait(epoll, &got, 1, 0, nullptr), 0);
         }},
        {"1 wait or wake (syscall(SYS_futex))",
         [&] { EXPECT_EQ(::syscall(SYS_futex, &futexWord, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0), 0); }},
        {"nothing", [] { EXPECT_GT(::syscall(SYS_getpid), 0); }},
    };
    for (const auto& [expected, step] : steps) {
        EXPECT_EQ(audited(step).describe(), expected);
        const AuditReport elsewhere = auditedWhileAnotherRuns(step);
        EXPECT_TRUE(elsewhere.clean()) << expected << ": " << elsewhere.describe();
    }
    ::close(epoll);
    ::close(event);
    ::sem_destroy(&semaphore);
}

// True once thread (of this process) is asleep in a futex system call: the moment a partner may
// act so that the wait it is to end is really a wait.
bool inFutexWait(pid_t thread)
{
    std::ifstream in("/proc/self/task/" + std::to_string(thread) + "/syscall");
    long number = -1;
    return in >> number && number == SYS_futex;
}

void untilInFutexWait(pid_t thread)
{
    while (!inFutexWait(thread))
        std::this_thread::yield();
}

// The waits that block until another thread acts: a condition variable's wait, std::atomic's wait
// and notify (a futex), and joining a thread. The partner's own waits and wakes are not counted.
// Each partner acts only once the audited thread is waiting, however busy the machine.
TEST(AudioThreadAudit, SeesWaitingForAndWakingAnotherThread)
{
    std::mutex mutex;
    std::condition_variable condition;
    bool ready = false;
    std::thread partner;
    const AuditReport waited = audited([&] {
        // Held until the wait lets it go: the partner can only set ready while this thread waits.
        std::unique_lock lock(mutex);
        {
            const AudioThreadAudit::Pause pause;
            partner = std::thread([&] {
                const std::lock_guard hold(mutex);
                ready = true;
                condition.notify_one();
            });
        }
        condition.wait(lock, [&] { return ready; });
        lock.unlock();
        partner.join();
    });
    EXPECT_TRUE(waited.saw("pthread_cond_wait")) << waited.describe();
    EXPECT_TRUE(waited.saw("pthread_join")) << waited.describe();
    EXPECT_FALSE(waited.saw("nanosleep") || waited.saw("pthread_cond_signal")) << waited.describe();

    // Waiting on an atomic spins with yields, then sleeps on a futex until the partner notifies.
    const pid_t self = ::gettid();
    std::atomic<int> flag{0};
    std::atomic<bool> waiting{false};
    partner = std::thread([&] {
        while (!waiting.load())
            std::this_thread::yield();
        untilInFutexWait(self);
        flag.store(1);
        flag.notify_one();
    });
    const AuditReport atomicWait = audited([&] {
        waiting.store(true);
        flag.wait(0);
    });
    {
        const AudioThreadAudit::Pause pause;
        partner.join();
    }
    EXPECT_TRUE(atomicWait.saw("sched_yield")) << atomicWait.describe();
    EXPECT_TRUE(atomicWait.saw("syscall(SYS_futex)")) << atomicWait.describe();
    EXPECT_EQ(atomicWait.total(), atomicWait.count(AuditKind::Wait)) << atomicWait.describe();

    // Notifying an atomic another thread sleeps on wakes it through a futex.
    std::atomic<int> word{0};
    std::atomic<pid_t> waiterId{0};
    std::thread waiter([&] {
        waiterId.store(::gettid());
        word.wait(0);
    });
    while (waiterId.load() == 0)
        std::this_thread::yield();
    untilInFutexWait(waiterId.load());
    const AuditReport notified = audited([&] {
        word.store(1);
        word.notify_one();
    });
    waiter.join();
    EXPECT_EQ(notified.describe(), "1 wait or wake (syscall(SYS_futex))");
}

} // namespace
