// The file worker as a real-time host meets it: what a submit costs the audio thread (worst call,
// with a call that submits nothing as the control), how long a request waits before the polling
// worker starts it, and what the polling costs while nothing is asked.
#include "CallTimes.h"
#include "FileWorker.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

class StampJob final : public file_worker::Job {
public:
    void run() noexcept override { started.store(Clock::now().time_since_epoch().count(), std::memory_order_release); }
    std::atomic<Clock::rep> started{0};
};

struct RealTime {
    RealTime() { file_worker::setOffline(false); }
    ~RealTime() { file_worker::setOffline(wasOffline); }
    const bool wasOffline = file_worker::offline();
};

// Submit and pick up, one job at a time, spaced as a host's blocks are (about 1.3 ms), so the
// worker is asleep at each submit. The control times the same call with nothing to submit.
void BM_FileWorkerSubmitAndPickUp(benchmark::State& state)
{
    RealTime realTime;
    file_worker::Channel channel(4);
    StampJob job;
    bench::CallTimes submits(4096), controls(4096), waits(4096);
    std::mt19937 random(7);
    for (auto _ : state) {
        job.started.store(0);
        const Clock::time_point asked = Clock::now();
        submits.time([&] { benchmark::DoNotOptimize(channel.submit(job)); });
        controls.time([&] { benchmark::DoNotOptimize(channel.finished()); });
        while (job.started.load(std::memory_order_acquire) == 0)
            std::this_thread::yield();
        waits.add(Clock::duration(job.started.load()) - asked.time_since_epoch());
        while (!channel.finished())
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + random() % 600));
    }
    submits.report(state, "submit_");
    controls.report(state, "control_");
    waits.report(state, "pickup_");
}
BENCHMARK(BM_FileWorkerSubmitAndPickUp)->Iterations(1500)->UseRealTime()->Unit(benchmark::kMillisecond);

// The worker's processor time while a channel exists and nothing is asked, as a share of one core.
void BM_FileWorkerIdlePolling(benchmark::State& state)
{
    RealTime realTime;
    file_worker::Channel channel(1);
    for (auto _ : state) {
        const auto before = file_worker::workerCpuTime();
        const Clock::time_point start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const auto used = file_worker::workerCpuTime() - before;
        state.counters["cpu_percent_of_a_core"] = 100.0 * std::chrono::duration<double>(used).count() /
                                                  std::chrono::duration<double>(Clock::now() - start).count();
    }
}
BENCHMARK(BM_FileWorkerIdlePolling)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
