// Helpers of the MIDI benchmarks: a processing half created through the factory on a BenchHost,
// events of MIDI messages and pin values built once, outside the timed loop, and the timed loop of
// one module on one stream.
#pragma once

#include "AllocationCounter.h"
#include "BenchHost.h"
#include "BlockBudget.h"
#include "mpapi.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace routing_bench {

// One processing half, opened, with every pin up to bufferPins given the same scratch buffer.
class Module {
public:
    Module(bench::BenchHost& host, const wchar_t* id, int32_t blockLength, int bufferPins = 12)
        : buffer_(static_cast<std::size_t>(blockLength)),
          plugin_(bench::openProcessingHalf(host, id, buffer_.data(), bufferPins))
    {
    }
    ~Module() { plugin_->release(); }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    void process(int32_t count, mpapi::MpEvent* events) { plugin_->process(count, events); }

private:
    std::vector<float> buffer_;
    mpapi::IMpPlugin* plugin_ = nullptr;
};

// A MIDI message of size bytes (1 to 4) at a block position on a pin.
inline mpapi::MpEvent midiEvent(int32_t time, int32_t pin, const unsigned char* bytes, int32_t size)
{
    mpapi::MpEvent e{};
    e.timeDelta = time;
    e.eventType = mpapi::MP_EVENT_MIDI;
    e.parm1 = pin;
    e.parm2 = size;
    std::memcpy(&e.parm3, bytes, static_cast<std::size_t>(size));
    return e;
}

inline mpapi::MpEvent midiEvent(int32_t time, int32_t pin, uint8_t status, uint8_t data1, uint8_t data2)
{
    const unsigned char bytes[3] = {status, data1, data2};
    return midiEvent(time, pin, bytes, 3);
}

// An int or float pin value at block position 0.
inline mpapi::MpEvent intEvent(int32_t pin, int32_t value)
{
    mpapi::MpEvent e{};
    e.eventType = mpapi::MP_EVENT_PIN_VALUE;
    e.parm1 = pin;
    e.parm2 = 4;
    std::memcpy(&e.parm3, &value, 4);
    return e;
}

inline mpapi::MpEvent floatEvent(int32_t pin, float value)
{
    mpapi::MpEvent e = intEvent(pin, 0);
    std::memcpy(&e.parm3, &value, 4);
    return e;
}

// Links events[0..count) into a list in their order; null for none.
inline mpapi::MpEvent* link(mpapi::MpEvent* events, std::size_t count)
{
    for (std::size_t i = 0; i + 1 < count; ++i)
        events[i].next = &events[i + 1];
    if (count > 0)
        events[count - 1].next = nullptr;
    return count > 0 ? events : nullptr;
}

// A list of events owned in one place; link() chains them in order before use.
class Events {
public:
    void midi(int32_t time, int32_t pin, uint8_t status, uint8_t data1, uint8_t data2)
    {
        events_.push_back(midiEvent(time, pin, status, data1, data2));
    }
    void intValue(int32_t time, int32_t pin, int32_t value)
    {
        mpapi::MpEvent e = intEvent(pin, value);
        e.timeDelta = time;
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
        return routing_bench::link(events_.data(), events_.size());
    }
    std::size_t size() const { return events_.size(); }

private:
    std::vector<mpapi::MpEvent> events_;
    std::vector<std::wstring> texts_;
    std::vector<std::size_t> textOf_;
};

// Times one module on the same events every block: the block's budget share, one item per
// sample (the streams carry one event per sample), allocations and sends per block.
inline void timeStream(benchmark::State& state, bench::BenchHost& host, Module& module, mpapi::MpEvent* events,
                       int32_t blockLength, float sampleRate)
{
    const bench::AllocationsPerIteration allocations;
    host.pinValues = 0;
    bench::BlockBudget budget(blockLength / static_cast<double>(sampleRate));
    for (auto _ : state) {
        bench::CountAllocations counting;
        module.process(blockLength, events);
    }
    budget.report(state);
    state.SetItemsProcessed(state.iterations() * blockLength);
    allocations.report(state);
    state.counters["sent_per_block"] = bench::perBlock(static_cast<double>(host.pinValues));
}

} // namespace routing_bench
