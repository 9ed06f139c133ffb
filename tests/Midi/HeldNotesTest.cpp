// Retriggering held notes, driven through the stand-in host: the retrigger with and without its
// level output.
#include "Midi/MidiModuleTestSupport.h"
#include "Midi/NoteLedgerTestSupport.h"

using namespace midi_test;

namespace {

class VoiceModes : public MidiModuleTest {};

// A retrigger: note-offs 0 to 127 at velocity 127, then the held notes struck again.
std::vector<Bytes> retriggered(const std::vector<Bytes>& held)
{
    return sweep(0x80, 127) + held;
}

TEST_F(VoiceModes, RetrigStrikesEveryHeldNoteAgainFromModeThree)
{
    const auto retrig = make("QV_NoteOnRetrig", {{2, 3}});
    EXPECT_EQ(pass(retrig, {{0x93, 60, 80}}), retriggered({{0x90, 60, 80}}));
    EXPECT_EQ(pass(retrig, {{0x90, 64, 70}}), retriggered({{0x90, 60, 80}, {0x90, 64, 70}}));
    EXPECT_EQ(pass(retrig, {{0x90, 67, 90}}),
              retriggered({{0x90, 60, 80}, {0x90, 64, 70}, {0x90, 67, 90}}));
    // Releases pass and are forgotten; other messages pass on channel 1.
    EXPECT_EQ(pass(retrig, {{0x84, 64, 10}, {0x91, 60, 0}, {0xB3, 1, 2}}),
              (std::vector<Bytes>{{0x80, 64, 10}, {0x80, 60, 0}, {0xB0, 1, 2}}));
    EXPECT_EQ(pass(retrig, {{0x90, 67, 91}}), retriggered({{0x90, 67, 91}}));
    // A note number of 128 or more is never held.
    EXPECT_EQ(pass(retrig, {{0x90, 200, 5}}), retriggered({{0x90, 67, 91}}));
}

TEST_F(VoiceModes, RetrigBelowModeThreePassesAndTracksNothing)
{
    const auto retrig = make("QV_NoteOnRetrig", {{2, 2}});
    EXPECT_EQ(pass(retrig, {{0x95, 50, 60}, {0x9F, 51, 0}, {0xE2, 0, 64}}),
              (std::vector<Bytes>{{0x90, 50, 60}, {0x80, 51, 0}, {0xE0, 0, 64}}));
    setInt(retrig, 2, 3);
    EXPECT_EQ(pass(retrig, {{0x90, 52, 1}}), retriggered({{0x90, 52, 1}}));
}

TEST_F(VoiceModes, RetrigForgetsANoteReleasedWhileNotTracking)
{
    const auto retrig = make("QV_NoteOnRetrig", {{2, 3}});
    pass(retrig, {{0x90, 60, 100}});
    setInt(retrig, 2, 0);
    EXPECT_EQ(pass(retrig, {{0x80, 60, 0}}), (std::vector<Bytes>{{0x80, 60, 0}}));
    setInt(retrig, 2, 3);
    EXPECT_EQ(pass(retrig, {{0x90, 62, 100}}), retriggered({{0x90, 62, 100}}));
}

class RetrigGate : public MidiModuleTest {
protected:
    enum Pin { kMode = 2, kLevelOut, kReleaseTime };

    float level(int sample) const { return host.buffer(gate, kLevelOut)[static_cast<std::size_t>(sample)]; }
    std::size_t gate = 0;
};

TEST_F(RetrigGate, ModeZeroPassesEverythingAndTheLevelStays)
{
    gate = make("QV_NoteOnRetrigGate");
    EXPECT_FLOAT_EQ(level(0), 0.1f);  // from open on
    EXPECT_EQ(pass(gate, {{0x93, 60, 100}, {0x90, 61, 0}, {0xB0, 7, 1}}),
              (std::vector<Bytes>{{0x90, 60, 100}, {0x80, 61, 0}, {0xB0, 7, 1}}));
    EXPECT_FLOAT_EQ(level(63), 0.1f);
}

TEST_F(RetrigGate, ModeOneRetriggersWithoutTheSweepAndMovesTheLevel)
{
    gate = make("QV_NoteOnRetrigGate", {{kMode, 1}});
    EXPECT_EQ(pass(gate, {{0x90, 60, 80}, {0x90, 62, 81}}),
              (std::vector<Bytes>{{0x90, 60, 80}, {0x90, 60, 80}, {0x90, 62, 81}}));
    EXPECT_FLOAT_EQ(level(0), 0.0f);
    feed(gate, {{0x80, 60, 5}}, 20);  // the level changes with the piece after the event
    EXPECT_FLOAT_EQ(level(19), 0.0f);
    EXPECT_FLOAT_EQ(level(20), 0.1f);
    EXPECT_EQ(pass(gate, {{0x90, 64, 82}, {0xC0, 1}}), (std::vector<Bytes>{{0x90, 62, 81}, {0x90, 64, 82}, {0xC0, 1, 0}}));
    EXPECT_FLOAT_EQ(level(0), 0.0f);
}

TEST_F(RetrigGate, ModeTwoFallsBackOnceTheReleaseTimeHasPassedWithNotesHeld)
{
    gate = make("QV_NoteOnRetrigGate", {{kMode, 2}});
    host.queuePinValue(gate, kReleaseTime, tav_host::floatValue(100.0f));  // 4800 samples = 75 blocks
    EXPECT_EQ(pass(gate, {{0x90, 60, 80}}), retriggered({{0x90, 60, 80}}));
    pass(gate, {{0x90, 64, 70}});
    EXPECT_EQ(pass(gate, {{0x80, 64, 0}}), (std::vector<Bytes>{{0x80, 64, 0}}));
    EXPECT_FLOAT_EQ(level(63), 0.1f);
    for (int block = 1; block < 74; ++block)
        feed(gate, {});
    EXPECT_FLOAT_EQ(level(63), 0.1f);  // 73 blocks after the note-off's: 64 samples left
    // The piece in which the countdown runs out is already low.
    feed(gate, {});
    EXPECT_FLOAT_EQ(level(0), 0.0f);

    // With nothing held after the release the level stays up.
    pass(gate, {{0x80, 60, 0}});
    for (int block = 0; block < 80; ++block)
        feed(gate, {});
    EXPECT_FLOAT_EQ(level(63), 0.1f);
}

// The level output judges by the mode copied at the last MIDI message, not by a mode pin that
// changed since.
TEST_F(RetrigGate, LevelFollowsTheModeOfTheLastMessage)
{
    gate = make("QV_NoteOnRetrigGate", {{kMode, 2}});
    pass(gate, {{0x90, 60, 80}, {0x90, 64, 70}});
    pass(gate, {{0x80, 64, 0}});  // release time 0: fallen at once, 60 still held
    EXPECT_FLOAT_EQ(level(0), 0.0f);
    setInt(gate, kMode, 1);
    feed(gate, {});
    EXPECT_FLOAT_EQ(level(63), 0.0f);  // still mode 2 until a message comes
    feed(gate, {{0xB0, 1, 1}}, 10);
    EXPECT_FLOAT_EQ(level(9), 0.0f);
    EXPECT_FLOAT_EQ(level(10), 0.1f);  // mode 1 from the message on: no fall-back
}

TEST_F(RetrigGate, ANegativeOrMissingReleaseTimeCountsNothing)
{
    gate = make("QV_NoteOnRetrigGate", {{kMode, 2}});
    host.queuePinValue(gate, kReleaseTime, tav_host::floatValue(-50.0f));
    pass(gate, {{0x90, 60, 80}, {0x90, 64, 70}});
    for (int block = 0; block < 400; ++block)  // past the half second counted from open
        feed(gate, {});
    feed(gate, {{0x80, 64, 0}});
    EXPECT_FLOAT_EQ(level(0), 0.0f);  // fallen at once
}

// Played like a musician, with the mode and the release time changed at any moment, both
// retrigger modules have sent each note-on's note-off once every key is up.
TEST(RetrigPerformance, EveryNoteOnEndsOnceAllKeysAreReleased)
{
    using note_ledger::Stage;
    EXPECT_EQ(note_ledger::strandedNotes(Stage("QV_NoteOnRetrig").ints({{2, 0, 4}}), 20, 100), "");
    EXPECT_EQ(note_ledger::strandedNotes(Stage("QV_NoteOnRetrigGate").ints({{2, -1, 3}}).floats({4}), 20, 100), "");
}

} // namespace
