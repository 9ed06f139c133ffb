// The bundle's file worker: jobs of all channels run on one thread in the order they were
// submitted and come back to each channel in its own order; offline they run inside submit; a
// channel that goes waits for its jobs; the thread ends with the last channel, and a bundle
// unloaded with work queued writes it first.
#include "FileWorker.h"

#include "Bundle.h"
#include "Host.h"
#include "PresetStore/ListManagerMessages.h"
#include "PresetStore/PresetBank.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
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
        if (pause_)
            std::this_thread::sleep_for(pause_.value());
        const std::lock_guard lock(log_.mutex);
        log_.order.push_back(name_);
        log_.threads.push_back(std::this_thread::get_id());
        ++runs;
    }
    std::optional<std::chrono::milliseconds> pause_;
    int runs = 0;

private:
    RunLog& log_;
    int name_;
};

// Threads of this process that are the file worker (a sanitizer may run threads of its own).
int workerThreads()
{
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        count += name == file_worker::kThreadName;
    }
    return count;
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
    // Held back: nothing has run, nothing is handed back.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
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
    EXPECT_EQ(workerThreads(), 0);
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
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the first is running
        channel.reset();
        EXPECT_EQ(running.runs, 1);
        EXPECT_EQ(queued.runs, 1);
    }
    // A job run at the end of a channel's life comes after its queued ones and is not handed back.
    file_worker::Channel channel(4);
    file_worker::hold();
    ASSERT_TRUE(channel.submit(queued));
    std::thread releaser([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        file_worker::release();
    });
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
            EXPECT_EQ(workerThreads(), 1);
            ASSERT_TRUE(second.submit(job));
        }
        EXPECT_EQ(workerThreads(), 0);
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
        EXPECT_EQ(workerThreads(), 1);
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
    EXPECT_EQ(workerThreads(), 0);
    for (int i = 0; i < kBanks; ++i) {
        preset_bank::NameTable names;
        preset_bank::BankMemory memory;
        EXPECT_TRUE(preset_bank::LoadBank(bank(i).string(), names, memory, preset_bank::FieldConversion::Decimal))
            << bank(i);
    }
}

} // namespace
