// A countdown in samples that a sub-process steps by the whole stretches of a block between
// events, so it runs out at the first stretch boundary at or after its length.
#pragma once

#include <cstdint>

class SampleCountdown {
public:
    // A length of 0 or less leaves it run out.
    void start(int32_t samples) { left_ = samples > 0 ? samples : 0; }
    bool running() const { return left_ > 0; }
    int32_t left() const { return left_; }

    // Counts a stretch of frames off; true while samples remain after it.
    bool step(int32_t frames)
    {
        if (frames >= left_)
            left_ = 0;
        else if (frames > 0)
            left_ -= frames;
        return left_ > 0;
    }

    // Counts a stretch of frames off; true only for the stretch that runs it out, so a timer
    // fires once, on the sub-process call in which its length is reached. A countdown that was
    // not running fires nothing.
    bool endsIn(int32_t frames)
    {
        const bool wasRunning = running();
        return !step(frames) && wasRunning;
    }

private:
    int32_t left_ = 0;
};
