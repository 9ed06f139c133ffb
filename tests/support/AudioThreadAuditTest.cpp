// The audit that proves the audio thread free: it must see, on the thread that armed it, each kind
// of call it counts, reached directly or through the C++ library, and nothing of another thread.
#include "support/AudioThreadAudit.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
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
        stage.store(2);
    });
    const AuditReport meanwhile = audited([&] {
        stage.store(1);
        while (stage.load() != 2)
            std::this_thread::yield();
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

} // namespace
