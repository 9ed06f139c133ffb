// Hosts for tests that drive module halves directly through their tables: they record every
// call a module makes and count the references it takes.
#pragma once

#include "mpapi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace testsupport {

struct HostCall {
    enum Kind { Value, Streaming, Sleep } kind;
    int32_t position;
    int32_t pin;
    std::vector<unsigned char> data;
};

// A processing-side host that records every call and counts references.
class RecordingHost : public mpapi::IMpHost, public mpapi::IMpProcessorHost {
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
    int32_t sendPinValue(int32_t position, int32_t pin, int32_t size, const void* data) override
    {
        const auto* bytes = static_cast<const unsigned char*>(data);
        calls.push_back({HostCall::Value, position, pin, std::vector<unsigned char>(bytes, bytes + size)});
        return 0;
    }
    int32_t sendPinStreaming(int32_t position, int32_t pin, bool streaming) override
    {
        calls.push_back({HostCall::Streaming, position, pin, {static_cast<unsigned char>(streaming)}});
        return 0;
    }
    int32_t requestSleep() override
    {
        calls.push_back({HostCall::Sleep, 0, 0, {}});
        return 0;
    }
    int32_t postMessageToGui(int32_t, int32_t, const void*) override { return 0; }
    int32_t queryBlockLength(int32_t* length) override
    {
        *length = 64;
        return 0;
    }
    int32_t querySampleRate(float* rate) override
    {
        *rate = 48000.0f;
        return 0;
    }
    int32_t reserved9() override { return -1; }
    int32_t reserved10() override { return -1; }
    int32_t reserved11() override { return -1; }
    int32_t reserved12() override { return -1; }
    int32_t reserved13() override { return -1; }
    int32_t reserved14() override { return -1; }
    int32_t reserved15() override { return -1; }
    int32_t openSharedBlock(const wchar_t*, void**, int32_t, int32_t*, float) override { return -1; }
    int32_t expandFileName(const wchar_t*, int32_t, wchar_t*) override { return -1; }

    std::vector<HostCall> of(HostCall::Kind kind) const
    {
        std::vector<HostCall> found;
        for (const HostCall& call : calls)
            if (call.kind == kind)
                found.push_back(call);
        return found;
    }

    bool refuseHost = false;
    int32_t refs = 0;
    std::vector<mpapi::MpGuid> asked;
    std::vector<HostCall> calls;
};

struct Transmit {
    int32_t pin;
    int32_t size;
    int32_t voice;
    std::vector<unsigned char> data;
};

// An interface-side host that records transmitted pins and counts references.
class RecordingUiHost : public mpapi::IMpUserInterfaceHost {
public:
    int32_t queryInterface(const mpapi::MpGuid& iid, void** object) override
    {
        *object = nullptr;
        if (!(iid == mpapi::MP_IID_UI_HOST) || refuse)
            return mpapi::MP_RESULT_UNSUPPORTED;
        *object = this;
        ++refs;
        return mpapi::MP_RESULT_OK;
    }
    int32_t addRef() override { return ++refs; }
    int32_t release() override { return --refs; }
    int32_t transmitPin(int32_t pin, int32_t size, const void* data, int32_t voice) override
    {
        const auto* bytes = static_cast<const unsigned char*>(data);
        transmits.push_back({pin, size, voice, std::vector<unsigned char>(bytes, bytes + size)});
        return 0;
    }
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

    bool refuse = false;
    int32_t refs = 0;
    std::vector<Transmit> transmits;
};

// A block's events, linked in the order added.
class Events {
public:
    Events& add(int32_t time, int32_t type, int32_t pin, int32_t size = 0, int32_t parm3 = 0, char* extra = nullptr)
    {
        events_.push_back({time, type, pin, size, parm3, 0, extra, nullptr});
        return *this;
    }
    mpapi::MpEvent* head()
    {
        for (size_t i = 0; i + 1 < events_.size(); ++i)
            events_[i].next = &events_[i + 1];
        return events_.empty() ? nullptr : events_.data();
    }
    mpapi::MpEvent& operator[](size_t i) { return events_[i]; }

private:
    std::vector<mpapi::MpEvent> events_;
};

inline int32_t floatBits(float value)
{
    int32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

} // namespace testsupport
