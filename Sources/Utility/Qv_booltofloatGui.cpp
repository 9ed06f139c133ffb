// A button that moves a float to the target of the first of four ranges holding it and sets a
// state flag from that range; a value notified from outside sets the flag from the range it is in.
#include "MpInterface.h"

#include <array>

class Qv_booltofloatGui : public MpGuiBase {
public:
    enum Pin { kButton, kState, kValue, kFirstRange };
    static constexpr int kRanges = 4;

    Qv_booltofloatGui()
    {
        initializePin(kButton, button_, &Qv_booltofloatGui::onSetBoolIn);
        initializePin(kState, state_);
        initializePin(kValue, value_, &Qv_booltofloatGui::onSetFloatOut);
        int index = kFirstRange;
        for (Range& range : ranges_) {
            initializePin(index++, range.upper);
            initializePin(index++, range.lower);
            initializePin(index++, range.target);
        }
    }

    // Acts on the press only: the value goes to its range's target, and ranges 1 and 3 set the
    // state, 2 and 4 clear it.
    void onSetBoolIn()
    {
        if (!button_.getValue())
            return;
        const int r = rangeHolding(value_.getValue());
        if (r < 0)
            return;
        value_ = ranges_[r].target.getValue();
        state_ = r % 2 == 0 ? 1.0f : 0.0f;
    }

    // The opposite level per range: ranges 1 and 3 clear the state, 2 and 4 set it.
    void onSetFloatOut()
    {
        const int r = rangeHolding(value_.getValue());
        if (r >= 0)
            state_ = r % 2 == 0 ? 0.0f : 1.0f;
    }

private:
    struct Range {
        MpGuiPin<float> upper;
        MpGuiPin<float> lower;
        MpGuiPin<float> target;
    };

    // The first range with upper > v > lower (strict, so a bound or a NaN is in none); -1 for none.
    int rangeHolding(float v) const
    {
        for (int r = 0; r < kRanges; ++r)
            if (ranges_[r].upper.getValue() > v && v > ranges_[r].lower.getValue())
                return r;
        return -1;
    }

    MpGuiPin<bool> button_;
    MpGuiPin<float> state_;
    MpGuiPin<float> value_;
    std::array<Range, kRanges> ranges_;
};

MP_REGISTER_MODULE(Qv_booltofloatGui, L"QV_BoolToFloat")
