// Cost of a synth's worth of parameter links: 256 links (float, no-zero and patch module in
// turn, one per slot) and one list-pipe manager on one shared preset block at 48 kHz in 32-sample
// blocks. Reported per block, as a percentage of the block's real-time budget (32 / 48000 s), and
// with the number of heap allocations made inside process (must be 0).
//
// The modules are created through the factory and driven by a minimal host of this file, so the
// measurement holds the modules' own work and no recording of host calls.
#include "AllocationCounter.h"
#include "BenchHost.h"
#include "BlockBudget.h"
#include "mpapi.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr float kSampleRate = 48000.0f;
constexpr int kBlock = 32;
constexpr int kLinks = 256;
constexpr double kBlockBudgetSeconds = double(kBlock) / kSampleRate;

mpapi::MpEvent pinValue(int32_t pin, const void* value)
{
    mpapi::MpEvent e{};
    e.eventType = mpapi::MP_EVENT_PIN_VALUE;
    e.parm1 = pin;
    e.parm2 = 4;
    std::memcpy(&e.parm3, value, 4);
    return e;
}

// The 256 links, opened and past graph start.
struct LinkRack {
    bench::BenchHost host{kBlock, kSampleRate};
    std::vector<mpapi::IMpPlugin*> links;
    mpapi::IMpPlugin* manager = nullptr;
    std::vector<float> buffer = std::vector<float>(kBlock);

    LinkRack()
    {
        const wchar_t* kinds[] = {L"QV_PatchMemoryFloat", L"QV_PatchMemoryFloatNozero", L"QV_PatchModule"};
        for (int32_t slot = 0; slot < kLinks; ++slot) {
            const int kind = slot % 3;
            mpapi::IMpPlugin* link = bench::openProcessingHalf(host, kinds[kind], buffer.data(), 5);
            const int32_t slotPin = kind == 2 ? 1 : 2;
            mpapi::MpEvent start[2] = {pinValue(slotPin, &slot), {}};
            start[1].eventType = mpapi::MP_EVENT_GRAPH_START;
            start[0].next = &start[1];
            link->process(kBlock, start);
            links.push_back(link);
        }
        // One list-pipe manager beside them, past its start-up countdown (factory bank loaded).
        manager = bench::openProcessingHalf(host, L"QV_PatchManagerListpipe", buffer.data(), 8);
        mpapi::MpEvent graphStart{};
        graphStart.eventType = mpapi::MP_EVENT_GRAPH_START;
        manager->process(kBlock, &graphStart);
        for (int block = 0; block < 2000; ++block)
            manager->process(kBlock, nullptr);
    }
    ~LinkRack()
    {
        manager->release();
        for (auto* link : links)
            link->release();
    }
};

// Runs the benchmark loop; before each block prepare(rack, events, block) may change the shared
// block or queue parameter moves (events[i] for link i, null for none).
template <class Prepare>
void runBlocks(benchmark::State& state, Prepare&& prepare)
{
    LinkRack rack;
    std::vector<mpapi::MpEvent*> events(kLinks, nullptr);
    long block = 0;
    const bench::AllocationsPerIteration allocations;
    bench::BlockBudget budget(kBlockBudgetSeconds);
    rack.host.resetCounts();  // the first updates of graph start are not counted
    for (auto _ : state) {
        std::fill(events.begin(), events.end(), nullptr);
        prepare(rack, events, block++);
        bench::CountAllocations counting;
        for (int i = 0; i < kLinks; ++i)
            rack.links[static_cast<std::size_t>(i)]->process(kBlock, events[static_cast<std::size_t>(i)]);
        rack.manager->process(kBlock, nullptr);
    }
    state.counters["links"] = kLinks;
    budget.report(state);
    allocations.report(state);
    state.counters["sends_per_block"] = bench::perBlock(static_cast<double>(rack.host.pinValues));
    state.counters["messages_per_block"] = bench::perBlock(static_cast<double>(rack.host.messages));
}

// Nothing changes: every link only counts down and polls.
void BM_ParameterLinks_Idle(benchmark::State& state)
{
    runBlocks(state, [](LinkRack&, std::vector<mpapi::MpEvent*>&, long) {});
}

// A preset manager rewrites all 256 slots every two poll periods (30 blocks), with new values
// each time, so every link passes each load on once: two outputs per float link, one "d%f"
// message per patch module.
void BM_ParameterLinks_PresetLoads(benchmark::State& state)
{
    runBlocks(state, [](LinkRack& rack, std::vector<mpapi::MpEvent*>&, long block) {
        if (block % 30 != 0)
            return;
        const float base = 0.6f + 0.001f * static_cast<float>((block / 30) % 100);
        for (int slot = 0; slot < kLinks; ++slot)
            rack.host.slots()[slot] = base + 0.0001f * static_cast<float>(slot);
    });
}

// Eight parameters move every block (a knob sweep and automation): each moved link writes its
// slot and sends its outputs.
void BM_ParameterLinks_KnobMoves(benchmark::State& state)
{
    std::vector<mpapi::MpEvent> moves(kLinks);
    runBlocks(state, [&moves](LinkRack&, std::vector<mpapi::MpEvent*>& events, long block) {
        for (int k = 0; k < 8; ++k) {
            const int link = static_cast<int>((block * 8 + k * 31) % kLinks);
            const float value = 0.5f + 0.25f * static_cast<float>((block + k) % 3);
            moves[static_cast<std::size_t>(link)] = pinValue(0, &value);
            events[static_cast<std::size_t>(link)] = &moves[static_cast<std::size_t>(link)];
        }
    });
}

} // namespace

BENCHMARK(BM_ParameterLinks_Idle);
BENCHMARK(BM_ParameterLinks_PresetLoads);
BENCHMARK(BM_ParameterLinks_KnobMoves);
