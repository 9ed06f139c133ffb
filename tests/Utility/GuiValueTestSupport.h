// Drives the interface-side value modules: a pin set by the host and what the module transmitted
// at that notification, as (pin, value) in order.
#pragma once

#include "framework/HostTestSupport.h"

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace gui_value_test {

inline constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// (pin, value) of each transmit, in order.
inline std::vector<std::pair<std::int32_t, tav_host::Bytes>> sent(const std::vector<tav_host::CallRecord>& calls)
{
    std::vector<std::pair<std::int32_t, tav_host::Bytes>> out;
    for (const tav_host::CallRecord& c : calls)
        out.emplace_back(c.pin, c.data);
    return out;
}

using Sent = std::vector<std::pair<std::int32_t, tav_host::Bytes>>;

class GuiValueMath : public test_support::InterfaceHostTest {
protected:
    Sent set(std::size_t module, std::int32_t pin, tav_host::Bytes value)
    {
        return sent(transmitsAfter(module, pin, std::move(value)));
    }
};

} // namespace gui_value_test
