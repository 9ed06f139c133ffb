// The all-notes sweep set off by any message, through the stand-in host.
#include "Midi/MidiModuleTestSupport.h"
#include "Midi/NoteLedgerTestSupport.h"

using namespace midi_test;

namespace {

class AllNotesOffTrig : public MidiModuleTest {};

TEST_F(AllNotesOffTrig, AnyMessageSetsOffTheAllNotesSweep)
{
    const auto trig = make("QV_AllNotesOffTrig");
    std::vector<Bytes> expected;
    for (int n = 0; n < 128; ++n) {
        expected.push_back({0x90, static_cast<std::uint8_t>(n), 1});
        expected.push_back({0x80, static_cast<std::uint8_t>(n), 127});
    }
    EXPECT_EQ(pass(trig, {{0xF8}}), expected);
    EXPECT_EQ(pass(trig, {{0x90, 60, 0}}), expected);
    EXPECT_TRUE(pass(trig, {{}}).empty());  // an event of no bytes is no message
}

// Whatever is played, every note the sweep strikes it also ends.
TEST(AllNotesOffTrigPerformance, EveryNoteOnEnds)
{
    EXPECT_EQ(note_ledger::strandedNotes(note_ledger::Stage("QV_AllNotesOffTrig"), 5, 40), "");
}

} // namespace
