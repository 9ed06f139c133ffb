// The clock-stepped arpeggiator: the step engine's directions and octaves, the clock note-off as
// a step, chords on steps, latch, pattern and entry notes, switching on and off, direct play and
// the bounds on what comes in; direct play with chords: chord sets, the sweeps on a chord type
// change, chord notes shared by two keys, and chord learn.
#include "Midi/ArpeggiatorTestSupport.h"

#include <algorithm>

using namespace arp_test;

namespace {

constexpr const char* kArp = "QV_PowerArpeggiator";

class PowerArpeggiator : public ArpeggiatorTest {
protected:
    // Arpeggiator on with arrival order, direction and octave count.
    void makeOn(int32_t direction, int32_t octaves, std::map<int32_t, int32_t> more = {})
    {
        more[Pin::kArpOn] = 3;
        more[Pin::kDirection] = direction;
        more[Pin::kOctaves] = octaves;
        make(kArp, more);
    }
};

TEST_F(PowerArpeggiator, AscendsOverTwoOctavesEndingEachStepBeforeTheNext)
{
    makeOn(1, 2);
    EXPECT_TRUE(play({on(60, 90), on(64, 90), on(67, 90)}).empty());  // notes only fill the memory
    EXPECT_EQ(play({on(10, 100)}), std::vector<Bytes>{on(60, 100)});
    EXPECT_EQ(play({on(10, 100)}), (std::vector<Bytes>{off(60, 100), on(64, 100)}));
    EXPECT_EQ(stepNotes(6), (std::vector<int>{67, 72, 76, 79, 60, 64}));
}

TEST_F(PowerArpeggiator, ClockNoteOffIsAStepWithItsOwnVelocity)
{
    makeOn(1, 1);
    play({on(60, 90), on(64, 90)});
    EXPECT_EQ(play({on(10, 100)}), std::vector<Bytes>{on(60, 100)});
    EXPECT_EQ(play({off(10, 0)}), (std::vector<Bytes>{off(60, 0), on(64, 0)}));
    // A note-on of velocity 0 on the clock note is a step as well.
    EXPECT_EQ(play({on(10, 0)}), (std::vector<Bytes>{off(64, 0), on(60, 0)}));
}

TEST_F(PowerArpeggiator, DescendsFromTheTopAfterARestart)
{
    makeOn(2, 2);
    play({on(60, 90), on(64, 90), on(67, 90)});
    // A fresh module starts at position 1 of octave 1.
    EXPECT_EQ(stepNotes(8), (std::vector<int>{60, 79, 76, 72, 67, 64, 60, 79}));

    // Off: the next message ends the last step and is then played directly.
    setMode(Pin::kArpOn, 0);
    EXPECT_EQ(play({on(50, 80)}), (std::vector<Bytes>{off(79, 80), on(50, 80)}));
    EXPECT_EQ(play({off(50, 0)}), std::vector<Bytes>{off(50, 0)});
    setMode(Pin::kArpOn, 3);
    EXPECT_EQ(stepNotes(2), (std::vector<int>{79, 76}));
}

// Up-down, end notes played once: the way down passes over the top note and the lowest note of
// each upper octave (72; over three octaves 84 and 72), and turns at the second note of the
// bottom octave, so the lowest note opens the next way up.
TEST_F(PowerArpeggiator, UpDownTurnsWithoutRepeatingTheEndNotes)
{
    makeOn(3, 2, {{Pin::kUpDownTurn, 5}});
    play({on(60, 90), on(64, 90), on(67, 90)});
    EXPECT_EQ(stepNotes(18), (std::vector<int>{60, 64, 67, 72, 76, 79, 76, 67, 64, 60, 64, 67, 72, 76, 79, 76, 67, 64}));

    makeOn(3, 3, {{Pin::kUpDownTurn, 5}});
    play({on(60, 90), on(64, 90), on(67, 90)});
    EXPECT_EQ(stepNotes(15), (std::vector<int>{60, 64, 67, 72, 76, 79, 84, 88, 91, 88, 79, 76, 67, 64, 60}));

    makeOn(3, 2, {{Pin::kUpDownTurn, 5}});
    play({on(60, 90), on(64, 90)});
    // With two notes the pass over the top note takes the scan on to the lowest of the octave.
    EXPECT_EQ(stepNotes(12), (std::vector<int>{60, 64, 72, 76, 72, 64, 60, 64, 72, 76, 72, 64}));
}

// Up-down, end notes repeated (the turn comes after the lowest note of the bottom octave): the way
// down passes over the lowest note of each upper octave as above, and in the bottom octave goes on
// to the lowest note, where the run turns and plays it again.
TEST_F(PowerArpeggiator, UpDownRepeatsTheEndNotesWhenTheTurnPinSaysSo)
{
    makeOn(3, 1, {{Pin::kUpDownTurn, 0}});
    play({on(60, 90), on(64, 90), on(67, 90)});
    EXPECT_EQ(stepNotes(8), (std::vector<int>{60, 64, 67, 67, 64, 60, 60, 64}));

    makeOn(3, 2, {{Pin::kUpDownTurn, 0}});
    play({on(60, 90), on(64, 90), on(67, 90)});
    EXPECT_EQ(stepNotes(16), (std::vector<int>{60, 64, 67, 72, 76, 79, 79, 76, 67, 64, 60, 60, 64, 67, 72, 76}));
}

TEST_F(PowerArpeggiator, UpDownWithOneNoteAlternatesItsOctaves)
{
    makeOn(3, 2, {{Pin::kUpDownTurn, 5}});
    play({on(60, 90)});
    EXPECT_EQ(stepNotes(5), (std::vector<int>{60, 72, 60, 72, 60}));
}

TEST_F(PowerArpeggiator, AscendingOrderSortsTheHeldNotes)
{
    makeOn(1, 1, {{Pin::kNoteOrder, 2}});
    play({on(67, 90), on(64, 90), on(60, 90)});
    EXPECT_EQ(stepNotes(4), (std::vector<int>{60, 64, 67, 60}));
    // Arrival order plays them as they came, from the same position.
    setMode(Pin::kNoteOrder, 0);
    EXPECT_EQ(stepNotes(3), (std::vector<int>{64, 60, 67}));
}

TEST_F(PowerArpeggiator, AscendingOrderTakesTheLowestEightKeysHeld)
{
    makeOn(1, 1, {{Pin::kNoteOrder, 2}});
    play({on(61, 90), on(62, 90), on(63, 90), on(64, 90), on(65, 90), on(66, 90), on(67, 90), on(68, 90)});
    // A ninth key finds the held list full, yet it is held: the lowest eight are 60-67.
    play({on(60, 90)});
    EXPECT_EQ(stepNotes(9), (std::vector<int>{60, 61, 62, 63, 64, 65, 66, 67, 60}));
    // Arrival order plays the eight held slots only.
    setMode(Pin::kNoteOrder, 0);
    EXPECT_EQ(stepNotes(8), (std::vector<int>{62, 63, 64, 65, 66, 67, 68, 61}));
}

TEST_F(PowerArpeggiator, ReleasedKeysLeaveTheRun)
{
    makeOn(1, 1);
    play({on(60, 90), on(64, 90), on(67, 90)});
    EXPECT_EQ(stepNotes(1), std::vector<int>{60});
    play({off(64, 0)});
    EXPECT_EQ(stepNotes(3), (std::vector<int>{67, 60, 67}));
    // With every key up the steps play nothing and the run starts again at the bottom.
    play({off(60, 0), off(67, 0)});
    EXPECT_EQ(play({on(10, 100)}), std::vector<Bytes>{off(67, 100)});
    play({on(62, 90)});
    EXPECT_EQ(stepNotes(1), std::vector<int>{62});
}

TEST_F(PowerArpeggiator, StepChordsFollowTheChordType)
{
    makeOn(1, 1, {{Pin::kChordNotes, 3}, {Pin::kChordFromType, 3}, {Pin::kChordType, 13}});
    play({on(60, 90), on(62, 90)});
    EXPECT_EQ(play({on(10, 100)}), (std::vector<Bytes>{on(60, 100), on(60, 100), on(64, 100), on(67, 100)}));
    // The doubled 60 is no longer marked sounding after its first note-off.
    EXPECT_EQ(play({on(10, 90)}), (std::vector<Bytes>{off(60, 90), off(64, 90), off(67, 90), on(62, 90), on(62, 90),
                                                       on(66, 90), on(69, 90)}));
    // Type 4 on steps: -12, -12, 0, +12, +12.
    setMode(Pin::kChordType, 4);
    EXPECT_EQ(play({on(10, 80)}), (std::vector<Bytes>{off(62, 80), off(66, 80), off(69, 80), on(60, 80), on(48, 80),
                                                       on(48, 80), on(60, 80), on(72, 80), on(72, 80)}));
}

TEST_F(PowerArpeggiator, LatchKeepsReleasedNotesUntilItIsLeft)
{
    makeOn(1, 1, {{Pin::kHoldMode, 3}});
    play({on(60, 90), on(64, 90), off(60, 0), off(64, 0)});
    EXPECT_EQ(stepNotes(3), (std::vector<int>{60, 64, 60}));
    // Leaving latch ends the released notes; with no key held the run is silent.
    setMode(Pin::kHoldMode, 0);
    EXPECT_EQ(play({on(10, 100)}), std::vector<Bytes>{off(60, 100)});
    EXPECT_EQ(play({on(10, 100)}), std::vector<Bytes>{});
}

TEST_F(PowerArpeggiator, LeavingLatchKeepsTheKeysStillHeld)
{
    makeOn(1, 1, {{Pin::kHoldMode, 3}});
    play({on(60, 90), on(64, 90), on(67, 90), off(60, 0)});
    EXPECT_EQ(stepNotes(3), (std::vector<int>{60, 64, 67}));
    setMode(Pin::kHoldMode, 0);
    EXPECT_EQ(play({on(10, 100)}), (std::vector<Bytes>{off(67, 100), on(64, 100)}));
    EXPECT_EQ(stepNotes(2), (std::vector<int>{67, 64}));
}

TEST_F(PowerArpeggiator, PatternNotesFillTheirSlotsAndOutliveTheKeys)
{
    makeOn(1, 1, {{Pin::kHoldMode, 3}, {Pin::kLatchMergeRule, 2}, {Pin::kPatternMode, 3}, {Pin::kPatternLength, 3}});
    play({on(60, 90), off(60, 0), on(67, 90), off(67, 0), on(64, 90), off(64, 0)});
    EXPECT_EQ(stepNotes(4), (std::vector<int>{60, 67, 64, 60}));
    // A full pattern takes the next note at its cursor: slot 1.
    play({on(62, 90), off(62, 0)});
    EXPECT_EQ(stepNotes(3), (std::vector<int>{67, 64, 62}));
}

TEST_F(PowerArpeggiator, PatternLengthOutsideOneToEightIsClamped)
{
    makeOn(1, 1, {{Pin::kHoldMode, 3}, {Pin::kLatchMergeRule, 2}, {Pin::kPatternMode, 3}, {Pin::kPatternLength, 0}});
    play({on(60, 90), off(60, 0), on(64, 90), off(64, 0)});
    EXPECT_EQ(stepNotes(2), (std::vector<int>{64, 64}));  // a pattern of one slot
    setMode(Pin::kPatternLength, 40);
    play({on(67, 90), off(67, 0)});
    EXPECT_EQ(stepNotes(3), (std::vector<int>{67, 64, 67}));
}

TEST_F(PowerArpeggiator, CursorMergeOverwritesFromTheCursor)
{
    makeOn(1, 1, {{Pin::kHoldMode, 3}, {Pin::kLatchMergeRule, 2}});
    play({on(60, 90), on(64, 90), on(67, 90), off(60, 0), off(64, 0), off(67, 0)});
    EXPECT_EQ(stepNotes(3), (std::vector<int>{60, 64, 67}));
    play({on(72, 90)});
    EXPECT_EQ(stepNotes(3), (std::vector<int>{72, 64, 67}));
}

TEST_F(PowerArpeggiator, EntryNotesAreRecordedAndPlayed)
{
    makeOn(1, 1, {{Pin::kStepEntry, 3}, {Pin::kPlayEntries, 2}});
    play({on(62, 90), off(62, 0), on(65, 90), off(65, 0)});
    EXPECT_EQ(stepNotes(3), (std::vector<int>{62, 65, 62}));
    // Slot writes: pin 12 names the slot; values under 2 mean slot 1, past 8 nothing is written.
    setMode(Pin::kStepEntry, 0);
    setMode(Pin::kEntrySlotWrite, 3);
    setMode(Pin::kEntrySlot, 2);
    play({on(70, 90), off(70, 0)});
    EXPECT_EQ(stepNotes(3), (std::vector<int>{70, 62, 70}));
    setMode(Pin::kEntrySlot, 9);
    play({on(72, 90)});
    EXPECT_EQ(stepNotes(2), (std::vector<int>{62, 70}));
    setMode(Pin::kEntrySlot, -4);
    play({on(48, 90)});
    EXPECT_EQ(stepNotes(2), (std::vector<int>{48, 70}));
    // Overwrite names a used slot, and an empty one falls back to slot 1.
    setMode(Pin::kEntrySlotWrite, 0);
    setMode(Pin::kEntryOverwrite, 3);
    setMode(Pin::kEntrySlot, 2);
    play({on(50, 90)});
    setMode(Pin::kEntrySlot, 5);
    play({on(52, 90)});
    EXPECT_EQ(stepNotes(2), (std::vector<int>{52, 50}));
}

TEST_F(PowerArpeggiator, RandomOrderPlaysEveryNoteOncePerCycle)
{
    makeOn(1, 2, {{Pin::kRandomOrder, 2}});
    play({on(60, 90), on(64, 90), on(67, 90)});
    const std::vector<int> notes = stepNotes(6);
    ASSERT_EQ(notes.size(), 6u);
    std::vector<int> first(notes.begin(), notes.begin() + 3), second(notes.begin() + 3, notes.end());
    std::sort(first.begin(), first.end());
    std::sort(second.begin(), second.end());
    EXPECT_EQ(first, (std::vector<int>{60, 64, 67}));
    EXPECT_EQ(second, (std::vector<int>{72, 76, 79}));  // the next cycle one octave up
}

TEST_F(PowerArpeggiator, RandomOrderPicksOnlyUsedSlots)
{
    makeOn(1, 1, {{Pin::kRandomOrder, 2}, {Pin::kPlayEntries, 2}, {Pin::kEntrySlotWrite, 3}, {Pin::kEntrySlot, 1}});
    play({on(60, 90)});
    setMode(Pin::kEntrySlot, 3);
    play({on(67, 90)});  // entry slots 1 and 3; slot 2 stays empty
    const std::vector<int> notes = stepNotes(6);
    ASSERT_EQ(notes.size(), 6u);
    for (std::size_t cycle = 0; cycle < 6; cycle += 2) {
        std::vector<int> pair(notes.begin() + static_cast<long>(cycle), notes.begin() + static_cast<long>(cycle) + 2);
        std::sort(pair.begin(), pair.end());
        EXPECT_EQ(pair, (std::vector<int>{60, 67})) << "cycle " << cycle / 2;
    }
}

TEST_F(PowerArpeggiator, DirectionOutsideOneToThreeKeepsTheLastDirection)
{
    makeOn(1, 1);
    play({on(60, 90), on(64, 90), on(67, 90)});
    EXPECT_EQ(stepNotes(2), (std::vector<int>{60, 64}));
    setMode(Pin::kDirection, 0);
    EXPECT_EQ(stepNotes(3), (std::vector<int>{67, 60, 64}));
    setMode(Pin::kDirection, 2);
    EXPECT_EQ(stepNotes(2), (std::vector<int>{67, 64}));
    setMode(Pin::kDirection, 7);
    EXPECT_EQ(stepNotes(3), (std::vector<int>{60, 67, 64}));

    // It is the direction of the last step that is kept, not the pin's value while off.
    makeOn(2, 2);
    play({on(60, 90), on(64, 90), on(67, 90)});
    EXPECT_EQ(stepNotes(2), (std::vector<int>{60, 79}));
    setMode(Pin::kArpOn, 0);
    setMode(Pin::kDirection, 1);
    EXPECT_EQ(play({{0xB0, 1, 5}}), (std::vector<Bytes>{off(79, 5), {0xB0, 1, 5}}));  // resets to the bottom
    setMode(Pin::kArpOn, 3);
    setMode(Pin::kDirection, 0);
    EXPECT_EQ(stepNotes(2), (std::vector<int>{60, 79}));
}

TEST_F(PowerArpeggiator, LatchMergeMakesRoomOrStopsByTheFullListRule)
{
    makeOn(1, 1, {{Pin::kHoldMode, 3}});
    play({on(60, 90), on(64, 90), on(67, 90)});
    EXPECT_EQ(stepNotes(4), (std::vector<int>{60, 64, 67, 60}));
    // With the merge stopping at a full bottom, an empty held list takes no latched note.
    makeOn(1, 1, {{Pin::kHoldMode, 3}, {Pin::kLatchFullRule, 2}});
    play({on(60, 90), on(64, 90)});
    EXPECT_TRUE(play({on(10, 100)}).empty());
}

TEST_F(PowerArpeggiator, LeavingLatchInDirectPlayLeavesHeldKeysSounding)
{
    make(kArp, {{Pin::kHoldMode, 3}});
    play({on(60, 90), on(64, 90), on(67, 90)});
    EXPECT_EQ(play({off(60, 0)}), std::vector<Bytes>{off(60, 0)});
    setMode(Pin::kHoldMode, 0);
    // 67 is still held (its slot moved down): it is not ended.
    EXPECT_EQ(play({{0xB0, 64, 0}}), (std::vector<Bytes>{{0xB0, 64, 0}}));
    EXPECT_EQ(play({off(67, 0)}), std::vector<Bytes>{off(67, 0)});
}

TEST_F(PowerArpeggiator, SwitchingOnAfterDirectChordsSweepsAllNotes)
{
    make(kArp, {{Pin::kChordNotes, 2}, {Pin::kChordType, 0}, {Pin::kDirection, 1}});
    EXPECT_EQ(play({on(60, 90)}), std::vector<Bytes>{on(60, 90)});
    setMode(Pin::kArpOn, 3);
    const std::vector<Bytes> sent = play({on(10, 100)});
    ASSERT_EQ(sent.size(), 130u);
    for (int n = 0; n < 128; ++n)
        EXPECT_EQ(sent[static_cast<std::size_t>(n)], off(n, 100));
    // The first step then ends what the held list holds, marked sounding by direct play.
    EXPECT_EQ(sent[128], off(60, 100));
    EXPECT_EQ(sent[129], on(60, 100));
}

// Whatever direct play left sounding ends at the first step or, with every key up, when the
// arpeggiator is switched off, also when the key was released while the arpeggiator was on.
TEST_F(PowerArpeggiator, MovingBetweenDirectPlayAndStepsLeavesNoNoteSounding)
{
    make(kArp, {{Pin::kDirection, 1}});
    EXPECT_EQ(play({on(60, 90)}), std::vector<Bytes>{on(60, 90)});
    setMode(Pin::kArpOn, 3);
    EXPECT_TRUE(play({off(60, 0)}).empty());
    setMode(Pin::kArpOn, 0);
    EXPECT_EQ(sentInBlock(), std::vector<Bytes>{off(60, 0)});
    EXPECT_EQ(play({on(62, 80), off(62, 0)}), (std::vector<Bytes>{on(62, 80), off(62, 0)}));
    // Released before a first step: that step ends it.
    play({on(60, 90)});
    setMode(Pin::kArpOn, 3);
    play({off(60, 0)});
    EXPECT_EQ(play({on(10, 100)}), std::vector<Bytes>{off(60, 100)});

    // Nine keys from direct play: the held list ends eight, the step the ninth after its note.
    make(kArp, {{Pin::kDirection, 1}});
    for (int note = 60; note < 69; ++note)
        play({on(note, 90)});
    setMode(Pin::kArpOn, 3);
    std::vector<Bytes> ends;
    for (int note = 60; note < 68; ++note)
        ends.push_back(off(note, 100));
    EXPECT_EQ(play({on(10, 100)}), cat({ends, {on(60, 100), off(68, 100)}}));

    // Direct chords counting 60 once more after a release the arpeggiator took: the switch-off
    // ends it, and with the switch-off in the same block the last release does.
    make(kArp, {{Pin::kChordNotes, 2}});
    play({on(60, 90)});
    setMode(Pin::kArpOn, 3);
    play({off(60, 0)});
    setMode(Pin::kArpOn, 0);
    EXPECT_EQ(sentInBlock(), std::vector<Bytes>{off(60, 0)});
    EXPECT_EQ(play({on(60, 90)}), std::vector<Bytes>{on(60, 90)});
    EXPECT_EQ(play({off(60, 0)}), std::vector<Bytes>{off(60, 0)});
    play({on(60, 90)});
    setMode(Pin::kArpOn, 3);
    play({off(60, 0)});
    setMode(Pin::kArpOn, 0);
    EXPECT_EQ(play({on(60, 90)}), std::vector<Bytes>{on(60, 90)});
    EXPECT_EQ(play({off(60, 0)}), std::vector<Bytes>{off(60, 0)});
}

// Back in normal hold, keys let go while frozen, or latched and let go after latch was left, are
// no longer played.
TEST_F(PowerArpeggiator, NormalHoldPlaysOnlyTheKeysDown)
{
    make(kArp, {{Pin::kHoldMode, 3}, {Pin::kDirection, 1}});
    EXPECT_EQ(play({on(55, 90)}), std::vector<Bytes>{on(55, 90)});
    setMode(Pin::kHoldMode, 0);
    EXPECT_EQ(play({off(55, 0)}), std::vector<Bytes>{off(55, 0)});
    setMode(Pin::kArpOn, 3);
    EXPECT_TRUE(play({on(10, 100)}).empty());

    makeOn(1, 1);
    play({on(60, 90), on(64, 90), on(67, 90)});
    setMode(Pin::kHoldMode, 2);
    play({off(60, 0), off(67, 0)});
    EXPECT_EQ(stepNotes(3), (std::vector<int>{60, 64, 67}));
    setMode(Pin::kHoldMode, 0);
    EXPECT_EQ(play({on(10, 100)}), (std::vector<Bytes>{off(67, 100), on(64, 100)}));
    EXPECT_EQ(stepNotes(2), (std::vector<int>{64, 64}));
}

TEST_F(PowerArpeggiator, ClockNotesAreIgnoredWhileOff)
{
    make(kArp, {});
    EXPECT_TRUE(play({on(10, 100), off(10, 0), {0xB0, 10, 5}}).empty());
    EXPECT_EQ(play({on(61, 20)}), std::vector<Bytes>{on(61, 20)});
    // Pin 2 below 3 with pin 9 at 3 is on as well.
    setMode(Pin::kPlayEntries, 3);
    EXPECT_TRUE(play({on(62, 20)}).empty());
}

TEST_F(PowerArpeggiator, DirectPlayPassesMessagesOnChannelOne)
{
    make(kArp, {});
    EXPECT_EQ(play({{0x93, 60, 100}}), std::vector<Bytes>{on(60, 100)});
    EXPECT_EQ(play({{0x95, 60, 0}}), std::vector<Bytes>{off(60, 0)});  // velocity 0 is a note-off
    EXPECT_TRUE(play({off(60, 0)}).empty());  // no longer sounding
    EXPECT_EQ(play({{0xB7, 1, 64}}), (std::vector<Bytes>{{0xB0, 1, 64}}));
    // Short messages read zero-padded; system messages keep their status byte.
    EXPECT_EQ(play({{0xC2, 5}}), (std::vector<Bytes>{{0xC0, 5, 0}}));
    EXPECT_EQ(play({{0xF8}}), (std::vector<Bytes>{{0xF8, 0, 0}}));
    EXPECT_TRUE(play({{0x90, 60}}).empty());  // a note-on without velocity ends a note not sounding
}

TEST_F(PowerArpeggiator, FrozenHoldChangesNoList)
{
    makeOn(1, 1, {{Pin::kHoldMode, 2}});
    play({on(60, 90)});
    EXPECT_TRUE(play({on(10, 100)}).empty());
    setMode(Pin::kHoldMode, 0);
    play({on(64, 90)});
    setMode(Pin::kHoldMode, 2);
    play({off(64, 0)});
    EXPECT_EQ(stepNotes(2), (std::vector<int>{64, 64}));
}

TEST_F(PowerArpeggiator, OctaveCountBelowOneCountsAsOne)
{
    makeOn(1, 0);
    play({on(60, 90), on(64, 90)});
    EXPECT_EQ(stepNotes(3), (std::vector<int>{60, 64, 60}));
    setMode(Pin::kOctaves, -3);
    EXPECT_EQ(stepNotes(2), (std::vector<int>{64, 60}));
}

TEST_F(PowerArpeggiator, StepsPastNote127AreSilentAndTheRunGoesOn)
{
    makeOn(1, 2);
    play({on(120, 90), on(125, 90)});
    EXPECT_EQ(play({on(10, 100)}), std::vector<Bytes>{on(120, 100)});
    EXPECT_EQ(play({on(10, 100)}), (std::vector<Bytes>{off(120, 100), on(125, 100)}));
    EXPECT_EQ(play({on(10, 100)}), std::vector<Bytes>{off(125, 100)});  // 132
    EXPECT_TRUE(play({on(10, 100)}).empty());                            // 137
    EXPECT_EQ(play({on(10, 100)}), std::vector<Bytes>{on(120, 100)});
}

TEST_F(PowerArpeggiator, NoteBytesPast127AreNoNotes)
{
    makeOn(1, 1);
    play({on(60, 90), {0x90, 130, 90}});
    EXPECT_EQ(stepNotes(2), (std::vector<int>{60, 60}));  // no silent second slot
    setMode(Pin::kArpOn, 0);
    EXPECT_TRUE(play({{0x90, 200, 90}, {0x80, 247, 0}}).empty());
}

TEST_F(PowerArpeggiator, EndNotesRepeatWhilePin29IsSet)
{
    makeOn(1, 1, {{Pin::kEndNoteTurn, 3}});
    play({on(60, 90), on(64, 90), on(67, 90)});
    EXPECT_EQ(stepNotes(7), (std::vector<int>{60, 60, 64, 67, 60, 60, 64}));
}

// ---- Direct play with chords --------------------------------------------------------------------

class DirectChords : public ArpeggiatorTest {
protected:
    // Chord type from pin 25 in direct play; the first note-on and note-off take the sweeps.
    void makeWithType(int32_t type)
    {
        make(kArp, {{Pin::kChordNotes, 2}, {Pin::kChordFromType, 3}, {Pin::kChordType, type}});
        play({on(30, 1)});
        play({off(30, 1)});
    }
};

TEST_F(DirectChords, ATypeChangeEndsFreeKeysAndTheNextReleaseSweepsAllNotes)
{
    make(kArp, {{Pin::kChordNotes, 2}, {Pin::kChordFromType, 3}, {Pin::kChordType, 13}});
    std::vector<Bytes> sent = play({on(60, 90)});
    ASSERT_EQ(sent.size(), 127u + 4u);
    for (int n = 0; n < 127; ++n)
        EXPECT_EQ(sent[static_cast<std::size_t>(n)], off(n < 60 ? n : n + 1, 90));  // 60 is held
    EXPECT_EQ(std::vector<Bytes>(sent.begin() + 127, sent.end()),
              (std::vector<Bytes>{on(60, 90), on(60, 90), on(64, 90), on(67, 90)}));

    sent = play({off(60, 5)});
    ASSERT_EQ(sent.size(), 128u);
    for (int n = 0; n < 128; ++n)
        EXPECT_EQ(sent[static_cast<std::size_t>(n)], off(n, 5));

    // From then on each key sends and ends its own chord.
    EXPECT_EQ(play({on(60, 90)}), (std::vector<Bytes>{on(60, 90), on(60, 90), on(64, 90), on(67, 90)}));
    EXPECT_EQ(play({off(60, 0)}), (std::vector<Bytes>{off(60, 0), off(64, 0), off(67, 0)}));
}

TEST_F(DirectChords, FixedSetsUseTheirDirectPlayColumn)
{
    makeWithType(4);
    EXPECT_EQ(play({on(60, 90)}), (std::vector<Bytes>{on(60, 90), on(48, 90), on(48, 90), on(48, 90), on(60, 90),
                                                       on(60, 90)}));
    makeWithType(16);
    EXPECT_EQ(play({on(30, 90)}), (std::vector<Bytes>{on(30, 90), on(6, 90), on(18, 90), on(42, 90), on(54, 90)}));
    // Chord notes outside 1-127 are not sent.
    EXPECT_EQ(play({on(110, 90)}), (std::vector<Bytes>{on(110, 90), on(86, 90), on(98, 90), on(122, 90)}));
}

TEST_F(DirectChords, AChordNoteTwoKeysShareSoundsUntilTheLaterRelease)
{
    makeWithType(3);  // -12, +12
    EXPECT_EQ(play({on(60, 90)}), (std::vector<Bytes>{on(60, 90), on(48, 90), on(72, 90)}));
    EXPECT_EQ(play({on(72, 90)}), (std::vector<Bytes>{on(72, 90), on(60, 90), on(84, 90)}));
    EXPECT_EQ(play({off(72, 0)}), std::vector<Bytes>{off(84, 0)});
    EXPECT_EQ(play({off(60, 0)}), (std::vector<Bytes>{off(60, 0), off(48, 0), off(72, 0)}));
}

TEST_F(DirectChords, UserChordTakesTheEightUserPins)
{
    make(kArp, {{Pin::kChordNotes, 2}, {Pin::kChordFromType, 3}, {Pin::kChordType, 0}, {Pin::kUserChord1, 64},
                {Pin::kUserChord1 + 1, 0}, {Pin::kUserChord1 + 2, 55}});
    play({on(30, 1)});
    play({off(30, 1)});
    EXPECT_EQ(play({on(60, 90)}), (std::vector<Bytes>{on(60, 90), on(64, 90), on(55, 90)}));
}

TEST_F(DirectChords, LeavingChordPlayEndsTheChordNotes)
{
    makeWithType(1);
    play({on(60, 90)});
    setMode(Pin::kChordNotes, 0);
    // Every note still marked released and sounding is ended first, in ascending order (the
    // warm-up sweep left 18 and 30 marked).
    EXPECT_EQ(play({on(62, 90)}), (std::vector<Bytes>{off(18, 90), off(30, 90), off(48, 90), off(60, 90), on(62, 90)}));
}

// A chord note whose own key is up ends when chord play is left, though that key was once
// played with chords and the key that sent it is still held.
TEST_F(DirectChords, LeavingChordPlayEndsChordNotesOfReleasedKeys)
{
    make(kArp, {{Pin::kChordNotes, 3}, {Pin::kChordLearn, 3}});
    play({on(48, 90), off(48, 0)});  // learns -12
    setMode(Pin::kChordLearn, 0);
    EXPECT_EQ(play({on(60, 90)}), (std::vector<Bytes>{on(60, 90), on(48, 90)}));
    EXPECT_EQ(play({off(60, 0)}), (std::vector<Bytes>{off(60, 0), off(48, 0)}));
    EXPECT_EQ(play({on(72, 90)}), (std::vector<Bytes>{on(72, 90), on(60, 90)}));
    setMode(Pin::kChordNotes, 0);
    EXPECT_EQ(play({on(64, 80)}), (std::vector<Bytes>{off(60, 80), on(64, 80)}));
    EXPECT_EQ(play({off(72, 0), off(64, 0)}), (std::vector<Bytes>{off(72, 0), off(64, 0)}));
}

TEST_F(DirectChords, LearntChordIsPlayedAndKeptWhenItsKeysAreReleased)
{
    make(kArp, {{Pin::kChordNotes, 2}, {Pin::kChordLearn, 3}});
    EXPECT_EQ(play({on(60, 90)}), std::vector<Bytes>{on(60, 90)});  // learns 0
    EXPECT_EQ(play({off(60, 0)}), std::vector<Bytes>{off(60, 0)});
    EXPECT_EQ(play({on(48, 90)}), (std::vector<Bytes>{on(48, 90), on(48, 90)}));  // learns -12
    EXPECT_EQ(play({off(48, 0)}), std::vector<Bytes>{off(48, 0)});
    setMode(Pin::kChordLearn, 0);
    EXPECT_EQ(play({on(67, 90)}), (std::vector<Bytes>{on(67, 90), on(67, 90), on(55, 90)}));
    // Learning again starts a new chord after the first message.
    setMode(Pin::kChordLearn, 3);
    EXPECT_EQ(play({on(70, 90)}), (std::vector<Bytes>{on(70, 90), on(70, 90), on(58, 90)}));
    EXPECT_EQ(play({on(50, 90)}), (std::vector<Bytes>{on(50, 90), on(60, 90)}));
}

TEST_F(DirectChords, ANinthLearntNoteIsIgnored)
{
    make(kArp, {{Pin::kChordNotes, 2}, {Pin::kChordLearn, 3}});
    for (int note : {61, 62, 63, 64, 65, 66, 67, 68, 69})
        play({on(note, 90), off(note, 0)});
    setMode(Pin::kChordLearn, 0);
    const std::vector<Bytes> sent = play({on(40, 90)});
    EXPECT_EQ(sent, (std::vector<Bytes>{on(40, 90), on(41, 90), on(42, 90), on(43, 90), on(44, 90), on(45, 90),
                                        on(46, 90), on(47, 90), on(48, 90)}));
}

} // namespace
