// Counts heap allocations made while a scope is armed, so benchmarks can prove that the audio
// path allocates nothing. One global operator new replacement serves the whole benchmark binary.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

namespace bench {

// Allocations seen while armed (all threads).
std::int64_t allocationCount();

// Arms the counter for its lifetime.
class CountAllocations {
public:
    CountAllocations();
    ~CountAllocations();
    CountAllocations(const CountAllocations&) = delete;
    CountAllocations& operator=(const CountAllocations&) = delete;
};

// The allocations made by f() alone, counted apart from any timed loop (the first blocks of a
// fresh module, say, which a loop's average would hide).
template <class F>
std::int64_t allocationsOf(F&& f)
{
    const std::int64_t before = allocationCount();
    {
        CountAllocations counting;
        f();
    }
    return allocationCount() - before;
}

// Notes the count when made; report() sets a counter (by default "allocs_per_block") to the
// allocations counted since, per benchmark iteration.
class AllocationsPerIteration {
public:
    AllocationsPerIteration() : before_(allocationCount()) {}

    void report(benchmark::State& state, const char* counter = "allocs_per_block") const
    {
        state.counters[counter] = benchmark::Counter(static_cast<double>(allocationCount() - before_),
                                                                benchmark::Counter::kAvgIterations);
    }

private:
    std::int64_t before_;
};

} // namespace bench
