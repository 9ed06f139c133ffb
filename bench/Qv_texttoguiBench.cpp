// Text values on the audio thread: QV_TextToGui given a new text in every 64-sample block, from a
// short name to the longest text a pin holds without moving it, and sending it to its interface
// half; reported per block with the heap allocations made inside process, for the first texts of
// a fresh module and on average (both must be 0).
#include "AllocationCounter.h"
#include "RoutingBench.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr int kBlock = 64;

void BM_TextToGui_NewTextEveryBlock(benchmark::State& state)
{
    bench::BenchHost host(kBlock);
    routing_bench::Module toGui(host, L"QV_TextToGui", kBlock, 0);
    routing_bench::Events start;
    start.graphStart(0);
    toGui.process(kBlock, start.link());

    // Three texts in turn, so every block stores a value of another length.
    const std::size_t longest = static_cast<std::size_t>(state.range(0));
    routing_bench::Events texts[3];
    texts[0].textValue(0, 0, L"Lead");
    texts[1].textValue(0, 0, std::wstring(longest, L'a'));
    texts[2].textValue(0, 0, std::wstring(longest / 2, L'b'));
    mpapi::MpEvent* lists[3] = {texts[0].link(), texts[1].link(), texts[2].link()};

    // The first texts a fresh module takes would grow its value.
    state.counters["allocs_first_texts"] = static_cast<double>(bench::allocationsOf([&] {
        for (mpapi::MpEvent* list : lists)
            toGui.process(kBlock, list);
    }));

    const bench::AllocationsPerIteration allocations;
    host.resetCounts();
    std::size_t i = 0;
    for (auto _ : state) {
        bench::CountAllocations counting;
        toGui.process(kBlock, lists[i]);
        i = (i + 1) % 3;
    }
    allocations.report(state);
    state.counters["messages_per_block"] = bench::perBlock(static_cast<double>(host.messages));
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_TextToGui_NewTextEveryBlock)->Arg(255)->Arg(4096);
