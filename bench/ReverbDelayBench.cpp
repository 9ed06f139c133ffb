// The reverb per stereo sample on noise and deep in a silent tail (the tail should cost no more
// than the noise: its lines hold no subnormal numbers), the delay with a time change in every
// block at 192 kHz (no allocation, no clearing of the line), and idle instances of both, which
// never sleep.
#include "AllocationCounter.h"
#include "ProcessingHalf.h"

#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>

namespace {

constexpr int kBlock = 64;
enum ReverbPin { kLeftIn, kRightIn, kLeftOut, kRightOut, kRoom, kWidth, kDamping, kMix };

float noise(std::uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
}

struct Reverb : bench::ProcessingHalf {
    Reverb() : ProcessingHalf(L"QV_Reverb", 8, kBlock)
    {
        for (int pin : {kRoom, kWidth, kDamping})
            buffer(pin).assign(kBlock, 0.5f);
        buffer(kMix).assign(kBlock, 0.0f);
    }
    void fill(bool withNoise)
    {
        for (int i = 0; i < kBlock; ++i) {
            buffer(kLeftIn)[i] = withNoise ? noise(seed) : 0.0f;
            buffer(kRightIn)[i] = withNoise ? noise(seed) : 0.0f;
        }
    }
    std::uint32_t seed = 1;
};

void perStereoSample(benchmark::State& state)
{
    state.counters["ns/stereo sample"] = benchmark::Counter(static_cast<double>(state.iterations()) * kBlock,
                                                            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ReverbNoise(benchmark::State& state)
{
    Reverb reverb;
    for (auto _ : state) {
        reverb.fill(true);
        reverb.run();
        benchmark::DoNotOptimize(reverb.buffer(kLeftOut).data());
    }
    perStereoSample(state);
}

// A second of noise, then the argument's seconds of silence at room 0.5: at 12 s the tail is
// crossing the smallest normal float, by 30 s it has long decayed below it.
void BM_ReverbSilentTail(benchmark::State& state)
{
    Reverb reverb;
    for (int b = 0; b < 48000 / kBlock; ++b) {
        reverb.fill(true);
        reverb.run();
    }
    reverb.fill(false);
    for (std::int64_t b = 0; b < state.range(0) * 48000 / kBlock; ++b)
        reverb.run();
    for (auto _ : state) {
        reverb.fill(false);
        reverb.run();
        benchmark::DoNotOptimize(reverb.buffer(kLeftOut).data());
    }
    perStereoSample(state);
}

enum DelayPin { kSignalIn, kFeedback, kSignalOut, kTimeMs };

// Every block carries a new delay time (1 s and 2 s alternating) at 192 kHz: 192,000 and 384,000
// samples of line.
void BM_DelayTimeChangeEveryBlock192k(benchmark::State& state)
{
    bench::ProcessingHalf delay(L"QV_Delay", 3, kBlock, 192000.0f);
    delay.buffer(kFeedback).assign(kBlock, 0.5f);
    std::uint32_t seed = 7;
    for (float& x : delay.buffer(kSignalIn))
        x = noise(seed);
    mpapi::MpEvent times[2] = {
        {0, mpapi::MP_EVENT_PIN_VALUE, kTimeMs, 4, std::bit_cast<std::int32_t>(1000.0f), 0, nullptr, nullptr},
        {0, mpapi::MP_EVENT_PIN_VALUE, kTimeMs, 4, std::bit_cast<std::int32_t>(2000.0f), 0, nullptr, nullptr},
    };
    std::int64_t before = 0;
    std::int64_t blocks = 0;
    {
        bench::CountAllocations counting;
        before = bench::allocationCount();
        for (auto _ : state)
            delay.run(&times[blocks++ & 1]);
        state.counters["heap allocations"] = static_cast<double>(bench::allocationCount() - before);
    }
    state.counters["ns/block"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Idle: silent inputs, no events; neither module ever sleeps, so this is their standing cost.
void BM_IdleReverb(benchmark::State& state)
{
    Reverb reverb;
    reverb.fill(false);
    for (auto _ : state)
        reverb.run();
    state.counters["ns/block"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_IdleDelay(benchmark::State& state)
{
    bench::ProcessingHalf delay(L"QV_Delay", 3, kBlock);
    for (auto _ : state)
        delay.run();
    state.counters["ns/block"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_ReverbNoise);
BENCHMARK(BM_ReverbSilentTail)->Arg(12)->Arg(30);
BENCHMARK(BM_DelayTimeChangeEveryBlock192k);
BENCHMARK(BM_IdleReverb);
BENCHMARK(BM_IdleDelay);

} // namespace
