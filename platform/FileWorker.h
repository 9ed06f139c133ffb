// The bundle's one file worker: a thread that does the file work of every module (walks, reads,
// writes, renames, the Trash), so that the host's audio thread only asks and picks up.
//
// A module keeps one Channel (its room set aside when it is made) and its jobs (objects it owns).
// On the audio thread it submits a job the moment an input needs the disk, carrying what it read
// of the module's state then, and, at the start of a later `process`, takes the jobs that have run
// from finished() in the order it submitted them, and applies their results.
//
// One order. All channels push their jobs onto one lock-free stack whose head word holds both the
// last place given out and the last job pushed: a submit takes its place and publishes its job in
// one compare-and-swap, so a place is never claimed for the worker to wait on, and a job
// published later always has a greater place. takePlace() moves the same word on for an input
// that hands the worker nothing. The worker takes the whole stack at once, turns it round, and
// runs the jobs in the order of their places. Room is checked before the swap: a submit that
// takes a place cannot fail after it.
//
// Idle costs nothing. The audio thread never enters the kernel (no wake from submit), so the
// worker looks for work with a timed sleep: every half millisecond while work is recent, every
// 21 ms otherwise (under 50 looks a second); other threads that wait for it (drain, waitUntilIdle,
// a module that goes) wake it at once. Its sleep also waits on the descriptors of the Watches
// added (a folder watch), whose ready() runs on the worker thread between jobs.
//
// Offline (TAVRIN_OFFLINE=1 in the environment when the bundle is loaded) a job runs inside
// submit() and is finished at once: both modes share one code path and differ only in when the
// result is picked up, so offline renders stay exact, block for block.
//
// The thread starts with the first channel made in real-time mode (construction and `open` are
// not on the audio thread), at normal priority, with every signal blocked and free to run on any
// processor the process may use, and stops, after running every job still queued, when the last
// channel is gone, the bundle unloads or the process exits or quick-exits. The worker itself is
// never destroyed, so a channel that goes during exit (a module held in a host's global object)
// still finds it; it then runs its own jobs itself. A forked child starts its own thread the
// first time it needs one off the audio thread (a channel made, drained or gone, a wait for idle);
// the jobs queued when it forked run there too.
#pragma once

#include <readerwriterqueue/readerwriterqueue.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace file_worker {

inline constexpr const char* kThreadName = "tavrin-files";

// A piece of file work. A module keeps its jobs as members; run() does the work and leaves the
// result in the job, ready to be applied without allocating. Between submit() and finished()
// returning it, the job and whatever it was told to fill belong to the worker.
class Job {
public:
    // [worker thread; inside submit() offline] Must not throw.
    virtual void run() noexcept = 0;
    // Its place in the one order, given by submit (offline too; never 0); the worker runs jobs in
    // increasing order of place.
    uint64_t place() const noexcept { return place_; }

protected:
    ~Job() = default;

private:
    friend class Channel;
    friend class Worker;
    uint64_t place_ = 0;
};

// [any thread] The next place in the one order of every module's inputs, for an input that hands
// the worker nothing (a knob turn, a program change answered at once). A job submitted before
// this call has a smaller place, one submitted after it a greater one; two calls give two places.
// Never 0. Takes no lock, makes no system call.
uint64_t takePlace() noexcept;

// [any thread] True when jobs run inside submit(): TAVRIN_OFFLINE=1 when the bundle was loaded,
// or setOffline(true).
bool offline() noexcept;

class Worker;

class Channel {
public:
    static constexpr std::size_t kDefaultCapacity = 16;

    // [not the audio thread] Sets aside room for capacity outstanding jobs and starts the worker
    // thread unless it runs (not offline). The mode is fixed here for the channel's life. Throws
    // std::system_error, leaving nothing behind, when the thread cannot start (or a million
    // places of room are taken by channels alive).
    explicit Channel(std::size_t capacity = kDefaultCapacity);
    // [not the audio thread, after the last audio call] Waits until every job submitted has run
    // (a queued save is still written) and logs what was refused, then leaves; the last channel
    // stops the worker and joins it.
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // [audio thread] Hands job to the worker; offline, runs it now. false, with nothing done, when
    // capacity jobs are outstanding. Takes no lock, allocates nothing, makes no system call.
    bool submit(Job& job) noexcept;
    // [audio thread] The next job that has run, in submit order; nullptr when none has yet.
    Job* finished() noexcept;
    // [audio thread] Jobs submitted and not yet returned by finished().
    std::size_t outstanding() const noexcept { return submitted_ - taken_; }
    // [audio thread] Jobs that can still be submitted before submit() refuses.
    std::size_t room() const noexcept { return capacity_ - outstanding(); }
    bool runsInline() const noexcept { return inline_; }

    // [audio thread] An action the module could not keep because its room was full, named by a
    // static text ("save preset"): the worker logs it as refused, so nothing is lost in silence.
    // Takes no lock and allocates nothing; refusals beyond what the channel can note are counted
    // and logged as a number.
    void refused(const char* action) noexcept;

    // [not the audio thread, after the last audio call] Returns when every job submitted to this
    // channel has run (not waiting for other channels' later jobs). The results stay to be taken
    // from finished().
    void drain();
    // [not the audio thread] Runs job after this channel's queued jobs and waits for it; it is not
    // returned by finished(). For work at the end of a module's life.
    void runAndWait(Job& job);

private:
    friend class Worker;
    static constexpr std::size_t kRefusals = 16;

    // [worker] Logs the actions refused since it last looked.
    void logRefusals() noexcept;

    bool inline_;
    const std::size_t capacity_;
    // Where this channel's jobs wait in the one order: a node for each slot of room, the last for
    // runAndWait (real time only).
    std::vector<uint32_t> nodes_;
    moodycamel::ReaderWriterQueue<Job*> results_;  // worker -> audio thread
    std::size_t submitted_ = 0;  // audio thread's own counts
    std::size_t taken_ = 0;
    std::atomic<uint64_t> published_{0};      // jobs handed to the worker, runAndWait's included
    std::atomic<uint64_t> completed_{0};      // of those, run
    std::atomic<std::size_t> handedBack_{0};  // results pushed by the worker
    Worker* worker_;
    // Refused actions on their way to the log: the audio thread writes, the worker reads.
    std::array<const char*, kRefusals> refusals_{};
    std::atomic<std::size_t> refusalsWritten_{0};
    std::atomic<std::size_t> refusalsRead_{0};
    std::atomic<std::size_t> refusalsLost_{0};
};

// Worker-side code of a module woken by a file descriptor (a folder watch's inotify descriptor):
// the worker waits on fd() with its own sleep and calls ready() when fd() is readable.
class Watch {
public:
    // [any thread] The descriptor to wait on for reading; the same while the watch is added.
    virtual int fd() const noexcept = 0;
    // [worker thread, between two jobs, never during one] fd() is readable: read what it holds
    // (until it would block), or ready() is called again at once. It runs on the thread of every
    // Job::run(), so state kept on the worker side needs no lock. Must not throw, must not wait
    // for a job.
    virtual void ready() noexcept = 0;

protected:
    ~Watch() = default;
};

// [not the audio thread] From now on the worker calls watch.ready() whenever watch.fd() is
// readable, while its thread runs (a real-time channel exists; offline no thread runs and ready()
// is never called: poll in your jobs instead). Adding a watch that is added does nothing.
void addWatch(Watch& watch);
// [not the audio thread] Returns once watch.ready() is not running and will not be called again
// (so fd() may be closed then). May be called from inside a ready() (of any watch).
void removeWatch(Watch& watch);

// [any thread] Jobs submitted to any channel and not yet taken back by finished(): 0 once every
// result has been picked up. Tests run blocks until it is 0 (and the worker idle).
std::size_t unfinished() noexcept;

// For tests. hold() makes the worker wait before it starts its next job, until release(), so a
// test can see the states between a request and its result. [not the audio thread]
void hold();
void release();
// [not the audio thread] Returns when every job submitted so far, to any channel, has run.
void waitUntilIdle();
// [not the audio thread] For tests of any timing of the disk: before each job the worker sleeps
// a time drawn from seed, up to maxMicroseconds (0: never).
void slowDown(unsigned maxMicroseconds, uint32_t seed = 1);
// [not the audio thread] For tests: each real-time submit calls hook(context) once on its own
// thread, after it read the order's head and before it publishes (where a host may switch it out).
// nullptr: none.
void setSubmitHook(void (*hook)(void* context), void* context);
// [not the audio thread] For tests: channels made while true find the thread cannot start.
void failThreadStarts(bool fail);
// [not the audio thread] The processor time the worker thread has used (0 when none runs), for
// measuring what an idle patch costs.
std::chrono::nanoseconds workerCpuTime();
// [not the audio thread, while no channel exists in the other mode] Overrides TAVRIN_OFFLINE for
// channels made from now on.
void setOffline(bool inline_);

} // namespace file_worker
