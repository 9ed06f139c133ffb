// Cost of computing one controller dump (114 messages from the 256 slots of a preset block), the
// part of every preset select that the managers share.
#include "PresetStore/ControllerDump.h"

#include <benchmark/benchmark.h>

#include <array>

namespace {

// The 114 values of one dump, computed from 256 slots that change between dumps.
void BM_ControllerDumpCompute(benchmark::State& state)
{
    float slots[256];
    for (int k = 0; k < 256; ++k)
        slots[k] = 0.01f * static_cast<float>(k % 50);
    std::array<controller_dump::Message, controller_dump::kMessages> out;
    long n = 0;
    for (auto _ : state) {
        slots[n++ % 143] += 0.001f;
        controller_dump::computeDump(slots, out);
        benchmark::DoNotOptimize(out);
    }
    state.counters["messages"] = controller_dump::kMessages;
}

} // namespace

BENCHMARK(BM_ControllerDumpCompute);
