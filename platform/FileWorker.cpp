// The file worker's thread, its channels and the order it runs their jobs in.
#include "FileWorker.h"

#include "Log.h"

#include <pthread.h>
#include <semaphore.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace file_worker {

namespace {

bool offlineFromEnvironment()
{
    const char* value = std::getenv("TAVRIN_OFFLINE");
    return value && std::strcmp(value, "1") == 0;
}

std::atomic<bool> offlineMode{offlineFromEnvironment()};
std::atomic<std::size_t> unfinishedJobs{0};
std::atomic<unsigned> slowestJob{0};  // microseconds
std::atomic<uint32_t> slowSeed{1};

} // namespace

bool offline() noexcept { return offlineMode.load(std::memory_order_relaxed); }

void setOffline(bool inline_) { offlineMode.store(inline_, std::memory_order_relaxed); }
std::size_t unfinished() noexcept { return unfinishedJobs.load(std::memory_order_acquire); }
void slowDown(unsigned maxMicroseconds, uint32_t seed)
{
    slowSeed.store(seed ? seed : 1, std::memory_order_relaxed);
    slowestJob.store(maxMicroseconds, std::memory_order_relaxed);
}

class Worker {
public:
    Worker() { ::sem_init(&wake_, 0, 0); }
    ~Worker()
    {
        stop();
        ::sem_destroy(&wake_);
    }

    void join(Channel& channel)
    {
        const std::lock_guard lifecycle(lifecycle_);
        const std::lock_guard lock(mutex_);
        channels_.push_back(&channel);
        if (!channel.inline_ && !thread_.joinable()) {
            stopping_ = false;
            thread_ = std::thread(&Worker::run, this);
            // The name a host's developer sees in a debugger or in top.
            ::pthread_setname_np(thread_.native_handle(), kThreadName);
        }
    }

    void leave(Channel& channel)
    {
        const std::lock_guard lifecycle(lifecycle_);
        {
            waitFor(channel);
            const std::lock_guard lock(mutex_);
            std::erase(channels_, &channel);
            // The thread stays while a channel still hands it work.
            if (std::any_of(channels_.begin(), channels_.end(), [](Channel* c) { return !c->inline_; }))
                return;
        }
        stopThread();
    }

    // [audio thread] Stamps the request with its place in the order of all channels' requests.
    uint64_t nextSequence() noexcept { return sequence_.fetch_add(1, std::memory_order_relaxed); }
    void wake() noexcept { ::sem_post(&wake_); }

    void waitFor(Channel& channel)
    {
        std::unique_lock lock(mutex_);
        ranAll_.wait(lock, [&] { return channel.completed_ == channel.queued_.load(std::memory_order_acquire); });
    }

    void waitUntilIdle()
    {
        std::unique_lock lock(mutex_);
        ranAll_.wait(lock, [&] {
            return std::all_of(channels_.begin(), channels_.end(), [](Channel* c) {
                return c->completed_ == c->queued_.load(std::memory_order_acquire);
            });
        });
    }

    void setHeld(bool held)
    {
        {
            const std::lock_guard lock(holdMutex_);
            held_ = held;
        }
        holdChanged_.notify_all();
    }

    void stop()
    {
        const std::lock_guard lifecycle(lifecycle_);
        stopThread();
    }

private:
    // Called with lifecycle_ held.
    void stopThread()
    {
        if (!thread_.joinable())
            return;
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        setHeld(false);
        wake();
        thread_.join();
    }

    void run()
    {
        for (;;) {
            Channel* from = nullptr;
            Channel::Request request;
            {
                const std::lock_guard lock(mutex_);
                from = oldestRequest(request);
                if (!from && stopping_)
                    return;  // every queued job has run
            }
            if (!from) {
                while (::sem_wait(&wake_) != 0 && errno == EINTR) {
                }
                continue;
            }
            waitWhileHeld();
            if (const unsigned slowest = slowestJob.load(std::memory_order_relaxed)) {
                uint32_t x = slowSeed.load(std::memory_order_relaxed);
                x ^= x << 13, x ^= x >> 17, x ^= x << 5;
                slowSeed.store(x, std::memory_order_relaxed);
                std::this_thread::sleep_for(std::chrono::microseconds(x % (slowest + 1)));
            }
            request.job->run();
            {
                const std::lock_guard lock(mutex_);
                // Room is certain: no more than capacity jobs are outstanding.
                if (!request.waited) {
                    from->results_.try_enqueue(request.job);
                    from->handedBack_.fetch_add(1, std::memory_order_release);
                }
                ++from->completed_;
            }
            ranAll_.notify_all();
        }
    }

    // Takes the request submitted first of those waiting in any channel. Called with mutex_ held.
    Channel* oldestRequest(Channel::Request& request)
    {
        Channel* oldest = nullptr;
        uint64_t first = 0;
        for (Channel* channel : channels_) {
            const Channel::Request* head = channel->requests_.peek();
            if (head && (!oldest || head->sequence < first)) {
                oldest = channel;
                first = head->sequence;
            }
        }
        if (oldest) {
            oldest->requests_.try_dequeue(request);
            // Pairs with submit's release: what the module put in the job before is seen here.
            oldest->queued_.load(std::memory_order_acquire);
        }
        return oldest;
    }

    void waitWhileHeld()
    {
        std::unique_lock lock(holdMutex_);
        holdChanged_.wait(lock, [&] { return !held_ || stopping(); });
    }

    bool stopping()
    {
        const std::lock_guard lock(mutex_);
        return stopping_;
    }

    std::mutex lifecycle_;  // one start or stop at a time
    std::mutex mutex_;      // the channel list, completion counts and stopping_
    std::condition_variable ranAll_;
    std::vector<Channel*> channels_;
    bool stopping_ = false;
    std::thread thread_;
    sem_t wake_{};
    std::atomic<uint64_t> sequence_{0};
    std::mutex holdMutex_;
    std::condition_variable holdChanged_;
    bool held_ = false;
};

namespace {

Worker& worker()
{
    static Worker instance;
    return instance;
}

} // namespace

Channel::Channel(std::size_t capacity)
    : inline_(offline()), capacity_(capacity), requests_(capacity + 1), results_(capacity)
{
    worker().join(*this);
}

Channel::~Channel() { worker().leave(*this); }

bool Channel::submit(Job& job) noexcept
{
    if (outstanding() >= capacity_)
        return false;
    ++submitted_;
    unfinishedJobs.fetch_add(1, std::memory_order_relaxed);
    if (inline_) {
        job.run();
        results_.try_enqueue(&job);
        handedBack_.fetch_add(1, std::memory_order_release);
        return true;
    }
    Worker& w = worker();
    queued_.fetch_add(1, std::memory_order_release);
    requests_.try_enqueue(Request{&job, w.nextSequence(), false});
    w.wake();
    return true;
}

Job* Channel::finished() noexcept
{
    Job* job = nullptr;
    // Pairs with the worker's release: the job's results are seen here. (The queue orders them
    // too; this says so in plain C++, which every thread checker understands.)
    if (handedBack_.load(std::memory_order_acquire) == taken_ || !results_.try_dequeue(job))
        return nullptr;
    ++taken_;
    unfinishedJobs.fetch_sub(1, std::memory_order_release);
    return job;
}

void Channel::runAndWait(Job& job)
{
    if (inline_) {
        job.run();
        return;
    }
    Worker& w = worker();
    // The audio side is done with this channel, so this thread may produce into its queue.
    queued_.fetch_add(1, std::memory_order_release);
    requests_.enqueue(Request{&job, w.nextSequence(), true});
    w.wake();
    w.waitFor(*this);
}

void Channel::refused(const char* action) noexcept
{
    platform::logLine("TAVRIN: %s refused: the file worker has not answered for too long", action);
}

void Channel::drain()
{
    if (!inline_)
        worker().waitFor(*this);
}

void hold() { worker().setHeld(true); }
void release() { worker().setHeld(false); }
void waitUntilIdle() { worker().waitUntilIdle(); }

} // namespace file_worker
