// The file worker as a real-time host meets it: what a submit costs the audio thread (worst call,
// with a call that submits nothing as the control), how long a request waits before the worker
// starts it while work is recent, and what an idle patch costs: a category manager showing a
// list, or a list manager with a learn map, built through the stand-in host, after 3 s without a
// request, with its audio running or stopped: the worker's share of a core and its wake-ups a
// second (its context switches), and how long the first request after that waits. Goals: at most
// 0.3% of a core, 50 wake-ups a second, and 25 ms.
#include "CallTimes.h"
#include "FileWorker.h"
#include "Host.h"
#include "MpFactory.h"
#include "Values.h"
#include "support/TemporaryFolder.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
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
// worker is asleep at each submit, between its looks of work recently done (goal: under 1 ms). The control times the same call with nothing to submit.
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


namespace fs = std::filesystem;

// The worker thread's id in this process (0: none runs).
pid_t workerThread()
{
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name == file_worker::kThreadName)
            return static_cast<pid_t>(std::stoi(task.path().filename()));
    }
    return 0;
}

// Times the thread was switched out, voluntarily (its sleeps) or not: each is a wake-up.
long contextSwitches(pid_t thread)
{
    std::ifstream status("/proc/self/task/" + std::to_string(thread) + "/status");
    long total = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
            total += std::stol(line.substr(line.find(':') + 1));
    }
    return total;
}

std::string presetText(float value)
{
    std::string text = ",                   Sound;\r\n";
    char line[32];
    for (int k = 0; k < 256; ++k) {
        std::snprintf(line, sizeof line, ",%11.7f;\r\n", static_cast<double>(value));
        text += line;
    }
    return text;
}

mpapi::IMpFactory* factory()
{
    void* made = nullptr;
    MP_GetFactory(&made);
    return static_cast<mpapi::IMpFactory*>(made);
}

enum class Patch { CategoryList, ListWithLearnMap };

// A patch on a host of its own in a folder of its own, started and settled.
class IdlePatch {
public:
    explicit IdlePatch(Patch patch)
    {
        ::setenv("TAVRIN_SHARED_FOLDER", folder_.path().c_str(), 1);
        ::setenv("XDG_DATA_HOME", (folder_.path() / "xdg").c_str(), 1);
        tav_host::HostConfig config;
        config.blockLength = 64;
        config.fileFolder = folder_.path() / "host";
        host_.emplace(factory(), config);
        if (patch == Patch::CategoryList) {
            const fs::path root = folder_.path() / "Quorvane" / "TAVRIN TWO" / "Presetbase";
            fs::create_directories(root / "Pads");
            for (int i = 0; i < 16; ++i)
                std::ofstream(root / "Pads" / ("Pad " + std::to_string(i) + ".tavpreset"), std::ios::binary)
                    << presetText(0.01f * static_cast<float>(i));
            const std::size_t manager = add("QV_PatchManagerPrescat");
            host_->start();
            host_->runBlock(64);
            host_->postToDsp(manager, 134, {});  // the interface half started: the list is shown
        } else {
            add("QV_PatchManagerListpipe");
            const std::size_t learn = add("QV_MidiLearnModule");
            const fs::path maps = folder_.path() / "maps";
            fs::create_directories(maps / "Quorvane" / "ONE");
            std::ofstream(maps / "Quorvane" / "ONE" / "Controllers.txt", std::ios::binary) << "  1, 20\r\n";
            host_->setInitialValue(learn, tav_host::Side::Dsp, 5, tav_host::textValue("ONE"));
            host_->setInitialValue(learn, tav_host::Side::Dsp, 6, tav_host::boolValue(false));
            host_->setInitialValue(learn, tav_host::Side::Dsp, 8, tav_host::textValue(maps.string() + "/"));
            host_->start();
            host_->runBlock(64);
        }
        settle();
    }
    ~IdlePatch()
    {
        host_->shutdown();
        ::unsetenv("TAVRIN_SHARED_FOLDER");
        ::unsetenv("XDG_DATA_HOME");
    }

    tav_host::Host& host() { return *host_; }
    void settle()
    {
        for (int blocks = 0; blocks < 100000; ++blocks) {
            file_worker::waitUntilIdle();
            if (file_worker::unfinished() == 0)
                break;
            host_->runBlock(64);
        }
    }

private:
    std::size_t add(const char* identifier) { return host_->addInstance(identifier).instance.value_or(0); }

    test_support::TemporaryFolder folder_{"tavrin-bench-idle"};
    std::optional<tav_host::Host> host_;
};

// Blocks of 64 samples at 48 kHz, in time, on a thread of their own, while it lives.
class AudioRunning {
public:
    AudioRunning(tav_host::Host& host, bool running)
    {
        if (!running)
            return;
        thread_ = std::thread([this, &host] {
            auto next = Clock::now();
            while (!stop_.load(std::memory_order_relaxed)) {
                host.runBlock(64);
                next += std::chrono::microseconds(1333);
                std::this_thread::sleep_until(next);
            }
        });
    }
    ~AudioRunning()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void BM_FileWorkerIdlePatch(benchmark::State& state)
{
    RealTime realTime;
    const Patch patch = static_cast<Patch>(state.range(0));
    IdlePatch idle(patch);
    file_worker::Channel probe(1);  // made now, so that asking later wakes nothing else
    StampJob job;
    const pid_t worker = workerThread();
    for (auto _ : state) {
        {
            AudioRunning audio(idle.host(), state.range(1) != 0);
            std::this_thread::sleep_for(std::chrono::seconds(3));
            const auto cpuBefore = file_worker::workerCpuTime();
            const long switchesBefore = contextSwitches(worker);
            const Clock::time_point start = Clock::now();
            std::this_thread::sleep_for(std::chrono::seconds(2));
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            state.counters["cpu_percent_of_a_core"] =
                100.0 * std::chrono::duration<double>(file_worker::workerCpuTime() - cpuBefore).count() / seconds;
            state.counters["wakeups_per_second"] = static_cast<double>(contextSwitches(worker) - switchesBefore) / seconds;
            // The first request after the idle time.
            job.started.store(0);
            const Clock::time_point asked = Clock::now();
            probe.submit(job);
            while (job.started.load(std::memory_order_acquire) == 0)
                std::this_thread::yield();
            state.counters["first_pickup_ms"] =
                std::chrono::duration<double, std::milli>(Clock::duration(job.started.load()) - asked.time_since_epoch()).count();
            while (!probe.finished())
                std::this_thread::yield();
        }
        idle.settle();
    }
    state.SetLabel(std::string(patch == Patch::CategoryList ? "category manager showing a list" : "list manager and learn map") +
                   (state.range(1) ? ", audio running" : ", audio stopped"));
}
BENCHMARK(BM_FileWorkerIdlePatch)
    ->ArgsProduct({{static_cast<int>(Patch::CategoryList), static_cast<int>(Patch::ListWithLearnMap)}, {0, 1}})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
