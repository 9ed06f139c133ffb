// What the routing modules send: each MIDI message a processing half sent in the last block, as
// its output pin and bytes, in the order sent.
#pragma once

#include "framework/HostTestSupport.h"

#include <ostream>
#include <vector>

namespace routing_test {

struct Sent {
    std::int32_t pin;
    tav_host::Bytes bytes;
    bool operator==(const Sent&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Sent& s)
{
    return os << "pin " << s.pin << ": " << tav_host::hexBytes(s.bytes.data(), s.bytes.size());
}

// The MIDI sent by instance in the calls recorded since the last clearCalls.
inline std::vector<Sent> sentMidi(const tav_host::Host& host, std::size_t instance)
{
    std::vector<Sent> sent;
    for (const auto& call : host.callsOf(tav_host::CallKind::SendPinValue, instance))
        sent.push_back({call.pin, call.data});
    return sent;
}

// Runs one block with the messages queued on pin at time 0 and returns what was sent.
inline std::vector<Sent> afterMidi(tav_host::Host& host, std::size_t instance, std::int32_t pin,
                                   std::vector<tav_host::Bytes> messages)
{
    for (auto& m : messages)
        host.queueMidi(instance, pin, std::move(m));
    host.clearCalls();
    host.runBlock(host.config().blockLength);
    return sentMidi(host, instance);
}

} // namespace routing_test
