// Turns the pitch-bend mode selector into the bend ranges (pitch on the signal scale, 1/120 per
// semitone) and the switch levels the patch routes to its bend section. Only changed values are
// sent.
#include "Midi/ModeDecoder.h"
#include "MpProcessing.h"

namespace {

using Row = std::array<float, 8>;

// The pitch of a semitone count: the float nearest to k / 120.
constexpr float semitones(int k) { return static_cast<float>(k / 120.0); }

// Ranges as semitone counts, switches as 0 or 1.
constexpr Row row(int range1, int range2, int range3, int dual, int s1, int s2, int s3, int s4 = 0)
{
    return {semitones(range1), semitones(range2), semitones(range3), static_cast<float>(dual),
            static_cast<float>(s1), static_cast<float>(s2), static_cast<float>(s3), static_cast<float>(s4)};
}

constexpr std::array<Row, 32> kRows{
    Row{0.017f, 0, 0, 0, 1, 0, 0, 0},  // a fixed small range, not a semitone count
    row(1, 0, 0, 0, 1, 0, 0),
    row(2, 0, 0, 0, 1, 0, 0),
    row(3, 0, 0, 0, 1, 0, 0),
    row(4, 0, 0, 0, 1, 0, 0),
    row(5, 0, 0, 0, 1, 0, 0),
    row(6, 0, 0, 0, 1, 0, 0),
    row(7, 0, 0, 0, 1, 0, 0),
    row(8, 0, 0, 0, 1, 0, 0),
    row(9, 0, 0, 0, 1, 0, 0),
    row(10, 0, 0, 0, 1, 0, 0),
    row(11, 0, 0, 0, 1, 0, 0),
    row(24, 0, 0, 0, 1, 0, 0),
    row(36, 0, 0, 0, 1, 0, 0),
    row(48, 0, 0, 0, 1, 0, 0),
    row(0, 1, 2, 1, 1, 0, 0),
    row(0, 2, 1, 1, 1, 0, 0),
    row(0, 1, 12, 1, 1, 0, 0),
    row(0, 2, 12, 1, 1, 0, 0),
    row(0, 12, 1, 1, 1, 0, 0),
    row(0, 12, 2, 1, 1, 0, 0),
    row(1, 0, 0, 0, 0, 1, 0),
    row(2, 0, 0, 0, 0, 1, 0),
    row(7, 0, 0, 0, 0, 1, 0),
    row(12, 0, 0, 0, 0, 1, 0),
    row(0, 1, 2, 1, 0, 1, 0),
    row(0, 2, 1, 1, 0, 1, 0),
    row(0, 2, 12, 1, 0, 1, 0),
    row(0, 2, 0, 1, 0, 1, 0, 1),
    row(0, 1, 12, 1, 0, 0, 1),
    row(0, 12, 1, 1, 0, 0, 1),
    row(12, 0, 0, 0, 1, 0, 0),
};

} // namespace

class Qv_bendmodesfloat : public MpBase {
public:
    enum Pin { kSelector, kRange1, kRange2, kRange3, kDualRange, kSwitch1, kSwitch2, kSwitch3, kSwitch4 };
    static constexpr std::size_t kOutputs = 8;

    Qv_bendmodesfloat()
    {
        initializePin(kSelector, selector_);
        for (std::size_t i = 0; i < kOutputs; ++i) {
            initializePin(kRange1 + static_cast<int32_t>(i), outputPins_[i]);
            outputs_[i] = &outputPins_[i];
        }
    }

    void onSetPins() override
    {
        if (!selector_.isUpdated)
            return;
        row_ = mode_decoder::selectorOf(selector_.value);
        if (const auto row = mode_decoder::rowOf(row_, kRows.size()))
            mode_decoder::writeRow(outputs_, kRows[*row]);
    }

private:
    IntInPin selector_;
    std::array<FloatOutPin, kOutputs> outputPins_;

    std::array<FloatOutPin*, kOutputs> outputs_{};
    uint16_t row_ = 0;  // the selector as last read
};

MP_REGISTER_MODULE(Qv_bendmodesfloat, L"QV_BendModesFloat")
