// A processing-side host that answers every call at once and keeps nothing: the base of the
// benchmarks' counting host and of the tests' recording host, which override what they observe.
#pragma once

#include "mpapi.h"

namespace tav_host {

class StubDspHost : public mpapi::IMpHost {
public:
    explicit StubDspHost(int32_t blockLength = 64, float sampleRate = 48000.0f)
        : blockLength_(blockLength), sampleRate_(sampleRate)
    {
    }
    virtual ~StubDspHost() = default;

    // MP_IID_HOST and MP_IID_UNKNOWN; the host outlives its modules, so references are not
    // counted.
    int32_t queryInterface(const mpapi::MpGuid& iid, void** object) override
    {
        if (!object)
            return mpapi::MP_RESULT_FAIL;
        *object = nullptr;
        if (!(iid == mpapi::MP_IID_HOST || iid == mpapi::MP_IID_UNKNOWN))
            return mpapi::MP_RESULT_UNSUPPORTED;
        *object = static_cast<mpapi::IMpHost*>(this);
        return mpapi::MP_RESULT_OK;
    }
    int32_t addRef() override { return 1; }
    int32_t release() override { return 1; }
    int32_t sendPinValue(int32_t, int32_t, int32_t, const void*) override { return mpapi::MP_RESULT_OK; }
    int32_t sendPinStreaming(int32_t, int32_t, bool) override { return mpapi::MP_RESULT_OK; }
    int32_t requestSleep() override { return mpapi::MP_RESULT_OK; }
    int32_t postMessageToGui(int32_t, int32_t, const void*) override { return mpapi::MP_RESULT_OK; }
    int32_t queryBlockLength(int32_t* length) override
    {
        if (!length)
            return mpapi::MP_RESULT_FAIL;
        *length = blockLength_;
        return mpapi::MP_RESULT_OK;
    }
    int32_t querySampleRate(float* rate) override
    {
        if (!rate)
            return mpapi::MP_RESULT_FAIL;
        *rate = sampleRate_;
        return mpapi::MP_RESULT_OK;
    }
    int32_t reserved9() override { return mpapi::MP_RESULT_FAIL; }
    int32_t reserved10() override { return mpapi::MP_RESULT_FAIL; }
    int32_t reserved11() override { return mpapi::MP_RESULT_FAIL; }
    int32_t reserved12() override { return mpapi::MP_RESULT_FAIL; }
    int32_t reserved13() override { return mpapi::MP_RESULT_FAIL; }
    int32_t reserved14() override { return mpapi::MP_RESULT_FAIL; }
    int32_t reserved15() override { return mpapi::MP_RESULT_FAIL; }
    // No shared memory and no file names here.
    int32_t openSharedBlock(const wchar_t*, void** block, int32_t, int32_t* needsInit, float) override
    {
        if (block)
            *block = nullptr;
        if (needsInit)
            *needsInit = 0;
        return mpapi::MP_RESULT_FAIL;
    }
    int32_t expandFileName(const wchar_t*, int32_t maxChars, wchar_t* fullName) override
    {
        if (fullName && maxChars > 0)
            fullName[0] = L'\0';
        return mpapi::MP_RESULT_FAIL;
    }

private:
    int32_t blockLength_;
    float sampleRate_;
};

} // namespace tav_host
