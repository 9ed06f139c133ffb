// The change triggers never sleep once their gate streams: their standing cost per block when
// idle, and the timed gate with a new time message in every block.
#include "ProcessingHalf.h"
#include "Utility/ChangeTriggerMessages.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kBlock = 64;

void perBlock(benchmark::State& state)
{
    state.counters["ns/block"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_IdleChangeTrigger(benchmark::State& state)
{
    bench::ProcessingHalf trigger(L"QV_ChangeTrigger", 1, kBlock);
    for (auto _ : state)
        trigger.run();
    perBlock(state);
}

void BM_IdleChangeTriggerTimed(benchmark::State& state)
{
    bench::ProcessingHalf trigger(L"QV_ChangeTriggerTimed", 1, kBlock);
    for (auto _ : state)
        trigger.run();
    perBlock(state);
}

void BM_TimedGateMessageEveryBlock(benchmark::State& state)
{
    bench::ProcessingHalf trigger(L"QV_ChangeTriggerTimed", 1, kBlock);
    char text[] = "v0.250000";
    for (auto _ : state) {
        trigger.plugin()->receiveMessageFromGui(change_trigger::kValueText, sizeof text, text);
        trigger.run();
    }
    perBlock(state);
}

BENCHMARK(BM_IdleChangeTrigger);
BENCHMARK(BM_IdleChangeTriggerTimed);
BENCHMARK(BM_TimedGateMessageEveryBlock);

} // namespace
