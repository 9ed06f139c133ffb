// The reverb per stereo sample on noise; its silent tail and a subnormal input against noise,
// window by window (a decaying tail must never cost more than the noise: nothing in it may run on
// slow subnormal arithmetic); and an idle instance, which never sleeps.
#include "AudioWindows.h"
#include "ProcessingHalf.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace {

using audio_windows::kBlock;
using audio_windows::kSubnormal;
using audio_windows::kWindowBlocks;
using audio_windows::median;
using audio_windows::noise;
using audio_windows::Signal;
using audio_windows::Windows;

enum ReverbPin { kLeftIn, kRightIn, kLeftOut, kRightOut, kRoom, kWidth, kDamping, kMix };

struct Reverb : bench::ProcessingHalf {
    explicit Reverb(float room = 0.5f, float damping = 0.5f) : ProcessingHalf(L"QV_Reverb", 8, kBlock)
    {
        buffer(kRoom).assign(kBlock, room);
        buffer(kWidth).assign(kBlock, 0.5f);
        buffer(kDamping).assign(kBlock, damping);
        buffer(kMix).assign(kBlock, 0.0f);
    }
    void fill(bool withNoise)
    {
        for (int i = 0; i < kBlock; ++i) {
            buffer(kLeftIn)[i] = withNoise ? noise(seed) : 0.0f;
            buffer(kRightIn)[i] = withNoise ? noise(seed) : 0.0f;
        }
    }
    // One quarter second of signal; its duration in seconds.
    double window(const Signal& signal)
    {
        const auto start = std::chrono::steady_clock::now();
        for (int b = 0; b < kWindowBlocks; ++b) {
            const float* from = signal.samples.data() + b * kBlock;
            std::copy(from, from + kBlock, buffer(kLeftIn).data());
            std::copy(from, from + kBlock, buffer(kRightIn).data());
            run();
        }
        benchmark::DoNotOptimize(buffer(kLeftOut).data());
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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

// Two seconds of noise, then kTailSeconds of silence, at room and damping given in hundredths:
// the costliest quarter second of the tail against the noise's (median window). A tail that ran
// on subnormal numbers would cost many times the noise while it crosses the smallest normal float
// (about 16 s after this burst at room 0.5, about 110 s at room 0.98, hence the length); a mean
// over minutes would hide it.
constexpr std::size_t kTailSeconds = 150;

void BM_ReverbTailWorstWindow(benchmark::State& state)
{
    const Signal noisy(std::uint32_t{1});
    const Signal silent(0.0f);
    Windows noiseWindows;
    Windows tailWindows;
    for (auto _ : state) {
        Reverb reverb(static_cast<float>(state.range(0)) / 100.0f, static_cast<float>(state.range(1)) / 100.0f);
        for (std::size_t w = 0; w < 8; ++w)
            noiseWindows.take(w, reverb.window(noisy));
        for (std::size_t w = 0; w < 4 * kTailSeconds; ++w)
            tailWindows.take(w, reverb.window(silent));
    }
    const double noiseCost = median(noiseWindows.fastest);
    const auto worst = std::max_element(tailWindows.fastest.begin(), tailWindows.fastest.end());
    state.counters["worst tail window / noise"] = *worst / noiseCost;
    state.counters["worst window at s"] = 0.25 * static_cast<double>(worst - tailWindows.fastest.begin());
    state.counters["noise ns/stereo sample"] = noiseCost * 1e9 / (kWindowBlocks * kBlock);
}

// A constant subnormal input on both channels (the tank never holds anything else) against noise.
void BM_ReverbSubnormalInput(benchmark::State& state)
{
    const Signal noisy(std::uint32_t{1});
    const Signal tiny(kSubnormal);
    Windows noiseWindows;
    Windows tinyWindows;
    for (auto _ : state) {
        Reverb reverb;
        for (std::size_t w = 0; w < 4; ++w)
            tinyWindows.take(w, reverb.window(tiny));
        Reverb loud;
        for (std::size_t w = 0; w < 4; ++w)
            noiseWindows.take(w, loud.window(noisy));
    }
    state.counters["subnormal input / noise"] = median(tinyWindows.fastest) / median(noiseWindows.fastest);
}

// Idle: silent inputs, no events; the reverb never sleeps, so this is its standing cost.
void BM_IdleReverb(benchmark::State& state)
{
    Reverb reverb;
    reverb.fill(false);
    for (auto _ : state)
        reverb.run();
    state.counters["ns/block"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_ReverbNoise);
BENCHMARK(BM_ReverbTailWorstWindow)
    ->ArgsProduct({{50, 98}, {0, 50}})
    ->ArgNames({"room_x100", "damping_x100"})
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReverbSubnormalInput)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleReverb);

} // namespace
