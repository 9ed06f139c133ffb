// Drives the small MIDI modules through the stand-in host: int pins set from the first block on,
// messages fed into MIDI input 0, and what the module sent read back in order.
#pragma once

#include "framework/HostTestSupport.h"

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <utility>
#include <vector>

namespace midi_test {

using tav_host::Bytes;

// One message a module sent: output pin and bytes.
struct Sent {
    std::int32_t pin = 0;
    Bytes bytes;
    bool operator==(const Sent&) const = default;
};

inline void PrintTo(const Sent& s, std::ostream* os)
{
    *os << "pin " << s.pin << " [" << tav_host::hexBytes(s.bytes.data(), s.bytes.size()) << "]";
}

// One message per note 0 to 127: [status, note, velocity].
inline std::vector<Bytes> sweep(std::uint8_t status, std::uint8_t velocity)
{
    std::vector<Bytes> out;
    for (int note = 0; note < 128; ++note)
        out.push_back({status, static_cast<std::uint8_t>(note), velocity});
    return out;
}

inline std::vector<Bytes> operator+(std::vector<Bytes> a, const std::vector<Bytes>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class MidiModuleTest : public ::testing::Test {
protected:
    static constexpr std::int32_t kMidiIn = 0;

    // A module with int pins set before graph start, run through its first block.
    std::size_t make(const char* identifier, std::initializer_list<std::pair<std::int32_t, std::int32_t>> ints = {})
    {
        const std::size_t module = test_support::add(host, identifier);
        for (const auto& [pin, value] : ints)
            host.setInitialValue(module, tav_host::Side::Dsp, pin, tav_host::intValue(value));
        host.runBlock(64);
        return module;
    }

    // Takes effect at time 0 of the next block.
    void setInt(std::size_t module, std::int32_t pin, std::int32_t value)
    {
        host.queuePinValue(module, pin, tav_host::intValue(value));
    }

    // Runs one block with the messages fed into MIDI input 0 at time; returns what was sent.
    std::vector<Sent> feed(std::size_t module, std::vector<Bytes> messages, std::int32_t time = 0)
    {
        for (auto& m : messages)
            host.queueMidi(module, kMidiIn, std::move(m), time);
        host.clearCalls();
        host.runBlock(64);
        lastPositions.clear();
        std::vector<Sent> sent;
        for (const auto& call : host.callsOf(tav_host::CallKind::SendPinValue, module)) {
            sent.push_back({call.pin, call.data});
            lastPositions.push_back(call.blockPosition);
        }
        return sent;
    }

    // The bytes of what the module sent, for modules with one MIDI output (expected at outPin).
    std::vector<Bytes> pass(std::size_t module, std::vector<Bytes> messages, std::int32_t outPin = 1)
    {
        std::vector<Bytes> out;
        for (auto& s : feed(module, std::move(messages))) {
            EXPECT_EQ(s.pin, outPin);
            out.push_back(std::move(s.bytes));
        }
        return out;
    }

    tav_host::Host host{test_support::factory(), test_support::config64()};
    std::vector<std::int32_t> lastPositions;  // block positions of the last feed's sends
};

} // namespace midi_test
