// Counts heap allocations made while a scope is armed, so benchmarks can prove that the audio
// path allocates nothing. One global operator new replacement serves the whole benchmark binary.
#pragma once

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

} // namespace bench
