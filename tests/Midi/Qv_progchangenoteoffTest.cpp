// Note-offs for every note answering a program change, through the stand-in host.
#include "Midi/MidiModuleTestSupport.h"
#include "Midi/NoteLedgerTestSupport.h"

using namespace midi_test;

namespace {

class ProgChangeNoteoff : public MidiModuleTest {};

TEST_F(ProgChangeNoteoff, NoteoffEndsAllNotesOnAProgramChange)
{
    const auto noteoff = make("QV_ProgChangeNoteoff");
    EXPECT_EQ(pass(noteoff, {{0xC5, 3}}), sweep(0x80, 0));
    EXPECT_TRUE(feed(noteoff, {{0x90, 60, 1}, {0xB0, 0, 0}, {0xF8}}).empty());
}

// Played like a musician, the module only ever ends notes.
TEST(ProgChangeNoteoffPerformance, NeverLeavesANoteOn)
{
    EXPECT_EQ(note_ledger::strandedNotes(note_ledger::Stage("QV_ProgChangeNoteoff"), 5, 40), "");
}

} // namespace
