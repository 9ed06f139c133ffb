// Family base of the splitters: pin 0 fanned out to every further pin the host gives the
// instance. The outputs exist only on the host's side (counted by queryPinCount); every
// notification sends to all of them, changed or not.
#pragma once

#include "MpInterface.h"

#include <cstring>
#include <type_traits>

template <class T>
class GuiSplitter : public MpGuiBase {
public:
    enum Pin { kValueIn, kFirstOutput };

    GuiSplitter() { initializePin(kValueIn, valueIn_, &GuiSplitter::onSetValueIn); }

    int32_t initialize() noexcept override
    {
        if (host)
            host->queryPinCount(&outputCount_);
        // Pin 0 is the input; a count of one pin or none leaves no outputs.
        outputCount_ = outputCount_ > 0 ? outputCount_ - 1 : 0;
        return mpapi::MP_RESULT_OK;
    }

    void onSetValueIn()
    {
        // Bools go out zero-extended to 4 bytes, as every output takes a 4-byte value.
        const auto sent = static_cast<std::conditional_t<std::is_same_v<T, bool>, int32_t, T>>(valueIn_.getValue());
        std::memcpy(sendBuffer_, &sent, sizeof sendBuffer_);
        if (!host)
            return;
        for (int32_t output = 0; output < outputCount_; ++output)
            host->transmitPin(kFirstOutput + output, sizeof sendBuffer_, sendBuffer_, 0);
    }

private:
    MpGuiPin<T> valueIn_;
    int32_t outputCount_ = 0;
    unsigned char sendBuffer_[4] = {};
};
