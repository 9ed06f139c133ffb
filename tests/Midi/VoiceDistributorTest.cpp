// The voice distributors driven through the stand-in host: round-robin voices with stealing and
// gates, the count-8 mapping, broadcast with its gated note-offs, the sweeps on mode switches,
// and the reset twin's resets.
#include "Midi/NoteLedgerTestSupport.h"
#include "Midi/RoutingTestSupport.h"

#include <bitset>
#include <random>

using namespace tav_host;
using namespace routing_test;

namespace {

enum Pin { kMidiIn, kOut1, kMode = 13, kVoiceCount, kBroadcastCount, kGate1, kResetLevel = 22, kReset };

Bytes on(std::uint8_t n, std::uint8_t v = 100) { return {0x90, n, v}; }
Bytes off(std::uint8_t n, std::uint8_t v = 0) { return {0x80, n, v}; }

// The same bytes to each output in turn.
std::vector<Sent> toOutputs(std::initializer_list<int> outputs, const Bytes& bytes)
{
    std::vector<Sent> sent;
    for (int o : outputs)
        sent.push_back({o, bytes});
    return sent;
}

std::vector<Sent> operator+(std::vector<Sent> a, const std::vector<Sent>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class VoiceDistributor : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        module = test_support::add(host, GetParam());
        host.runBlock(64);
    }
    void set(int pin, std::int32_t v)
    {
        host.queuePinValue(module, pin, intValue(v));
        host.runBlock(64);
    }
    void distribution(std::int32_t voices)
    {
        host.queuePinValue(module, kMode, intValue(-1));
        set(kVoiceCount, voices);
    }
    void broadcast(std::int32_t outputs)
    {
        host.queuePinValue(module, kMode, intValue(0));
        set(kBroadcastCount, outputs);
    }
    std::vector<Sent> play(std::vector<Bytes> messages) { return afterMidi(host, module, kMidiIn, std::move(messages)); }
    // The single output each note-on went to.
    std::vector<int> outputsOf(std::vector<Bytes> noteOns)
    {
        std::vector<int> outputs;
        for (auto& m : noteOns) {
            const Bytes expected = {0x90, m[1], m[2]};
            const auto sent = play({m});
            EXPECT_LE(sent.size(), 1u);
            for (const auto& s : sent) {
                EXPECT_EQ(s.bytes, expected);
                outputs.push_back(s.pin);
            }
        }
        return outputs;
    }

    Host host{test_support::factory(), test_support::config64()};
    std::size_t module = 0;
};

INSTANTIATE_TEST_SUITE_P(BothModules, VoiceDistributor,
                         ::testing::Values("QV_VoiceDistributor", "QV_VoiceDistributorReset"));

TEST_P(VoiceDistributor, RoundRobinStealsAndFreesOnNoteOff)
{
    distribution(4);
    EXPECT_EQ(outputsOf({on(60), on(61), on(62), on(63)}), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(play({on(64)}), toOutputs({1}, on(64)));  // stolen, no note-off for 60
    // A note-off (here a silent note-on on channel 4) reaches every voice output.
    EXPECT_EQ(play({{0x93, 61, 0}}), toOutputs({1, 2, 3, 4}, off(61)));
    EXPECT_EQ(outputsOf({on(65)}), (std::vector<int>{2}));
    // Controllers, and a message shorter than a note-on's three bytes, are read zero-padded.
    EXPECT_TRUE(play({{0xB0, 7, 5}, {0xC0, 3}}).empty());
    EXPECT_EQ(play({{0x90, 65}}), toOutputs({1, 2, 3, 4}, off(65)));
}

TEST_P(VoiceDistributor, GatesAreSkippedAlongTheChain)
{
    // Count 8: voices 7 and 8 sound on outputs 9 and 10 and are gated by pins 18 and 19.
    distribution(8);
    set(kGate1 + 2, 3);
    EXPECT_EQ(outputsOf({on(1), on(2), on(3), on(4), on(5), on(6)}), (std::vector<int>{1, 2, 4, 5, 6, 10}));

    // Count 6 with pin 21 closed: the chain wraps from voice 6 to voice 1.
    set(kGate1 + 2, 0);
    distribution(6);
    play({off(1), off(2), off(3), off(4), off(5), off(6)});
    EXPECT_EQ(outputsOf({on(10), on(11), on(12), on(13), on(14)}), (std::vector<int>{1, 2, 3, 4, 5}));
    set(kGate1 + 5, 3);
    play({off(10)});
    EXPECT_EQ(outputsOf({on(20)}), (std::vector<int>{1}));

    // Every gate closed: note-ons are dropped and the pointer still moves on.
    for (int g = 0; g < 6; ++g)
        set(kGate1 + g, 7);
    EXPECT_TRUE(play({on(30), on(31)}).empty());
    for (int g = 0; g < 6; ++g)
        set(kGate1 + g, 0);
    play({off(11), off(12), off(13), off(14), off(20)});
    EXPECT_EQ(outputsOf({on(40)}), (std::vector<int>{4}));  // two dropped notes moved it from 2
}

TEST_P(VoiceDistributor, CountsOutsideTheOutputsAreClamped)
{
    distribution(4);
    EXPECT_EQ(outputsOf({on(60), on(61)}), (std::vector<int>{1, 2}));
    // No voices: the note is dropped and the round-robin starts over; a note-off of a voice now
    // above the count is sent to every output above it.
    distribution(-5);
    EXPECT_TRUE(play({on(62)}).empty());
    EXPECT_EQ(play({off(60, 9)}), toOutputs({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, off(60, 9)));
    distribution(4);
    EXPECT_EQ(outputsOf({on(63)}), (std::vector<int>{1}));

    // Counts beyond the outputs use all twelve voices and all ten broadcast positions.
    distribution(1000);
    play({off(61), off(63)});
    std::vector<Bytes> notes;
    for (std::uint8_t n = 0; n < 13; ++n)
        notes.push_back(on(n));
    EXPECT_EQ(outputsOf(notes), (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 1, 2}));
    broadcast(99);
    const auto sent = play({{0xB0, 1, 2}});
    EXPECT_EQ(std::vector<Sent>(sent.end() - 10, sent.end()),
              toOutputs({1, 2, 3, 4, 5, 6, 9, 10, 11, 12}, {0xB0, 1, 2}));
}

TEST_P(VoiceDistributor, BroadcastSendsToThePositionsAndEndsGatedNotes)
{
    broadcast(3);
    EXPECT_EQ(play({{0xB5, 7, 5}, {0xF8}}), toOutputs({1, 2, 3}, {0xB0, 7, 5}) + toOutputs({1, 2, 3}, {0xF8, 0, 0}));
    broadcast(7);
    EXPECT_EQ(play({{0x93, 60, 100}}), toOutputs({1, 2, 3, 4, 5, 6, 9}, on(60)));

    // A closed gate skips its outputs and hears a note-off of the note broadcast before.
    broadcast(4);
    set(kGate1 + 1, 3);
    const auto sweep = play({on(62)});
    ASSERT_EQ(sweep.size(), 256u + 3u + 1u);  // leaving 7 outputs: notes 0-127 off on 9 and 10
    EXPECT_EQ(sweep[0], (Sent{9, off(0, 100)}));
    EXPECT_EQ(sweep[1], (Sent{10, off(0, 100)}));
    EXPECT_EQ(sweep[255], (Sent{10, off(127, 100)}));
    EXPECT_EQ(std::vector<Sent>(sweep.begin() + 256, sweep.end()), toOutputs({1, 3, 4}, on(62)) + toOutputs({2}, off(60)));
    EXPECT_EQ(play({on(64)}), toOutputs({1, 3, 4}, on(64)) + toOutputs({2}, off(62)));
    EXPECT_EQ(play({off(64)}), toOutputs({1, 3, 4}, off(64)) + toOutputs({2}, off(64)));  // last note stays 64
    broadcast(9);
    set(kGate1 + 1, 0);
    set(kGate1 + 3, 5);  // outputs 4 and 10
    EXPECT_EQ(play({on(65)}), toOutputs({1, 2, 3, 5, 6, 9, 11}, on(65)) + toOutputs({10}, off(64)));
}

TEST_P(VoiceDistributor, ModeSwitchesEndTheOtherModesNotes)
{
    // From distribution with 8 voices, the first broadcast message ends every remembered note on
    // outputs 7 to 12.
    distribution(8);
    outputsOf({on(60), on(61)});
    broadcast(2);
    std::vector<Sent> expected;
    for (int o = 7; o <= 12; ++o)
        for (std::uint8_t n : {60, 61, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})
            expected.push_back({o, off(n, 90)});
    EXPECT_EQ(play({on(70, 90)}), expected + toOutputs({1, 2}, on(70, 90)));
    EXPECT_EQ(play({on(71, 90)}), toOutputs({1, 2}, on(71, 90)));

    // The last broadcast note is released where it was broadcast, then on the voice outputs,
    // once.
    broadcast(9);
    play({on(64)});
    distribution(2);
    EXPECT_EQ(play({off(64)}), toOutputs({1, 2, 3, 4, 5, 6, 9, 10, 11}, off(64)) + toOutputs({1, 2}, off(64)));
    EXPECT_EQ(play({off(64)}), toOutputs({1, 2}, off(64)));
}

// A released key's note ends on every output that still sounds it: outputs skipped by a closed
// gate, outputs beyond a lowered count, outputs of the mode left behind; notes the steps above
// already end get nothing more.
TEST_P(VoiceDistributor, ReleasedKeysEndEverywhereTheySound)
{
    broadcast(2);
    play({on(60), on(64)});
    set(kGate1, 3);
    EXPECT_EQ(play({off(60)}), toOutputs({2}, off(60)) + toOutputs({1}, off(64)) + toOutputs({1}, off(60)));
    EXPECT_EQ(play({off(64)}), toOutputs({2}, off(64)) + toOutputs({1}, off(64)));
    set(kGate1, 0);

    broadcast(4);
    play({on(62)});
    broadcast(2);
    EXPECT_EQ(play({{0x95, 62, 0}}), toOutputs({1, 2}, off(62)) + toOutputs({3, 4}, off(62)));

    broadcast(3);
    play({on(50), on(52)});
    distribution(2);
    EXPECT_EQ(play({off(50, 7)}), toOutputs({1, 2}, off(50, 7)) + toOutputs({3}, off(50, 7)));
    EXPECT_EQ(play({off(52)}), toOutputs({1, 2, 3}, off(52)) + toOutputs({1, 2}, off(52)));

    distribution(4);
    EXPECT_EQ(outputsOf({on(40), on(41), on(42)}), (std::vector<int>{1, 2, 3}));
    broadcast(2);
    EXPECT_EQ(play({off(42)}), toOutputs({1, 2, 3}, off(42)));
}

// Whatever keys, gates, modes, counts and resets do in between, once every key is released each
// output has had a note-off for every note-on it was sent.
TEST_P(VoiceDistributor, EveryNoteOnEndsOnceAllKeysAreReleased)
{
    const bool twin = std::string(GetParam()) == "QV_VoiceDistributorReset";
    std::mt19937 random(18);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    auto byte = [](int b) { return static_cast<std::uint8_t>(b); };
    note_ledger::NoteLedger sounding;
    std::bitset<128> held;
    int time = 0;  // events of a block in the order queued, as the host delivers them
    auto key = [&](int n) {
        const int channel = pick(0, 15);
        const Bytes message = !held[static_cast<std::size_t>(n)] ? Bytes{byte(0x90 | channel), byte(n), byte(pick(1, 127))}
                              : pick(0, 1)                       ? Bytes{byte(0x80 | channel), byte(n), byte(pick(0, 127))}
                                                                 : Bytes{byte(0x90 | channel), byte(n), 0};
        held.flip(static_cast<std::size_t>(n));
        host.queueMidi(module, kMidiIn, message, time);
    };
    auto runBlock = [&] {
        time = 0;
        host.runBlock(64);
        sounding.hearAll(sentMidi(host, module));
        host.clearCalls();
    };
    host.clearCalls();
    for (int run = 0; run < 3000; ++run) {
        for (int step = pick(1, 30); step > 0; --step) {
            time = std::min(63, time + pick(0, 9));
            const int action = pick(0, twin ? 10 : 9);
            if (action <= 3)
                key(pick(56, 67));
            else if (action <= 5)
                host.queuePinValue(module, kGate1 + pick(0, 5), intValue(std::array{0, 2, 3, 9}[pick(0, 3)]), time);
            else if (action == 6)
                host.queuePinValue(module, kMode, intValue(std::array{-1, 0, -7, 5}[pick(0, 3)]), time);
            else if (action == 7)
                host.queuePinValue(module, kVoiceCount, intValue(pick(-1, 13)), time);
            else if (action == 8)
                host.queuePinValue(module, kBroadcastCount, intValue(pick(-1, 11)), time);
            else if (action == 9)
                host.queueMidi(module, kMidiIn, {byte(0xB0 | pick(0, 15)), 7, byte(pick(0, 127))}, time);
            else if (pick(0, 1))
                host.queuePinValue(module, kResetLevel, intValue(pick(0, 6)), time);
            else
                host.queuePinValue(module, kReset, boolValue(pick(0, 1)), time);
            if (pick(0, 2) == 0)
                runBlock();
        }
        for (int n = 0; n < 128; ++n)
            if (held[static_cast<std::size_t>(n)])
                key(n);
        runBlock();
        ASSERT_EQ(sounding.left(), "") << "run " << run;
    }
}

TEST(VoiceDistributorReset, LevelCrossingsAndFallingBoolReset)
{
    Host host{test_support::factory(), test_support::config64()};
    const std::size_t module = test_support::add(host, "QV_VoiceDistributorReset");
    host.queuePinValue(module, kMode, intValue(-1));
    host.queuePinValue(module, kVoiceCount, intValue(4));
    host.runBlock(64);
    // Pin changes arrive a block before the note, as from another module of the patch.
    auto outputOf = [&](Bytes noteOn, std::initializer_list<std::pair<int, Bytes>> pins = {}) {
        for (const auto& [pin, value] : pins)
            host.queuePinValue(module, pin, value);
        host.runBlock(64);
        const auto sent = afterMidi(host, module, kMidiIn, {std::move(noteOn)});
        return sent.size() == 1 ? sent[0].pin : -1;
    };
    EXPECT_EQ(outputOf(on(60)), 1);
    EXPECT_EQ(outputOf(on(61)), 2);
    EXPECT_EQ(outputOf(on(62), {{kResetLevel, intValue(3)}}), 1);  // up through 3: voices free
    EXPECT_EQ(outputOf(on(63), {{kResetLevel, intValue(9)}}), 2);  // still high: no reset
    EXPECT_EQ(outputOf(on(64), {{kResetLevel, intValue(2)}}), 1);  // down through 3
    EXPECT_EQ(outputOf(on(65), {{kReset, boolValue(true)}}), 2);
    EXPECT_EQ(outputOf(on(66), {{kReset, boolValue(false)}}), 1);  // falling
    EXPECT_EQ(outputOf(on(67), {{kReset, boolValue(false)}}), 2);
    // A level raised at the very stamp of a note-on resets before that note's search.
    EXPECT_EQ(afterMidi(host, module, kMidiIn, {}).size(), 0u);
    host.queuePinValue(module, kResetLevel, intValue(5));
    EXPECT_EQ(afterMidi(host, module, kMidiIn, {on(68)}), toOutputs({1}, on(68)));
}

} // namespace
