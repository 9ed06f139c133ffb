// The times of single audio-thread calls, reported as what a real-time host feels: the worst call
// and the 99.9th percentile (a mean hides the one call that makes the audio stutter), with the
// median beside them. Memory for the samples is set aside before timing starts.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace bench {

class CallTimes {
public:
    explicit CallTimes(std::size_t calls = 1 << 16) { samples_.reserve(calls); }

    // Runs call() and keeps how long it took.
    template <class Call>
    void time(Call&& call)
    {
        const auto start = std::chrono::steady_clock::now();
        call();
        add(std::chrono::steady_clock::now() - start);
    }
    void add(std::chrono::nanoseconds took)
    {
        if (samples_.size() < samples_.capacity())
            samples_.push_back(took.count());
    }
    std::size_t size() const { return samples_.size(); }

    // Counters name + "worst_us", "p999_us" and "median_us".
    void report(benchmark::State& state, const std::string& name = "")
    {
        if (samples_.empty())
            return;
        std::sort(samples_.begin(), samples_.end());
        const auto at = [&](double fraction) {
            return static_cast<double>(samples_[std::min(samples_.size() - 1, static_cast<std::size_t>(fraction * static_cast<double>(samples_.size())))]) / 1000.0;
        };
        state.counters[name + "worst_us"] = static_cast<double>(samples_.back()) / 1000.0;
        state.counters[name + "p999_us"] = at(0.999);
        state.counters[name + "median_us"] = at(0.5);
    }

private:
    std::vector<long long> samples_;  // nanoseconds
};

} // namespace bench
