// Cost of the MIDI learn map per event: 32 controllers in every 32-sample block, half from the
// hardware (each looked up over the 128 entries, one in four mapped to two synth controllers)
// and half from the synth, with the buttons idle. The map is loaded from a "Controllers.txt" in
// a temporary folder at graph start. Reported per event and as a share of the block's real-time
// budget at 48 kHz, with heap allocations inside process (must be 0).
//
// And the file work in real time, as the audio thread sees it, headlined by the worst single call
// and the 99.9th percentile (a host misses its deadline on one call, not on the mean): a graph
// start (it asks the file worker for the map) with 600 hardware controllers that come while the
// map is read, the block that picks the map up and plays all 600 (in order, from their own
// offsets on), and, as the control, a block of 32 controllers translated with nothing owed (no
// file work at all); and a block that learns a pair and clears the map again (its edits handed to
// the worker). The worker is held back while the audio thread's call runs and does its work
// between calls, so the allocation counter (which counts every thread) sees the audio thread's
// calls alone: 0 allocations per call.
#include "AllocationCounter.h"
#include "BlockBudget.h"
#include "CallTimes.h"
#include "FileWorker.h"
#include "RoutingBench.h"
#include "support/TemporaryFolder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>
#include <stdlib.h>

namespace {

constexpr int kBlock = 32;
constexpr float kSampleRate = 48000.0f;
enum Pin { kExternalIn, kInternalIn, kLearn, kReset, kLed, kId, kAutoPath, kPathPc, kPathMac };

// A map "Controllers.txt" in folder/Quorvane/B: every fourth internal controller is mapped.
void writeMapFile(const std::filesystem::path& root)
{
    namespace fs = std::filesystem;
    fs::create_directories(root / "Quorvane" / "B");
    std::ofstream file(root / "Quorvane" / "B" / "Controllers.txt", std::ios::binary);
    char line[16];
    for (int i = 0; i < 128; ++i) {
        std::snprintf(line, sizeof line, "%3d,%3d\r\n", i, i % 4 == 0 ? 20 + i % 32 : 0);
        file << line;
    }
}

// Real-time mode for the modules made while it lives; the worker let go at the end.
struct RealTime {
    RealTime() { file_worker::setOffline(false); }
    ~RealTime() { file_worker::release(); }
};

void BM_MidiLearn_Translation(benchmark::State& state)
{
    const test_support::TemporaryFolder folder("tavrin-learn-bench");
    const std::filesystem::path& root = folder.path();
    writeMapFile(root);

    bench::BenchHost host(kBlock, kSampleRate);
    {
        routing_bench::Module learn(host, L"QV_MidiLearnModule", kBlock, 5);
        routing_bench::Events setup;
        setup.textValue(0, kId, L"B");
        setup.textValue(0, kPathMac, (root.wstring() + L"/"));
        setup.graphStart(0);
        learn.process(kBlock, setup.link());
        file_worker::waitUntilIdle();  // the map is read; the next block picks it up

        routing_bench::Events stream;
        for (int t = 0; t < kBlock; ++t)
            stream.midi(t, t % 2 == 0 ? kExternalIn : kInternalIn, 0xB0, static_cast<uint8_t>(t % 2 == 0 ? 20 + t : 4 * t), 64);
        routing_bench::timeStream(state, host, learn, stream.link(), kBlock, kSampleRate);
    }
}

void BM_MidiLearn_HeldReplayRealTime(benchmark::State& state)
{
    const RealTime realTime;
    const test_support::TemporaryFolder folder("tavrin-learn-bench");
    writeMapFile(folder.path());
    bench::BenchHost host(kBlock, kSampleRate);
    {
        routing_bench::Module learn(host, L"QV_MidiLearnModule", kBlock, 5);
        routing_bench::Events setup;
        setup.textValue(0, kId, L"B");
        setup.textValue(0, kPathMac, (folder.path().wstring() + L"/"));
        learn.process(kBlock, setup.link());

        // The graph start, and 600 controllers from the hardware in the same block, each mapped
        // to four synth controllers or none, at every offset of the block.
        routing_bench::Events start;
        start.graphStart(0);
        for (int i = 0; i < 600; ++i)
            start.midi(i * kBlock / 600, kExternalIn, 0xB0, static_cast<uint8_t>(20 + i % 32), 64);
        mpapi::MpEvent* startEvents = start.link();
        // The control: 32 controllers translated at once, nothing owed.
        routing_bench::Events stream;
        for (int t = 0; t < kBlock; ++t)
            stream.midi(t, t % 2 == 0 ? kExternalIn : kInternalIn, 0xB0, static_cast<uint8_t>(t % 2 == 0 ? 20 + t : 4 * t), 64);
        mpapi::MpEvent* streamEvents = stream.link();

        const auto iterations = static_cast<std::size_t>(state.max_iterations);
        bench::CallTimes graphStart(iterations), replay(iterations), idle(iterations * 8);
        const bench::AllocationsPerIteration allocations;
        host.pinValues = 0;
        for (auto _ : state) {
            file_worker::hold();
            {
                const bench::CountAllocations counting;
                graphStart.time([&] { learn.process(kBlock, startEvents); });
            }
            file_worker::release();
            file_worker::waitUntilIdle();
            file_worker::hold();
            {
                const bench::CountAllocations counting;
                replay.time([&] { learn.process(kBlock, nullptr); });
                for (int b = 0; b < 8; ++b)
                    idle.time([&] { learn.process(kBlock, streamEvents); });
            }
            file_worker::release();
        }
        replay.report(state, "");
        replay.report(state, "replay_");
        graphStart.report(state, "graph_start_");
        idle.report(state, "no_file_work_");
        allocations.report(state, "allocs_per_iteration");
        state.counters["sent_per_iteration"] = benchmark::Counter(static_cast<double>(host.pinValues), benchmark::Counter::kAvgIterations);
    }
}

void BM_MidiLearn_LearnCycleRealTime(benchmark::State& state)
{
    const RealTime realTime;
    const test_support::TemporaryFolder folder("tavrin-learn-bench");
    writeMapFile(folder.path());
    std::vector<float> learnButton(kBlock, 0.0f), resetButton(kBlock, 0.0f), led(kBlock, 0.0f);

    bench::BenchHost host(kBlock, kSampleRate);
    mpapi::IMpPlugin* learn = bench::openProcessingHalf(host, L"QV_MidiLearnModule");
    learn->setBuffer(kLearn, learnButton.data());
    learn->setBuffer(kReset, resetButton.data());
    learn->setBuffer(kLed, led.data());
    {
        routing_bench::Events setup;
        setup.textValue(0, kId, L"B");
        setup.textValue(0, kPathMac, (folder.path().wstring() + L"/"));
        setup.graphStart(0);
        learn->process(kBlock, setup.link());
        file_worker::waitUntilIdle();

        // The buttons: learn rises at sample 1, reset at sample 20 (the map is idle again by then).
        learnButton[1] = learnButton[2] = 1.0f;
        resetButton[20] = 1.0f;
        // The pair: synth controller 7 at sample 5, hardware controller 20 at sample 6.
        routing_bench::Events pair;
        pair.midi(5, kInternalIn, 0xB0, 7, 1);
        pair.midi(6, kExternalIn, 0xB0, 20, 1);
        mpapi::MpEvent* events = pair.link();
        const bench::AllocationsPerIteration allocations;
        bool cycled = true;
        bench::CallTimes block(static_cast<std::size_t>(state.max_iterations));
        for (auto _ : state) {
            file_worker::hold();
            {
                const bench::CountAllocations counting;
                block.time([&] { learn->process(kBlock, events); });
            }
            cycled = cycled && led[5] == 1.0f && led[6] == 0.0f;
            file_worker::release();
            file_worker::waitUntilIdle();  // the two stores written before the next block
        }
        block.report(state, "learn_block_");
        if (!cycled)
            state.SkipWithError("the learn cycle did not run");
        state.SetItemsProcessed(state.iterations() * 2);  // items: maps stored
        allocations.report(state);
    }
    learn->release();
}

} // namespace

BENCHMARK(BM_MidiLearn_Translation);
BENCHMARK(BM_MidiLearn_HeldReplayRealTime)->Iterations(2000);
BENCHMARK(BM_MidiLearn_LearnCycleRealTime)->Iterations(500);
