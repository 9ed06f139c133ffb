// Audio signals and per-window timing for the effect benchmarks: a quarter second of a signal
// fed block by block, and the fastest run of each window kept, so a busy machine's interruptions
// drop out and what stays is the cost of the signal itself.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace audio_windows {

inline constexpr int kBlock = 64;
inline constexpr int kRate = 48000;
inline constexpr int kWindowBlocks = kRate / 4 / kBlock;  // a quarter second
inline constexpr float kSubnormal = 1e-39f;

inline float noise(std::uint32_t& state)
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

inline double median(std::vector<double> v)
{
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

} // namespace audio_windows
