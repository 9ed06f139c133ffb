// Cost of the MIDI learn map per event: 32 controllers in every 32-sample block, half from the
// hardware (each looked up over the 128 entries, one in four mapped to two synth controllers)
// and half from the synth, with the buttons idle. The map is loaded from a "Controllers.txt" in
// a temporary folder at graph start. Reported per event and as a share of the block's real-time
// budget at 48 kHz, with heap allocations inside process (must be 0).
//
// And the learn path: every block learns a pair and clears the map again, so each block stores
// the map twice. Storing hands a copy to the module's writer thread; the allocation counter
// counts every thread, so this case runs without a file (PathMac empty): the writer wakes for
// every copy but has nothing to write, and 0 allocations per block show that the audio thread's
// side of storing allocates nothing.
#include "AllocationCounter.h"
#include "BlockBudget.h"
#include "RoutingBench.h"
#include "support/TemporaryFolder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>
#include <stdlib.h>

namespace {

constexpr int kBlock = 32;
constexpr float kSampleRate = 48000.0f;
enum Pin { kExternalIn, kInternalIn, kLearn, kReset, kLed, kId, kAutoPath, kPathPc, kPathMac };

void BM_MidiLearn_Translation(benchmark::State& state)
{
    namespace fs = std::filesystem;
    const test_support::TemporaryFolder folder("tavrin-learn-bench");
    const fs::path& root = folder.path();
    fs::create_directories(root / "Quorvane" / "B");
    {
        std::ofstream file(root / "Quorvane" / "B" / "Controllers.txt", std::ios::binary);
        char line[16];
        for (int i = 0; i < 128; ++i) {
            std::snprintf(line, sizeof line, "%3d,%3d\r\n", i, i % 4 == 0 ? 20 + i % 32 : 0);
            file << line;
        }
    }

    bench::BenchHost host(kBlock, kSampleRate);
    {
        routing_bench::Module learn(host, L"QV_MidiLearnModule", kBlock, 5);
        routing_bench::Events setup;
        setup.textValue(0, kId, L"B");
        setup.textValue(0, kPathMac, (root.wstring() + L"/"));
        setup.graphStart(0);
        learn.process(kBlock, setup.link());

        routing_bench::Events stream;
        for (int t = 0; t < kBlock; ++t)
            stream.midi(t, t % 2 == 0 ? kExternalIn : kInternalIn, 0xB0, static_cast<uint8_t>(t % 2 == 0 ? 20 + t : 4 * t), 64);
        routing_bench::timeStream(state, host, learn, stream.link(), kBlock, kSampleRate);
    }
}

void BM_MidiLearn_LearnCycle(benchmark::State& state)
{
    std::vector<float> learnButton(kBlock, 0.0f), resetButton(kBlock, 0.0f), led(kBlock, 0.0f);

    bench::BenchHost host(kBlock, kSampleRate);
    mpapi::IMpPlugin* learn = bench::openProcessingHalf(host, L"QV_MidiLearnModule");
    learn->setBuffer(kLearn, learnButton.data());
    learn->setBuffer(kReset, resetButton.data());
    learn->setBuffer(kLed, led.data());
    {
        routing_bench::Events setup;
        setup.textValue(0, kId, L"B");
        setup.textValue(0, kPathMac, L"");
        setup.graphStart(0);
        learn->process(kBlock, setup.link());

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
        bench::BlockBudget budget(kBlock / static_cast<double>(kSampleRate));
        for (auto _ : state) {
            {
                bench::CountAllocations counting;
                learn->process(kBlock, events);
            }
            cycled = cycled && led[5] == 1.0f && led[6] == 0.0f;
        }
        budget.report(state);
        if (!cycled)
            state.SkipWithError("the learn cycle did not run");
        state.SetItemsProcessed(state.iterations() * 2);  // items: maps stored
        allocations.report(state);
    }
    learn->release();
}

} // namespace

BENCHMARK(BM_MidiLearn_Translation);
BENCHMARK(BM_MidiLearn_LearnCycle);
