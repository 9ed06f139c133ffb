// Cost of the MIDI learn map per event: 32 controllers in every 32-sample block, half from the
// hardware (each looked up over the 128 entries, one in four mapped to two synth controllers)
// and half from the synth, with the buttons idle. The map is loaded from a "Controllers.txt" in
// a temporary folder at graph start. Reported per event and as a share of the block's real-time
// budget at 48 kHz, with heap allocations inside process (must be 0).
#include "AllocationCounter.h"
#include "BlockBudget.h"
#include "RoutingBench.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdlib.h>

namespace {

constexpr int kBlock = 32;
constexpr float kSampleRate = 48000.0f;
enum Pin { kExternalIn, kInternalIn, kLearn, kReset, kLed, kId, kAutoPath, kPathPc, kPathMac };

void BM_MidiLearn_Translation(benchmark::State& state)
{
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "tavrin-learn-bench-XXXXXX").string();
    const fs::path root = ::mkdtemp(pattern.data());
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
        routingbench::Module learn(host, L"QV_MidiLearnModule", kBlock, 5);
        routingbench::Events setup;
        setup.textValue(0, kId, L"B");
        setup.textValue(0, kPathMac, (root.wstring() + L"/"));
        setup.graphStart(0);
        learn.process(kBlock, setup.link());

        routingbench::Events stream;
        for (int t = 0; t < kBlock; ++t)
            stream.midi(t, t % 2 == 0 ? kExternalIn : kInternalIn, 0xB0, static_cast<uint8_t>(t % 2 == 0 ? 20 + t : 4 * t), 64);
        mpapi::MpEvent* events = stream.link();
        const std::int64_t allocationsBefore = bench::allocationCount();
        host.pinValues = 0;
        bench::BlockBudget budget(kBlock / static_cast<double>(kSampleRate));
        for (auto _ : state) {
            bench::CountAllocations counting;
            learn.process(kBlock, events);
        }
        budget.report(state);
        state.SetItemsProcessed(state.iterations() * kBlock);  // items: input events
        state.counters["allocs_per_block"] = benchmark::Counter(
            static_cast<double>(bench::allocationCount() - allocationsBefore), benchmark::Counter::kAvgIterations);
        state.counters["sent_per_block"] =
            benchmark::Counter(static_cast<double>(host.pinValues), benchmark::Counter::kAvgIterations);
    }
    fs::remove_all(root);
}

} // namespace

BENCHMARK(BM_MidiLearn_Translation);
