// The framework's block loop: process cost per block per instance for a rack of 300 instances,
// idle and with 8 events per block, at 32 and 512 samples; and proof that process allocates
// nothing.
#include "AllocationCounter.h"
#include "BenchHost.h"

#include <benchmark/benchmark.h>

#include <bit>
#include <memory>
#include <vector>

namespace {

constexpr int kInstances = 300;
constexpr int kEventsPerBlock = 8;

// 300 processing halves (signal shapers and float passers alternating), opened, with buffers,
// past graph start.
class Rack {
public:
    explicit Rack(int blockLength) : host_(blockLength), blockLength_(blockLength)
    {
        buffers_.resize(2 * kInstances, std::vector<float>(blockLength, 0.25f));
        for (int i = 0; i < kInstances; ++i) {
            mpapi::IMpPlugin* plugin = bench::openProcessingHalf(host_, i % 2 ? L"QV_FloatPasserDsp" : L"QV_Pow2x");
            plugin->setBuffer(0, buffers_[2 * i].data());
            plugin->setBuffer(1, buffers_[2 * i + 1].data());
            mpapi::MpEvent graphStart{0, mpapi::MP_EVENT_GRAPH_START, 0, 0, 0, 0, nullptr, nullptr};
            mpapi::MpEvent streaming{0, mpapi::MP_EVENT_STREAMING_START, 0, 0, 0, 0, nullptr, &graphStart};
            plugin->process(blockLength, &streaming);
            plugins_.push_back(plugin);
        }
        // Value events spread over the block: pin 0 of a float passer, a pin the shaper lacks.
        events_.resize(kEventsPerBlock);
        for (int e = 0; e < kEventsPerBlock; ++e) {
            events_[e] = {e * blockLength / kEventsPerBlock, mpapi::MP_EVENT_PIN_VALUE, 0, 4,
                          std::bit_cast<int32_t>(0.1f * e), 0, nullptr, e + 1 < kEventsPerBlock ? &events_[e + 1] : nullptr};
        }
    }
    ~Rack()
    {
        for (auto* plugin : plugins_)
            plugin->release();
    }

    void runBlock(bool withEvents)
    {
        for (auto* plugin : plugins_)
            plugin->process(blockLength_, withEvents ? events_.data() : nullptr);
    }

private:
    bench::BenchHost host_;
    int blockLength_;
    std::vector<std::vector<float>> buffers_;
    std::vector<mpapi::IMpPlugin*> plugins_;
    std::vector<mpapi::MpEvent> events_;
};

void processRack(benchmark::State& state, bool withEvents)
{
    const int blockLength = static_cast<int>(state.range(0));
    Rack rack(blockLength);
    const std::int64_t before = bench::allocationCount();
    {
        bench::CountAllocations counting;
        for (auto _ : state)
            rack.runBlock(withEvents);
    }
    state.counters["instances"] = kInstances;
    state.counters["ns/instance/block"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kInstances,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["heap allocations"] = static_cast<double>(bench::allocationCount() - before);
}

void BM_ProcessIdle(benchmark::State& state) { processRack(state, false); }
void BM_ProcessWith8Events(benchmark::State& state) { processRack(state, true); }

BENCHMARK(BM_ProcessIdle)->Arg(32)->Arg(512);
BENCHMARK(BM_ProcessWith8Events)->Arg(32)->Arg(512);

} // namespace
