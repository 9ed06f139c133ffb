// A processing-side host for benchmarks: answers at once and only counts what modules send, so
// a benchmark measures the modules' own cost. One shared block per host, zeroed.
#pragma once

#include "mpapi.h"

#include <cstring>
#include <vector>

namespace bench {

class BenchHost : public mpapi::IMpHost {
public:
    explicit BenchHost(int32_t blockLength = 32, float sampleRate = 48000.0f)
        : blockLength_(blockLength), sampleRate_(sampleRate)
    {
    }

    int32_t queryInterface(const mpapi::MpGuid& iid, void** object) override
    {
        *object = nullptr;
        if (!(iid == mpapi::MP_IID_HOST || iid == mpapi::MP_IID_UNKNOWN))
            return mpapi::MP_RESULT_UNSUPPORTED;
        *object = this;
        return mpapi::MP_RESULT_OK;
    }
    int32_t addRef() override { return 1; }
    int32_t release() override { return 1; }
    int32_t sendPinValue(int32_t, int32_t, int32_t, const void*) override { return ++pinValues, 0; }
    int32_t sendPinStreaming(int32_t, int32_t, bool) override { return 0; }
    int32_t requestSleep() override { return 0; }
    int32_t postMessageToGui(int32_t, int32_t, const void*) override { return ++messages, 0; }
    int32_t queryBlockLength(int32_t* length) override { *length = blockLength_; return 0; }
    int32_t querySampleRate(float* rate) override { *rate = sampleRate_; return 0; }
    int32_t reserved9() override { return -1; }
    int32_t reserved10() override { return -1; }
    int32_t reserved11() override { return -1; }
    int32_t reserved12() override { return -1; }
    int32_t reserved13() override { return -1; }
    int32_t reserved14() override { return -1; }
    int32_t reserved15() override { return -1; }
    int32_t openSharedBlock(const wchar_t*, void** block, int32_t size, int32_t* needsInit, float) override
    {
        if (size > static_cast<int32_t>(sizeof shared_))
            return mpapi::MP_RESULT_FAIL;
        *block = shared_;
        *needsInit = opened_++ == 0 ? 1 : 0;
        return mpapi::MP_RESULT_OK;
    }
    int32_t expandFileName(const wchar_t*, int32_t, wchar_t* full) override
    {
        if (full)
            full[0] = L'\0';
        return mpapi::MP_RESULT_FAIL;
    }

    // The shared block as floats (the shared preset block is its first 256).
    float* slots() { return reinterpret_cast<float*>(shared_); }

    long pinValues = 0;
    long messages = 0;

private:
    int32_t blockLength_;
    float sampleRate_;
    int opened_ = 0;
    alignas(16) unsigned char shared_[4096] = {};
};

} // namespace bench
