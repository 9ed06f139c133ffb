// The MIDI stream filters, driven through the stand-in host: what passes, in which frame
// (channel 1, silent note-ons as note-offs unless a filter keeps them), and what each drops;
// last-note-only ends the last note before each new one.
#include "Midi/MidiModuleTestSupport.h"
#include "Midi/NoteLedgerTestSupport.h"

using namespace midi_test;

namespace {

class MidiFilters : public MidiModuleTest {};

const std::vector<Bytes> kMixedLine = {
    {0x93, 60, 100}, // note-on, channel 4
    {0x95, 61, 0},   // silent note-on, channel 6
    {0x84, 62, 30},  // note-off with a release velocity
    {0xB0, 7, 100},  // controller
    {0xC0, 5},       // two-byte program change
    {0xF8},          // clock
};

TEST_F(MidiFilters, NoteFiltersPassNotesOnChannelOne)
{
    const auto notes = make("QV_NotesThroughOnly");
    EXPECT_EQ(pass(notes, kMixedLine), (std::vector<Bytes>{{0x90, 60, 100}, {0x80, 61, 0}, {0x80, 62, 30}}));
    // A message cut short reads its missing bytes as 0: a note-on without velocity is a note-off.
    // A lone data byte after it is no message.
    EXPECT_EQ(pass(notes, {{0x91, 64}, {0x40}}), (std::vector<Bytes>{{0x80, 64, 0}}));

    const auto offs = make("QV_NoteOffThrough");
    EXPECT_EQ(pass(offs, kMixedLine), (std::vector<Bytes>{{0x80, 61, 0}, {0x80, 62, 30}}));
}

TEST_F(MidiFilters, SentAtTheEventsPosition)
{
    const auto notes = make("QV_NotesThroughOnly");
    EXPECT_EQ(feed(notes, {{0x90, 60, 1}, {0x80, 60, 0}}, 17).size(), 2u);
    EXPECT_EQ(lastPositions, (std::vector<std::int32_t>{17, 17}));
}

TEST_F(MidiFilters, TroughSwitchPassesOnlyAtExactlyOne)
{
    const auto sw = make("QV_MidiTroughSwitch", {{1, 1}});
    // Everything passes in the filters' frame; a system message keeps its whole status byte.
    EXPECT_EQ(pass(sw, kMixedLine, 2), (std::vector<Bytes>{{0x90, 60, 100},
                                                            {0x80, 61, 0},
                                                            {0x80, 62, 30},
                                                            {0xB0, 7, 100},
                                                            {0xC0, 5, 0},
                                                            {0xF8, 0, 0}}));
    for (const std::int32_t off : {0, 2, 3, -1, 0x10000}) {
        setInt(sw, 1, off);
        EXPECT_TRUE(feed(sw, kMixedLine).empty()) << off;
    }
    setInt(sw, 1, 0x30001);  // only the low 16 bits count
    EXPECT_EQ(pass(sw, {{0xB2, 1, 2}}, 2), (std::vector<Bytes>{{0xB0, 1, 2}}));
}

// A note let through before the switch opened still ends: its note-off passes once, and only it.
TEST_F(MidiFilters, TroughSwitchOffStillEndsTheNotesItLetThrough)
{
    const auto sw = make("QV_MidiTroughSwitch", {{1, 1}});
    EXPECT_EQ(pass(sw, {{0x93, 60, 100}, {0x95, 62, 90}, {0x95, 62, 0}}, 2),
              (std::vector<Bytes>{{0x90, 60, 100}, {0x90, 62, 90}, {0x80, 62, 0}}));
    setInt(sw, 1, 3);
    EXPECT_EQ(pass(sw, {{0x90, 64, 100}, {0x84, 60, 30}, {0x80, 60, 0}, {0x90, 62, 0}, {0x80, 64, 0}}, 2),
              (std::vector<Bytes>{{0x80, 60, 30}}));
}

TEST_F(MidiFilters, ThroughPasserLeavesBytesUnchangedFromModeThree)
{
    const auto passer = make("QV_MidiThroughPasser", {{2, 3}});
    EXPECT_EQ(pass(passer, {{0x93, 60, 0}, {0xC5, 7}, {0xF8}}),
              (std::vector<Bytes>{{0x93, 60, 0}, {0xC5, 7, 0}, {0xF8, 0, 0}}));
    for (const std::int32_t closed : {2, 0, -5, 0x8003 /* negative in 16 bits */}) {
        setInt(passer, 2, closed);
        EXPECT_TRUE(feed(passer, kMixedLine).empty()) << closed;
    }
    setInt(passer, 2, 0x10004);
    EXPECT_EQ(pass(passer, {{0x9F, 1, 2}}), (std::vector<Bytes>{{0x9F, 1, 2}}));
    // SysEx passes whole.
    const Bytes sysex{0xF0, 0x7E, 0x01, 0x06, 0x01, 0xF7};
    EXPECT_EQ(pass(passer, {sysex}), std::vector<Bytes>{sysex});
}

// Closed, the passer still lets the note-off of a note it let through pass, bytes unchanged and on
// the note's own channel.
TEST_F(MidiFilters, ThroughPasserClosedStillEndsTheNotesItLetThrough)
{
    const auto passer = make("QV_MidiThroughPasser", {{2, 3}});
    EXPECT_EQ(pass(passer, {{0x93, 60, 100}, {0x94, 61, 90}}), (std::vector<Bytes>{{0x93, 60, 100}, {0x94, 61, 90}}));
    setInt(passer, 2, 0);
    EXPECT_EQ(pass(passer, {{0x94, 60, 0}, {0x93, 60, 0}, {0x83, 60, 9}, {0x84, 61, 7}, {0x94, 62, 5}}),
              (std::vector<Bytes>{{0x93, 60, 0}, {0x84, 61, 7}}));
}

TEST_F(MidiFilters, BlockControllerDropsOnlySelectedControllers)
{
    const auto block = make("QV_BlockController");
    // No selector: everything passes on channel 1, a silent note-on as a note-on.
    EXPECT_EQ(pass(block, {{0xB3, 7, 100}, {0x91, 60, 0}, {0xB0, 0, 1}, {0xF1, 3}}),
              (std::vector<Bytes>{{0xB0, 7, 100}, {0x90, 60, 0}, {0xB0, 0, 1}, {0xF1, 3, 0}}));

    setInt(block, 2, 8);    // CC 7
    setInt(block, 5, 1);    // CC 0
    setInt(block, 3, 129);  // no controller
    setInt(block, 4, -1);   // no controller
    EXPECT_EQ(pass(block, {{0xB0, 7, 100}, {0xB4, 0, 3}, {0xB0, 8, 9}, {0xB0, 128, 1}, {0x90, 7, 1}}),
              (std::vector<Bytes>{{0xB0, 8, 9}, {0xB0, 128, 1}, {0x90, 7, 1}}));
}

TEST_F(MidiFilters, PassControllerPassesOnlySelectedControllers)
{
    const auto passCc = make("QV_PassController");
    EXPECT_TRUE(feed(passCc, {{0xB0, 0, 1}, {0xB0, 10, 64}, {0x90, 60, 0}}).empty());  // selectors 0: none

    setInt(passCc, 3, 11);  // CC 10
    setInt(passCc, 4, 1);   // CC 0
    setInt(passCc, 5, 129); // none
    EXPECT_EQ(pass(passCc, {{0xB7, 10, 64}, {0xB0, 0, 1}, {0xB0, 11, 2}, {0xB0, 128, 2}, {0x90, 10, 1}, {0xC0, 10}}),
              (std::vector<Bytes>{{0xB0, 10, 64}, {0xB0, 0, 1}}));
}

TEST_F(MidiFilters, LearnFilterPassesLearnControllersOnlyInTheirWindow)
{
    const auto learn = make("QV_CCLearnFilter");
    EXPECT_EQ(pass(learn, {{0xB0, 62, 120}, {0xB0, 62, 121}, {0xB1, 104, 120}, {0xB1, 104, 127},
                           {0xB0, 85, 120}, {0xB0, 85, 119}, {0xB0, 97, 127}, {0xB0, 97, 0},
                           {0xB0, 63, 0}, {0x92, 60, 0}, {0xE3, 0, 64}}),
              (std::vector<Bytes>{{0xB0, 62, 121}, {0xB0, 104, 127}, {0xB0, 85, 119}, {0xB0, 97, 0},
                                  {0xB0, 63, 0}, {0x80, 60, 0}, {0xE0, 0, 64}}));
}

TEST_F(MidiFilters, CubaseBugFilterDropsOnePanVolumePair)
{
    const auto bug = make("QV_CubaseBugFilter");
    EXPECT_TRUE(feed(bug, {{0xB0, 10, 64}, {0xB0, 7, 100}}).empty());
    EXPECT_EQ(pass(bug, {{0xB0, 7, 100}}), (std::vector<Bytes>{{0xB0, 7, 100}}));  // disarmed

    // Other pan values and other volumes pass and leave the flag as it was; any channel counts.
    EXPECT_EQ(pass(bug, {{0xB5, 10, 64}, {0xB0, 10, 65}, {0xB0, 7, 99}, {0x95, 1, 0}, {0xB2, 7, 100}, {0xB0, 7, 100}}),
              (std::vector<Bytes>{{0xB0, 10, 65}, {0xB0, 7, 99}, {0x80, 1, 0}, {0xB0, 7, 100}}));
    // A status byte alone is no message; the data bytes after it are read under it.
    EXPECT_TRUE(pass(bug, {{0xB3}}).empty());
    EXPECT_EQ(pass(bug, {{7, 98}}), (std::vector<Bytes>{{0xB0, 7, 98}}));
    // A program change padded to three bytes leaves as three bytes.
    EXPECT_EQ(pass(bug, {{0xC3, 5, 0}, {0xC3, 6}}), (std::vector<Bytes>{{0xC0, 5, 0}, {0xC0, 6, 0}}));
}

// The 87 patch controllers: 2-31, 64-97, 102, 103, 105-117, 119-122, 124-127.
std::vector<std::uint8_t> patchControllers()
{
    std::vector<std::uint8_t> cs;
    for (int c = 0; c < 128; ++c)
        if ((c >= 2 && c <= 31) || (c >= 64 && c <= 97) || c == 102 || c == 103 || (c >= 105 && c <= 117) ||
            (c >= 119 && c <= 122) || c >= 124)
            cs.push_back(static_cast<std::uint8_t>(c));
    return cs;
}

TEST_F(MidiFilters, FeedbackFilterIdlePassesOnlyPatchControllers)
{
    const auto filter = make("QV_CCFeedbackFilter");
    std::vector<Bytes> everything;
    for (int c = 0; c < 128; ++c)
        everything.push_back({0xB4, static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c)});
    everything.push_back({0x90, 60, 100});
    everything.push_back({0xB0, 200, 1});  // no controller number
    std::vector<Bytes> expected;
    for (const auto c : patchControllers())
        expected.push_back({0xB0, c, c});
    ASSERT_EQ(expected.size(), 87u);
    EXPECT_EQ(pass(filter, everything), expected);
}

TEST_F(MidiFilters, FeedbackFilterAbsorbsTheBurstAfterAProgramChange)
{
    const auto filter = make("QV_CCFeedbackFilter");
    const auto cs = patchControllers();
    // Program 5, then 87 patch-controller messages: CC 2 twice, so CC 127 never arrives. Notes
    // and a non-patch controller in between are dropped and not counted.
    std::vector<Bytes> burst = {{0xC3, 5}, {0xB0, 2, 1}, {0x90, 60, 100}, {0xB0, 0, 9}};
    for (std::size_t i = 0; i + 1 < cs.size(); ++i)
        burst.push_back({0xB0, cs[i], static_cast<std::uint8_t>(cs[i] / 2)});
    ASSERT_EQ(burst.size(), 4u + 86u);
    const Bytes last = burst.back();
    burst.pop_back();
    EXPECT_TRUE(feed(filter, burst).empty());  // 86 absorbed

    // The 87th: the kept set leaves, every patch controller ascending, CC 127 with its initial 0.
    std::vector<Bytes> dump;
    for (const auto c : cs)
        dump.push_back({0xB0, c, static_cast<std::uint8_t>(c == 127 ? 0 : c / 2)});
    EXPECT_EQ(pass(filter, {last}), dump);
    EXPECT_EQ(pass(filter, {{0xB0, 7, 33}}), (std::vector<Bytes>{{0xB0, 7, 33}}));  // idle again

    // The same program again absorbs the next burst without a dump.
    std::vector<Bytes> again = {{0xC0, 5}};
    for (const auto c : cs)
        again.push_back({0xB0, c, 1});
    EXPECT_TRUE(feed(filter, again).empty());
    EXPECT_EQ(pass(filter, {{0xB0, 7, 34}}), (std::vector<Bytes>{{0xB0, 7, 34}}));

    // A new program dumps what its burst left (values stored across bursts).
    std::vector<Bytes> fresh = {{0xC0, 6}};
    for (int i = 0; i < 87; ++i)
        fresh.push_back({0xB0, 7, static_cast<std::uint8_t>(i)});
    const auto sent = pass(filter, fresh);
    ASSERT_EQ(sent.size(), 87u);
    EXPECT_EQ(sent[0], (Bytes{0xB0, 2, 1}));
    EXPECT_EQ(sent[3], (Bytes{0xB0, 5, 1}));
    EXPECT_EQ(sent[5], (Bytes{0xB0, 7, 86}));
}

TEST_F(MidiFilters, FeedbackFilterFirstProgramChangeIsAlwaysNew)
{
    const auto filter = make("QV_CCFeedbackFilter");
    std::vector<Bytes> burst = {{0xC0, 127}};
    for (const auto c : patchControllers())
        burst.push_back({0xB0, c, 3});
    EXPECT_EQ(pass(filter, burst).size(), 87u);
}

TEST_F(MidiFilters, MessageSeparatorSplitsByKind)
{
    const auto sep = make("QV_MidiMsgSeparate", {{6, 3}});
    EXPECT_EQ(feed(sep, {{0xB0, 64, 0}, {0xB3, 64, 127}, {0xB0, 7, 100}, {0xC0, 10}, {0xC0, 64}, {0xC2, 63},
                         {0x91, 60, 0}, {0x82, 61, 5}, {0x90, 62, 1}, {0xD0, 40}, {0xE0, 0, 64}, {0xF8}}),
              (std::vector<Sent>{{5, {0xB0, 64, 0}},
                                 {2, {0xB0, 64, 0}},
                                 {4, {0xB0, 64, 127}},
                                 {2, {0xB0, 64, 127}},
                                 {2, {0xB0, 7, 100}},
                                 {3, {0xC0, 74, 0}},
                                 {3, {0xC0, 64, 0}},
                                 {3, {0xC0, 127, 0}},
                                 {1, {0x80, 60, 0}},
                                 {1, {0x80, 61, 5}},
                                 {1, {0x90, 62, 1}}}));
    setInt(sep, 6, 2);  // programs pass unraised below mode 3
    EXPECT_EQ(feed(sep, {{0xC0, 10}}), (std::vector<Sent>{{3, {0xC0, 10, 0}}}));
}

TEST_F(MidiFilters, NoHoldEndsTheLastNoteBeforeEachNewOne)
{
    const auto nohold = make("QV_NoHold", {{2, 3}});
    EXPECT_EQ(pass(nohold, {{0x90, 60, 100}, {0x92, 62, 90}}),
              (std::vector<Bytes>{{0x80, 0, 0}, {0x90, 60, 100}, {0x80, 60, 0}, {0x90, 62, 90}}));
    EXPECT_EQ(pass(nohold, {{0x80, 62, 3}, {0x91, 62, 0}, {0xB5, 1, 2}}),
              (std::vector<Bytes>{{0x80, 62, 3}, {0x80, 62, 0}, {0xB0, 1, 2}}));

    setInt(nohold, 2, 2);
    EXPECT_TRUE(feed(nohold, {{0x90, 70, 1}, {0xB0, 1, 2}}).empty());

    setInt(nohold, 2, 1);  // passes, remembering the last note
    EXPECT_EQ(pass(nohold, {{0x90, 70, 1}}), (std::vector<Bytes>{{0x90, 70, 1}}));
    setInt(nohold, 2, 3);
    EXPECT_EQ(pass(nohold, {{0x90, 72, 1}}), (std::vector<Bytes>{{0x80, 70, 0}, {0x90, 72, 1}}));
}

// Muted at mode 2, last-note-only still ends a note it let through before.
TEST_F(MidiFilters, NoHoldMutedStillEndsTheNotesItLetThrough)
{
    const auto nohold = make("QV_NoHold", {{2, 1}});
    EXPECT_EQ(pass(nohold, {{0x93, 60, 100}}), (std::vector<Bytes>{{0x90, 60, 100}}));
    setInt(nohold, 2, 2);
    EXPECT_EQ(pass(nohold, {{0x90, 62, 100}, {0x83, 60, 30}, {0x90, 60, 0}, {0x80, 62, 0}}),
              (std::vector<Bytes>{{0x80, 60, 30}}));
}

// Played like a musician (keys on any channel, damper, controllers, programs, switch and mode
// pins in and out of range at any moment), every filter that lets notes through has sent each
// note-on's note-off once every key is up. The controller-only filters never send a note.
TEST(MidiFilterPerformance, EveryNoteOnEndsOnceAllKeysAreReleased)
{
    using note_ledger::Stage;
    const Stage stages[] = {
        Stage("QV_NotesThroughOnly"),
        Stage("QV_NoteOffThrough"),
        Stage("QV_MidiTroughSwitch").ints({{1, 0, 3}}),
        Stage("QV_MidiThroughPasser").ints({{2, 0, 4}}),
        Stage("QV_BlockController").ints({{2, 0, 129}, {3, 60, 70}, {4, 0, 2}, {5, -1, 1}}),
        Stage("QV_CCLearnFilter"),
        Stage("QV_CubaseBugFilter"),
        Stage("QV_MidiMsgSeparate").ints({{6, 0, 4}}),
        Stage("QV_NoHold").ints({{2, 0, 4}}),
    };
    for (const Stage& stage : stages)
        EXPECT_EQ(note_ledger::strandedNotes(stage, 20, 100), "") << stage.identifier;
}

} // namespace
