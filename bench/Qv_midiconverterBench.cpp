// Cost of the MIDI rule converter with ten rules on a dense MIDI stream: 32 messages in every
// 32-sample block (notes, controllers, pitch bend and an NRPN sequence), reported per message and
// as a share of the block's real-time budget at 48 kHz, with the heap allocations made inside
// process (must be 0); and the same with all ten rule texts arriving again in every block.
#include "AllocationCounter.h"
#include "BlockBudget.h"
#include "RoutingBench.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kBlock = 32;
constexpr float kSampleRate = 48000.0f;

const wchar_t* const kRules[10] = {
    L"1, Ctrl, 7, 7, *, *, Y, 1, Ctrl, 11, 11, *, *",
    L"* NoteOn * * 0 63 Y * NoteOn * * 64 64",
    L"* NoteOn 0 23 * * N * Discard * * * *",
    L"* Ctrl 1 1 0 127 Y * Ctrl 2 2 127 0",
    L"* PitchB * * * * Y * Ctrl 3 3 0 127 >",
    L"* NRPN 1000 1000 0 16383 Y * Ctrl 20 20 0 127",
    L"2 Ctrl 74 74 * * Y 3 RPN 5 5 0 16383",
    L"* KeyAft * * * * Y * ChanAft * * * * <",
    L"* ProgChg 1 10 * * Y * ProgChg 11 20 * *",
    L"* Ctrl 64 64 64 127 Y * NoteOn 40 40 127 127",
};

void BM_MidiConverter_TenRulesDenseStream(benchmark::State& state)
{
    bench::BenchHost host(kBlock, kSampleRate);
    routing_bench::Module converter(host, L"QV_MidiConverter", kBlock, 0);
    routing_bench::Events setup;
    for (int k = 0; k < 10; ++k)
        setup.textValue(0, 2 + k, kRules[k]);
    setup.graphStart(0);
    converter.process(kBlock, setup.link());

    // One block's stream, one message per sample.
    routing_bench::Events stream;
    const uint8_t nrpn[4][2] = {{99, 7}, {98, 104}, {6, 64}, {38, 0}};
    for (int t = 0; t < kBlock; ++t) {
        switch (t % 8) {
        case 0: stream.midi(t, 0, 0x90, static_cast<uint8_t>(40 + t), 100); break;
        case 1: stream.midi(t, 0, 0xB0, 7, static_cast<uint8_t>(t)); break;
        case 2: stream.midi(t, 0, 0xE0, 0, static_cast<uint8_t>(64 + t)); break;
        case 3: stream.midi(t, 0, 0x80, static_cast<uint8_t>(40 + t - 3), 0); break;
        default: stream.midi(t, 0, 0xB0, nrpn[t % 8 - 4][0], nrpn[t % 8 - 4][1]); break;
        }
    }
    routing_bench::timeStream(state, host, converter, stream.link(), kBlock, kSampleRate);
}

// The ten rule texts arrive again in every block, in two versions in turn, with a note at the
// same time stamp and its release later: the table is rebuilt in place each block.
void BM_MidiConverter_RulesEveryBlock(benchmark::State& state)
{
    bench::BenchHost host(kBlock, kSampleRate);
    routing_bench::Module converter(host, L"QV_MidiConverter", kBlock, 0);
    routing_bench::Events start;
    start.graphStart(0);
    converter.process(kBlock, start.link());

    routing_bench::Events blocks[2];
    for (int version = 0; version < 2; ++version) {
        for (int k = 0; k < 10; ++k)
            blocks[version].textValue(0, 2 + k, kRules[(k + version) % 10]);
        blocks[version].midi(0, 0, 0x90, 60, 100);
        blocks[version].midi(16, 0, 0x80, 60, 0);
    }
    mpapi::MpEvent* lists[2] = {blocks[0].link(), blocks[1].link()};

    // The first texts a fresh module takes would grow its pins' values.
    state.counters["allocs_first_rules"] = static_cast<double>(bench::allocationsOf([&] {
        for (mpapi::MpEvent* list : lists)
            converter.process(kBlock, list);
    }));

    const bench::AllocationsPerIteration allocations;
    host.resetCounts();
    bench::BlockBudget budget(kBlock / static_cast<double>(kSampleRate));
    int version = 0;
    for (auto _ : state) {
        bench::CountAllocations counting;
        converter.process(kBlock, lists[version]);
        version ^= 1;
    }
    budget.report(state);
    allocations.report(state);
    state.counters["sent_per_block"] = bench::perBlock(static_cast<double>(host.pinValues));
}

} // namespace

BENCHMARK(BM_MidiConverter_TenRulesDenseStream);
BENCHMARK(BM_MidiConverter_RulesEveryBlock);
