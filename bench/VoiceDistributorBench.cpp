// Cost of the voice distributor per MIDI event: 32 events in every 32-sample block, in
// distribution mode with eight voices and two gates closed (note-ons searching, stealing and
// note-offs reaching all voices), in broadcast mode to ten outputs, and in broadcast mode with
// gates closing under held notes (each release ending its note on the gated outputs too).
// Reported per event and as a share of the block's real-time budget at 48 kHz, with heap
// allocations inside process (must be 0).
#include "AllocationCounter.h"
#include "BlockBudget.h"
#include "RoutingBench.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kBlock = 32;
constexpr float kSampleRate = 48000.0f;
enum Pin { kMidiIn, kMode = 13, kVoiceCount, kBroadcastCount, kGate1 };

void run(benchmark::State& state, int32_t mode, routing_bench::Events& stream)
{
    bench::BenchHost host(kBlock, kSampleRate);
    routing_bench::Module distributor(host, L"QV_VoiceDistributor", kBlock, 0);
    routing_bench::Events setup;
    setup.intValue(0, kMode, mode);
    setup.intValue(0, kVoiceCount, 8);
    setup.intValue(0, kBroadcastCount, 10);
    setup.intValue(0, kGate1 + 1, 3);
    setup.intValue(0, kGate1 + 4, 3);
    setup.graphStart(0);
    distributor.process(kBlock, setup.link());
    routing_bench::timeStream(state, host, distributor, stream.link(), kBlock, kSampleRate);
}

// Twelve notes held over eight voices, released in turn: searches, steals and releases.
void run(benchmark::State& state, int32_t mode)
{
    routing_bench::Events stream;
    for (int t = 0; t < kBlock; ++t) {
        const auto note = static_cast<uint8_t>(48 + (t / 2) % 12);
        stream.midi(t, kMidiIn, t % 2 == 0 ? 0x90 : 0x80, t % 2 == 0 ? note : static_cast<uint8_t>(note - 5), 100);
    }
    run(state, mode, stream);
}

void BM_VoiceDistributor_EightVoices(benchmark::State& state) { run(state, -1); }
void BM_VoiceDistributor_BroadcastTen(benchmark::State& state) { run(state, 0); }

// A note on, its gate closing, the note released behind the closed gate, the gate opening.
void BM_VoiceDistributor_BroadcastMovingGates(benchmark::State& state)
{
    routing_bench::Events stream;
    for (int t = 0; t < kBlock; ++t) {
        const auto note = static_cast<uint8_t>(48 + (t / 4) % 8);
        const int32_t gate = kGate1 + (t / 4) % 6;
        switch (t % 4) {
        case 0: stream.midi(t, kMidiIn, 0x90, note, 100); break;
        case 1: stream.intValue(t, gate, 3); break;
        case 2: stream.midi(t, kMidiIn, 0x80, note, 0); break;
        default: stream.intValue(t, gate, 0); break;
        }
    }
    run(state, 0, stream);
}

} // namespace

BENCHMARK(BM_VoiceDistributor_EightVoices);
BENCHMARK(BM_VoiceDistributor_BroadcastTen);
BENCHMARK(BM_VoiceDistributor_BroadcastMovingGates);
