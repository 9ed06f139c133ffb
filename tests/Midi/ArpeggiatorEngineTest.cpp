// Random performances on both arpeggiators: keys, modes, patterns, octaves, chords and steps in
// any order. Every step ends all that sounded before it; whenever the arpeggiator is off with
// every key up nothing sounds, so once the keys are released and it is switched off every
// note-on sent has had its note-off on its channel.
#include "Midi/ArpeggiatorTestSupport.h"
#include "Midi/NoteLedgerTestSupport.h"

#include <bitset>
#include <random>
#include <sstream>
#include <string>

using namespace arp_test;

namespace {

constexpr int32_t kGate = Pin::kModePinEnd;

// One random performance on a fresh module, one action per block.
class Performance {
public:
    Performance(const char* identifier, bool gated, uint32_t seed) : gated_(gated), random_(seed)
    {
        module_ = test_support::add(host_, identifier);
        for (int32_t pin = Pin::kArpOn; pin < Pin::kModePinEnd; ++pin) {
            if (pin == Pin::kDirection || chance(3)) {
                const int32_t value = pins_[static_cast<std::size_t>(pin)] = valueFor(pin);
                host_.setInitialValue(module_, tav_host::Side::Dsp, pin, tav_host::intValue(value));
            }
        }
        if (gated_) {
            host_.setInputFunction(module_, kGate, [this](std::int64_t) { return gate_ ? 1.0f : 0.0f; });
            host_.queueStreaming(module_, kGate, true);
        }
        run("start");
    }

    // The first broken rule, or empty when none was.
    std::string play(int actions)
    {
        for (int i = 0; i < actions && fault_.empty(); ++i) {
            const int what = pick(0, 99);
            if (what < 30)
                press();
            else if (what < 50)
                release();
            else if (what < 70)
                step();
            else if (what < 78)
                setPin(Pin::kArpOn);
            else if (what < 84)
                setPin(Pin::kHoldMode);
            else if (what < 87)
                controller();
            else
                setPin(pick(Pin::kArpOn, Pin::kModePinEnd - 1));
        }
        // All keys up and the arpeggiator off, in either order.
        const bool offFirst = chance(2);
        if (offFirst)
            switchOff();
        while (fault_.empty() && keys_.any())
            release();
        if (!offFirst)
            switchOff();
        if (!listener_.left(true).empty())
            fail("after all keys up and off, sounding:" + listener_.left(true));
        return fault_;
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool chance(int oneIn) { return pick(1, oneIn) == 1; }

    int32_t valueFor(int32_t pin)
    {
        switch (pin) {
        case Pin::kArpOn: return pick(0, 3);
        case Pin::kOctaves: return pick(0, 4);
        case Pin::kDirection: return pick(0, 4);
        case Pin::kEntrySlot: return pick(0, 9);
        case Pin::kChordType: return pick(-1, 17);
        case Pin::kPatternLength: return pick(0, 9);
        case Pin::kUpDownTurn: return chance(2) ? 0 : 5;
        default:
            if (pin >= Pin::kUserChord1 && pin <= Pin::kUserChord8)
                return chance(3) ? 0 : pick(40, 80);
            return pick(0, 3);
        }
    }
    bool arpeggiatorOn() const { return pins_[Pin::kArpOn] >= 3 || pins_[Pin::kPlayEntries] >= 3; }

    void press()
    {
        int note = chance(10) ? pick(0, 127) : pick(48, 84);
        if (!gated_ && note == arpeggiator::kClockNote)
            ++note;
        keys_.set(static_cast<std::size_t>(note));
        host_.queueMidi(module_, Pin::kMidiIn,
                        {static_cast<uint8_t>(0x90 | pick(0, 15)), static_cast<uint8_t>(note),
                         static_cast<uint8_t>(pick(1, 127))});
        run("press " + std::to_string(note));
    }
    void release()
    {
        if (!keys_.any())
            return;
        std::size_t note = static_cast<std::size_t>(pick(0, 127));
        while (!keys_[note])
            note = (note + 1) % 128;
        keys_.reset(note);
        const bool silentOn = chance(2);
        host_.queueMidi(module_, Pin::kMidiIn,
                        {static_cast<uint8_t>(silentOn ? 0x90 : 0x80), static_cast<uint8_t>(note),
                         static_cast<uint8_t>(silentOn ? 0 : pick(0, 127))});
        run("release " + std::to_string(note));
    }
    void step()
    {
        if (gated_) {
            gate_ = !gate_;
        } else {
            const bool noteOn = chance(2);
            host_.queueMidi(module_, Pin::kMidiIn,
                            {static_cast<uint8_t>(noteOn ? 0x90 : 0x80), arpeggiator::kClockNote,
                             static_cast<uint8_t>(noteOn ? pick(1, 127) : 0)});
        }
        const bool stepped = arpeggiatorOn();
        run("step");
        // A step never overlaps what sounded before it.
        if (stepped && !listener_.left(false).empty())
            fail("step left sounding:" + listener_.left(false));
        // Played from the keys (no latch, frozen notes, pattern or entries), a step with every
        // key up plays nothing.
        const bool fromKeys =
            pins_[Pin::kHoldMode] < 2 && pins_[Pin::kPatternMode] < 2 && pins_[Pin::kPlayEntries] < 2;
        if (stepped && fromKeys && !keys_.any() && !listener_.left(true).empty())
            fail("step with every key up, sounding:" + listener_.left(true));
    }
    void controller()
    {
        host_.queueMidi(module_, Pin::kMidiIn,
                        {0xB0, static_cast<uint8_t>(pick(0, 127)), static_cast<uint8_t>(pick(0, 127))});
        run("controller");
    }
    void setPin(int32_t pin, int32_t value)
    {
        pins_[static_cast<std::size_t>(pin)] = value;
        host_.queuePinValue(module_, pin, tav_host::intValue(value));
        run("pin " + std::to_string(pin) + " = " + std::to_string(value));
    }
    void setPin(int32_t pin) { setPin(pin, valueFor(pin)); }
    void switchOff()
    {
        if (pins_[Pin::kPlayEntries] >= 3)
            setPin(Pin::kPlayEntries, pick(0, 2));
        setPin(Pin::kArpOn, pick(0, 2));
    }

    void run(const std::string& action)
    {
        log_ << action << "; ";
        host_.clearCalls();
        host_.runBlock(64);
        listener_.newBlock();
        for (const auto& call : host_.callsOf(tav_host::CallKind::SendPinValue, module_))
            if (call.pin == Pin::kMidiOut)
                listener_.hear(call.pin, call.data);
        if (!arpeggiatorOn() && !keys_.any() && !listener_.left(true).empty())
            fail("off with every key up, sounding:" + listener_.left(true));
    }
    // Keeps the first fault, with the actions that led to it.
    void fail(const std::string& what)
    {
        if (fault_.empty())
            fault_ = what + " after: " + log_.str();
    }

    tav_host::Host host_{test_support::factory(), test_support::config64()};
    std::size_t module_ = 0;
    const bool gated_;
    bool gate_ = false;
    std::mt19937 random_;
    std::array<int32_t, Pin::kModePinEnd> pins_{};
    std::bitset<128> keys_;
    note_ledger::NoteLedger listener_;
    std::ostringstream log_;
    std::string fault_;
};

class ArpeggiatorPerformance : public ArpeggiatorTest {
protected:
    // Runs performances; the count of those that broke a rule, and the first of them.
    void expectNoneStranded(const char* identifier, bool gated)
    {
        int broken = 0;
        std::string first;
        for (uint32_t seed = 1; seed <= 3000; ++seed) {
            Performance performance(identifier, gated, seed);
            const std::string fault = performance.play(60);
            if (!fault.empty() && broken++ == 0)
                first = "seed " + std::to_string(seed) + ": " + fault;
        }
        EXPECT_EQ(broken, 0) << first;
    }
};

TEST_F(ArpeggiatorPerformance, ClockArpeggiatorLeavesNoNoteSounding)
{
    expectNoneStranded("QV_PowerArpeggiator", false);
}

TEST_F(ArpeggiatorPerformance, GateArpeggiatorLeavesNoNoteSounding)
{
    expectNoneStranded("QV_PowerArpeggiatorGate", true);
}

} // namespace
