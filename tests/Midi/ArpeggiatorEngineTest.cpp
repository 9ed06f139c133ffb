// Random performances on both arpeggiators: keys, modes, patterns, octaves, chords and steps in
// any order. Every step ends all that sounded before it; whenever the arpeggiator is off with
// every key up nothing sounds, so once the keys are released and it is switched off every
// note-on sent has had its note-off on its channel. Direct play with keys on many channels sends
// exactly what its rules give, message by message.
#include "Midi/ArpeggiatorTestSupport.h"
#include "Midi/NoteLedgerTestSupport.h"

#include <array>
#include <bitset>
#include <map>
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

    // A key is a note on a channel; each is released on its own channel.
    void press()
    {
        int note = chance(10) ? pick(0, 127) : pick(48, 84);
        if (!gated_ && note == arpeggiator::kClockNote)
            ++note;
        int channel = pick(0, 15);
        while (keys_[key(channel, note)])
            channel = (channel + 1) % 16;
        keys_.set(key(channel, note));
        host_.queueMidi(module_, Pin::kMidiIn,
                        {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(note),
                         static_cast<uint8_t>(pick(1, 127))});
        run("press " + std::to_string(note) + "/" + std::to_string(channel + 1));
    }
    void release()
    {
        if (!keys_.any())
            return;
        std::size_t k = static_cast<std::size_t>(pick(0, 2047));
        while (!keys_[k])
            k = (k + 1) % 2048;
        keys_.reset(k);
        const int channel = static_cast<int>(k / 128), note = static_cast<int>(k % 128);
        const bool silentOn = chance(2);
        host_.queueMidi(module_, Pin::kMidiIn,
                        {static_cast<uint8_t>((silentOn ? 0x90 : 0x80) | channel), static_cast<uint8_t>(note),
                         static_cast<uint8_t>(silentOn ? 0 : pick(0, 127))});
        run("release " + std::to_string(note) + "/" + std::to_string(channel + 1));
    }
    static std::size_t key(int channel, int note) { return static_cast<std::size_t>(channel * 128 + note); }
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
    std::bitset<2048> keys_;  // channel x 128 + note
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

// ---- Direct play, keys on many channels ---------------------------------------------------------

// A key is a note on any channel: the same note held on two channels is struck twice and, with
// chords on, sounds until the later of the two releases.
TEST_F(ArpeggiatorTest, ANoteHeldOnTwoChannelsSoundsUntilTheLaterRelease)
{
    for (const char* identifier : {"QV_PowerArpeggiator", "QV_PowerArpeggiatorGate"}) {
        SCOPED_TRACE(identifier);
        make(identifier, {{Pin::kChordNotes, 3}});
        EXPECT_EQ(play({{0x90, 77, 100}}), std::vector<Bytes>{on(77, 100)});
        EXPECT_EQ(play({{0x91, 77, 90}}), std::vector<Bytes>{on(77, 90)});
        EXPECT_TRUE(play({{0x80, 77, 0}}).empty());
        EXPECT_EQ(play({{0x91, 77, 0}}), std::vector<Bytes>{off(77, 0)});

        // Released in the other order, with the chord -12, +12 on both keys.
        setMode(Pin::kChordFromType, 3);
        setMode(Pin::kChordType, 3);
        play({{0x95, 30, 1}, {0x85, 30, 1}});  // the sweeps of a new chord type
        EXPECT_EQ(play({{0x92, 60, 90}, {0x9F, 60, 80}}),
                  (std::vector<Bytes>{on(60, 90), on(48, 90), on(72, 90), on(60, 80), on(48, 80), on(72, 80)}));
        EXPECT_TRUE(play({{0x8F, 60, 5}}).empty());
        EXPECT_EQ(play({{0x82, 60, 6}}), (std::vector<Bytes>{off(60, 6), off(48, 6), off(72, 6)}));
    }
}

// Direct play as the product defines it, for the modes a performance below moves between phrases
// (arpeggiator off, normal hold, no latch or pattern, no chord learn): what each message sends.
// Channels do not matter here; a chord note's on-count keeps it sounding while any key holds it.
class DirectPlayRules {
public:
    struct Modes {
        int32_t arpOn = 0, chordNotes = 0, chordFromType = 0, chordType = 0;
        std::array<int32_t, 8> user{};
    };

    explicit DirectPlayRules(bool clockArpeggiator) : clockArpeggiator_(clockArpeggiator) {}

    std::vector<Bytes> handle(const Modes& m, const Bytes& in)
    {
        sent_.clear();
        int status = in[0] & 0xF0;
        const int note = in[1], velocity = in[2];
        if (status == 0x90 && velocity == 0)
            status = 0x80;
        const auto n = static_cast<std::size_t>(note);
        // While off, the clock arpeggiator ignores every message on the step clock note.
        if (clockArpeggiator_ && note == arpeggiator::kClockNote)
            return sent_;
        if (status == 0x80) {
            keyFree_[n] = true;
        } else if (status == 0x90) {
            if (m.chordNotes >= 3 && m.arpOn < 2)
                released_[n] = false;
            keyFree_[n] = false;
        }
        if (chordNotesActive_ && m.chordNotes < 2) {
            for (std::size_t k = 0; k < 128; ++k)
                if (released_[k])
                    off(k, velocity);
            onCount_.fill(0);
            released_.fill(true);
            chordNotesActive_ = false;
        }
        if (m.chordNotes < 2) {
            if (status == 0x80)
                off(n, velocity);
            else if (status == 0x90)
                on(n, velocity);
            else
                sent_.push_back({static_cast<uint8_t>(status), in[1], in[2]});
            return sent_;
        }
        if (m.chordFromType >= 3) {
            if (m.chordType != typeAtLastChange_) {
                for (std::size_t k = 0; k < 128; ++k)
                    if (keyFree_[k])
                        sent_.push_back(arp_test::off(static_cast<int>(k), velocity));
                typeAtLastChange_ = m.chordType;
            }
            setChord(m);
        }
        if (status == 0x80) {
            if (m.chordType == typeAtLastSweep_ && (m.chordFromType < 3 || !noChord_)) {
                if (onCount_[n]-- < 2) {
                    off(n, velocity);
                    onCount_[n] = 0;
                }
                for (std::size_t k = 0; k < 8; ++k) {
                    const int c = note + interval_[k];
                    if (!on_[k] || c < 1 || c > 127)
                        continue;
                    if (--onCount_[static_cast<std::size_t>(c)] < 1) {
                        off(static_cast<std::size_t>(c), velocity);
                        onCount_[static_cast<std::size_t>(c)] = 0;
                    }
                }
            } else {
                for (int k = 0; k < 128; ++k)
                    sent_.push_back(arp_test::off(k, velocity));
                onCount_.fill(0);
                typeAtLastSweep_ = m.chordType;
                noChord_ = false;
            }
        } else if (status == 0x90) {
            if (m.chordFromType < 2)
                noChord_ = true;
            on(n, velocity);
            ++onCount_[n];
            for (std::size_t k = 0; k < 8; ++k) {
                const int c = note + interval_[k];
                if (on_[k] && c >= 1 && c <= 127) {
                    on(static_cast<std::size_t>(c), velocity);
                    ++onCount_[static_cast<std::size_t>(c)];
                }
            }
        }
        chordNotesActive_ = true;
        return sent_;
    }

private:
    void on(std::size_t note, int velocity)
    {
        sounding_[note] = true;
        sent_.push_back(arp_test::on(static_cast<int>(note), velocity));
    }
    void off(std::size_t note, int velocity)
    {
        if (sounding_[note])
            sent_.push_back(arp_test::off(static_cast<int>(note), velocity));
        sounding_[note] = false;
    }
    // The chord types a performance uses; others leave the chord as it is.
    void setChord(const Modes& m)
    {
        static const std::map<int32_t, std::vector<int>> sets{
            {2, {-12, -12, 0}}, {3, {-12, 12}}, {13, {0, 4, 7}}, {16, {-24, -12, 12, 24}}};
        if (m.chordType == 0) {
            for (std::size_t k = 0; k < 8; ++k) {
                interval_[k] = m.user[k] - 60;
                on_[k] = m.user[k] > 0;
            }
        } else if (const auto set = sets.find(m.chordType); set != sets.end()) {
            interval_.fill(0);
            on_.fill(false);
            for (std::size_t k = 0; k < set->second.size(); ++k) {
                interval_[k] = set->second[k];
                on_[k] = true;
            }
        }
    }

    const bool clockArpeggiator_;
    std::vector<Bytes> sent_;
    std::array<bool, 128> sounding_{}, keyFree_ = filled(true), released_ = filled(true);
    std::array<int32_t, 128> onCount_{};
    std::array<int32_t, 8> interval_{};
    std::array<bool, 8> on_{};
    bool chordNotesActive_ = false, noChord_ = false;
    int32_t typeAtLastSweep_ = 0, typeAtLastChange_ = 0;

    static std::array<bool, 128> filled(bool value)
    {
        std::array<bool, 128> a;
        a.fill(value);
        return a;
    }
};

// Phrases of keys struck on random channels, often a note already held on another channel, and
// released in any order, with a controller or pitch bend now and then; the modes change between
// phrases. Each block's MIDI is compared with the rules; the first difference, or empty.
class DirectPlayPerformance {
public:
    DirectPlayPerformance(const char* identifier, uint32_t seed)
        : random_(seed), rules_(std::string(identifier) == "QV_PowerArpeggiator")
    {
        module_ = test_support::add(host_, identifier);
        host_.runBlock(64);
    }

    std::string play(int phrases)
    {
        for (int p = 0; p < phrases && fault_.empty(); ++p) {
            changeModes();
            phrase();
        }
        return fault_;
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool chance(int oneIn) { return pick(1, oneIn) == 1; }
    static uint8_t byte(int b) { return static_cast<uint8_t>(b); }

    void changeModes()
    {
        const auto set = [this](int32_t pin, int32_t& mode, int32_t value) {
            if (!chance(2))
                return;
            mode = value;
            host_.queuePinValue(module_, pin, tav_host::intValue(value));
            log_ << "pin " << pin << " = " << value << "; ";
        };
        static constexpr std::array<int32_t, 7> kTypes{0, 2, 3, 13, 16, 17, -1};
        set(Pin::kArpOn, modes_.arpOn, pick(0, 2));
        set(Pin::kChordNotes, modes_.chordNotes, pick(0, 3));
        set(Pin::kChordFromType, modes_.chordFromType, pick(0, 3));
        set(Pin::kChordType, modes_.chordType, kTypes[static_cast<std::size_t>(pick(0, 6))]);
        for (std::size_t k = 0; k < 8; ++k)
            set(Pin::kUserChord1 + static_cast<int32_t>(k), modes_.user[k], chance(2) ? 0 : pick(48, 72));
        block();
    }

    void phrase()
    {
        for (int presses = pick(1, 6); fault_.empty() && (presses > 0 || held_.any());) {
            for (int messages = pick(1, 3); messages > 0; --messages) {
                if (chance(8))
                    other();
                else if (presses > 0 && (!held_.any() || chance(2)))
                    press(), --presses;
                else if (held_.any())
                    release();
            }
            block();
        }
    }
    void press()
    {
        int note = chance(3) && held_.any() ? heldNote() : chance(6) ? pick(0, 127) : pick(40, 80);
        if (note == arpeggiator::kClockNote)
            note = 11;
        int channel = pick(0, 15);
        while (held_[key(channel, note)])
            channel = (channel + 1) % 16;
        held_.set(key(channel, note));
        send({byte(0x90 | channel), byte(note), byte(pick(1, 127))});
    }
    void release()
    {
        std::size_t k = static_cast<std::size_t>(pick(0, 2047));
        while (!held_[k])
            k = (k + 1) % 2048;
        held_.reset(k);
        const int channel = static_cast<int>(k / 128), note = static_cast<int>(k % 128);
        send(chance(2) ? Bytes{byte(0x80 | channel), byte(note), byte(pick(0, 127))}
                       : Bytes{byte(0x90 | channel), byte(note), 0});
    }
    void other()
    {
        send(chance(2) ? Bytes{byte(0xB0 | pick(0, 15)), byte(pick(0, 127)), byte(pick(0, 127))}
                       : Bytes{byte(0xE0 | pick(0, 15)), byte(pick(0, 127)), byte(pick(0, 127))});
    }
    int heldNote()
    {
        std::size_t k = static_cast<std::size_t>(pick(0, 2047));
        while (!held_[k])
            k = (k + 1) % 2048;
        return static_cast<int>(k % 128);
    }
    static std::size_t key(int channel, int note) { return static_cast<std::size_t>(channel * 128 + note); }

    void send(Bytes m)
    {
        log_ << tav_host::hexBytes(m.data(), m.size()) << "; ";
        host_.queueMidi(module_, Pin::kMidiIn, m, time_);
        time_ = std::min(63, time_ + pick(0, 20));
        const std::vector<Bytes> sent = rules_.handle(modes_, m);
        expected_.insert(expected_.end(), sent.begin(), sent.end());
    }
    void block()
    {
        log_ << "| ";
        host_.clearCalls();
        host_.runBlock(64);
        std::vector<Bytes> sent;
        for (const auto& call : host_.callsOf(tav_host::CallKind::SendPinValue, module_))
            sent.push_back(call.data);
        if (sent != expected_ && fault_.empty()) {
            std::ostringstream what;
            what << "sent";
            for (const auto& m : sent)
                what << " " << tav_host::hexBytes(m.data(), m.size());
            what << ", expected";
            for (const auto& m : expected_)
                what << " " << tav_host::hexBytes(m.data(), m.size());
            fault_ = what.str() + " after: " + log_.str();
        }
        expected_.clear();
        time_ = 0;
    }

    tav_host::Host host_{test_support::factory(), test_support::config64()};
    std::size_t module_ = 0;
    std::mt19937 random_;
    DirectPlayRules rules_;
    DirectPlayRules::Modes modes_;
    std::bitset<2048> held_;  // channel x 128 + note
    std::vector<Bytes> expected_;
    int32_t time_ = 0;
    std::ostringstream log_;
    std::string fault_;
};

TEST_F(ArpeggiatorTest, DirectPlayOnManyChannelsSendsWhatItsRulesGive)
{
    for (const char* identifier : {"QV_PowerArpeggiator", "QV_PowerArpeggiatorGate"}) {
        int broken = 0;
        std::string first;
        for (uint32_t seed = 1; seed <= 1500; ++seed) {
            const std::string fault = DirectPlayPerformance(identifier, seed).play(8);
            if (!fault.empty() && broken++ == 0)
                first = "seed " + std::to_string(seed) + ": " + fault;
        }
        EXPECT_EQ(broken, 0) << identifier << ", " << first;
    }
}

} // namespace
