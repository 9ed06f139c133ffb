// What the bridges between the interface and the processing halves carry: message texts as sent,
// and the payloads of recorded calls.
#pragma once

#include "framework/HostTestSupport.h"

#include <string>
#include <vector>

namespace bridge_test {

// A message text as sent, with its terminating zero unless told otherwise.
inline tav_host::Bytes text(const std::string& s, bool terminated = true)
{
    tav_host::Bytes b(s.begin(), s.end());
    if (terminated)
        b.push_back(0);
    return b;
}

inline std::vector<tav_host::Bytes> payloads(const std::vector<tav_host::CallRecord>& calls)
{
    std::vector<tav_host::Bytes> out;
    for (const auto& call : calls)
        out.push_back(call.data);
    return out;
}

class Bridge : public ::testing::Test {
protected:
    tav_host::Host host{test_support::factory(), test_support::config64()};
};

} // namespace bridge_test
