// The program-change utilities, driven through the stand-in host: program changes issued on the
// commit note, delayed behind the trigger note, controllers held back and released one per
// trigger note, and the controller-driven lock-out gate.
#include "Midi/MidiModuleTestSupport.h"
#include "Midi/NoteLedgerTestSupport.h"
#include "Patch.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

using namespace midi_test;

namespace {

class ProgramChanges : public MidiModuleTest {};

const Bytes kCommit = {0x90, 9, 127};

TEST_F(ProgramChanges, GatedSendsThePinsProgramOnTheCommitNote)
{
    const auto gated = make("QV_ProgChangeGated", {{2, 12}});
    EXPECT_EQ(pass(gated, {{0x9F, 9, 1}}), (std::vector<Bytes>{{0xC0, 12, 0}}));  // any channel
    // Not the commit note: a silent note 9, another note, a note-off, anything else; nothing passes.
    EXPECT_TRUE(feed(gated, {{0x90, 9, 0}, {0x90, 10, 127}, {0x80, 9, 127}, {0xC0, 3}, {0xB0, 9, 127}}).empty());

    // The pin's low 16 bits, held to a data byte.
    const std::pair<std::int32_t, std::uint8_t> programs[] = {{300, 127}, {-4, 0}, {0x10005, 5}, {127, 127}};
    for (const auto& [pin, program] : programs) {
        setInt(gated, 2, pin);
        EXPECT_EQ(pass(gated, {kCommit}), (std::vector<Bytes>{{0xC0, program, 0}})) << pin;
    }
}

TEST_F(ProgramChanges, GatedSendsNothingBeforeItsProgramPinHasAValue)
{
    const auto gated = make("QV_ProgChangeGated");
    EXPECT_TRUE(feed(gated, {kCommit}).empty());
    setInt(gated, 2, 0);
    EXPECT_EQ(pass(gated, {kCommit}), (std::vector<Bytes>{{0xC0, 0, 0}}));
}

TEST_F(ProgramChanges, SwitchStepsFromThePinsProgram)
{
    const auto sw = make("QV_ProgSwitchGated");
    EXPECT_TRUE(feed(sw, {kCommit}).empty());  // no current program yet

    struct Case {
        std::int32_t current, direction;
        std::uint8_t next;
    };
    for (const Case c : {Case{0, 0, 0}, Case{127, 1, 127}, Case{40, 2, 40}, Case{40, 0, 39}, Case{40, 1, 41},
                         Case{200, 0, 127}, Case{-3, 1, 0}, Case{0x10010, 1, 17}}) {
        setInt(sw, 2, c.current);
        setInt(sw, 3, c.direction);
        EXPECT_EQ(pass(sw, {{0x90, 1, 1}, kCommit, {0xC0, 3}}), (std::vector<Bytes>{{0xC0, c.next, 0}}))
            << c.current << " " << c.direction;
    }
    // It keeps no count of its own: a second commit sends the same program.
    EXPECT_EQ(pass(sw, {kCommit}), (std::vector<Bytes>{{0xC0, 17, 0}}));
}

TEST_F(ProgramChanges, DelayAnswersWithTheTriggerNoteAndCommitsTheLatestProgram)
{
    const auto delay = make("QV_ProgChangeDelay");
    EXPECT_TRUE(feed(delay, {kCommit}).empty());  // no program yet

    EXPECT_EQ(pass(delay, {{0xC3, 5, 0}, {0xC0, 7}, {0xB0, 1, 2}, {0x90, 9, 0}}),
              (std::vector<Bytes>{{0x90, 60, 127}, {0x90, 60, 127}}));
    EXPECT_EQ(pass(delay, {{0x95, 9, 64}}), (std::vector<Bytes>{{0xC0, 7, 0}}));
    EXPECT_EQ(pass(delay, {kCommit}), (std::vector<Bytes>{{0xC0, 7, 0}}));  // kept until replaced
    // The third byte travels with the program.
    EXPECT_EQ(pass(delay, {{0xC0, 8, 5}, kCommit}), (std::vector<Bytes>{{0x90, 60, 127}, {0xC0, 8, 5}}));
}

TEST_F(ProgramChanges, TriggeredBufferReleasesOneControllerPerTriggerNote)
{
    const auto buffer = make("QV_CCTriggeredBuffer");
    const Bytes trigger = {0x90, 60, 127};
    EXPECT_TRUE(feed(buffer, {{0xB2, 1, 10}, {0xB0, 2, 20}, {0xB0, 3, 30}, {0x90, 61, 1}, {0x90, 60, 0}}).empty());
    EXPECT_EQ(pass(buffer, {trigger, {0x93, 60, 1}}), (std::vector<Bytes>{{0xB0, 1, 10}, {0xB0, 2, 20}}));
    EXPECT_EQ(pass(buffer, {{0xB0, 4, 40}, trigger, trigger, trigger}),
              (std::vector<Bytes>{{0xB0, 3, 30}, {0xB0, 4, 40}}));

    // 256 are kept between two emptyings; the 257th is lost.
    std::vector<Bytes> many;
    for (int i = 0; i < 257; ++i)
        many.push_back({0xB0, static_cast<std::uint8_t>(i % 128), static_cast<std::uint8_t>(i / 128)});
    EXPECT_TRUE(feed(buffer, many).empty());
    const auto released = pass(buffer, std::vector<Bytes>(257, trigger));
    ASSERT_EQ(released.size(), 256u);
    EXPECT_EQ(released.front(), (Bytes{0xB0, 0, 0}));
    EXPECT_EQ(released.back(), (Bytes{0xB0, 127, 1}));
    EXPECT_EQ(pass(buffer, {{0xB0, 9, 9}, trigger}), (std::vector<Bytes>{{0xB0, 9, 9}}));  // emptied, takes again
}

// The lock-out gate at 48 kHz in 64-sample blocks: the half-second lock-out is 24000 samples.
// Played like a musician, the delay sends no note but the trigger note, a signal to the patch
// that has no note-off. The gated senders, the controller buffer and the lock-out gate send no
// notes at all.
TEST(ProgChangeDelayPerformance, OnlyTheTriggerNoteStaysOn)
{
    EXPECT_EQ(note_ledger::strandedNotes(note_ledger::Stage("QV_ProgChangeDelay"), 20, 100, " 1/1:60"), "");
}

class LockoutGate : public MidiModuleTest {
protected:
    enum Pin { kMidiOut = 1, kDirect, kDeferred, kStore, kRecall, kGateA, kGateB, kGateAOut, kGateBOut, kUnusedOut };

    void SetUp() override
    {
        gate = make("QV_CtrlToPrgchGate", {{kDirect, 20}, {kDeferred, 21}, {kStore, 22}, {kRecall, 23}, {kGateA, 24},
                                           {kGateB, 25}});
    }
    // Runs blocks until one sends something (at most limit); returns the blocks run.
    int blocksUntilSent(int limit)
    {
        for (int n = 1; n <= limit; ++n)
            if (!feed(gate, {}).empty())
                return n;
        return -1;
    }
    float out(Pin pin, int sample) const { return host.buffer(gate, pin)[static_cast<std::size_t>(sample)]; }
    // Fills an output buffer with a stale value, as a host reusing its buffers leaves it.
    void soil(Pin pin)
    {
        auto span = host.buffer(gate, pin);
        std::fill(const_cast<float*>(span.data()), const_cast<float*>(span.data()) + span.size(), 7.0f);
    }

    std::size_t gate = 0;
};

TEST_F(LockoutGate, DirectProgramLeavesAtOnceAndIsRefusedDuringTheLockout)
{
    EXPECT_EQ(feed(gate, {{0xB5, 20, 7}}, 30), (std::vector<Sent>{{kMidiOut, {0xC0, 7, 0}}}));
    EXPECT_EQ(lastPositions, (std::vector<std::int32_t>{0}));  // at block position 0
    EXPECT_TRUE(feed(gate, {{0xB0, 20, 8}}).empty());          // refused, and restarts the lock-out
    // Restarted at the start of that block: 24000 samples = 375 blocks, the last one included.
    EXPECT_EQ(blocksUntilSent(400), -1);
    EXPECT_EQ(feed(gate, {{0xB0, 20, 9}}), (std::vector<Sent>{{kMidiOut, {0xC0, 9, 0}}}));
}

TEST_F(LockoutGate, NoteOnsAndProgramChangesRestartTheLockout)
{
    feed(gate, {{0x90, 60, 100}});
    EXPECT_TRUE(feed(gate, {{0xB0, 20, 8}}).empty());
    for (int i = 0; i < 380; ++i)
        feed(gate, {});
    feed(gate, {{0xC0, 1}});
    EXPECT_TRUE(feed(gate, {{0xB0, 20, 8}}).empty());
    for (int i = 0; i < 380; ++i)
        feed(gate, {});
    feed(gate, {{0x90, 60, 0}});  // a silent note-on is a note-off: no restart
    EXPECT_EQ(feed(gate, {{0xB0, 20, 8}}), (std::vector<Sent>{{kMidiOut, {0xC0, 8, 0}}}));
}

TEST_F(LockoutGate, DeferredProgramLeavesWhenTheLockoutRunsOut)
{
    EXPECT_TRUE(feed(gate, {{0xB0, 21, 9}}, 10).empty());
    // Piece 10..63 of that block, then 374 blocks leave 10 samples: the 375th block ends it.
    EXPECT_EQ(blocksUntilSent(400), 375);
    EXPECT_EQ(host.callsOf(tav_host::CallKind::SendPinValue, gate).back().data, (Bytes{0xC0, 9, 0}));
    EXPECT_EQ(lastPositions, (std::vector<std::int32_t>{0}));
    // Deferred is taken even while the lock-out runs, the later program replacing the earlier.
    feed(gate, {{0xB0, 21, 1}});
    feed(gate, {{0xB0, 21, 2}});
    // Restarted at a block start: 24000 samples are 375 blocks, that one included.
    EXPECT_EQ(blocksUntilSent(400), 374);
    EXPECT_EQ(host.callsOf(tav_host::CallKind::SendPinValue, gate).back().data, (Bytes{0xC0, 2, 0}));
}

TEST_F(LockoutGate, StoreAndRecall)
{
    EXPECT_TRUE(feed(gate, {{0xB0, 23, 0}}).empty());  // nothing stored yet: nothing to recall
    EXPECT_EQ(blocksUntilSent(400), -1);
    EXPECT_TRUE(feed(gate, {{0xB0, 22, 11}}).empty());  // stored, no lock-out
    EXPECT_EQ(feed(gate, {{0xB0, 23, 0}}), (std::vector<Sent>{{kMidiOut, {0xC0, 11, 0}}}));
    EXPECT_TRUE(feed(gate, {{0xB0, 22, 12}, {0xB0, 23, 0}}).empty());  // store is taken, recall refused
    EXPECT_EQ(blocksUntilSent(400), -1);
    EXPECT_EQ(feed(gate, {{0xB0, 23, 0}}), (std::vector<Sent>{{kMidiOut, {0xC0, 12, 0}}}));
}

TEST_F(LockoutGate, GatesHoldForTheLockoutAndOutputsWithoutARequestReadZero)
{
    soil(kGateAOut);
    soil(kUnusedOut);
    EXPECT_TRUE(feed(gate, {{0xB0, 25, 0}}, 10).empty());
    EXPECT_EQ(out(kGateBOut, 9), 0.0f);
    EXPECT_EQ(out(kGateBOut, 10), 1.0f);
    EXPECT_EQ(out(kGateBOut, 63), 1.0f);
    EXPECT_EQ(out(kGateAOut, 63), 0.0f);   // not requested: written low, never stale
    EXPECT_EQ(out(kUnusedOut, 63), 0.0f);  // never carries anything
    // A gate A request while B holds is refused.
    feed(gate, {{0xB0, 24, 0}});
    EXPECT_EQ(out(kGateAOut, 63), 0.0f);
    for (int i = 0; i < 373; ++i)
        feed(gate, {});
    EXPECT_EQ(out(kGateBOut, 63), 1.0f);
    feed(gate, {});  // the restart by the refused request ran out in this block
    EXPECT_EQ(out(kGateBOut, 0), 0.0f);
    EXPECT_EQ(out(kGateBOut, 63), 0.0f);
}

TEST_F(LockoutGate, OneControllerOnEveryPinActsInPinOrder)
{
    for (const Pin p : {kDirect, kDeferred, kStore, kRecall, kGateA, kGateB})
        setInt(gate, p, 0);
    feed(gate, {});
    // Direct, then the store's program recalled; busy is what the last piece left, so neither
    // is refused; then the deferred program when the lock-out runs out, and both gates fall.
    EXPECT_EQ(feed(gate, {{0xB0, 0, 5}}), (std::vector<Sent>{{kMidiOut, {0xC0, 5, 0}}, {kMidiOut, {0xC0, 5, 0}}}));
    EXPECT_EQ(out(kGateAOut, 0), 1.0f);
    EXPECT_EQ(out(kGateBOut, 0), 1.0f);
    EXPECT_EQ(blocksUntilSent(400), 374);
    EXPECT_EQ(host.callsOf(tav_host::CallKind::SendPinValue, gate).back().data, (Bytes{0xC0, 5, 0}));
    EXPECT_EQ(out(kGateAOut, 0), 0.0f);
    EXPECT_EQ(out(kGateBOut, 0), 0.0f);
}

TEST_F(LockoutGate, InterfaceHalfHasOneBoolPin)
{
    EXPECT_TRUE(host.hasHalf(gate, tav_host::Side::Gui));
    EXPECT_TRUE(host.guiSetPin(gate, 0, tav_host::boolValue(true)));
    EXPECT_TRUE(host.callsOf(tav_host::CallKind::TransmitPin, gate).empty());
    EXPECT_TRUE(host.callsOf(tav_host::CallKind::PostMessageToAudio, gate).empty());
}

// The example patch: the program change kept last is issued by the commit note, and the
// controllers held back leave one per trigger note, oldest first.
TEST(ProgramChangeChainExample, DelaysTheProgramAndReleasesTheControllers)
{
    const auto file = std::filesystem::path(TAVRIN_SOURCE_DIR) / "examples" /
                      "program-change-chain.json";
    std::string error;
    const auto patch = tav_host::loadPatch(file, error);
    ASSERT_TRUE(patch) << error;
    std::ostringstream out, err;
    ASSERT_EQ(tav_host::runPatch(*patch, test_support::factory(), {}, out, err), 0) << err.str();
    std::string produced;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        if (line.find("delay.dsp") != std::string::npos || line.find("held.dsp") != std::string::npos)
            produced += line + "\n";
    EXPECT_EQ(produced, "0.003333 s  delay.dsp pin 1  midi 90 3C 7F\n"
                        "0.004333 s  delay.dsp pin 1  midi 90 3C 7F\n"
                        "0.004667 s  held.dsp pin 1  midi B0 4A 14\n"
                        "0.005667 s  held.dsp pin 1  midi B0 47 5A\n"
                        "0.006333 s  delay.dsp pin 1  midi C0 06 00\n");
}

} // namespace
