// The stereo reverberator of the Schroeder-Moorer kind behind QV_Reverb: eight lowpass-feedback
// combs per channel in parallel, fed by one mono sum, then four allpasses per channel in series.
// The 24 lines have fixed lengths in samples (the same at every rate) and live back to back in one
// array inside the object, so the reverb never allocates.
#pragma once

#include "Utility/SubnormalsAsZero.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>

class SchroederReverb {
public:
    static constexpr int kCombs = 8;
    static constexpr int kAllpasses = 4;
    // Every right line is its left twin plus this many samples.
    static constexpr int kStereoSpread = 23;
    static constexpr int kCombLengths[kCombs] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    static constexpr int kAllpassLengths[kAllpasses] = {556, 441, 341, 225};
    static constexpr int kLines = 2 * (kCombs + kAllpasses);
    static constexpr int kTotalSamples = 25450;
    static constexpr float kInputGain = 0.015f;
    static constexpr float kAllpassFeedback = 0.5f;

    // The coefficients of one piece, from the four control values.
    struct Controls {
        float feedback;
        float damp1;
        float damp2;
        float wet1;
        float wet2;
        float dry;
    };

    SchroederReverb()
    {
        int start = 0;
        for (int line = 0; line < kLines; ++line) {
            start_[line] = start;
            length_[line] = lengthOf(line);
            start += length_[line];
        }
    }

    void clear() { samples_.fill(0.0f); }

    // clamp(x, lo, hi); a NaN control takes the lower bound, so it cannot poison the lines.
    static float clamp(float x, float lo, float hi)
    {
        if (!(x >= lo))
            return lo;
        return x > hi ? hi : x;
    }

    static Controls controls(float room, float width, float damping, float mix)
    {
        Controls c;
        c.feedback = clamp(room, 0.01f, 0.98f) * 0.28f + 0.7f;
        const float half = clamp(width, 0.01f, 0.98f) * 0.5f;
        c.damp1 = clamp(damping, 0.01f, 1.0f) * 0.4f;
        c.damp2 = 1.0f - c.damp1;
        const float m = clamp(mix, -0.5f, 0.5f);
        const float q = (m + 0.5f) * (0.5f - m);
        const float wet = (m + 0.5f + q) * 1.5f;
        c.wet1 = (half + 0.5f) * wet;
        c.wet2 = (0.5f - half) * wet;
        c.dry = q + 0.5f - m;
        return c;
    }

    // n stereo samples. Inputs and outputs may be the same buffers. The tank runs with subnormals
    // as zero: a subnormal input sample is silence, and a decaying tail falls from the smallest
    // normal float straight to exact zeros instead of crawling through the subnormals.
    void process(const Controls& c, const float* inL, const float* inR, float* outL, float* outR, int n)
    {
        const SubnormalsAsZero subnormalsAsZero;
        for (int i = 0; i < n; ++i) {
            // A sample that is no finite number counts as 0, on the dry path too.
            const float l = SubnormalsAsZero::kept(std::isfinite(inL[i]) ? inL[i] : 0.0f);
            const float r = SubnormalsAsZero::kept(std::isfinite(inR[i]) ? inR[i] : 0.0f);
            float in = kept((l + r) * kInputGain);
            // A non-finite or absurd sample never enters the lines: they would stay poisoned for
            // ever. Below this bound nothing in the tank can overflow.
            if (!(std::fabs(in) <= kLargestInput))
                in = 0.0f;

            float sumL = 0.0f;
            float sumR = 0.0f;
            for (int k = 0; k < kCombs; ++k) {
                sumL += comb(k, in, c);
                sumR += comb(kCombs + k, in, c);
            }
            float apL = sumL;
            float apR = sumR;
            for (int k = 0; k < kAllpasses; ++k) {
                apL = allpass(2 * kCombs + k, apL);
                apR = allpass(2 * kCombs + kAllpasses + k, apR);
            }
            outL[i] = flushed(apL * c.wet1 + apR * c.wet2 + l * c.dry);
            outR[i] = flushed(apR * c.wet1 + apL * c.wet2 + r * c.dry);
        }
    }

    // Lines 0-7 left combs, 8-15 right combs, 16-19 left allpasses, 20-23 right allpasses.
    static constexpr int lengthOf(int line)
    {
        const int side = line < 2 * kCombs ? line / kCombs : (line - 2 * kCombs) / kAllpasses;
        const int base = line < 2 * kCombs ? kCombLengths[line % kCombs]
                                           : kAllpassLengths[(line - 2 * kCombs) % kAllpasses];
        return base + side * kStereoSpread;
    }

private:
    static constexpr float kLargestInput = 1e30f;

    // Zero and subnormal values become +0.0 (a -0.0 too); values at or above the smallest normal
    // float are untouched. Outputs are written so.
    static float flushed(float x) { return std::fabs(x) < FLT_MIN ? 0.0f : x; }

    // What the tank keeps (line cells, comb stores, its input) as it is in the hardware mode.
    // Without it values are flushed by hand, or the loops would hold subnormals for ever
    // (rounding brings the smallest back to themselves); and with a margin, so that a kept value
    // times the smallest coefficient (damp1, 0.004) is still normal and no product in the tank
    // runs on subnormals either.
    static float kept(float x)
    {
        if constexpr (SubnormalsAsZero::kInHardware)
            return x;
        else
            return std::fabs(x) < kSmallestKept ? 0.0f : x;
    }
    static constexpr float kSmallestKept = FLT_MIN * 256.0f;

    // Every index advances by one per sample and wraps at its line's length.
    void advance(int line)
    {
        if (++index_[line] == length_[line])
            index_[line] = 0;
    }

    float comb(int line, float in, const Controls& c)
    {
        float& cell = samples_[start_[line] + index_[line]];
        const float y = cell;
        float& store = stores_[line];
        store = kept(store * c.damp1 + y * c.damp2);
        cell = kept(store * c.feedback + in);
        advance(line);
        return y;
    }

    float allpass(int line, float x)
    {
        float& cell = samples_[start_[line] + index_[line]];
        const float b = cell;
        cell = kept(b * kAllpassFeedback + x);
        advance(line);
        return b - x;
    }

    std::array<float, kTotalSamples> samples_{};
    std::array<int32_t, kLines> start_{};
    std::array<int32_t, kLines> length_{};
    std::array<int32_t, kLines> index_{};
    std::array<float, 2 * kCombs> stores_{};
};

static_assert(
    [] {
        int total = 0;
        for (int line = 0; line < SchroederReverb::kLines; ++line)
            total += SchroederReverb::lengthOf(line);
        return total == SchroederReverb::kTotalSamples;
    }(),
    "the 24 lines fill the array exactly");
