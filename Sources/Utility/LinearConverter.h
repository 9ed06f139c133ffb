// Family base of the two linear converters: ((In1 + In2) + Add1) x Mult + Add2, written to two
// outputs at every notification of any of the seven pins, so an output the host overwrites is
// put back to the formula value at once.
#pragma once

#include "MpInterface.h"

#include <cstdint>
#include <type_traits>

template <class T>
class LinearConverter : public MpGuiBase {
public:
    enum Pin { kIn1, kIn2, kAdd1, kMult, kAdd2, kOut1, kOut2 };

protected:
    // Each of the module's handlers registered in pin order (the outputs share In1's).
    template <class Module>
    void registerPins(void (Module::*in1)(), void (Module::*in2)(), void (Module::*add1)(), void (Module::*mult)(),
                      void (Module::*add2)())
    {
        initializePin(kIn1, in1_, in1);
        initializePin(kIn2, in2_, in2);
        initializePin(kAdd1, add1_, add1);
        initializePin(kMult, mult_, mult);
        initializePin(kAdd2, add2_, add2);
        initializePin(kOut1, out1_, in1);
        initializePin(kOut2, out2_, in1);
    }

    // Computed once per output, the second from the pins as they are after the first write.
    void convert()
    {
        out1_ = formula();
        out2_ = formula();
    }

private:
    T formula() const
    {
        if constexpr (std::is_integral_v<T>) {
            // 32-bit two's complement that wraps, computed unsigned so no overflow is undefined.
            const auto u = [](int32_t v) { return static_cast<uint32_t>(v); };
            const uint32_t r = (u(in1_) + u(in2_) + u(add1_)) * u(mult_) + u(add2_);
            return static_cast<int32_t>(r);
        } else {
            const T sum = in1_.getValue() + in2_.getValue();
            const T shifted = sum + add1_.getValue();
            const T scaled = shifted * mult_.getValue();
            return scaled + add2_.getValue();
        }
    }

    MpGuiPin<T> in1_;
    MpGuiPin<T> in2_;
    MpGuiPin<T> add1_;
    MpGuiPin<T> mult_;
    MpGuiPin<T> add2_;
    MpGuiPin<T> out1_;
    MpGuiPin<T> out2_;
};
