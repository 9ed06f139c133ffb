// Cost of a preset select in the list-pipe manager: a program change copies one of 128 presets
// into the shared preset block and sends the 114-message controller dump and a program change.
// Reported per 64-sample block at 48 kHz, as a fraction of the block's real-time budget, with
// the MIDI messages and heap allocations per block (must be 0). The dump computation alone is
// measured in ControllerDumpBench.cpp.
//
// The manager is created through the factory and driven by a minimal host of this file, so the
// measurement holds the module's own work and no recording of host calls.
#include "AllocationCounter.h"
#include "BenchHost.h"
#include "BlockBudget.h"
#include "PresetStore/ListManagerMessages.h"
#include "mpapi.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr float kSampleRate = 48000.0f;
constexpr int kBlock = 64;
constexpr double kBlockBudgetSeconds = double(kBlock) / kSampleRate;

mpapi::MpEvent midi(unsigned char status, unsigned char data)
{
    mpapi::MpEvent e{};
    e.eventType = mpapi::MP_EVENT_MIDI;
    e.parm1 = 0;  // MIDI input
    e.parm2 = 3;
    const unsigned char bytes[4] = {status, data, 0, 0};
    std::memcpy(&e.parm3, bytes, 4);
    return e;
}

// One manager, opened, past graph start, its interface half's start message received and the
// factory bank loaded one second later.
struct Manager {
    bench::BenchHost host{kBlock, kSampleRate};
    std::vector<float> buffer = std::vector<float>(kBlock);  // before plugin: it is given this buffer
    mpapi::IMpPlugin* plugin;

    Manager() : plugin(bench::openProcessingHalf(host, L"QV_PatchManagerListpipe", buffer.data(), 7))
    {
        plugin->receiveMessageFromGui(list_message::kInterfaceStarted, 0, nullptr);
        mpapi::MpEvent start{};
        start.eventType = mpapi::MP_EVENT_GRAPH_START;
        plugin->process(kBlock, &start);
        for (int block = 0; block < 800; ++block)
            plugin->process(kBlock, nullptr);
        host.pinValues = 0;
    }
    ~Manager() { plugin->release(); }
};

// A program change in every block, walking through the 128 presets.
void BM_ListpipeSelectEveryBlock(benchmark::State& state)
{
    Manager manager;
    long block = 0;
    const bench::AllocationsPerIteration allocations;
    bench::BlockBudget budget(kBlockBudgetSeconds);
    for (auto _ : state) {
        mpapi::MpEvent change = midi(0xC0, static_cast<unsigned char>(block++ % 128));
        bench::CountAllocations counting;
        manager.plugin->process(kBlock, &change);
    }
    allocations.report(state);
    budget.report(state);
    state.counters["midi_per_block"] = bench::perBlock(static_cast<double>(manager.host.pinValues));
}

// The same manager with nothing to do: the baseline a select adds to.
void BM_ListpipeIdleBlock(benchmark::State& state)
{
    Manager manager;
    bench::BlockBudget budget(kBlockBudgetSeconds);
    for (auto _ : state)
        manager.plugin->process(kBlock, nullptr);
    budget.report(state);
}

} // namespace

BENCHMARK(BM_ListpipeSelectEveryBlock);
BENCHMARK(BM_ListpipeIdleBlock);
