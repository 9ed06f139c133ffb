// A scope in which the processor treats subnormal floats as zero, as inputs and as results, and
// after which the caller's floating-point mode is back as it was. Feedback loops (a reverb's
// tank, an echo line) decay geometrically through the subnormal range, where every operation
// costs tens of times a normal one; in this mode their tails cost what noise costs. Arithmetic
// on normal numbers with normal results is bit for bit the same.
//
// x86_64: MXCSR flush-to-zero and denormals-are-zero. aarch64: FPCR FZ (both at once). Elsewhere
// nothing changes (kInHardware false): the caller then flushes by hand every value it keeps.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

class SubnormalsAsZero {
public:
#if defined(__x86_64__)
    static constexpr bool kInHardware = true;

    SubnormalsAsZero() : saved_(_mm_getcsr())
    {
        _mm_setcsr(saved_ | kFlushToZero | kDenormalsAreZero);
        fence();
    }
    ~SubnormalsAsZero()
    {
        fence();
        _mm_setcsr(saved_);
    }

private:
    static constexpr unsigned kFlushToZero = 0x8000;
    static constexpr unsigned kDenormalsAreZero = 0x0040;
    unsigned saved_;
#elif defined(__aarch64__)
    static constexpr bool kInHardware = true;

    SubnormalsAsZero() : saved_(readFpcr())
    {
        writeFpcr(saved_ | kFlushToZero);
        fence();
    }
    ~SubnormalsAsZero()
    {
        fence();
        writeFpcr(saved_);
    }

private:
    static constexpr uint64_t kFlushToZero = uint64_t{1} << 24;  // FPCR.FZ
    static uint64_t readFpcr()
    {
        uint64_t value;
        asm volatile("mrs %0, fpcr" : "=r"(value));
        return value;
    }
    static void writeFpcr(uint64_t value) { asm volatile("msr fpcr, %0" : : "r"(value)); }
    uint64_t saved_;
#else
    static constexpr bool kInHardware = false;

    SubnormalsAsZero() {}
    ~SubnormalsAsZero() {}

private:
#endif
    // Keeps the compiler from moving the loop's loads and stores (and so the arithmetic between
    // them) across the mode switch.
    static void fence() { asm volatile("" ::: "memory"); }

public:
    // A value a loop keeps or feeds back: as it is in the hardware mode, where no subnormal can
    // arise or count; else zero and subnormal values become +0.0 by hand.
    static float kept(float x)
    {
        if constexpr (kInHardware)
            return x;
        else
            return std::fabs(x) < FLT_MIN ? 0.0f : x;  // no branch on the sign
    }

    SubnormalsAsZero(const SubnormalsAsZero&) = delete;
    SubnormalsAsZero& operator=(const SubnormalsAsZero&) = delete;
};
