// Timers of the preset modules are sample countdowns: trunc(seconds x sample rate), the product
// taken in single precision.
#pragma once

#include <cstdint>
#include <limits>

// A product that is no positive number (a missing or absurd rate) gives 0 and one beyond int
// range the largest int, so no host value makes the conversion undefined.
inline int32_t samplesIn(float seconds, float sampleRate)
{
    const float product = seconds * sampleRate;
    if (!(product > 0.0f))
        return 0;
    if (product >= 2147483648.0f)
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(product);
}
