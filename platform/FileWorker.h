// The bundle's one file worker: a thread that does the file work of every module (walks, reads,
// writes, renames, the Trash), so that the host's audio thread only asks and picks up.
//
// A module keeps one Channel (a pair of wait-free queues whose memory is set aside when it is
// made) and its jobs (objects it owns, set aside beforehand). On the audio thread it submits a
// job and, at the start of a later `process`, takes the jobs that have run from finished() in the
// order it submitted them, and applies their results. The worker runs the jobs of all channels in
// the order they were submitted, so a write by one module and a read of the same file by another
// meet in that order too.
//
// Offline (TAVRIN_OFFLINE=1 in the environment when the bundle is loaded) a job runs inside
// submit() and is finished at once: both modes share one code path and differ only in when the
// result is picked up, so offline renders stay exact, block for block.
//
// The thread starts with the first channel made in real-time mode (construction and `open` are
// not on the audio thread) and stops, after running every job still queued, when the last
// channel is gone or the bundle unloads.
#pragma once

#include <readerwriterqueue/readerwriterqueue.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace file_worker {

inline constexpr const char* kThreadName = "tavrin-files";

// A piece of file work. A module keeps its jobs as members; run() does the work and leaves the
// result in the job, ready to be applied without allocating. Between submit() and finished()
// returning it, the job and whatever it was told to fill belong to the worker.
class Job {
public:
    // [worker thread; inside submit() offline] Must not throw.
    virtual void run() noexcept = 0;

protected:
    ~Job() = default;
};

// [any thread] True when jobs run inside submit(): TAVRIN_OFFLINE=1 when the bundle was loaded,
// or setOffline(true).
bool offline() noexcept;

class Channel {
public:
    static constexpr std::size_t kDefaultCapacity = 16;

    // [not the audio thread] Sets aside room for capacity outstanding jobs and starts the worker
    // thread unless it runs (not offline). The mode is fixed here for the channel's life.
    explicit Channel(std::size_t capacity = kDefaultCapacity);
    // [not the audio thread, after the last audio call] Waits until every job submitted has run
    // (a queued save is still written), then leaves; the last channel stops the worker and joins it.
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // [audio thread] Hands job to the worker; offline, runs it now. false, with nothing done, when
    // capacity jobs are outstanding. Takes no lock and allocates nothing; wakes the worker with
    // one semaphore post.
    bool submit(Job& job) noexcept;
    // [audio thread] The next job that has run, in submit order; nullptr when none has yet.
    Job* finished() noexcept;
    // [audio thread] Jobs submitted and not yet returned by finished().
    std::size_t outstanding() const noexcept { return submitted_ - taken_; }
    bool runsInline() const noexcept { return inline_; }

    // [not the audio thread] Runs job after this channel's queued jobs and waits for it; it is not
    // returned by finished(). For work at the end of a module's life.
    void runAndWait(Job& job);

private:
    friend class Worker;
    struct Request {
        Job* job = nullptr;
        uint64_t sequence = 0;  // global submit order
        bool waited = false;    // from runAndWait: not handed back
    };

    const bool inline_;
    const std::size_t capacity_;
    moodycamel::ReaderWriterQueue<Request> requests_;  // audio thread -> worker
    moodycamel::ReaderWriterQueue<Job*> results_;      // worker -> audio thread
    std::size_t submitted_ = 0;  // audio thread's own counts
    std::size_t taken_ = 0;
    std::atomic<uint64_t> queued_{0};     // requests pushed, runAndWait's included
    std::atomic<std::size_t> handedBack_{0};  // results pushed by the worker
    uint64_t completed_ = 0;              // requests run; guarded by the worker's mutex
};

// For tests. hold() makes the worker wait before it starts its next job, until release(), so a
// test can see the states between a request and its result. [not the audio thread]
void hold();
void release();
// [not the audio thread] Returns when every job submitted so far, to any channel, has run.
void waitUntilIdle();
// [not the audio thread, while no channel exists in the other mode] Overrides TAVRIN_OFFLINE for
// channels made from now on.
void setOffline(bool inline_);

} // namespace file_worker
