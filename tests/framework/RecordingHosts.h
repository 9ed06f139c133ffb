// Hosts for tests that hand module halves their host directly: they record what a half asks for
// and count the references it takes.
#pragma once

#include "StubHost.h"
#include "mpapi.h"

#include <vector>

namespace test_support {

// A processing-side host that records the interfaces asked for and counts references.
class RecordingHost : public tav_host::StubDspHost, public mpapi::IMpProcessorHost {
public:
    int32_t queryInterface(const mpapi::MpGuid& iid, void** object) override
    {
        asked.push_back(iid);
        *object = nullptr;
        if (iid == mpapi::MP_IID_HOST && !refuseHost) {
            *object = static_cast<mpapi::IMpHost*>(this);
        } else if (iid == mpapi::MP_IID_PROCESSOR_HOST) {
            *object = static_cast<mpapi::IMpProcessorHost*>(this);
        } else {
            return mpapi::MP_RESULT_UNSUPPORTED;
        }
        ++refs;
        return mpapi::MP_RESULT_OK;
    }
    int32_t addRef() override { return ++refs; }
    int32_t release() override { return --refs; }
    mpapi::IMpUnknown* unknown() { return static_cast<mpapi::IMpHost*>(this); }

    bool refuseHost = false;
    int32_t refs = 0;
    std::vector<mpapi::MpGuid> asked;
};

// An interface-side host that counts references.
class RecordingUiHost : public mpapi::IMpUserInterfaceHost {
public:
    int32_t queryInterface(const mpapi::MpGuid& iid, void** object) override
    {
        *object = nullptr;
        if (!(iid == mpapi::MP_IID_UI_HOST))
            return mpapi::MP_RESULT_UNSUPPORTED;
        *object = this;
        ++refs;
        return mpapi::MP_RESULT_OK;
    }
    int32_t addRef() override { return ++refs; }
    int32_t release() override { return --refs; }
    int32_t transmitPin(int32_t, int32_t, const void*, int32_t) override { return 0; }
    int32_t postMessageToAudio(int32_t, int32_t, const void*) override { return 0; }
    int32_t reserved5() override { return -1; }
    int32_t reserved6() override { return -1; }
    int32_t reserved7() override { return -1; }
    int32_t reserved8() override { return -1; }
    int32_t reserved9() override { return -1; }
    int32_t expandFileName(const wchar_t*, int32_t, wchar_t*) override { return -1; }
    int32_t reserved11() override { return -1; }
    int32_t queryPinCount(int32_t* count) override
    {
        *count = 0;
        return 0;
    }

    int32_t refs = 0;
};

} // namespace test_support
