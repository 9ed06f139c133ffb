// What the bridges between the interface and the processing halves carry: message texts as sent,
// and the payloads of recorded calls.
#pragma once

#include "framework/HostTestSupport.h"

#include <string>
#include <vector>

namespace bridgetest {

// A message text as sent, with its terminating zero unless told otherwise.
inline tavhost::Bytes text(const std::string& s, bool terminated = true)
{
    tavhost::Bytes b(s.begin(), s.end());
    if (terminated)
        b.push_back(0);
    return b;
}

inline std::vector<tavhost::Bytes> payloads(const std::vector<tavhost::CallRecord>& calls)
{
    std::vector<tavhost::Bytes> out;
    for (const auto& call : calls)
        out.push_back(call.data);
    return out;
}

class Bridge : public ::testing::Test {
protected:
    tavhost::Host host{testsupport::factory(), testsupport::config64()};
};

} // namespace bridgetest
