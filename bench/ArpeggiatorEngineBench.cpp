// The arpeggiators' cost: the worst single event (a chord type change in direct chord play, whose
// note-off sends both all-notes sweeps, 256 messages) and a clocked run (blocks of 64 samples with
// four clock steps each over three held notes, two octaves, with step chords); per block, with
// the messages sent per block and proof that neither allocates.
#include "AllocationCounter.h"
#include "BenchHost.h"
#include "Midi/ArpeggiatorEngine.h"

#include <benchmark/benchmark.h>

#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace {

using Pin = arpeggiator::ArpeggiatorBase::Pin;
constexpr int kBlock = 64;

mpapi::MpEvent midiEvent(int32_t time, std::array<uint8_t, 3> bytes)
{
    int32_t inline3 = 0;
    std::memcpy(&inline3, bytes.data(), 3);
    return {time, mpapi::MP_EVENT_MIDI, Pin::kMidiIn, 3, inline3, 0, nullptr, nullptr};
}

mpapi::MpEvent valueEvent(int32_t time, int32_t pin, int32_t value)
{
    return {time, mpapi::MP_EVENT_PIN_VALUE, pin, 4, value, 0, nullptr, nullptr};
}

// One arpeggiator, opened, with its mode pins set.
class Arpeggiator {
public:
    explicit Arpeggiator(const std::vector<std::pair<int32_t, int32_t>>& modes) : host_(kBlock)
    {
        plugin_ = bench::openProcessingHalf(host_, L"QV_PowerArpeggiator");
        std::vector<mpapi::MpEvent> events;
        for (const auto& [pin, value] : modes)
            events.push_back(valueEvent(0, pin, value));
        run(events);
    }
    ~Arpeggiator() { plugin_->release(); }

    // One block with these events (linked here, all sorted by time).
    void run(std::vector<mpapi::MpEvent>& events)
    {
        for (std::size_t i = 0; i + 1 < events.size(); ++i)
            events[i].next = &events[i + 1];
        plugin_->process(kBlock, events.empty() ? nullptr : events.data());
    }
    long sent() const { return host_.pinValues; }

private:
    bench::BenchHost host_;
    mpapi::IMpPlugin* plugin_ = nullptr;
};

void report(benchmark::State& state, const Arpeggiator& arp, long sentBefore, std::int64_t allocationsBefore)
{
    state.counters["messages/block"] =
        static_cast<double>(arp.sent() - sentBefore) / static_cast<double>(state.iterations());
    state.counters["ns/block"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["heap allocations"] = static_cast<double>(bench::allocationCount() - allocationsBefore);
}

void BM_ChordTypeChange(benchmark::State& state)
{
    Arpeggiator arp({{Pin::kChordNotes, 2}, {Pin::kChordFromType, 3}, {Pin::kChordType, 13}});
    std::vector<mpapi::MpEvent> events(2);
    int32_t type = 13;
    const long sentBefore = arp.sent();
    const std::int64_t before = bench::allocationCount();
    {
        bench::CountAllocations counting;
        for (auto _ : state) {
            type = type == 13 ? 14 : 13;
            events[0] = valueEvent(0, Pin::kChordType, type);
            events[1] = midiEvent(0, {0x80, 60, 0});
            arp.run(events);
        }
    }
    report(state, arp, sentBefore, before);
}

void BM_ClockedRun(benchmark::State& state)
{
    Arpeggiator arp({{Pin::kArpOn, 3}, {Pin::kOctaves, 2}, {Pin::kDirection, 3}, {Pin::kUpDownTurn, 5},
                     {Pin::kChordNotes, 3}, {Pin::kChordFromType, 3}, {Pin::kChordType, 13}});
    std::vector<mpapi::MpEvent> held{midiEvent(0, {0x90, 60, 90}), midiEvent(0, {0x90, 64, 90}),
                                     midiEvent(0, {0x90, 67, 90})};
    arp.run(held);
    std::vector<mpapi::MpEvent> clock{midiEvent(0, {0x90, 10, 100}), midiEvent(16, {0x80, 10, 0}),
                                      midiEvent(32, {0x90, 10, 100}), midiEvent(48, {0x80, 10, 0})};
    const long sentBefore = arp.sent();
    const std::int64_t before = bench::allocationCount();
    {
        bench::CountAllocations counting;
        for (auto _ : state)
            arp.run(clock);
    }
    report(state, arp, sentBefore, before);
}

BENCHMARK(BM_ChordTypeChange);
BENCHMARK(BM_ClockedRun);

} // namespace
