// The file worker's thread, its channels and the one order it runs their jobs in.
#include "FileWorker.h"

#include "Log.h"

#include <dirent.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
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
std::atomic<void (*)(void*)> submitHook{nullptr};
std::atomic<void*> submitHookContext{nullptr};

// How long the worker sleeps between looks: briefly while work is recent (a request waits at
// most that, plus the timer slack), long once nothing has come for a while, so that an idle
// patch wakes the machine fewer than 50 times a second.
constexpr long kBusyLookNanoseconds = 500'000;
constexpr long kIdleLookNanoseconds = 21'000'000;
constexpr unsigned long kBusySlackNanoseconds = 50'000;
constexpr unsigned long kIdleSlackNanoseconds = 500'000;
constexpr std::chrono::milliseconds kRecent{250};

void sleepFor(long nanoseconds)
{
    timespec pause{0, nanoseconds};
    while (::clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, &pause) == EINTR) {
    }
}

// The order's head word: the last place given out (high bits) and the node of the last job
// pushed (low bits; kNone when the worker has taken every job). Every change is a
// read-modify-write that either raises the place or empties the stack, so a word never comes
// back and a swap cannot be fooled (no ABA).
constexpr unsigned kNodeBits = 20;
constexpr uint64_t kNone = (uint64_t{1} << kNodeBits) - 1;
constexpr uint64_t kPlaceOne = uint64_t{1} << kNodeBits;
constexpr uint64_t placeOf(uint64_t head) { return head >> kNodeBits; }
constexpr uint32_t nodeOf(uint64_t head) { return static_cast<uint32_t>(head & kNone); }
constexpr uint64_t headWord(uint64_t place, uint64_t node) { return place << kNodeBits | node; }

// The one order, shared by every worker the process ever makes; places start at 1.
std::atomic<uint64_t> orderHead{headWord(0, kNone)};

// A place of room in some channel, where a job waits in the stack. Filled by its channel before
// the push that publishes it; read by the worker after the swap that takes the stack.
struct Node {
    Channel* channel = nullptr;
    Job* job = nullptr;
    uint32_t next = kNone;
    bool waited = false;  // from runAndWait: not handed back
};

// The nodes of every channel alive, in chunks made off the audio thread and kept for good, so a
// node's address never moves while a job waits in it.
class Registry {
public:
    static constexpr std::size_t kChunk = 1024;
    static constexpr std::size_t kChunks = (kNone + kChunk - 1) / kChunk;

    Registry() = default;
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;
    // With the worker, when the bundle unloads with no channel left.
    ~Registry()
    {
        for (std::size_t chunk = 0; chunk < kChunks; ++chunk)
            delete[] chunks_[chunk].load(std::memory_order_relaxed);
    }

    Node& at(uint32_t index) const
    {
        return chunks_[index / kChunk].load(std::memory_order_acquire)[index % kChunk];
    }
    // [not the audio thread, under the worker's lock] count nodes for channel; throws when full.
    std::vector<uint32_t> take(Channel& channel, std::size_t count)
    {
        if (free_.size() + (kNone - fresh_) < count)
            throw std::system_error(std::make_error_code(std::errc::not_enough_memory), "file worker order");
        std::vector<uint32_t> taken;
        taken.reserve(count);
        while (taken.size() < count) {
            uint32_t index;
            if (!free_.empty()) {
                index = free_.back();
                free_.pop_back();
            } else {
                index = fresh_++;
                if (index % kChunk == 0)
                    chunks_[index / kChunk].store(new Node[kChunk], std::memory_order_release);
            }
            at(index) = Node{&channel};
            taken.push_back(index);
        }
        return taken;
    }
    void give(const std::vector<uint32_t>& nodes) { free_.insert(free_.end(), nodes.begin(), nodes.end()); }

private:
    std::unique_ptr<std::atomic<Node*>[]> chunks_{new std::atomic<Node*>[kChunks] {}};
    std::vector<uint32_t> free_;
    uint32_t fresh_ = 0;
};

// The processors any thread of the process may run on: the worker takes all of them, whatever
// the thread that made the first channel was pinned to.
bool processCpus(cpu_set_t& all)
{
    CPU_ZERO(&all);
    bool any = false;
    DIR* tasks = ::opendir("/proc/self/task");
    if (!tasks)
        return false;
    while (const dirent* task = ::readdir(tasks)) {
        cpu_set_t one;
        const int id = std::atoi(task->d_name);
        if (id > 0 && ::sched_getaffinity(id, sizeof one, &one) == 0) {
            CPU_OR(&all, &all, &one);
            any = true;
        }
    }
    ::closedir(tasks);
    return any;
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

void setSubmitHook(void (*hook)(void*), void* context)
{
    submitHookContext.store(context, std::memory_order_relaxed);
    submitHook.store(hook, std::memory_order_release);
}

class Worker {
public:
    Worker() { openKick(); }

    // [not the audio thread] Adds the channel, with its nodes, starting the thread for a
    // real-time one; throws std::system_error, with the channel not added, when it cannot.
    void join(Channel& channel)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !stopping_; });
        if (!channel.inline_) {
            channel.nodes_ = registry_.take(channel, channel.capacity_ + 1);
            try {
                if (!running_)
                    startThread();
            } catch (...) {
                registry_.give(channel.nodes_);
                throw;
            }
        }
        channels_.push_back(&channel);
    }

    // [not the audio thread] Waits for the channel's own jobs, logs its refusals, removes it, and
    // stops the thread after the last real-time channel.
    void leave(Channel& channel)
    {
        finish(channel);
        std::unique_lock lock(mutex_);
        channel.logRefusals();
        std::erase(channels_, &channel);
        registry_.give(channel.nodes_);
        // The thread stays while a channel still hands it work.
        if (std::any_of(channels_.begin(), channels_.end(), [](Channel* c) { return !c->inline_; }))
            return;
        stopThread(lock);
    }

    // [audio thread] Publishes job in node, at the next place. No lock, no system call.
    void publish(uint32_t index, Job& job, bool waited) noexcept
    {
        Node& node = registry_.at(index);
        node.job = &job;
        node.waited = waited;
        uint64_t head = orderHead.load(std::memory_order_acquire);
        if (void (*hook)(void*) = submitHook.load(std::memory_order_acquire))
            hook(submitHookContext.load(std::memory_order_relaxed));
        do {
            node.next = nodeOf(head);
            job.place_ = placeOf(head) + 1;
        } while (!orderHead.compare_exchange_weak(head, headWord(placeOf(head) + 1, index), std::memory_order_acq_rel,
                                                  std::memory_order_acquire));
    }

    // [any thread] The next place, without a job: the node pushed last stays on top.
    static uint64_t takePlace() noexcept { return placeOf(orderHead.fetch_add(kPlaceOne, std::memory_order_acq_rel)) + 1; }

    // [not the audio thread] Returns when every job published on channel has run. Without a
    // thread (after the exit drain) the caller runs what waits itself.
    void finish(Channel& channel)
    {
        std::unique_lock lock(mutex_);
        ensureThread(lock);
        if (!running_) {
            lock.unlock();
            runHere();
            return;
        }
        kick();
        changed_.wait(lock, [&] { return done(channel); });
    }

    void waitUntilIdle()
    {
        std::unique_lock lock(mutex_);
        ensureThread(lock);
        if (!running_) {
            lock.unlock();
            runHere();
            return;
        }
        kick();
        changed_.wait(lock, [&] { return nodeOf(orderHead.load(std::memory_order_acquire)) == kNone && pending_ == 0; });
    }

    void setHeld(bool held)
    {
        {
            const std::lock_guard lock(mutex_);
            held_ = held;
        }
        changed_.notify_all();
    }

    // [exit, quick exit or the bundle unloading] Runs every job still queued, then ends the
    // thread for good: channels made or left after this run their work themselves.
    void stopForExit()
    {
        {
            std::unique_lock lock(mutex_);
            exited_.store(true, std::memory_order_relaxed);
            changed_.wait(lock, [&] { return !stopping_; });
            stopThread(lock);
        }
        runHere();
    }
    bool exited() const { return exited_.load(std::memory_order_relaxed); }
    bool unused()
    {
        const std::lock_guard lock(mutex_);
        return channels_.empty();
    }

    void addWatch(Watch& watch);
    void removeWatch(Watch& watch);
    std::chrono::nanoseconds cpuTime();
    void refusalsNoted() noexcept { refusalsNoted_.store(true, std::memory_order_release); }

    // Fork: the child has no worker thread, and the locks may have been held by threads it does
    // not have. The parent holds them across fork, so the child finds every job either waiting
    // in the stack or in the taken batch, never half run.
    void beforeFork();
    void afterForkInParent();
    void afterForkInChild();

private:
    struct Taken {
        Channel* channel;
        Job* job;
        bool waited;
    };

    void openKick()
    {
        kick_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (kick_ < 0)
            throw std::system_error(errno, std::generic_category(), "file worker");
    }
    // [not the audio thread] Wakes the worker from its sleep now.
    void kick() const
    {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(kick_, &one, sizeof one);
    }

    // Called with mutex_ held. Normal priority, whatever the creator's policy (a host may create
    // modules on its real-time thread), on every processor of the process, and no signal is ever
    // delivered to it.
    void startThread();
    // Called with lock held on mutex_; unlocks it while the thread ends.
    void stopThread(std::unique_lock<std::mutex>& lock)
    {
        if (!running_ || stopping_)
            return;
        stopping_ = true;
        held_ = false;
        stop_.store(true, std::memory_order_release);
        changed_.notify_all();
        kick();
        const pthread_t thread = thread_;
        lock.unlock();
        ::pthread_join(thread, nullptr);
        lock.lock();
        running_ = false;
        stopping_ = false;
        changed_.notify_all();
    }
    // A forked child starts its own thread the first time it is asked for off the audio thread.
    // Called with lock held on mutex_.
    void ensureThread(std::unique_lock<std::mutex>&)
    {
        if (running_ || stopping_ || exited() || std::none_of(channels_.begin(), channels_.end(), [](Channel* c) { return !c->inline_; }))
            return;
        try {
            startThread();
        } catch (const std::system_error&) {
            // The caller runs the jobs itself.
        }
    }

    static void* start(void* self)
    {
        static_cast<Worker*>(self)->run();
        return nullptr;
    }
    void run();
    // Runs the next job taken, if any, unless held; false when none is waiting. Called with
    // jobMutex_ held.
    bool runNext(bool obeyHold);
    // Takes the stack, if anything was pushed, onto the end of the batch in the order of places.
    // Called with jobMutex_ held.
    void takeStack();
    void complete(const Taken& taken);
    // Runs every job waiting, on the calling thread (no worker thread runs).
    void runHere()
    {
        const std::lock_guard job(jobMutex_);
        while (runNext(false)) {
        }
    }
    // Sleeps until the next look (0: only looks), a kick or a watch's descriptor, and calls the
    // ready watches.
    void sleep(long nanoseconds);
    void callReady(std::size_t count);
    void logRefusals()
    {
        if (!refusalsNoted_.exchange(false, std::memory_order_acq_rel))
            return;
        const std::lock_guard lock(mutex_);
        for (Channel* channel : channels_)
            channel->logRefusals();
    }
    bool waitWhileHeld()
    {
        std::unique_lock lock(mutex_);
        if (!held_)
            return false;
        changed_.wait(lock, [&] { return !held_; });
        return true;
    }

    static bool done(Channel& channel)
    {
        return channel.completed_.load(std::memory_order_acquire) >= channel.published_.load(std::memory_order_acquire);
    }

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

    Registry registry_;  // the order's nodes and their channels: under mutex_

    std::mutex jobMutex_;  // held by whoever runs jobs or ready(), and across fork
    std::vector<Taken> batch_;  // taken from the stack, in order of place; under jobMutex_
    std::size_t nextTaken_ = 0;
    std::vector<pollfd> fds_;  // the worker's own: its kick, then the watches
    std::vector<Watch*> watching_;
    uint64_t watchingVersion_ = ~uint64_t{0};
    unsigned long slack_ = 0;  // the thread's timer slack

    std::mutex mutex_;  // what follows, but for the atomics
    std::condition_variable changed_;  // a job ran, a watch's ready() ended, the thread started or stopped, release()
    std::vector<Channel*> channels_;
    std::vector<Watch*> watches_;
    uint64_t watchesVersion_ = 0;
    Watch* calling_ = nullptr;  // the watch whose ready() runs
    std::size_t pending_ = 0;   // jobs taken and not yet run
    bool running_ = false;
    bool stopping_ = false;
    bool held_ = false;
    pthread_t thread_{};
    std::atomic<std::thread::id> workerId_{};
    std::atomic<bool> exited_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> refusalsNoted_{false};  // a channel has refusals to log
    int kick_ = -1;
    bool forkedFromWorker_ = false;
};

void Worker::startThread()
{
    if (exited() || failStarts.load(std::memory_order_relaxed))
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again), "file worker");
    pthread_attr_t attributes;
    ::pthread_attr_init(&attributes);
    ::pthread_attr_setinheritsched(&attributes, PTHREAD_EXPLICIT_SCHED);
    ::pthread_attr_setschedpolicy(&attributes, SCHED_OTHER);
    sched_param priority{};
    ::pthread_attr_setschedparam(&attributes, &priority);
    cpu_set_t cpus;
    if (processCpus(cpus))
        ::pthread_attr_setaffinity_np(&attributes, sizeof cpus, &cpus);
    sigset_t all, previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    stop_.store(false, std::memory_order_relaxed);
    const int error = ::pthread_create(&thread_, &attributes, &Worker::start, this);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::pthread_attr_destroy(&attributes);
    if (error != 0)
        throw std::system_error(error, std::generic_category(), "file worker");
    // The name a host's developer sees in a debugger or in top.
    ::pthread_setname_np(thread_, kThreadName);
    running_ = true;
}

void Worker::run()
{
    workerId_.store(std::this_thread::get_id(), std::memory_order_release);
    slack_ = 0;  // a new thread has its creator's
    // A new thread is soon given work: a module reads its files when it opens.
    auto lastWork = std::chrono::steady_clock::now();
    auto lastLook = lastWork;
    for (;;) {
        logRefusals();
        bool ran = false;
        {
            std::unique_lock job(jobMutex_);
            takeStack();
            ran = runNext(true);
            if (!ran && nextTaken_ < batch_.size()) {  // held
                job.unlock();
                waitWhileHeld();
                continue;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (ran) {
            lastWork = now;
            // A long run of jobs still lets the watches be heard.
            if (now - lastLook > kRecent / 250) {
                sleep(0);
                lastLook = now;
            }
            continue;
        }
        // Nothing waits: every job pushed before the stop was asked for has run.
        if (stop_.load(std::memory_order_acquire)) {
            const std::lock_guard job(jobMutex_);
            takeStack();
            if (nextTaken_ == batch_.size())
                break;
            continue;
        }
        sleep(now - lastWork < kRecent ? kBusyLookNanoseconds : kIdleLookNanoseconds);
        lastLook = std::chrono::steady_clock::now();
    }
    logRefusals();
    workerId_.store(std::thread::id{}, std::memory_order_release);
}

void Worker::takeStack()
{
    uint64_t head = orderHead.load(std::memory_order_acquire);
    if (nodeOf(head) == kNone)
        return;
    if (nextTaken_ == batch_.size()) {
        batch_.clear();
        nextTaken_ = 0;
    }
    const std::size_t first = batch_.size();
    // Taken and counted at once, for waitUntilIdle.
    const std::lock_guard lock(mutex_);
    while (!orderHead.compare_exchange_weak(head, headWord(placeOf(head), kNone), std::memory_order_acq_rel,
                                            std::memory_order_acquire)) {
    }
    for (uint32_t index = nodeOf(head); index != kNone;) {
        const Node& node = registry_.at(index);
        batch_.push_back(Taken{node.channel, node.job, node.waited});
        index = node.next;
    }
    pending_ += batch_.size() - first;
    // Pushed last is on top: the batch runs the other way round.
    std::reverse(batch_.begin() + static_cast<std::ptrdiff_t>(first), batch_.end());
}

bool Worker::runNext(bool obeyHold)
{
    if (nextTaken_ == batch_.size())
        return false;
    if (obeyHold) {
        const std::lock_guard lock(mutex_);
        if (held_)
            return false;
    }
    const Taken taken = batch_[nextTaken_++];
    slowDownForTests();
    taken.job->run();
    complete(taken);
    return true;
}

void Worker::complete(const Taken& taken)
{
    Channel& channel = *taken.channel;
    if (!taken.waited) {
        // Room is certain: no more than capacity jobs are outstanding.
        channel.results_.try_enqueue(taken.job);
        channel.handedBack_.fetch_add(1, std::memory_order_release);
    }
    {
        const std::lock_guard lock(mutex_);
        channel.completed_.fetch_add(1, std::memory_order_release);
        --pending_;
    }
    changed_.notify_all();
}

void Worker::sleep(long nanoseconds)
{
    const unsigned long slack = nanoseconds < kIdleLookNanoseconds ? kBusySlackNanoseconds : kIdleSlackNanoseconds;
    if (slack != slack_) {
        ::prctl(PR_SET_TIMERSLACK, slack);
        slack_ = slack;
    }
    {
        const std::lock_guard lock(mutex_);
        if (watchingVersion_ != watchesVersion_ || fds_.empty()) {
            watching_ = watches_;
            watchingVersion_ = watchesVersion_;
            fds_.assign(1, pollfd{kick_, POLLIN, 0});
            for (Watch* watch : watching_)
                fds_.push_back(pollfd{watch->fd(), POLLIN, 0});
        }
    }
    timespec pause{0, nanoseconds};
    const int ready = ::ppoll(fds_.data(), fds_.size(), &pause, nullptr);
    if (ready <= 0)
        return;
    if (fds_[0].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(kick_, &count, sizeof count);
    }
    callReady(fds_.size() - 1);
}

void Worker::callReady(std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        pollfd& fd = fds_[i + 1];
        if (fd.revents & POLLNVAL) {
            fd.fd = -1;  // closed without being removed: never again until the watches change
            continue;
        }
        if (!(fd.revents & (POLLIN | POLLERR | POLLHUP)))
            continue;
        Watch* watch = watching_[i];
        {
            const std::lock_guard lock(mutex_);
            if (watchingVersion_ != watchesVersion_)
                return;  // one was removed: it must not be called; the next sleep looks again
            calling_ = watch;
        }
        {
            const std::lock_guard job(jobMutex_);
            watch->ready();
        }
        {
            const std::lock_guard lock(mutex_);
            calling_ = nullptr;
        }
        changed_.notify_all();
    }
}

void Worker::addWatch(Watch& watch)
{
    {
        const std::lock_guard lock(mutex_);
        if (std::find(watches_.begin(), watches_.end(), &watch) != watches_.end())
            return;
        watches_.push_back(&watch);
        ++watchesVersion_;
    }
    kick();
}

void Worker::removeWatch(Watch& watch)
{
    std::unique_lock lock(mutex_);
    if (std::erase(watches_, &watch) == 0)
        return;
    ++watchesVersion_;
    kick();
    if (workerId_.load(std::memory_order_acquire) != std::this_thread::get_id())
        changed_.wait(lock, [&] { return calling_ != &watch; });
}

std::chrono::nanoseconds Worker::cpuTime()
{
    const std::lock_guard lock(mutex_);
    clockid_t clock{};
    timespec used{};
    if (!running_ || ::pthread_getcpuclockid(thread_, &clock) != 0 || ::clock_gettime(clock, &used) != 0)
        return std::chrono::nanoseconds{0};
    return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
}

void Worker::beforeFork()
{
    // A job that forks (it should not) must not wait for itself.
    forkedFromWorker_ = workerId_.load(std::memory_order_acquire) == std::this_thread::get_id();
    if (!forkedFromWorker_)
        jobMutex_.lock();
    mutex_.lock();
}

void Worker::afterForkInParent()
{
    mutex_.unlock();
    if (!forkedFromWorker_)
        jobMutex_.unlock();
}

void Worker::afterForkInChild()
{
    // The locks are held by the thread that forked, which the child is; the condition variable
    // may have had waiters the child does not have, so it starts afresh.
    mutex_.unlock();
    if (!forkedFromWorker_)
        jobMutex_.unlock();
    new (&changed_) std::condition_variable;
    running_ = false;
    stopping_ = false;
    calling_ = nullptr;
    workerId_.store(std::thread::id{}, std::memory_order_relaxed);
    // The parent's kick would wake the parent's worker.
    ::close(kick_);
    openKick();
    fds_.clear();
}

namespace {

// The worker is made with the first channel and never destroyed by the runtime's static
// destructors, so a channel that goes during exit (a module in a host's global object) still
// finds it. At exit, quick exit, or when the bundle unloads, every queued job runs first, before
// the objects the jobs use are destroyed (those made after this is registered never die: see the
// debris sweep and the learn map's pending maps).
// Found without a lock once made: a job or a watch that asks the worker something must not wait
// for a fork that waits for it.
std::mutex instanceMutex;
std::atomic<Worker*> instance{nullptr};

void stopAtExit()
{
    const std::lock_guard lock(instanceMutex);
    Worker* made = instance.load(std::memory_order_acquire);
    if (!made)
        return;
    made->stopForExit();
    // No channel is left when the bundle unloads: the worker goes with it.
    if (made->unused()) {
        instance.store(nullptr, std::memory_order_release);
        delete made;
    }
}

void beforeFork()
{
    instanceMutex.lock();
    if (Worker* made = instance.load(std::memory_order_acquire))
        made->beforeFork();
}

void afterForkInParent()
{
    if (Worker* made = instance.load(std::memory_order_acquire))
        made->afterForkInParent();
    instanceMutex.unlock();
}

void afterForkInChild()
{
    if (Worker* made = instance.load(std::memory_order_acquire))
        made->afterForkInChild();
    instanceMutex.unlock();
}

Worker& worker()
{
    if (Worker* made = instance.load(std::memory_order_acquire))
        return *made;
    const std::lock_guard lock(instanceMutex);
    if (!instance.load(std::memory_order_relaxed)) {
        instance.store(new Worker, std::memory_order_release);
        static const bool registered = std::atexit(stopAtExit) == 0 && ::at_quick_exit(stopAtExit) == 0 &&
                                       ::pthread_atfork(beforeFork, afterForkInParent, afterForkInChild) == 0;
        (void)registered;
    }
    return *instance.load(std::memory_order_relaxed);
}

// After the exit drain there is no thread: a channel made then runs its jobs inside submit.
bool inlineChannel() { return offline() || worker().exited(); }

} // namespace

Channel::Channel(std::size_t capacity)
    : inline_(inlineChannel()), capacity_(capacity), results_(capacity), worker_(&worker())
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
    // The room is checked before the place is taken: once taken, nothing can fail.
    if (outstanding() >= capacity_)
        return false;
    const uint32_t node = inline_ ? 0 : nodes_[submitted_ % capacity_];
    ++submitted_;
    unfinishedJobs.fetch_add(1, std::memory_order_relaxed);
    if (inline_) {
        job.place_ = worker_->takePlace();
        job.run();
        results_.try_enqueue(&job);
        handedBack_.fetch_add(1, std::memory_order_release);
        return true;
    }
    worker_->publish(node, job, false);
    published_.fetch_add(1, std::memory_order_release);
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
        refusalsLost_.fetch_add(1, std::memory_order_release);
    } else {
        refusals_[written % kRefusals] = action;
        refusalsWritten_.store(written + 1, std::memory_order_release);
    }
    worker_->refusalsNoted();
}

void Channel::logRefusals() noexcept
{
    const std::size_t written = refusalsWritten_.load(std::memory_order_acquire);
    std::size_t read = refusalsRead_.load(std::memory_order_relaxed);
    for (; read != written; ++read)
        platform::logLine("TAVRIN: %s refused: no room left for it while the disk is slow", refusals_[read % kRefusals]);
    refusalsRead_.store(read, std::memory_order_release);
    if (const std::size_t lost = refusalsLost_.exchange(0, std::memory_order_acq_rel))
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
        job.place_ = worker_->takePlace();
        job.run();
        return;
    }
    // The audio side is done with this channel; its last node is this call's own.
    worker_->publish(nodes_.back(), job, true);
    published_.fetch_add(1, std::memory_order_release);
    worker_->finish(*this);
}

uint64_t takePlace() noexcept { return Worker::takePlace(); }

void addWatch(Watch& watch) { worker().addWatch(watch); }
void removeWatch(Watch& watch) { worker().removeWatch(watch); }
void hold() { worker().setHeld(true); }
void release() { worker().setHeld(false); }
void waitUntilIdle() { worker().waitUntilIdle(); }
std::chrono::nanoseconds workerCpuTime() { return worker().cpuTime(); }

} // namespace file_worker
