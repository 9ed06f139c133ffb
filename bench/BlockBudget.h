// Reports a benchmark loop's cost per iteration as a percentage of one block's real-time budget
// (block length / sample rate), so results read the same on any machine.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>

namespace bench {

class BlockBudget {
public:
    // Starts timing; construct right before the benchmark loop.
    explicit BlockBudget(double blockSeconds) : blockSeconds_(blockSeconds), start_(std::chrono::steady_clock::now()) {}

    // Call right after the loop.
    void report(benchmark::State& state) const
    {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
        if (state.iterations() > 0)
            state.counters["budget_percent"] = 100.0 * elapsed.count() / static_cast<double>(state.iterations()) / blockSeconds_;
    }

private:
    double blockSeconds_;
    std::chrono::steady_clock::time_point start_;
};

// A total over the whole loop reported per iteration (a block, or one request and its block).
inline benchmark::Counter perBlock(double total) { return benchmark::Counter(total, benchmark::Counter::kAvgIterations); }

} // namespace bench
