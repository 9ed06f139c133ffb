// The delay with a time change in every block at 192 kHz (no allocation, no clearing of the
// line), the subnormal check against noise (the delay must not slow down), and an idle instance,
// which never sleeps.
#include "AllocationCounter.h"
#include "AudioWindows.h"
#include "ProcessingHalf.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>

namespace {

using audio_windows::kBlock;
using audio_windows::kSubnormal;
using audio_windows::kWindowBlocks;
using audio_windows::median;
using audio_windows::noise;
using audio_windows::Signal;
using audio_windows::Windows;

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

// Noise through a 10 ms line with a subnormal feedback factor (a control gliding to 0 upstream
// may leave one) against the same noise at feedback 0.5, and a constant subnormal input against
// noise: every echo times the factor would be a subnormal product; the delay must not slow down.
void BM_DelaySubnormals(benchmark::State& state)
{
    const Signal noisy(std::uint32_t{3});
    const Signal tiny(kSubnormal);
    Windows noiseWindows;
    Windows tinyWindows;
    Windows tinyInputWindows;
    auto window = [](bench::ProcessingHalf& delay, const Signal& signal) {
        const auto start = std::chrono::steady_clock::now();
        for (int b = 0; b < kWindowBlocks; ++b) {
            const float* from = signal.samples.data() + b * kBlock;
            std::copy(from, from + kBlock, delay.buffer(kSignalIn).data());
            delay.run();
        }
        benchmark::DoNotOptimize(delay.buffer(kSignalOut).data());
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    struct Case {
        float feedback;
        const Signal& input;
        Windows& windows;
    };
    for (auto _ : state) {
        for (const Case& c : {Case{0.5f, noisy, noiseWindows}, Case{kSubnormal, noisy, tinyWindows},
                              Case{0.5f, tiny, tinyInputWindows}}) {
            bench::ProcessingHalf delay(L"QV_Delay", 3, kBlock);
            delay.buffer(kFeedback).assign(kBlock, c.feedback);
            mpapi::MpEvent time{0, mpapi::MP_EVENT_PIN_VALUE, kTimeMs, 4, std::bit_cast<std::int32_t>(10.0f), 0,
                                nullptr, nullptr};
            delay.run(&time);
            for (std::size_t w = 0; w < 8; ++w)
                c.windows.take(w, window(delay, c.input));
        }
    }
    const double noiseCost = median(noiseWindows.fastest);
    state.counters["subnormal feedback / noise"] = median(tinyWindows.fastest) / noiseCost;
    state.counters["subnormal input / noise"] = median(tinyInputWindows.fastest) / noiseCost;
}

// Idle: silent inputs, no events; the delay never sleeps, so this is its standing cost.
void BM_IdleDelay(benchmark::State& state)
{
    bench::ProcessingHalf delay(L"QV_Delay", 3, kBlock);
    for (auto _ : state)
        delay.run();
    state.counters["ns/block"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_DelayTimeChangeEveryBlock192k);
BENCHMARK(BM_DelaySubnormals)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleDelay);

} // namespace
