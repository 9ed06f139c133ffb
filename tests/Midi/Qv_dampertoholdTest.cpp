// The sustain pedal turned into the pedal note and the hold controllers, through the stand-in host.
#include "Midi/MidiModuleTestSupport.h"
#include "Midi/NoteLedgerTestSupport.h"

using namespace midi_test;

namespace {

class DamperToHold : public MidiModuleTest {};

TEST_F(DamperToHold, DamperSendsThePedalNoteAndTogglesTheHoldControllers)
{
    const auto damper = make("QV_DamperToHold", {{4, 3}});
    EXPECT_EQ(feed(damper, {{0xB3, 64, 65}}), (std::vector<Sent>{{3, {0x90, 40, 127}}}));
    EXPECT_EQ(feed(damper, {{0xB0, 64, 63}}), (std::vector<Sent>{{1, {0xB0, 85, 127}}, {2, {0xB0, 86, 127}}}));
    EXPECT_TRUE(feed(damper, {{0xB0, 64, 64}, {0xB0, 65, 0}, {0x90, 40, 127}, {0xC0, 1}}).empty());
    EXPECT_EQ(feed(damper, {{0xB0, 64, 0}}), (std::vector<Sent>{{1, {0xB0, 85, 74}}, {2, {0xB0, 86, 0}}}));
    EXPECT_EQ(feed(damper, {{0xB0, 64, 0}}), (std::vector<Sent>{{1, {0xB0, 85, 127}}, {2, {0xB0, 86, 127}}}));

    setInt(damper, 4, 2);  // below mode 3 a release does nothing; a press still sends the pedal note
    EXPECT_EQ(feed(damper, {{0xB0, 64, 0}, {0xB0, 64, 127}}), (std::vector<Sent>{{3, {0x90, 40, 127}}}));
}

// Played like a musician, nothing sounds on the hold outputs; the pedal note on out 3 is a signal
// to the patch that has no note-off, so it is all that may still be on once everything is let go.
TEST(DamperToHoldPerformance, OnlyThePedalNoteStaysOn)
{
    EXPECT_EQ(note_ledger::strandedNotes(note_ledger::Stage("QV_DamperToHold").ints({{4, 0, 4}}), 20, 100, " 3/1:40"), "");
}

} // namespace
