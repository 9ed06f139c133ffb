// Increment and decrement buttons on a counter held within 0..127; the counter takes any value
// notified on its pin. An increment from 127 or above gives 127 and a decrement from 0 or below
// gives 0; any other step moves it by one (200 steps down to 199, -5 up to -4).
#include "MpInterface.h"

class Qv_intswitchGui : public MpGuiBase {
public:
    enum Pin { kCounter, kIncrement, kDecrement };
    static constexpr int32_t kHighest = 127;

    Qv_intswitchGui()
    {
        initializePin(kCounter, counterPin_, &Qv_intswitchGui::onSetIntInOut);
        initializePin(kIncrement, increment_, &Qv_intswitchGui::onSetIncrement);
        initializePin(kDecrement, decrement_, &Qv_intswitchGui::onSetDecrement);
    }

    void onSetIntInOut() { counter_ = counterPin_.getValue(); }

    void onSetIncrement()
    {
        if (!increment_.getValue())
            return;
        counter_ = counter_ < kHighest ? counter_ + 1 : kHighest;
        counterPin_ = counter_;
    }

    void onSetDecrement()
    {
        if (!decrement_.getValue())
            return;
        counter_ = counter_ > 0 ? counter_ - 1 : 0;
        counterPin_ = counter_;
    }

private:
    MpGuiPin<int32_t> counterPin_;
    MpGuiPin<bool> increment_;
    MpGuiPin<bool> decrement_;

    int32_t counter_ = 0;
};

MP_REGISTER_MODULE(Qv_intswitchGui, L"QV_IntSwitch")
