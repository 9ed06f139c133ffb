// The reverb per stereo sample on noise; its silent tail and a subnormal input against noise,
// window by window (a decaying tail must never cost more than the noise: nothing in it may run on
// slow subnormal arithmetic); the delay with a time change in every block at 192 kHz (no
// allocation, no clearing of the line), the same subnormal check for the delay, and idle instances
// of both, which never sleep.
#include "AllocationCounter.h"
#include "ProcessingHalf.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <vector>

namespace {

constexpr int kBlock = 64;
constexpr int kRate = 48000;
constexpr int kWindowBlocks = kRate / 4 / kBlock;  // a quarter second
constexpr float kSubnormal = 1e-39f;
enum ReverbPin { kLeftIn, kRightIn, kLeftOut, kRightOut, kRoom, kWidth, kDamping, kMix };

float noise(std::uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
}

// A quarter second of one input signal, copied into the input buffers block by block, so every
// signal costs the same to feed.
struct Signal {
    explicit Signal(float constant) : samples(kWindowBlocks * kBlock, constant) {}
    explicit Signal(std::uint32_t seed) : samples(kWindowBlocks * kBlock)
    {
        for (float& x : samples)
            x = noise(seed);
    }
    std::vector<float> samples;
};

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

// Window costs of a scenario run once per iteration; each window keeps its fastest run, so a
// busy machine's interruptions drop out and what stays is the cost of the signal itself.
struct Windows {
    void take(std::size_t at, double seconds)
    {
        if (at >= fastest.size())
            fastest.resize(at + 1, seconds);
        fastest[at] = std::min(fastest[at], seconds);
    }
    std::vector<double> fastest;
};

double median(std::vector<double> v)
{
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
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
BENCHMARK(BM_ReverbTailWorstWindow)
    ->ArgsProduct({{50, 98}, {0, 50}})
    ->ArgNames({"room_x100", "damping_x100"})
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReverbSubnormalInput)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DelayTimeChangeEveryBlock192k);
BENCHMARK(BM_DelaySubnormals)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleReverb);
BENCHMARK(BM_IdleDelay);

} // namespace
