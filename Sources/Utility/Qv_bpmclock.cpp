// A square clock of a chosen number of pulses per beat at the host tempo, 0.0 low and 0.5 high,
// pulled to the host's song position whenever that updates. Each edge is announced as a step to a
// static level at its exact sample and written for one block length; the clock never sleeps.
#include "MpProcessing.h"

#include <cmath>
#include <limits>

class Qv_bpmclock : public MpBase {
public:
    enum Pin { kTempo, kSongPosition, kPulsesPerBeat, kClockOut };
    static constexpr float kHigh = 0.5f;

    Qv_bpmclock()
    {
        initializePin(kTempo, tempo_);
        initializePin(kSongPosition, songPosition_);
        initializePin(kPulsesPerBeat, pulsesPerBeat_);
        initializePin(kClockOut, clockOut_);
    }

    // Tempo and pulse changes take effect at the next edge; the running countdown is kept.
    void onSetPins() override
    {
        if (tempo_.isUpdated || pulsesPerBeat_.isUpdated) {
            const float pulsesTimesTempo = static_cast<float>(pulsesPerBeat_.getValue()) * tempo_.getValue();
            halfPeriod_ = pulsesTimesTempo == 0.0f ? kForever : getSampleRate() * 30.0f / pulsesTimesTempo + 0.5f;
            // A clock that was holding (no tempo, no pulses) starts again as at its first sample,
            // with a rising edge, once a usable period returns.
            if (std::isinf(countdown_) && runs()) {
                level_ = 0.0f;
                countdown_ = 0.0;
            }
        }
        if (songPosition_.isUpdated)
            resynchronise();
        setSubProcess(&Qv_bpmclock::subProcess);
        setSleep(false);
    }

    void subProcess(int offset, int frames)
    {
        if (frames < 1)
            return;
        float* out = clockOut_.getBuffer();
        double left = frames;
        int next = offset;  // the next output sample
        for (;;) {
            const double t = countdown_;
            if (!(t < left)) {
                // No edge in the rest of the piece: the level is written only for about one block
                // length after the last edge.
                if (writeBudget_ > 0.0f) {
                    write(out, next, static_cast<int>(left));
                    writeBudget_ -= static_cast<float>(left);
                }
                countdown_ = t - left;
                return;
            }
            // The fraction of t carries into the next half period.
            const double whole = t > 0.0 ? std::floor(t) : 0.0;
            left -= whole;
            write(out, next, static_cast<int>(whole));
            next += static_cast<int>(whole);
            countdown_ = edgeSpacing() - whole + t;
            level_ = level_ > 0.0f ? 0.0f : kHigh;
            clockOut_.setStreaming(false, next);
            writeBudget_ = static_cast<float>(getBlockLength());
            if (!(left > 0.0))
                return;
        }
    }

private:
    static constexpr float kForever = std::numeric_limits<float>::infinity();

    // A half period of at least one sample; below that (or NaN, or negative from a negative tempo
    // or pulse count) the clock holds its level from the next edge on, as it does for an infinite
    // one, instead of edging without end.
    bool runs() const { return halfPeriod_ >= 1.0f && halfPeriod_ < kForever; }
    float edgeSpacing() const { return halfPeriod_ >= 1.0f ? halfPeriod_ : kForever; }

    void write(float* out, int from, int count) const
    {
        if (!out)
            return;
        for (int i = from; i < from + count; ++i)
            out[i] = level_;
    }

    // Moves the next edge so that the clock's place in its pulse period (a rising edge starts a
    // period; each level lasts one half period) equals where the song position puts it. While the
    // clock holds (no usable period) the error is no number and moves nothing, but it is kept as
    // the last error, so the first error after a restart always counts.
    void resynchronise()
    {
        if (!runs()) {
            lastError_ = std::numeric_limits<double>::quiet_NaN();
            return;
        }
        const float pos = songPosition_.getValue();
        const float pulses = static_cast<float>(pulsesPerBeat_.getValue()) * (pos - std::floor(pos));
        const float target = (pulses - std::floor(pulses)) * 2.0f * halfPeriod_;
        const double estimate = (level_ > 0.0f ? halfPeriod_ : 2.0 * halfPeriod_) - countdown_;
        double error = estimate - target;
        if (error > halfPeriod_)
            error -= 2.0 * halfPeriod_;
        else if (error < -halfPeriod_)
            error += 2.0 * halfPeriod_;
        if (error == lastError_)
            return;
        lastError_ = error;
        const double moved = countdown_ + error;
        if (std::isfinite(error) && std::isfinite(moved))
            countdown_ = moved;
    }

    FloatInPin tempo_;          // beats per minute
    FloatInPin songPosition_;   // beats
    IntInPin pulsesPerBeat_;
    AudioOutPin clockOut_;

    float level_ = 0.0f;             // 0.0 or kHigh
    float halfPeriod_ = kForever;    // samples; no tempo yet
    // Samples to the next edge, with a fraction. A double, so that even the longest half period
    // (a tempo near 0) still counts down by every single sample and runs out.
    double countdown_ = 0.0;
    float writeBudget_ = 0.0f;       // samples still to write after the last edge
    double lastError_ = 0.0;         // samples
};

MP_REGISTER_MODULE(Qv_bpmclock, L"QV_BpmClock")
