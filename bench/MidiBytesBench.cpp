// Cost of reading MIDI events as whole messages (the framework's MidiReader, which every MIDI
// input goes through), per message: one message per event as hosts mostly send them, a padded
// two-byte message, running status, clocks inside messages, and a 64-byte SysEx with real-time
// bytes in it.
#include "MidiReader.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

using Event = std::vector<unsigned char>;

// Reads the events over and over; reports the time per message delivered.
void readEvents(benchmark::State& state, std::vector<Event> events)
{
    MidiReader reader;
    int64_t messages = 0;
    uint32_t sum = 0;
    for (auto _ : state) {
        for (Event& e : events)
            reader.read(e.data(), static_cast<int32_t>(e.size()), [&](unsigned char* bytes, int32_t size) {
                sum += bytes[0] + static_cast<uint32_t>(size);
                ++messages;
            });
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(messages);
    state.counters["ns/message"] =
        benchmark::Counter(static_cast<double>(messages), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_MidiReaderOneMessagePerEvent(benchmark::State& state)
{
    readEvents(state, {{0x90, 60, 100}, {0xB0, 7, 100}, {0x80, 60, 0}, {0xE0, 0, 64}});
}

void BM_MidiReaderPaddedShortMessages(benchmark::State& state)
{
    readEvents(state, {{0xC0, 5, 0}, {0xF8, 0, 0}, {0xD0, 40, 0}, {0xF8}});
}

void BM_MidiReaderRunningStatus(benchmark::State& state)
{
    readEvents(state, {{0x90, 60, 100, 62, 100, 64, 100, 60, 0, 62, 0, 64, 0}});
}

void BM_MidiReaderClocksInsideMessages(benchmark::State& state)
{
    readEvents(state, {{0x80, 0xF8, 60, 0}, {0xB0, 6, 0xF8, 0x42}});
}

void BM_MidiReaderSysExWithRealTime(benchmark::State& state)
{
    Event sysex{0xF0};
    for (int i = 0; i < 62; ++i)
        sysex.push_back(static_cast<unsigned char>(i % 16 == 8 ? 0xF8 : i));
    sysex.push_back(0xF7);
    // The reader closes the gaps in place, so each pass reads a fresh copy.
    std::vector<Event> events(1, sysex);
    MidiReader reader;
    int64_t messages = 0;
    for (auto _ : state) {
        events[0] = sysex;
        reader.read(events[0].data(), static_cast<int32_t>(events[0].size()),
                    [&](unsigned char* bytes, int32_t) { benchmark::DoNotOptimize(bytes); ++messages; });
    }
    state.SetItemsProcessed(messages);
}

} // namespace

BENCHMARK(BM_MidiReaderOneMessagePerEvent);
BENCHMARK(BM_MidiReaderPaddedShortMessages);
BENCHMARK(BM_MidiReaderRunningStatus);
BENCHMARK(BM_MidiReaderClocksInsideMessages);
BENCHMARK(BM_MidiReaderSysExWithRealTime);
