// Direct play with chords: chord sets, the sweeps on a chord type change, chord notes shared by
// two keys, and chord learn.
#include "Midi/ArpeggiatorTestSupport.h"

using namespace arptest;

namespace {

constexpr const char* kArp = "QV_PowerArpeggiator";

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
