// The bundle's file worker: jobs of all channels run on one thread in the order of their places
// and come back to each channel in its own order; offline they run inside submit; a channel that
// goes waits for its jobs and logs its refusals; the thread ends with the last channel, and a
// bundle unloaded, an exit or a quick exit with work queued writes it first; a forked child gets
// a worker of its own; watches wake worker-side code.
#include "FileWorker.h"

#include "Bundle.h"
#include "Host.h"
#include "PresetStore/ListManagerMessages.h"
#include "PresetStore/PresetBank.h"
#include "Log.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <optional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// The order jobs ran in, over all channels.
struct RunLog {
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
};

class RecordingJob final : public file_worker::Job {
public:
    RecordingJob(RunLog& log, int name) : log_(log), name_(name) {}
    void run() noexcept override
    {
        started.store(true);
        started.notify_all();
        if (pause_)
            std::this_thread::sleep_for(pause_.value());
        const std::lock_guard lock(log_.mutex);
        log_.order.push_back(name_);
        log_.threads.push_back(std::this_thread::get_id());
        ++runs;
    }
    std::optional<std::chrono::milliseconds> pause_;  // a slow disk
    std::atomic<bool> started{false};
    int runs = 0;

private:
    RunLog& log_;
    int name_;
};

// Threads of this process that are the file worker (a sanitizer may run threads of its own).
std::vector<pid_t> workerThreads()
{
    std::vector<pid_t> workers;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name == file_worker::kThreadName)
            workers.push_back(static_cast<pid_t>(std::stoi(task.path().filename())));
    }
    return workers;
}

class FileWorkerTest : public ::testing::Test {
protected:
    void SetUp() override { file_worker::setOffline(false); }
    void TearDown() override
    {
        file_worker::release();
        file_worker::setOffline(wasOffline_);
    }
    const bool wasOffline_ = file_worker::offline();
};

TEST_F(FileWorkerTest, JobsRunOnTheWorkerInSubmitOrderAcrossChannels)
{
    RunLog log;
    file_worker::Channel a(4), b(4);
    RecordingJob a1(log, 1), b2(log, 2), a3(log, 3), b4(log, 4);
    EXPECT_FALSE(a.runsInline());

    file_worker::hold();
    ASSERT_TRUE(a.submit(a1));
    ASSERT_TRUE(b.submit(b2));
    ASSERT_TRUE(a.submit(a3));
    ASSERT_TRUE(b.submit(b4));
    // Held back: nothing runs, nothing is handed back.
    EXPECT_EQ(a.finished(), nullptr);
    EXPECT_EQ(b.finished(), nullptr);
    EXPECT_EQ(a.outstanding(), 2u);

    file_worker::release();
    file_worker::waitUntilIdle();
    EXPECT_EQ(log.order, (std::vector<int>{1, 2, 3, 4}));
    for (const std::thread::id id : log.threads) {
        EXPECT_NE(id, std::this_thread::get_id());
        EXPECT_EQ(id, log.threads.front());  // one thread for all
    }
    EXPECT_EQ(a.finished(), &a1);
    EXPECT_EQ(a.finished(), &a3);
    EXPECT_EQ(a.finished(), nullptr);
    EXPECT_EQ(b.finished(), &b2);
    EXPECT_EQ(b.finished(), &b4);
    EXPECT_EQ(b.outstanding(), 0u);
}

TEST_F(FileWorkerTest, OfflineJobsRunInsideSubmitAndNoThreadStarts)
{
    file_worker::setOffline(true);
    RunLog log;
    file_worker::Channel channel(2);
    RecordingJob job(log, 7);
    EXPECT_TRUE(channel.runsInline());
    ASSERT_TRUE(channel.submit(job));
    EXPECT_EQ(job.runs, 1);
    EXPECT_EQ(log.threads.at(0), std::this_thread::get_id());
    EXPECT_EQ(channel.finished(), &job);
    EXPECT_EQ(workerThreads().size(), 0u);
}

TEST_F(FileWorkerTest, AFullChannelRefusesWithoutDoingAnything)
{
    RunLog log;
    file_worker::Channel channel(2);
    RecordingJob one(log, 1), two(log, 2), three(log, 3);
    file_worker::hold();
    EXPECT_TRUE(channel.submit(one));
    EXPECT_TRUE(channel.submit(two));
    EXPECT_FALSE(channel.submit(three));
    file_worker::release();
    file_worker::waitUntilIdle();
    EXPECT_EQ(three.runs, 0);
    // Room comes back once the results are taken, not before.
    EXPECT_FALSE(channel.submit(three));
    channel.finished();
    EXPECT_TRUE(channel.submit(three));
    file_worker::waitUntilIdle();
    EXPECT_EQ(log.order, (std::vector<int>{1, 2, 3}));
}

TEST_F(FileWorkerTest, AChannelThatGoesWaitsForItsQueuedAndRunningJobs)
{
    RunLog log;
    RecordingJob running(log, 1), queued(log, 2), last(log, 3);
    running.pause_ = std::chrono::milliseconds(30);
    {
        auto channel = std::make_unique<file_worker::Channel>(4);
        ASSERT_TRUE(channel->submit(running));
        ASSERT_TRUE(channel->submit(queued));
        running.started.wait(false);
        channel.reset();
        EXPECT_EQ(running.runs, 1);
        EXPECT_EQ(queued.runs, 1);
        EXPECT_EQ(file_worker::unfinished(), 0u);  // results nobody takes are owed to nobody
    }
    // A job run at the end of a channel's life comes after its queued ones and is not handed back.
    file_worker::Channel channel(4);
    file_worker::hold();
    ASSERT_TRUE(channel.submit(queued));
    std::thread releaser([] { file_worker::release(); });  // before or during the wait: the same
    channel.runAndWait(last);
    releaser.join();
    EXPECT_EQ(log.order, (std::vector<int>{1, 2, 2, 3}));
    EXPECT_EQ(channel.finished(), &queued);
    EXPECT_EQ(channel.finished(), nullptr);
}

TEST_F(FileWorkerTest, TheThreadStartsWithTheFirstChannelAndEndsWithTheLast)
{
    RunLog log;
    RecordingJob job(log, 1);
    for (int round = 0; round < 3; ++round) {
        {
            file_worker::Channel first(1), second(1);
            EXPECT_EQ(workerThreads().size(), 1u);
            ASSERT_TRUE(second.submit(job));
        }
        EXPECT_EQ(workerThreads().size(), 0u);
    }
    EXPECT_EQ(job.runs, 3);
}

// Many channels submitting from threads of their own, as several hosts' audio threads would, while
// channels come and go: every job runs once and comes back to its own channel in order.
TEST_F(FileWorkerTest, ManyAudioThreadsAtOnce)
{
    constexpr int kThreads = 6, kJobs = 200;
    RunLog log;
    std::vector<std::thread> threads;
    std::atomic<int> wrongOrder{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            file_worker::Channel channel(8);
            std::vector<std::unique_ptr<RecordingJob>> jobs;
            for (int i = 0; i < kJobs; ++i)
                jobs.push_back(std::make_unique<RecordingJob>(log, t * kJobs + i));
            int next = 0, expected = 0;
            while (expected < kJobs) {
                if (next < kJobs && channel.submit(*jobs[next]))
                    ++next;
                while (file_worker::Job* done = channel.finished())
                    if (done != jobs[expected++].get())
                        ++wrongOrder;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrongOrder, 0);
    EXPECT_EQ(log.order.size(), static_cast<std::size_t>(kThreads * kJobs));
}

// Sixteen audio threads submit at once, more than the machine has cores, with idle channels
// between theirs (48 in all), and take places for inputs between their submits: a thread is now
// and then switched out in the middle of a submit. The worker still runs places in increasing
// order, and each thread's places rise.
TEST_F(FileWorkerTest, NoJobOvertakesAnEarlierPlaceAcrossManyChannels)
{
    struct PlacedJob final : file_worker::Job {
        std::vector<uint64_t>* ran = nullptr;
        void run() noexcept override { ran->push_back(place()); }  // the worker's alone
    };
    constexpr int kThreads = 16, kJobs = 10'000;
    std::vector<uint64_t> ran;
    ran.reserve(kThreads * kJobs);
    std::vector<PlacedJob> jobs(kThreads * kJobs);
    std::vector<std::unique_ptr<file_worker::Channel>> active, idle;
    for (int t = 0; t < kThreads; ++t) {
        active.push_back(std::make_unique<file_worker::Channel>(64));
        for (int i = 0; i < 2; ++i)
            idle.push_back(std::make_unique<file_worker::Channel>(1));
    }
    std::atomic<int> falling{0};  // a place not above the one its thread took before
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            file_worker::Channel& channel = *active[t];
            PlacedJob* mine = jobs.data() + t * kJobs;
            uint64_t last = 0;
            for (int i = 0; i < kJobs;) {
                while (channel.finished()) {
                }
                mine[i].ran = &ran;
                const uint64_t input = file_worker::takePlace();
                falling += input <= last;
                last = input;
                if (channel.submit(mine[i])) {
                    falling += mine[i].place() <= last;
                    last = mine[i].place();
                    ++i;
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    file_worker::waitUntilIdle();
    ASSERT_EQ(ran.size(), jobs.size());
    int inversions = 0;
    for (std::size_t i = 1; i < ran.size(); ++i)
        inversions += ran[i] <= ran[i - 1];
    EXPECT_EQ(inversions, 0);
    EXPECT_EQ(falling, 0);
}

// A channel that goes waits for its own jobs, not for a long one another module asked for later.
TEST_F(FileWorkerTest, AChannelThatGoesDoesNotWaitForOthersLaterJobs)
{
    struct Latch final : file_worker::Job {
        std::atomic<bool> open{false}, ran{false};
        void run() noexcept override
        {
            open.wait(false);
            ran = true;
        }
    } slow;
    RunLog log;
    RecordingJob mine(log, 1);
    file_worker::Channel other(1);
    auto channel = std::make_unique<file_worker::Channel>(1);
    ASSERT_TRUE(channel->submit(mine));
    ASSERT_TRUE(other.submit(slow));
    channel.reset();  // returns once `mine` has run, with the slow job still running
    EXPECT_EQ(mine.runs, 1);
    EXPECT_FALSE(slow.ran);
    slow.open = true;
    slow.open.notify_all();
    file_worker::waitUntilIdle();
    EXPECT_TRUE(slow.ran);
}

// The thread cannot start: the channel is not made and nothing of it stays with the worker.
TEST_F(FileWorkerTest, AThreadThatCannotStartLeavesNoChannelBehind)
{
    file_worker::failThreadStarts(true);
    EXPECT_THROW(file_worker::Channel channel(1), std::system_error);
    file_worker::failThreadStarts(false);
    EXPECT_EQ(workerThreads().size(), 0u);
    file_worker::waitUntilIdle();  // would read the channel that is gone
    RunLog log;
    RecordingJob job(log, 1);
    file_worker::Channel channel(1);
    ASSERT_TRUE(channel.submit(job));
    file_worker::waitUntilIdle();
    EXPECT_EQ(channel.finished(), &job);
}

// Made from a real-time thread, the worker still runs at normal priority, and no signal a host
// sends the process lands on it.
TEST_F(FileWorkerTest, TheThreadRunsAtNormalPriorityWithSignalsBlocked)
{
    sched_param fifo{};
    fifo.sched_priority = 10;
    const bool realTime = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &fifo) == 0;
    std::optional<file_worker::Channel> channel;
    channel.emplace(1);
    if (realTime) {
        sched_param normal{};
        ::pthread_setschedparam(::pthread_self(), SCHED_OTHER, &normal);
    }
    const std::vector<pid_t> workers = workerThreads();
    for (const pid_t worker : workers) {
        std::string blocked;
        EXPECT_EQ(::sched_getscheduler(worker), SCHED_OTHER);
        std::ifstream status("/proc/self/task/" + std::to_string(worker) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("SigBlk:", 0) == 0)
                blocked = line.substr(line.find_first_not_of(" \t", 7));
        }
        const unsigned long long mask = std::stoull(blocked, nullptr, 16);
        for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGCHLD, SIGPROF, SIGRTMIN + 2})
            EXPECT_TRUE(mask >> (signal - 1) & 1) << "signal " << signal << " in " << blocked;
    }
    EXPECT_EQ(workers.size(), 1u);
}

TEST_F(FileWorkerTest, RefusedActionsAreLoggedByNameThroughTheWorker)
{
    std::vector<std::string> lines;
    platform::setLogSink([](const char* line, void* to) { static_cast<std::vector<std::string>*>(to)->push_back(line); }, &lines);
    RunLog log;
    RecordingJob job(log, 1);
    {
        file_worker::Channel channel(1);
        channel.refused("save preset");
        for (int i = 0; i < 40; ++i)
            channel.refused("delete preset");
        ASSERT_TRUE(channel.submit(job));
        file_worker::waitUntilIdle();
    }
    platform::setLogSink(nullptr, nullptr);
    // Named while the channel had room to note them between two of the worker's looks (at least
    // 16), the rest counted: every refusal is in the log.
    ASSERT_GE(lines.size(), 16u);
    EXPECT_NE(lines[0].find("save preset refused"), std::string::npos) << lines[0];
    std::size_t named = 0, counted = 0;
    for (const std::string& line : lines) {
        if (line.find("delete preset refused") != std::string::npos)
            ++named;
        else if (const std::size_t more = line.find(" more actions refused"); more != std::string::npos)
            counted += std::stoul(line.substr(std::string("TAVRIN: ").size()));
    }
    EXPECT_GE(named, 15u);
    EXPECT_EQ(named + counted, 40u);
}

// Places rise strictly in the order they are taken, inputs' and jobs' alike, offline too, and
// are never 0.
TEST_F(FileWorkerTest, PlacesRiseStrictlyInTheOrderTheyAreTaken)
{
    for (const bool offline : {false, true}) {
        file_worker::setOffline(offline);
        RunLog log;
        file_worker::Channel channel(2);
        RecordingJob job(log, 1);
        const uint64_t first = file_worker::takePlace();
        const uint64_t second = file_worker::takePlace();
        ASSERT_TRUE(channel.submit(job));
        const uint64_t after = file_worker::takePlace();
        EXPECT_GT(first, 0u);
        EXPECT_LT(first, second);
        EXPECT_LT(second, job.place());
        EXPECT_LT(job.place(), after);
        file_worker::waitUntilIdle();
        EXPECT_EQ(channel.finished(), &job);
    }
}

// A thread switched out in the middle of a submit (here stopped by the hook just before it
// publishes) holds up no other channel's work: its job simply takes a later place.
TEST_F(FileWorkerTest, ASubmitStoppedBeforeItPublishesStallsNoOtherChannel)
{
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool stopped = false, open = false;
        std::atomic<std::thread::id> whom{};
    } gate;
    file_worker::setSubmitHook(
        [](void* context) {
            Gate& gate = *static_cast<Gate*>(context);
            if (gate.whom.load() != std::this_thread::get_id())
                return;
            std::unique_lock lock(gate.mutex);
            gate.stopped = true;
            gate.changed.notify_all();
            gate.changed.wait(lock, [&] { return gate.open; });
        },
        &gate);
    RunLog log;
    file_worker::Channel stoppedChannel(1), other(1);
    RecordingJob late(log, 1), going(log, 2);
    std::thread audio([&] {
        gate.whom.store(std::this_thread::get_id());
        EXPECT_TRUE(stoppedChannel.submit(late));
    });
    {
        std::unique_lock lock(gate.mutex);
        gate.changed.wait(lock, [&] { return gate.stopped; });
    }
    ASSERT_TRUE(other.submit(going));
    // A deadline only for the old fault, where the worker waited for the stopped thread for good.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    file_worker::Job* done = nullptr;
    while (!(done = other.finished()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(done, &going);
    {
        const std::lock_guard lock(gate.mutex);
        gate.open = true;
    }
    gate.changed.notify_all();
    audio.join();
    file_worker::setSubmitHook(nullptr, nullptr);
    file_worker::waitUntilIdle();
    EXPECT_EQ(stoppedChannel.finished(), &late);
    EXPECT_GT(late.place(), going.place());
    EXPECT_EQ(log.order, (std::vector<int>{2, 1}));
}

// A refusal made just before its channel goes is logged all the same, though the worker has not
// looked since.
TEST_F(FileWorkerTest, ARefusalIsLoggedBeforeItsChannelLeaves)
{
    std::vector<std::string> lines;
    platform::setLogSink([](const char* line, void* to) { static_cast<std::vector<std::string>*>(to)->push_back(line); }, &lines);
    {
        file_worker::Channel keeper(1);  // the thread runs throughout
        for (int i = 0; i < 200; ++i) {
            file_worker::Channel channel(1);
            channel.refused("save preset");
        }
    }
    platform::setLogSink(nullptr, nullptr);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.find("save preset refused") != std::string::npos; }),
              200);
}

// Worker-side code woken by a descriptor: ready() runs on the worker thread when it is readable,
// may remove its own watch, and is never called once removed.
TEST_F(FileWorkerTest, AWatchIsCalledOnTheWorkerWhenItsDescriptorIsReady)
{
    struct EventWatch final : file_worker::Watch {
        int event = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        std::atomic<int> calls{0};
        std::atomic<std::thread::id> on{};
        std::atomic<bool> removeItself{false};
        int fd() const noexcept override { return event; }
        void ready() noexcept override
        {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(event, &count, sizeof count);
            on.store(std::this_thread::get_id());
            if (removeItself.load())
                file_worker::removeWatch(*this);
            calls.fetch_add(1);
            calls.notify_all();
        }
        void signal() const
        {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(event, &one, sizeof one);
        }
        ~EventWatch() { ::close(event); }
    } watch;
    RunLog log;
    RecordingJob job(log, 1);
    file_worker::Channel channel(1);
    ASSERT_TRUE(channel.submit(job));
    file_worker::waitUntilIdle();
    ASSERT_EQ(channel.finished(), &job);

    file_worker::addWatch(watch);
    watch.signal();
    watch.calls.wait(0);
    EXPECT_EQ(watch.on.load(), log.threads.at(0));  // the worker's
    watch.removeItself = true;
    watch.signal();
    watch.calls.wait(1);
    // Gone: a signal now is heard by nobody, across the worker's next looks and jobs.
    watch.signal();
    ASSERT_TRUE(channel.submit(job));
    file_worker::waitUntilIdle();
    EXPECT_EQ(channel.finished(), &job);
    EXPECT_EQ(watch.calls.load(), 2);
    file_worker::removeWatch(watch);  // removing one removed does nothing
}

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
constexpr bool kThreadSanitizer = __has_feature(thread_sanitizer);
#else
constexpr bool kThreadSanitizer = false;
#endif

// A forked child has no worker thread: it starts its own, runs there the job queued when it
// forked and its own, and a channel it releases waits for nothing of the parent's.
TEST_F(FileWorkerTest, AForkedChildRunsItsJobsOnItsOwnWorker)
{
    if (kThreadSanitizer)
        GTEST_SKIP() << "ThreadSanitizer stops a forked child of a threaded parent that starts a thread";
    struct Mark final : file_worker::Job {
        std::string file, text;
        void run() noexcept override { std::ofstream(file, std::ios::app) << text << '\n'; }
    };
    test_support::TemporaryFolder folder("file-worker-fork");
    const std::string marks = (folder.path() / "marks").string();
    auto channel = std::make_unique<file_worker::Channel>(4);
    Mark queued, own, fresh;
    queued.file = own.file = fresh.file = marks;
    queued.text = "queued", own.text = "own", fresh.text = "fresh";
    file_worker::hold();
    ASSERT_TRUE(channel->submit(queued));  // waits when the process forks
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        file_worker::release();
        if (!channel->submit(own))
            std::_Exit(3);
        {
            file_worker::Channel another(1);  // a module made and released in the child
            if (!another.submit(fresh))
                std::_Exit(4);
        }
        channel->drain();
        channel.reset();
        std::_Exit(file_worker::unfinished() == 0 ? 0 : 5);
    }
    file_worker::release();
    file_worker::waitUntilIdle();
    EXPECT_EQ(channel->finished(), &queued);
    // A deadline only for the old fault, where the child hung.
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    pid_t ended = 0;
    while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (ended == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "the forked child hung";
    }
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::ifstream in(marks);
    std::vector<std::string> childLines;
    int queuedLines = 0;
    for (std::string line; std::getline(in, line);) {
        queuedLines += line == "queued";
        if (line != "queued")
            childLines.push_back(line);
    }
    EXPECT_EQ(queuedLines, 2);  // once in each process
    EXPECT_EQ(childLines, (std::vector<std::string>{"own", "fresh"}));
}

// Made by a thread pinned to one processor (a host's audio thread), the worker may still run on
// every processor the process may use.
TEST_F(FileWorkerTest, TheThreadMayRunOnEveryProcessorOfTheProcess)
{
    cpu_set_t process;
    ASSERT_EQ(::sched_getaffinity(0, sizeof process, &process), 0);
    if (CPU_COUNT(&process) < 2)
        GTEST_SKIP() << "one processor";
    ASSERT_EQ(workerThreads().size(), 0u);
    int first = 0;
    while (!CPU_ISSET(first, &process))
        ++first;
    std::optional<file_worker::Channel> channel;
    std::thread pinned([&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(first, &one);
        ASSERT_EQ(::pthread_setaffinity_np(::pthread_self(), sizeof one, &one), 0);
        channel.emplace(1);
    });
    pinned.join();
    const std::vector<pid_t> workers = workerThreads();
    for (const pid_t worker : workers) {
        cpu_set_t allowed;
        ASSERT_EQ(::sched_getaffinity(worker, sizeof allowed, &allowed), 0);
        EXPECT_TRUE(CPU_EQUAL(&allowed, &process)) << CPU_COUNT(&allowed) << " of " << CPU_COUNT(&process);
    }
    EXPECT_EQ(workers.size(), 1u);
}

// exit() or quick_exit() with jobs queued, and a channel in a global object that goes after the
// exit drain: every job runs, once, before the objects the jobs use are gone (checked under ASan
// in CI).
void exitWithJobsQueued(void (*leave)(int))
{
    test_support::TemporaryFolder folder("file-worker-exit");
    const std::string marks = (folder.path() / "marks").string();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct Mark final : file_worker::Job {
            std::string file;
            std::string* text = new std::string("whole");  // freed by nobody: the job outlives main
            void run() noexcept override
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                std::ofstream(file, std::ios::app) << *text << '\n';
            }
        };
        // Jobs are members of a module, its channel the last one, so it goes first and waits.
        struct Module {
            Mark jobs[20];  // 2 ms each: most are still queued at exit
            file_worker::Channel channel{20};
        };
        static Module global;              // a module held in a global object
        Module* leaked = new Module;       // one nobody destroys: the exit drain runs its jobs
        for (Module* module : {&global, leaked}) {
            for (Mark& job : module->jobs) {
                job.file = marks;
                if (!module->channel.submit(job))
                    std::_Exit(3);
            }
        }
        leave(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::ifstream in(marks);
    int lines = 0;
    for (std::string line; std::getline(in, line); ++lines)
        EXPECT_EQ(line, "whole");
    EXPECT_EQ(lines, 40);
}

TEST_F(FileWorkerTest, ExitWithJobsQueuedRunsThemAll) { exitWithJobsQueued(std::exit); }
TEST_F(FileWorkerTest, QuickExitWithJobsQueuedRunsThemAll) { exitWithJobsQueued(std::quick_exit); }

} // namespace

// ---- Through the bundle, as a real-time host loads it ------------------------------------------

namespace {

// A host that releases a list manager with bank saves still waiting behind the first, and then
// unloads the bundle: every bank is on disk, whole, and the worker thread is gone.
TEST(FileWorkerBundle, ReleaseAndUnloadWithSavesQueuedWriteThemAll)
{
    test_support::TemporaryFolder folder("file-worker-bundle");
    ::setenv("TAVRIN_OFFLINE", "0", 1);  // the bundle reads it when it loads
    ::setenv("TAVRIN_SHARED_FOLDER", folder.path().c_str(), 1);
    constexpr int kBanks = 6;
    const auto bank = [&](int i) { return folder.path() / ("bank" + std::to_string(i) + ".tavbank"); };
    {
        std::string error;
        auto bundle = tav_host::Bundle::load(TAVRIN_BUNDLE_PATH, error);
        ASSERT_TRUE(bundle) << error;
        tav_host::Host host(bundle->factory(), tav_host::HostConfig{.fileFolder = folder.path() / "host"});
        const auto manager = host.addInstance("QV_PatchManagerListpipe");
        ASSERT_TRUE(manager.instance) << manager.error;
        host.start();
        host.runBlock(64);
        EXPECT_EQ(workerThreads().size(), 1u);
        for (int i = 0; i < kBanks; ++i) {
            const std::string path = bank(i).string();
            tav_host::Bytes bytes(path.begin(), path.end());
            bytes.push_back(0);
            host.postToDsp(*manager.instance, list_message::kPath, bytes);
            host.postToDsp(*manager.instance, list_message::kSaveBank, {});
        }
        host.drain();
        host.shutdown();
    }
    ::setenv("TAVRIN_OFFLINE", "1", 1);
    EXPECT_EQ(workerThreads().size(), 0u);
    for (int i = 0; i < kBanks; ++i) {
        preset_bank::NameTable names;
        preset_bank::BankMemory memory;
        EXPECT_TRUE(preset_bank::LoadBank(bank(i).string(), names, memory, preset_bank::FieldConversion::Decimal))
            << bank(i);
    }
}

} // namespace
