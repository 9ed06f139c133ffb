// Helpers of the MIDI routing benchmarks: a processing half created through the factory on a
// BenchHost, and event lists of MIDI messages and pin values built once, outside the timed loop.
#pragma once

#include "BenchHost.h"
#include "MpFactory.h"
#include "mpapi.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace routingbench {

// One processing half, opened, with every pin up to bufferPins given the same scratch buffer.
class Module {
public:
    Module(bench::BenchHost& host, const wchar_t* id, int32_t blockLength, int bufferPins = 12)
        : buffer_(static_cast<std::size_t>(blockLength))
    {
        void* f = nullptr;
        MP_GetFactory(&f);
        void* object = nullptr;
        static_cast<mpapi::IMpFactory*>(f)->createInstance(id, mpapi::MP_TYPE_AUDIO, &host, &object);
        plugin_ = static_cast<mpapi::IMpPlugin*>(object);
        plugin_->open();
        for (int32_t pin = 0; pin < bufferPins; ++pin)
            plugin_->setBuffer(pin, buffer_.data());
    }
    ~Module() { plugin_->release(); }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    void process(int32_t count, mpapi::MpEvent* events) { plugin_->process(count, events); }

private:
    std::vector<float> buffer_;
    mpapi::IMpPlugin* plugin_ = nullptr;
};

// A list of events owned in one place; link() chains them in order before use.
class Events {
public:
    void midi(int32_t time, int32_t pin, uint8_t status, uint8_t data1, uint8_t data2)
    {
        mpapi::MpEvent e{};
        e.timeDelta = time;
        e.eventType = mpapi::MP_EVENT_MIDI;
        e.parm1 = pin;
        e.parm2 = 3;
        const unsigned char bytes[4] = {status, data1, data2, 0};
        std::memcpy(&e.parm3, bytes, 4);
        events_.push_back(e);
    }
    void intValue(int32_t time, int32_t pin, int32_t value)
    {
        mpapi::MpEvent e{};
        e.timeDelta = time;
        e.eventType = mpapi::MP_EVENT_PIN_VALUE;
        e.parm1 = pin;
        e.parm2 = 4;
        e.parm3 = value;
        events_.push_back(e);
    }
    // Text travels as 4-byte characters in extra data.
    void textValue(int32_t time, int32_t pin, const std::wstring& text)
    {
        texts_.push_back(text);
        mpapi::MpEvent e{};
        e.timeDelta = time;
        e.eventType = mpapi::MP_EVENT_PIN_VALUE;
        e.parm1 = pin;
        e.parm2 = static_cast<int32_t>(text.size() * sizeof(wchar_t));
        events_.push_back(e);
        textOf_.push_back(events_.size() - 1);
    }
    void graphStart(int32_t time)
    {
        mpapi::MpEvent e{};
        e.timeDelta = time;
        e.eventType = mpapi::MP_EVENT_GRAPH_START;
        events_.push_back(e);
    }
    mpapi::MpEvent* link()
    {
        for (std::size_t i = 0; i < textOf_.size(); ++i)
            events_[textOf_[i]].extraData = reinterpret_cast<char*>(texts_[i].data());
        for (std::size_t i = 0; i + 1 < events_.size(); ++i)
            events_[i].next = &events_[i + 1];
        return events_.empty() ? nullptr : events_.data();
    }
    std::size_t size() const { return events_.size(); }

private:
    std::vector<mpapi::MpEvent> events_;
    std::vector<std::wstring> texts_;
    std::vector<std::size_t> textOf_;
};

} // namespace routingbench
