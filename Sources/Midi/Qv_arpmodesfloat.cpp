// Turns the arpeggiator's three mode selectors into the fixed sets of control values the patch
// routes to the arpeggiator's mode pins and ranges: 17 values from the first selector, 4 from
// the second and one from the third. Only changed values are sent.
#include "Midi/ModeDecoder.h"
#include "MpProcessing.h"

namespace {

using FirstRow = std::array<float, 17>;

// One first-group row: outputs 1, 2, 3, 5, 6, 8, 9, 10 as given, output 4 at 0, output 7 at
// 10, and of outputs 11-17 the one named (0 for none) at 1.
constexpr FirstRow firstRow(float p1, float p2, float p3, float p5, float p6, float p8, float p9,
                                   float p10, int flagged = 0)
{
    FirstRow row{p1, p2, p3, 0.0f, p5, p6, 10.0f, p8, p9, p10};
    if (flagged >= 11 && flagged <= 17)
        row[static_cast<std::size_t>(flagged - 1)] = 1.0f;
    return row;
}

constexpr std::array<FirstRow, 32> kFirstRows{
    firstRow(0, 0, 0, 0, 10, 0, 0, 0, 11),
    firstRow(0, 0, 0, 0, 10, 0, 0, 0, 12),
    firstRow(0, 0, 0, 0, 0, 0, 0, 0, 13),
    firstRow(0, 0, 0, 0, 0, 0, 0, 0, 14),
    firstRow(10, 10, 5, 0, 0, 0, 0, 0),
    firstRow(7, 10, 5, 0, 0, 0, 0, 0),
    firstRow(3, 10, 5, 0, 0, 0, 0, 0),
    firstRow(0, 10, 5, 0, 0, 0, 0, 0),
    firstRow(0, 10, 10, 0, 0, 0, 0, 0),
    firstRow(3, 10, 10, 0, 0, 0, 0, 0),
    firstRow(7, 10, 10, 0, 0, 0, 0, 0),
    firstRow(10, 10, 10, 0, 0, 0, 0, 0),
    firstRow(10, 10, 0, 0, 0, 0, 0, 0),
    firstRow(7, 10, 0, 0, 0, 0, 0, 0),
    firstRow(3, 10, 0, 0, 0, 0, 0, 0),
    firstRow(0, 10, 0, 0, 0, 0, 0, 0),
    firstRow(10, 0, 5, 0, 0, 0, 0, 0),
    firstRow(7, 0, 5, 0, 0, 0, 0, 0),
    firstRow(3, 0, 5, 0, 0, 0, 0, 0),
    firstRow(0, 0, 10, 0, 0, 0, 0, 0),
    firstRow(3, 0, 10, 0, 0, 0, 0, 0),
    firstRow(7, 0, 10, 0, 0, 0, 0, 0),
    firstRow(10, 0, 10, 0, 0, 0, 0, 0),
    firstRow(10, 0, 0, 0, 0, 0, 0, 0),
    firstRow(7, 0, 0, 0, 0, 0, 0, 0),
    firstRow(3, 0, 0, 0, 0, 0, 0, 0),
    firstRow(0, 0, 0, 0, 0, 0, 0, 0),
    firstRow(7, 0, 10, 10, 0, 0, 0, 0),
    firstRow(0, 0, 10, 10, 0, 0, 0, 0),
    firstRow(0, 0, 10, 0, 0, 10, 0, 10, 15),
    firstRow(0, 0, 0, 0, 0, 10, 10, 0, 16),
    firstRow(0, 0, 0, 0, 0, 10, 0, 0, 17),
};

constexpr std::array<std::array<float, 4>, 16> kSecondRows{{
    {0, 10, 0, 0},
    {3, 10, 0, 0},
    {7, 10, 0, 0},
    {7, 10, 5, 0},
    {3, 10, 5, 0},
    {0, 10, 5, 0},
    {0, 10, 10, 0},
    {3, 10, 10, 0},
    {7, 10, 10, 0},
    {0, 0, 0, 0},
    {3, 0, 0, 0},
    {3, 0, 5, 0},
    {3, 0, 10, 0},
    {7, 0, 10, 0},
    {3, 10, 10, 10},
    {0, 10, 0, 10},
}};

constexpr std::array<float, 16> kThirdRows{0.69f, 1.32f, 1.95f, 2.55f, 3.15f, 3.8f,  4.45f, 5.07f,
                                                  5.675f, 6.3f, 6.92f, 7.54f, 8.17f, 8.77f, 9.39f, 10.0f};

} // namespace

class Qv_arpmodesfloat : public MpBase {
public:
    enum Pin {
        kFirstSelector,
        kFirstGroup1,
        kFirstGroup17 = kFirstGroup1 + 16,
        kSecondSelector,
        kSecondGroup1,
        kSecondGroup4 = kSecondGroup1 + 3,
        kThirdSelector,
        kThirdValue,
    };
    static constexpr std::size_t kFirstOutputs = 17;
    static constexpr std::size_t kSecondOutputs = 4;

    Qv_arpmodesfloat()
    {
        initializePin(kFirstSelector, firstSelector_);
        for (std::size_t i = 0; i < kFirstOutputs; ++i) {
            initializePin(kFirstGroup1 + static_cast<int32_t>(i), firstPins_[i]);
            first_[i] = &firstPins_[i];
        }
        initializePin(kSecondSelector, secondSelector_);
        for (std::size_t i = 0; i < kSecondOutputs; ++i) {
            initializePin(kSecondGroup1 + static_cast<int32_t>(i), secondPins_[i]);
            second_[i] = &secondPins_[i];
        }
        initializePin(kThirdSelector, thirdSelector_);
        initializePin(kThirdValue, thirdPin_);
        third_[0] = &thirdPin_;
    }

    // Any selector update re-applies all three rows.
    void onSetPins() override
    {
        if (!firstSelector_.isUpdated && !secondSelector_.isUpdated && !thirdSelector_.isUpdated)
            return;
        firstRow_ = mode_decoder::selectorOf(firstSelector_.value);
        secondRow_ = mode_decoder::selectorOf(secondSelector_.value);
        thirdRow_ = mode_decoder::selectorOf(thirdSelector_.value);
        if (const auto row = mode_decoder::rowOf(firstRow_, kFirstRows.size()))
            mode_decoder::writeRow(first_, kFirstRows[*row]);
        if (const auto row = mode_decoder::rowOf(secondRow_, kSecondRows.size()))
            mode_decoder::writeRow(second_, kSecondRows[*row]);
        if (const auto row = mode_decoder::rowOf(thirdRow_, kThirdRows.size()))
            mode_decoder::writeRow(third_, std::array<float, 1>{kThirdRows[*row]});
    }

private:
    IntInPin firstSelector_;
    std::array<FloatOutPin, kFirstOutputs> firstPins_;
    IntInPin secondSelector_;
    std::array<FloatOutPin, kSecondOutputs> secondPins_;
    IntInPin thirdSelector_;
    FloatOutPin thirdPin_;

    std::array<FloatOutPin*, kFirstOutputs> first_{};
    std::array<FloatOutPin*, kSecondOutputs> second_{};
    std::array<FloatOutPin*, 1> third_{};
    // The selectors as last read.
    uint16_t firstRow_ = 0;
    uint16_t secondRow_ = 0;
    uint16_t thirdRow_ = 0;
};

MP_REGISTER_MODULE(Qv_arpmodesfloat, L"QV_ArpModesFloat")
