// Runs chains of MIDI modules on a dense MIDI stream at 48 kHz in 64-sample blocks, each stage's
// MIDI output fed to the next stage within the same block. Reported per block as a percentage of
// the block's real-time budget, per incoming message in nanoseconds, with the messages in and out
// per block and the heap allocations made inside process (must be 0).
//
// Modules are created through the factory and driven by a host of this file that only collects
// what they send, into storage allocated before the loop.
#pragma once

#include "AllocationCounter.h"
#include "BenchHost.h"
#include "BlockBudget.h"
#include "RoutingBench.h"
#include "mpapi.h"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <memory>
#include <utility>
#include <vector>

namespace midi_chain {

inline constexpr float kSampleRate = 48000.0f;
inline constexpr int32_t kBlock = 64;
inline constexpr double kBlockSeconds = double(kBlock) / kSampleRate;
inline constexpr std::size_t kMaxEvents = 16384;  // per stage and block; a retrigger sends 256 per note-on

using routing_bench::floatEvent;
using routing_bench::intEvent;
using routing_bench::link;

// Every module of the chains has its MIDI input at pin 0.
inline mpapi::MpEvent midiEvent(int32_t time, const unsigned char* bytes, int32_t size)
{
    return routing_bench::midiEvent(time, 0, bytes, size);
}

// Collects every MIDI message a module sends in one block as events for the next stage, kept in
// time order (a module may send at block position 0 after later events).
class CollectingHost : public bench::BenchHost {
public:
    CollectingHost() : bench::BenchHost(kBlock, kSampleRate), events_(kMaxEvents) {}

    int32_t sendPinValue(int32_t position, int32_t, int32_t size, const void* data) override
    {
        ++pinValues;
        if (count_ >= events_.size() || size < 1 || size > 4)
            return 0;
        mpapi::MpEvent e = midiEvent(position < 0 ? 0 : position, static_cast<const unsigned char*>(data), size);
        std::size_t at = count_++;
        for (; at > 0 && events_[at - 1].timeDelta > e.timeDelta; --at)
            events_[at] = events_[at - 1];
        events_[at] = e;
        return 0;
    }

    void clear() { count_ = 0; }
    std::size_t count() const { return count_; }
    mpapi::MpEvent* list() { return link(events_.data(), count_); }

private:
    std::vector<mpapi::MpEvent> events_;
    std::size_t count_ = 0;
};

// One module with its own host, opened and past graph start with its int and float pins set.
struct Stage {
    CollectingHost host;
    std::array<float, kBlock> buffer{};  // before plugin: it is given this buffer
    mpapi::IMpPlugin* plugin;

    Stage(const wchar_t* identifier, std::vector<mpapi::MpEvent> settings)
        : plugin(bench::openProcessingHalf(host, identifier, buffer.data(), 12))
    {
        mpapi::MpEvent start{};
        start.eventType = mpapi::MP_EVENT_GRAPH_START;
        settings.push_back(start);
        plugin->process(kBlock, link(settings.data(), settings.size()));
        host.clear();
    }
    ~Stage() { plugin->release(); }
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;
};

// A dense keyboard-and-controller stream: messages spread evenly over each block, cycling
// through note-ons and their note-offs, controllers (pan centre and volume 100 among them),
// pitch bend, pressure and clock, with a program change every 16th block.
class Stream {
public:
    static constexpr int kBlocks = 64;

    explicit Stream(int perBlock) : perBlock_(perBlock), events_(static_cast<std::size_t>(kBlocks * perBlock))
    {
        int n = 0;
        for (int block = 0; block < kBlocks; ++block)
            for (int i = 0; i < perBlock; ++i, ++n) {
                const auto note = static_cast<unsigned char>(36 + (n / 8 * 7) % 48);
                unsigned char m[3] = {0, 0, 0};
                int32_t size = 3;
                switch (n % 8) {
                case 0: m[0] = 0x90; m[1] = note; m[2] = 100; break;
                case 1: m[0] = 0xB0; m[1] = static_cast<unsigned char>((n * 13) % 128); m[2] = static_cast<unsigned char>(n % 128); break;
                case 2: m[0] = 0x80; m[1] = note; m[2] = 0; break;
                case 3: m[0] = 0xE0; m[1] = 0; m[2] = static_cast<unsigned char>(n % 128); break;
                case 4: m[0] = 0xB0; m[1] = 10; m[2] = 64; break;
                case 5: m[0] = 0xB0; m[1] = 7; m[2] = 100; break;
                case 6: m[0] = 0xF8; size = 1; break;
                default: m[0] = 0xD0; m[1] = 60; size = 2; break;
                }
                if (i == 0 && block % 16 == 0) {
                    m[0] = 0xC0; m[1] = static_cast<unsigned char>(block / 16); size = 2;
                }
                events_[static_cast<std::size_t>(n)] = midiEvent(i * kBlock / perBlock, m, size);
            }
    }

    int perBlock() const { return perBlock_; }
    // The events of one block, linked afresh.
    mpapi::MpEvent* block(long index)
    {
        auto* first = &events_[static_cast<std::size_t>((index % kBlocks) * perBlock_)];
        return link(first, static_cast<std::size_t>(perBlock_));
    }

private:
    int perBlock_;
    std::vector<mpapi::MpEvent> events_;
};

// Runs blocks of the stream through the stages in turn, each stage's output into the next.
inline void runChain(benchmark::State& state, std::vector<std::unique_ptr<Stage>>& stages, Stream& stream)
{
    long block = 0;
    long sent = 0;
    const bench::AllocationsPerIteration allocations;
    const auto start = std::chrono::steady_clock::now();
    bench::BlockBudget budget(kBlockSeconds);
    for (auto _ : state) {
        mpapi::MpEvent* events = stream.block(block++);
        bench::CountAllocations counting;
        for (auto& stage : stages) {
            stage->host.clear();
            stage->plugin->process(kBlock, events);
            sent += static_cast<long>(stage->host.count());
            events = stage->host.list();
        }
    }
    budget.report(state);
    const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    const double messagesIn = static_cast<double>(state.iterations()) * stream.perBlock();
    state.counters["stages"] = static_cast<double>(stages.size());
    state.counters["messages_in_per_block"] = stream.perBlock();
    state.counters["messages_out_per_block"] = bench::perBlock(static_cast<double>(sent));
    if (messagesIn > 0)
        state.counters["ns_per_message_in"] = elapsed.count() / messagesIn;
    allocations.report(state);
    state.SetItemsProcessed(static_cast<int64_t>(messagesIn));
}

template <class... Stages>
std::vector<std::unique_ptr<Stage>> makeChain(Stages&&... stages)
{
    std::vector<std::unique_ptr<Stage>> chain;
    (chain.push_back(std::forward<Stages>(stages)), ...);
    return chain;
}

} // namespace midi_chain
