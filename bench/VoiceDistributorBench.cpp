// Cost of the voice distributor per MIDI event: 32 events in every 32-sample block, in
// distribution mode with eight voices and two gates closed (note-ons searching, stealing and
// note-offs reaching all voices), and in broadcast mode to ten outputs. Reported per event and
// as a share of the block's real-time budget at 48 kHz, with heap allocations inside process
// (must be 0).
#include "AllocationCounter.h"
#include "BlockBudget.h"
#include "RoutingBench.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kBlock = 32;
constexpr float kSampleRate = 48000.0f;
enum Pin { kMidiIn, kMode = 13, kVoiceCount, kBroadcastCount, kGate1 };

void run(benchmark::State& state, int32_t mode)
{
    bench::BenchHost host(kBlock, kSampleRate);
    routingbench::Module distributor(host, L"QV_VoiceDistributor", kBlock, 0);
    routingbench::Events setup;
    setup.intValue(0, kMode, mode);
    setup.intValue(0, kVoiceCount, 8);
    setup.intValue(0, kBroadcastCount, 10);
    setup.intValue(0, kGate1 + 1, 3);
    setup.intValue(0, kGate1 + 4, 3);
    setup.graphStart(0);
    distributor.process(kBlock, setup.link());

    // Twelve notes held over eight voices, released in turn: searches, steals and releases.
    routingbench::Events stream;
    for (int t = 0; t < kBlock; ++t) {
        const auto note = static_cast<uint8_t>(48 + (t / 2) % 12);
        stream.midi(t, kMidiIn, t % 2 == 0 ? 0x90 : 0x80, t % 2 == 0 ? note : static_cast<uint8_t>(note - 5), 100);
    }
    routingbench::timeStream(state, host, distributor, stream.link(), kBlock, kSampleRate);
}

void BM_VoiceDistributor_EightVoices(benchmark::State& state) { run(state, -1); }
void BM_VoiceDistributor_BroadcastTen(benchmark::State& state) { run(state, 0); }

} // namespace

BENCHMARK(BM_VoiceDistributor_EightVoices);
BENCHMARK(BM_VoiceDistributor_BroadcastTen);
