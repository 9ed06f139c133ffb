// A processing-side host for benchmarks: answers at once and only counts what modules send, so
// a benchmark measures the modules' own cost. One shared block per host, zeroed.
#pragma once

#include "MpFactory.h"
#include "StubHost.h"

namespace bench {

class BenchHost : public tav_host::StubDspHost {
public:
    explicit BenchHost(int32_t blockLength = 32, float sampleRate = 48000.0f) : StubDspHost(blockLength, sampleRate) {}

    int32_t sendPinValue(int32_t, int32_t, int32_t, const void*) override { return ++pinValues, mpapi::MP_RESULT_OK; }
    int32_t postMessageToGui(int32_t, int32_t, const void*) override { return ++messages, mpapi::MP_RESULT_OK; }
    int32_t openSharedBlock(const wchar_t*, void** block, int32_t size, int32_t* needsInit, float) override
    {
        if (size > static_cast<int32_t>(sizeof shared_))
            return mpapi::MP_RESULT_FAIL;
        *block = shared_;
        *needsInit = opened_++ == 0 ? 1 : 0;
        return mpapi::MP_RESULT_OK;
    }

    // Forgets what was sent so far (the set-up's sends), so a benchmark counts only its loop's.
    void resetCounts() { pinValues = messages = 0; }

    // The shared block as floats (the shared preset block is its first 256).
    float* slots() { return reinterpret_cast<float*>(shared_); }

    long pinValues = 0;
    long messages = 0;

private:
    int opened_ = 0;
    alignas(16) unsigned char shared_[4096] = {};
};

// A processing half created through the factory on this host and opened, with pins 0 to pins - 1
// given the one scratch buffer (none by default); the caller releases it.
inline mpapi::IMpPlugin* openProcessingHalf(BenchHost& host, const wchar_t* identifier, float* scratch = nullptr,
                                            int pins = 0)
{
    void* factory = nullptr;
    MP_GetFactory(&factory);
    void* object = nullptr;
    static_cast<mpapi::IMpFactory*>(factory)->createInstance(identifier, mpapi::MP_TYPE_AUDIO, &host, &object);
    auto* unknown = static_cast<mpapi::IMpUnknown*>(object);
    void* plugin = nullptr;
    unknown->queryInterface(mpapi::MP_IID_PLUGIN, &plugin);
    unknown->release();
    auto* half = static_cast<mpapi::IMpPlugin*>(plugin);
    half->open();
    for (int pin = 0; pin < pins; ++pin)
        half->setBuffer(pin, scratch);
    return half;
}

} // namespace bench
