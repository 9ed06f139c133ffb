// Timers and lengths are sample counts: trunc(seconds x sample rate) or trunc(rate x ms / 1000),
// the products taken in single precision.
#pragma once

#include <cstdint>
#include <limits>

// A product that is no positive number (a missing or absurd rate, a NaN or negative time) gives 0
// and one beyond int range the largest int, so no host value makes the conversion undefined.
inline int32_t saturatedSamples(float product)
{
    if (!(product > 0.0f))
        return 0;
    if (product >= 2147483648.0f)
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(product);
}

inline int32_t samplesIn(float seconds, float sampleRate)
{
    return saturatedSamples(seconds * sampleRate);
}

inline int32_t samplesInMilliseconds(float milliseconds, float sampleRate)
{
    return saturatedSamples(sampleRate * milliseconds / 1000.0f);
}
