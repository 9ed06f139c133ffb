// Drives the modules that turn MIDI into signals through the stand-in host: a module past its
// graph start, its audio outputs read back, and the numbers it sent.
#pragma once

#include "framework/HostTestSupport.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace signal_test {

class MidiToSignal : public ::testing::Test {
protected:
    std::size_t start(const char* identifier)
    {
        const std::size_t module = test_support::add(host, identifier);
        host.runBlock(64);  // graph start
        host.clearCalls();
        return module;
    }
    std::vector<float> out(std::size_t module, int32_t pin)
    {
        const auto samples = host.buffer(module, pin);
        return {samples.begin(), samples.end()};
    }
    // (pin, value) of every float or int the module sent in the last block, in order.
    std::vector<std::pair<int32_t, float>> floatsSent(std::size_t module)
    {
        std::vector<std::pair<int32_t, float>> sent;
        for (const auto& call : host.callsOf(tav_host::CallKind::SendPinValue, module)) {
            float v = 0.0f;
            EXPECT_TRUE(tav_host::readFloat(call.data, v));
            sent.emplace_back(call.pin, v);
        }
        return sent;
    }

    tav_host::Host host{test_support::factory(), test_support::config64()};
};

} // namespace signal_test
