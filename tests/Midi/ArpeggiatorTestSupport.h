// Drives an arpeggiator through the stand-in host: mode pins, played MIDI, steps, and the exact
// messages it sends.
#pragma once

#include "Midi/ArpeggiatorEngine.h"
#include "framework/HostTestSupport.h"

#include <initializer_list>
#include <map>
#include <utility>
#include <vector>

namespace arp_test {

using tav_host::Bytes;
using Pin = arpeggiator::ArpeggiatorBase::Pin;

inline Bytes on(int note, int velocity) { return {0x90, static_cast<uint8_t>(note), static_cast<uint8_t>(velocity)}; }
inline Bytes off(int note, int velocity) { return {0x80, static_cast<uint8_t>(note), static_cast<uint8_t>(velocity)}; }
inline std::vector<Bytes> cat(std::initializer_list<std::vector<Bytes>> parts)
{
    std::vector<Bytes> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

class ArpeggiatorTest : public ::testing::Test {
protected:
    void SetUp() override { arpeggiator::StepRandom::fixSeedForTests(7); }
    void TearDown() override { arpeggiator::StepRandom::fixSeedForTests(std::nullopt); }

    // A module with these mode pin values from the start, past its first block.
    void make(const char* identifier, std::map<int32_t, int32_t> modes)
    {
        module = test_support::add(host, identifier);
        for (const auto& [pin, value] : modes)
            host.setInitialValue(module, tav_host::Side::Dsp, pin, tav_host::intValue(value));
        host.runBlock(64);
    }
    void setMode(int32_t pin, int32_t value) { host.queuePinValue(module, pin, tav_host::intValue(value)); }

    // The MIDI the module sends in one block in answer to these messages.
    std::vector<Bytes> play(std::initializer_list<Bytes> messages)
    {
        for (const auto& m : messages)
            host.queueMidi(module, Pin::kMidiIn, m);
        return sentInBlock();
    }
    std::vector<Bytes> sentInBlock()
    {
        host.clearCalls();
        host.runBlock(64);
        std::vector<Bytes> sent;
        for (const auto& call : host.callsOf(tav_host::CallKind::SendPinValue, module))
            if (call.pin == Pin::kMidiOut)
                sent.push_back(call.data);
        return sent;
    }
    // The note-ons of a run of clock steps, one per step.
    std::vector<int> stepNotes(int steps)
    {
        std::vector<int> notes;
        for (int i = 0; i < steps; ++i)
            for (const auto& m : play({on(10, 100)}))
                if (m[0] == 0x90)
                    notes.push_back(m[1]);
        return notes;
    }

    tav_host::Host host{test_support::factory(), test_support::config64()};
    std::size_t module = 0;
};

} // namespace arp_test
