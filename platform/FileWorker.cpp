// The file worker's thread, its channels and the order it runs their jobs in.
#include "FileWorker.h"

#include "Log.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
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
std::atomic<bool> failStarts{false};

// The one order. Request n holds place (n + 1) << 32; inputs without a job (and jobs run inline)
// take the places between two requests in turn, so none leaves a place for the worker to wait on.
// Plain atomics, not the worker's: taking a place never makes the worker.
std::atomic<uint64_t> requestsClaimed{0};
std::atomic<uint64_t> inputPlaces{0};

uint64_t inputPlace() noexcept
{
    const uint64_t between = inputPlaces.fetch_add(1, std::memory_order_relaxed) % 0xFFFFFFFFu + 1;
    return (requestsClaimed.load(std::memory_order_acquire) << 32) | between;
}
uint64_t requestPlace(uint64_t sequence) noexcept { return (sequence + 1) << 32; }

// How long the idle worker sleeps between looks at its channels: a request waits at most this
// (and the kernel's timer slack, set small) before it starts. Each look is a few loads; the
// sleeps cost well under half a percent of a core.
constexpr long kPollNanoseconds = 750'000;
constexpr unsigned long kTimerSlackNanoseconds = 50'000;

void sleepFor(long nanoseconds)
{
    timespec pause{0, nanoseconds};
    while (::clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, &pause) == EINTR) {
    }
}

} // namespace

bool offline() noexcept { return offlineMode.load(std::memory_order_relaxed); }

void setOffline(bool inline_) { offlineMode.store(inline_, std::memory_order_relaxed); }

std::size_t unfinished() noexcept { return unfinishedJobs.load(std::memory_order_acquire); }

void slowDown(unsigned maxMicroseconds, uint32_t seed)
{
    slowSeed.store(seed ? seed : 1, std::memory_order_relaxed);
    slowestJob.store(maxMicroseconds, std::memory_order_relaxed);
}

void failThreadStarts(bool fail) { failStarts.store(fail, std::memory_order_relaxed); }

class Worker {
public:
    // [not the audio thread] Adds the channel, starting the thread for a real-time one; throws
    // std::system_error, with the channel not added, when the thread cannot start.
    void join(Channel& channel)
    {
        const std::lock_guard lifecycle(lifecycle_);
        if (!channel.inline_ && !running_)
            startThread();
        const std::lock_guard lock(mutex_);
        channels_.push_back(&channel);
    }

    // [not the audio thread] Waits for the channel's own jobs, removes it, and stops the thread
    // after the last real-time channel.
    void leave(Channel& channel)
    {
        const std::lock_guard lifecycle(lifecycle_);
        finish(channel);
        {
            const std::lock_guard lock(mutex_);
            std::erase(channels_, &channel);
            // The thread stays while a channel still hands it work.
            if (std::any_of(channels_.begin(), channels_.end(), [](Channel* c) { return !c->inline_; }))
                return;
        }
        stopThread();
    }

    // [audio thread] The next place in the order of all channels' requests.
    uint64_t claim() noexcept { return claimed_.fetch_add(1, std::memory_order_acq_rel); }

    // [not the audio thread] Returns when every request queued on channel has run. Without a
    // thread (after the exit drain) the caller runs them itself.
    void finish(Channel& channel)
    {
        std::unique_lock lock(mutex_);
        if (!running_) {
            lock.unlock();
            runQueued(channel);
            return;
        }
        ranOne_.wait(lock, [&] { return done(channel); });
    }

    void waitUntilIdle()
    {
        std::unique_lock lock(mutex_);
        if (!running_)
            return;
        ranOne_.wait(lock, [&] { return std::all_of(channels_.begin(), channels_.end(), [&](Channel* c) { return done(*c); }); });
    }

    void setHeld(bool held)
    {
        {
            const std::lock_guard lock(mutex_);
            held_ = held;
        }
        holdChanged_.notify_all();
    }

    // [exit, or the bundle unloading] Runs every job still queued, then ends the thread for good:
    // channels made or left after this run their work themselves.
    void stopForExit()
    {
        const std::lock_guard lifecycle(lifecycle_);
        exited_.store(true, std::memory_order_relaxed);
        stopThread();
    }
    bool exited() const { return exited_.load(std::memory_order_relaxed); }
    bool unused()
    {
        const std::lock_guard lock(mutex_);
        return channels_.empty();
    }

    std::chrono::nanoseconds cpuTime()
    {
        const std::lock_guard lifecycle(lifecycle_);
        clockid_t clock{};
        timespec used{};
        if (!running_ || ::pthread_getcpuclockid(thread_, &clock) != 0 || ::clock_gettime(clock, &used) != 0)
            return std::chrono::nanoseconds{0};
        return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
    }

private:
    // Called with lifecycle_ held. Normal priority, whatever the creator's policy (a host may
    // create modules on its real-time thread), and no signal is ever delivered to it.
    void startThread()
    {
        if (exited() || failStarts.load(std::memory_order_relaxed))
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again), "file worker");
        pthread_attr_t attributes;
        ::pthread_attr_init(&attributes);
        ::pthread_attr_setinheritsched(&attributes, PTHREAD_EXPLICIT_SCHED);
        ::pthread_attr_setschedpolicy(&attributes, SCHED_OTHER);
        sched_param priority{};
        ::pthread_attr_setschedparam(&attributes, &priority);
        sigset_t all, previous;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &previous);
        {
            const std::lock_guard lock(mutex_);
            stopping_ = false;
        }
        stopRequested_.store(false, std::memory_order_relaxed);
        const int error = ::pthread_create(&thread_, &attributes, &Worker::start, this);
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        ::pthread_attr_destroy(&attributes);
        if (error != 0)
            throw std::system_error(error, std::generic_category(), "file worker");
        // The name a host's developer sees in a debugger or in top.
        ::pthread_setname_np(thread_, kThreadName);
        const std::lock_guard lock(mutex_);
        running_ = true;
    }

    // Called with lifecycle_ held.
    void stopThread()
    {
        {
            const std::lock_guard lock(mutex_);
            if (!running_)
                return;
            stopping_ = true;
            held_ = false;
        }
        stopRequested_.store(true, std::memory_order_release);
        holdChanged_.notify_all();
        ::pthread_join(thread_, nullptr);
        const std::lock_guard lock(mutex_);
        running_ = false;
    }

    static void* start(void* self)
    {
        ::prctl(PR_SET_TIMERSLACK, kTimerSlackNanoseconds);
        static_cast<Worker*>(self)->run();
        return nullptr;
    }

    void run()
    {
        for (;;) {
            // An idle look costs two loads: nothing claimed beyond what ran, no refusal to log.
            if (claimed_.load(std::memory_order_acquire) == next_ && !refusalsNoted_.load(std::memory_order_acquire) &&
                !stopRequested_.load(std::memory_order_acquire)) {
                sleepFor(kPollNanoseconds);
                continue;
            }
            Channel* from = nullptr;
            Channel::Request request;
            {
                std::unique_lock lock(mutex_);
                logRefusals();
                from = nextRequest(request);
                if (!from) {
                    // Every place claimed has run: nothing is on its way.
                    if (stopping_ && claimed_.load(std::memory_order_acquire) == next_)
                        return;
                    lock.unlock();
                    sleepFor(kPollNanoseconds);
                    continue;
                }
                holdChanged_.wait(lock, [&] { return !held_; });
            }
            slowDownForTests();
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
            ranOne_.notify_all();
        }
    }

    // Takes the request whose place is next in the order of all channels. A place claimed but not
    // yet queued (the audio thread is between the two) is waited for: a later one never goes
    // before it. Called with mutex_ held.
    Channel* nextRequest(Channel::Request& request)
    {
        for (Channel* channel : channels_) {
            const Channel::Request* head = channel->requests_.peek();
            if (head && head->sequence == next_) {
                channel->requests_.try_dequeue(request);
                // Pairs with submit's release: what the module put in the job before is seen here.
                channel->queued_.load(std::memory_order_acquire);
                ++next_;
                return channel;
            }
        }
        return nullptr;
    }

    // The actions channels refused for want of room, logged here so the audio thread never writes.
    // Called with mutex_ held.
    void logRefusals()
    {
        refusalsNoted_.store(false, std::memory_order_relaxed);
        for (Channel* channel : channels_)
            channel->logRefusals();
    }

    // Runs what channel still has queued, on the calling thread (the thread is gone).
    void runQueued(Channel& channel)
    {
        Channel::Request request;
        while (channel.requests_.try_dequeue(request)) {
            request.job->run();
            if (!request.waited) {
                channel.results_.try_enqueue(request.job);
                channel.handedBack_.fetch_add(1, std::memory_order_release);
            }
            const std::lock_guard lock(mutex_);
            ++channel.completed_;
        }
    }

    static bool done(Channel& channel) { return channel.completed_ == channel.queued_.load(std::memory_order_acquire); }

    void slowDownForTests()
    {
        const unsigned slowest = slowestJob.load(std::memory_order_relaxed);
        if (!slowest)
            return;
        uint32_t x = slowSeed.load(std::memory_order_relaxed);
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        slowSeed.store(x, std::memory_order_relaxed);
        sleepFor(static_cast<long>(x % (slowest + 1)) * 1000);
    }

    std::mutex lifecycle_;  // one start or stop at a time
    std::mutex mutex_;      // the channel list, completion counts, running_, stopping_, held_
    std::condition_variable ranOne_;
    std::condition_variable holdChanged_;
    std::vector<Channel*> channels_;
    bool running_ = false;
    bool stopping_ = false;
    bool held_ = false;
    pthread_t thread_{};
    std::atomic<uint64_t>& claimed_ = requestsClaimed;
    uint64_t next_ = requestsClaimed.load();  // the place to run next; the worker's own
    std::atomic<bool> exited_{false};
    std::atomic<bool> stopRequested_{false};  // stopping_, for the idle look that takes no lock

public:
    std::atomic<bool> refusalsNoted_{false};  // a channel has refusals to log
};

namespace {

// The worker is made with the first channel and never destroyed by the runtime's static
// destructors, so a channel that goes during exit (a module in a host's global object) still
// finds it. At exit, or when the bundle unloads, every queued job runs first, before the objects
// the jobs use are destroyed (those made after this is registered never die: see the debris
// sweep and the learn map's pending maps).
std::mutex instanceMutex;
Worker* instance = nullptr;

void stopAtExit()
{
    const std::lock_guard lock(instanceMutex);
    if (!instance)
        return;
    instance->stopForExit();
    // No channel is left when the bundle unloads: the worker goes with it.
    if (instance->unused()) {
        delete instance;
        instance = nullptr;
    }
}

Worker& worker()
{
    const std::lock_guard lock(instanceMutex);
    if (!instance) {
        instance = new Worker;
        static const bool registered = std::atexit(stopAtExit) == 0;
        (void)registered;
    }
    return *instance;
}

// After the exit drain there is no thread: a channel made then runs its jobs inside submit.
bool inlineChannel() { return offline() || worker().exited(); }

} // namespace

Channel::Channel(std::size_t capacity)
    : inline_(inlineChannel()), capacity_(capacity), requests_(capacity + 1), results_(capacity), worker_(&worker())
{
    worker_->join(*this);
}

Channel::~Channel()
{
    worker_->leave(*this);
    // Results nobody will take are no longer owed.
    unfinishedJobs.fetch_sub(outstanding(), std::memory_order_release);
}

bool Channel::submit(Job& job) noexcept
{
    if (outstanding() >= capacity_)
        return false;
    ++submitted_;
    unfinishedJobs.fetch_add(1, std::memory_order_relaxed);
    if (inline_) {
        // Between the worker's requests, so a worker running for real-time channels never waits
        // for a place that an inline job took.
        job.place_ = inputPlace();
        job.run();
        results_.try_enqueue(&job);
        handedBack_.fetch_add(1, std::memory_order_release);
        return true;
    }
    queued_.fetch_add(1, std::memory_order_release);
    const uint64_t sequence = worker_->claim();
    job.place_ = requestPlace(sequence);
    requests_.try_enqueue(Request{&job, sequence, false});
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

void Channel::refused(const char* action) noexcept
{
    if (inline_) {
        platform::logLine("TAVRIN: %s refused: no room left for it", action);
        return;
    }
    const std::size_t written = refusalsWritten_.load(std::memory_order_relaxed);
    if (written - refusalsRead_.load(std::memory_order_acquire) >= kRefusals) {
        refusalsLost_.fetch_add(1, std::memory_order_relaxed);
        worker_->refusalsNoted_.store(true, std::memory_order_release);
        return;
    }
    refusals_[written % kRefusals] = action;
    refusalsWritten_.store(written + 1, std::memory_order_release);
    worker_->refusalsNoted_.store(true, std::memory_order_release);
}

void Channel::logRefusals() noexcept
{
    const std::size_t written = refusalsWritten_.load(std::memory_order_acquire);
    std::size_t read = refusalsRead_.load(std::memory_order_relaxed);
    for (; read != written; ++read)
        platform::logLine("TAVRIN: %s refused: no room left for it while the disk is slow", refusals_[read % kRefusals]);
    refusalsRead_.store(read, std::memory_order_release);
    if (const std::size_t lost = refusalsLost_.exchange(0, std::memory_order_relaxed))
        platform::logLine("TAVRIN: %zu more actions refused: no room left for them while the disk is slow", lost);
}

void Channel::drain()
{
    if (!inline_)
        worker_->finish(*this);
}

void Channel::runAndWait(Job& job)
{
    if (inline_) {
        job.run();
        return;
    }
    // The audio side is done with this channel, so this thread may produce into its queue.
    queued_.fetch_add(1, std::memory_order_release);
    requests_.enqueue(Request{&job, worker_->claim(), true});
    worker_->finish(*this);
}

uint64_t takePlace() noexcept { return inputPlace(); }

void hold() { worker().setHeld(true); }
void release() { worker().setHeld(false); }
void waitUntilIdle() { worker().waitUntilIdle(); }
std::chrono::nanoseconds workerCpuTime() { return worker().cpuTime(); }

} // namespace file_worker
