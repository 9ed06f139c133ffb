// A countdown in samples that a sub-process steps by whole pieces of a block (the stretches
// between events), so it runs out at the first piece boundary at or after its length.
#pragma once

#include <cstdint>
#include <limits>

class PieceCountdown {
public:
    // A length of 0 or less leaves it run out.
    void start(int32_t samples) { left_ = samples > 0 ? samples : 0; }
    bool running() const { return left_ > 0; }
    int32_t left() const { return left_; }

    // Counts a piece of frames off; true while samples remain after it.
    bool step(int32_t frames)
    {
        if (frames >= left_)
            left_ = 0;
        else if (frames > 0)
            left_ -= frames;
        return left_ > 0;
    }

    // trunc(sample rate x milliseconds / 1000), taken in single precision; a negative or NaN
    // time gives 0 and one beyond int range the largest int.
    static int32_t samplesInMilliseconds(float milliseconds, float sampleRate)
    {
        const float product = sampleRate * milliseconds / 1000.0f;
        if (!(product > 0.0f))
            return 0;
        if (product >= 2147483648.0f)
            return std::numeric_limits<int32_t>::max();
        return static_cast<int32_t>(product);
    }

private:
    int32_t left_ = 0;
};
