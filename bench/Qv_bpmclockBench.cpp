// The clock never sleeps: its standing cost per block when idle between edges (120 BPM, 4 pulses
// per beat), and with a song position update in every block.
#include "ProcessingHalf.h"

#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>

namespace {

constexpr int kBlock = 64;
enum Pin { kTempo, kSongPosition, kPulsesPerBeat, kClockOut };

struct Clock : bench::ProcessingHalf {
    Clock() : ProcessingHalf(L"QV_BpmClock", 4, kBlock)
    {
        mpapi::MpEvent pulses{0, mpapi::MP_EVENT_PIN_VALUE, kPulsesPerBeat, 4, 4, 0, nullptr, nullptr};
        mpapi::MpEvent tempo{0, mpapi::MP_EVENT_PIN_VALUE, kTempo, 4, std::bit_cast<std::int32_t>(120.0f), 0,
                             nullptr, &pulses};
        run(&tempo);
    }
};

void perBlock(benchmark::State& state)
{
    state.counters["ns/block"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_IdleClock(benchmark::State& state)
{
    Clock clock;
    for (auto _ : state)
        clock.run();
    perBlock(state);
}

void BM_ClockWithSongPositionEveryBlock(benchmark::State& state)
{
    Clock clock;
    float beats = 0.0f;
    mpapi::MpEvent position{0, mpapi::MP_EVENT_PIN_VALUE, kSongPosition, 4, 0, 0, nullptr, nullptr};
    for (auto _ : state) {
        beats += 64.0f / 24000.0f;
        position.parm3 = std::bit_cast<std::int32_t>(beats);
        clock.run(&position);
    }
    perBlock(state);
}

BENCHMARK(BM_IdleClock);
BENCHMARK(BM_ClockWithSongPositionEveryBlock);

} // namespace
