// Drives the audio effects as the host does: test signals on their inputs, and their outputs
// gathered over whole blocks.
#pragma once

#include "framework/HostTestSupport.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

namespace audio_test {

inline constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
inline constexpr float kInf = std::numeric_limits<float>::infinity();

inline std::function<float(std::int64_t)> impulseAt(std::int64_t at, float value = 1.0f)
{
    return [at, value](std::int64_t n) { return n == at ? value : 0.0f; };
}

// Gathers output pins over whole 64-sample blocks.
inline std::vector<std::vector<float>> runBlocks(tav_host::Host& host, std::size_t module,
                                                 std::vector<std::int32_t> pins, int blocks)
{
    std::vector<std::vector<float>> out(pins.size());
    for (int b = 0; b < blocks; ++b) {
        host.runBlock(64);
        for (std::size_t p = 0; p < pins.size(); ++p) {
            const auto buffer = host.buffer(module, pins[p]);
            out[p].insert(out[p].end(), buffer.begin(), buffer.end());
        }
    }
    return out;
}

} // namespace audio_test
