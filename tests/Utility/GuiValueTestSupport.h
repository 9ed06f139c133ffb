// Drives the interface-side value modules: a pin set by the host and what the module transmitted
// at that notification, as (pin, value) in order.
#pragma once

#include "framework/HostTestSupport.h"

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace guivaluetest {

inline constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// (pin, value) of each transmit, in order.
inline std::vector<std::pair<std::int32_t, tavhost::Bytes>> sent(const std::vector<tavhost::CallRecord>& calls)
{
    std::vector<std::pair<std::int32_t, tavhost::Bytes>> out;
    for (const tavhost::CallRecord& c : calls)
        out.emplace_back(c.pin, c.data);
    return out;
}

using Sent = std::vector<std::pair<std::int32_t, tavhost::Bytes>>;

class GuiValueMath : public testsupport::InterfaceHostTest {
protected:
    Sent set(std::size_t module, std::int32_t pin, tavhost::Bytes value)
    {
        return sent(transmitsAfter(module, pin, std::move(value)));
    }
};

} // namespace guivaluetest
