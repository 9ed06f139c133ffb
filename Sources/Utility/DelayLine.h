// The line of QV_Delay: a ring of samples whose length follows the delay time. The room for the
// longest line (ten seconds) is reserved once, so a time change allocates nothing; a new length
// starts an empty line at position 0 without clearing memory: until the write position first
// wraps, every read is a sample written before the change and reads as 0.
#pragma once

#include "Common/SampleCount.h"
#include "Utility/SubnormalsAsZero.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>

class DelayLine {
public:
    // The longest line: ten seconds.
    static constexpr float kMaxSeconds = 10.0f;
    // Above this rate the reservation stops growing, so an absurd host rate cannot ask for
    // gigabytes; lines are then bounded by what was reserved.
    static constexpr float kLargestReservedRate = 768000.0f;

    // The length in samples of a line of ms milliseconds at rate: trunc(rate x ms / 1000) with
    // the product taken first, at least 1, at most trunc(rate) x 10. NaN, negative and huge times
    // saturate instead of overflowing.
    static int32_t lengthFor(float ms, float rate)
    {
        int32_t length = samplesInMilliseconds(ms, rate);
        if (static_cast<float>(length) > rate * kMaxSeconds)
            length = maxLengthAt(rate);
        return length < 1 ? 1 : length;
    }

    // Reserves the longest line at rate; the old memory is released only once the new one
    // exists. False when the memory could not be had (the line then keeps what it had, or one
    // sample).
    bool reserve(float rate)
    {
        const int32_t wanted = maxLengthAt(rate > kLargestReservedRate ? kLargestReservedRate : rate);
        if (wanted <= capacity_)
            return true;
        std::unique_ptr<float[]> fresh(new (std::nothrow) float[static_cast<std::size_t>(wanted)]);
        if (!fresh)
            return false;
        samples_ = std::move(fresh);
        capacity_ = wanted;
        restart(length_);
        return true;
    }

    // An empty line of the given length (bounded by the reservation) at position 0.
    void restart(int32_t length)
    {
        length_ = length < 1 ? 1 : length > capacity_ ? capacity_ : length;
        pos_ = 0;
        firstLap_ = true;
    }

    // n samples: out = the sample written length samples ago (0 on the first lap), and the line
    // takes that sample x feedback + input. Subnormals count as 0, in the input and the feedback
    // factor too (no slow arithmetic in a decaying tail or on a factor gliding to 0). What the line
    // keeps is flushed: subnormals become 0 and a non-finite sample 0 (an overflowing or poisoned
    // echo does not stay for ever).
    void process(const float* in, const float* feedback, float* out, int n)
    {
        const SubnormalsAsZero subnormalsAsZero;
        float* line = samples_ ? samples_.get() : &single_;
        for (int i = 0; i < n; ++i) {
            const float y = firstLap_ ? 0.0f : line[pos_];
            out[i] = y;
            const float v = y * SubnormalsAsZero::kept(feedback[i]) + SubnormalsAsZero::kept(in[i]);
            const float a = std::fabs(v);
            line[pos_] = (a >= FLT_MIN && a <= FLT_MAX) ? v : 0.0f;
            if (++pos_ == length_) {
                pos_ = 0;
                firstLap_ = false;
            }
        }
    }

    int32_t length() const { return length_; }
    int32_t position() const { return pos_; }

private:
    // trunc(rate) x 10, at least 1 and within int range.
    static int32_t maxLengthAt(float rate)
    {
        if (!(rate >= 1.0f))
            return 1;
        const int64_t whole = rate >= 2e8f ? 200000000 : static_cast<int64_t>(rate);
        return static_cast<int32_t>(whole * static_cast<int64_t>(kMaxSeconds));
    }

    std::unique_ptr<float[]> samples_;
    float single_ = 0.0f;     // the one-sample line used until a reservation succeeds
    int32_t capacity_ = 1;    // samples reserved
    int32_t length_ = 1;      // samples, 1 .. capacity_
    int32_t pos_ = 0;         // write position, 0 .. length_ - 1
    bool firstLap_ = true;    // no sample of this line has been written at pos_ yet
};
