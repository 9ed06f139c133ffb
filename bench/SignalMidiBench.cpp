// Cost of the MIDI-to-signal converters, signal-to-MIDI converters and indicators on a dense
// stream at 48 kHz in 32-sample blocks: every module that reads MIDI gets the same 16 messages per
// block (notes, sustain pedal, controllers, program changes), and the signal readers get a gate
// that flips every block, a CV that moves every sample and a streaming change every block.
// Reported per block (as a percentage of the block's real-time budget), per message (items), with
// the messages sent and the heap allocations made inside process per block (must be 0).
//
// The modules are created through the factory and driven by a minimal host of this file, so the
// measurement holds the modules' own work and no recording of host calls.
#include "AllocationCounter.h"
#include "BenchHost.h"
#include "BlockBudget.h"
#include "RoutingBench.h"
#include "mpapi.h"

#include <benchmark/benchmark.h>

#include <array>
#include <memory>
#include <vector>

namespace {

constexpr float kSampleRate = 48000.0f;
constexpr int kBlock = 32;
constexpr int kMessagesPerBlock = 16;
constexpr int kPins = 8;
constexpr double kBlockBudgetSeconds = double(kBlock) / kSampleRate;

using routing_bench::floatEvent;
using routing_bench::intEvent;

// Every MIDI-reading module has its MIDI input at pin 0.
mpapi::MpEvent midiEvent(int32_t time, uint8_t status, uint8_t data1, uint8_t data2)
{
    return routing_bench::midiEvent(time, 0, status, data1, data2);
}

mpapi::MpEvent streamingEvent(int32_t pin, bool streaming, int32_t time = 0)
{
    mpapi::MpEvent e{};
    e.timeDelta = time;
    e.eventType = streaming ? mpapi::MP_EVENT_STREAMING_START : mpapi::MP_EVENT_STREAMING_STOP;
    e.parm1 = pin;
    return e;
}

void link(std::vector<mpapi::MpEvent>& events) { routing_bench::link(events.data(), events.size()); }

// One processing half with its own buffers, opened and past graph start with its setup values.
struct Module {
    mpapi::IMpPlugin* plugin;
    std::array<std::vector<float>, kPins> buffers;

    Module(bench::BenchHost& host, const wchar_t* identifier, std::vector<mpapi::MpEvent> setup)
        : plugin(bench::openProcessingHalf(host, identifier))
    {
        for (int32_t pin = 0; pin < kPins; ++pin) {
            buffers[static_cast<std::size_t>(pin)].assign(kBlock, 0.0f);
            plugin->setBuffer(pin, buffers[static_cast<std::size_t>(pin)].data());
        }
        mpapi::MpEvent graphStart{};
        graphStart.eventType = mpapi::MP_EVENT_GRAPH_START;
        setup.push_back(graphStart);
        link(setup);
        plugin->process(kBlock, setup.data());
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    ~Module() { plugin->release(); }

    float* buffer(int32_t pin) { return buffers[static_cast<std::size_t>(pin)].data(); }
};

// The dense stream of one block: a chord played and released over the sustain pedal, controller
// sweeps and a program change, spread over the block.
std::vector<mpapi::MpEvent> denseStream(long block)
{
    std::vector<mpapi::MpEvent> events;
    const auto base = static_cast<unsigned char>(48 + block % 24);
    for (int i = 0; i < kMessagesPerBlock; ++i) {
        const int32_t time = i * kBlock / kMessagesPerBlock;
        const auto step = static_cast<unsigned char>(i);
        switch (i % 8) {
        case 0: events.push_back(midiEvent(time, 0x90, base, 100)); break;
        case 1: events.push_back(midiEvent(time, 0x90, static_cast<unsigned char>(base + 4), 90)); break;
        case 2: events.push_back(midiEvent(time, 0xB0, 64, (block & 1) ? 0 : 127)); break;
        case 3: events.push_back(midiEvent(time, 0xB0, 7, static_cast<unsigned char>((block * 3 + step) & 127))); break;
        case 4: events.push_back(midiEvent(time, 0x80, base, 0)); break;
        case 5: events.push_back(midiEvent(time, 0x90, static_cast<unsigned char>(base + 4), 0)); break;
        case 6: events.push_back(midiEvent(time, 0xC0, static_cast<unsigned char>(block & 127), 0)); break;
        default: events.push_back(midiEvent(time, 0xB0, 64, 0)); break;
        }
    }
    link(events);
    return events;
}

void reportCounters(benchmark::State& state, const bench::BenchHost& host, const bench::AllocationsPerIteration& allocations,
                    long messagesPerBlock)
{
    state.SetItemsProcessed(state.iterations() * messagesPerBlock);
    state.counters["messages_in_per_block"] = static_cast<double>(messagesPerBlock);
    allocations.report(state);
    state.counters["sends_per_block"] = bench::perBlock(static_cast<double>(host.pinValues + host.messages));
}

// Seven modules read the same dense stream: mono gate and pitch, trigger, program number,
// controller floats, controller switch, pedal toggle and note LED.
void BM_MidiToSignal_DenseStream(benchmark::State& state)
{
    bench::BenchHost host{kBlock, kSampleRate};
    std::vector<std::unique_ptr<Module>> modules;
    modules.push_back(std::make_unique<Module>(host, L"QV_MidiToCvMono", std::vector<mpapi::MpEvent>{}));
    modules.push_back(std::make_unique<Module>(host, L"QV_MidiToTrigger",
                                               std::vector<mpapi::MpEvent>{intEvent(1, 1), intEvent(2, 1)}));
    modules.push_back(std::make_unique<Module>(host, L"QV_PrgChngToInt", std::vector<mpapi::MpEvent>{}));
    modules.push_back(std::make_unique<Module>(host, L"QV_CCToFloat", std::vector<mpapi::MpEvent>{}));
    modules.push_back(std::make_unique<Module>(host, L"QV_CCToGuiBool", std::vector<mpapi::MpEvent>{intEvent(1, 1)}));
    modules.push_back(std::make_unique<Module>(host, L"QV_PedalToGuiBool",
                                               std::vector<mpapi::MpEvent>{intEvent(1, 1), floatEvent(2, 0.5f)}));
    modules.push_back(std::make_unique<Module>(host, L"QV_MidiToLed", std::vector<mpapi::MpEvent>{intEvent(1, 10)}));

    std::vector<std::vector<mpapi::MpEvent>> streams;
    for (long block = 0; block < 48; ++block)
        streams.push_back(denseStream(block));
    host.resetCounts();
    long block = 0;
    const bench::AllocationsPerIteration allocations;
    bench::BlockBudget budget(kBlockBudgetSeconds);
    for (auto _ : state) {
        mpapi::MpEvent* events = streams[static_cast<std::size_t>(block++ % 48)].data();
        bench::CountAllocations counting;
        for (auto& module : modules)
            module->plugin->process(kBlock, events);
    }
    budget.report(state);
    reportCounters(state, host, allocations, static_cast<long>(modules.size()) * kMessagesPerBlock);
}

// The signal readers: a CV-to-controller converter whose value CV moves every sample under a high
// gate (a send per sample, its worst case), a gate-to-note converter and a gate-triggered
// controller on a gate that flips every block, and a level LED with a streaming change every block.
void BM_SignalToMidi_MovingCv(benchmark::State& state)
{
    bench::BenchHost host{kBlock, kSampleRate};
    Module cvToCc(host, L"QV_CvToMidiCC", {intEvent(2, 7), streamingEvent(0, true), streamingEvent(3, true)});
    Module gateToNote(host, L"QV_GateToNote", {intEvent(1, 60), streamingEvent(0, true)});
    Module gateToCc(host, L"QV_GateToCC", {intEvent(1, 20)});
    Module levelLed(host, L"QV_LedDriver", {});
    std::fill_n(cvToCc.buffer(0), kBlock, 1.0f);

    mpapi::MpEvent flip[2] = {streamingEvent(0, true), streamingEvent(0, false)};
    host.resetCounts();
    long block = 0;
    const bench::AllocationsPerIteration allocations;
    bench::BlockBudget budget(kBlockBudgetSeconds);
    for (auto _ : state) {
        const bool high = (block & 1) != 0;
        float* value = cvToCc.buffer(3);
        for (int i = 0; i < kBlock; ++i)
            value[i] = static_cast<float>((block * kBlock + i) & 127) / 127.0f;
        std::fill_n(gateToNote.buffer(0), kBlock, high ? 1.0f : 0.0f);
        std::fill_n(gateToCc.buffer(0), kBlock, high ? 1.0f : 0.0f);
        std::fill_n(levelLed.buffer(0), kBlock, static_cast<float>(block % 4) * 0.5f);
        mpapi::MpEvent& change = flip[block & 1];
        ++block;
        bench::CountAllocations counting;
        cvToCc.plugin->process(kBlock, nullptr);
        gateToNote.plugin->process(kBlock, nullptr);
        gateToCc.plugin->process(kBlock, &change);
        levelLed.plugin->process(kBlock, &change);
    }
    budget.report(state);
    // Items: the samples the CV-to-controller converter tests, each a potential message.
    reportCounters(state, host, allocations, kBlock);
}

} // namespace

BENCHMARK(BM_MidiToSignal_DenseStream);
BENCHMARK(BM_SignalToMidi_MovingCv);
