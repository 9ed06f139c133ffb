// The MIDI rule converter through the stand-in host with exact bytes for matching, mapping,
// discarding, continuing, swapping, and the NRPN/RPN assembly and output with its queue and caches.
#include "Midi/NoteLedgerTestSupport.h"
#include "Midi/RoutingTestSupport.h"
#include "MidiReader.h"

#include <random>

using namespace tav_host;
using namespace routing_test;

namespace {

class MidiConverter : public ::testing::Test {
protected:
    enum Pin { kMidiIn, kMidiOut, kRule0 };

    void SetUp() override
    {
        module = test_support::add(host, "QV_MidiConverter");
        host.runBlock(64);
    }
    void rules(std::vector<std::pair<int, std::string>> texts)
    {
        for (const auto& [k, text] : texts)
            host.queuePinValue(module, kRule0 + k, textValue(text));
        host.runBlock(64);
    }
    // The bytes sent for the messages of one block.
    std::vector<Bytes> convert(std::vector<Bytes> messages)
    {
        std::vector<Bytes> out;
        for (const auto& s : afterMidi(host, module, kMidiIn, std::move(messages))) {
            EXPECT_EQ(s.pin, kMidiOut);
            out.push_back(s.bytes);
        }
        return out;
    }

    Host host{test_support::factory(), test_support::config64()};
    std::size_t module = 0;
};

TEST_F(MidiConverter, WithoutRulesMessagesLeaveOnChannelOne)
{
    EXPECT_EQ(convert({{0x93, 60, 100}, {0xE5, 1, 64}, {0xC4, 7}, {0xF8}, {0xF2, 1, 2}}),
              (std::vector<Bytes>{{0x90, 60, 100}, {0xE0, 1, 64}, {0xC0, 7}, {0xF8}, {0xF2, 1, 2}}));
    rules({{3, "too short"}});  // a table of cleared rules
    EXPECT_EQ(convert({{0x91, 1, 2}}), (std::vector<Bytes>{{0x90, 1, 2}}));
}

TEST_F(MidiConverter, MatchingContinuingAndDiscarding)
{
    rules({{0, "1, Ctrl, 7, 7, *, *, Y, 1, Ctrl, 11, 11, *, *"},
           {1, "* NoteOn * * 0 63 N * NoteOn * * 64 64"},
           {2, "* NoteOn 60 * * * Y * Discard * * * *"},
           {4, "* ProgChg 1 1 * * N * ProgChg 10 10 * *"}});
    // Controller 7 on channel 1 becomes controller 11 and also leaves itself; on channel 2 only itself.
    EXPECT_EQ(convert({{0xB0, 7, 40}, {0xB1, 7, 41}}),
              (std::vector<Bytes>{{0xB0, 11, 40}, {0xB0, 7, 40}, {0xB0, 7, 41}}));
    // Soft notes are fixed at velocity 64 and stop there; loud notes from 60 up are discarded.
    EXPECT_EQ(convert({{0x90, 70, 20}, {0x90, 70, 100}, {0x90, 59, 100}}),
              (std::vector<Bytes>{{0x90, 70, 64}, {0x90, 59, 100}}));
    // A note-on of velocity 0 matches on its raw status.
    EXPECT_EQ(convert({{0x90, 50, 0}}), (std::vector<Bytes>{{0x90, 50, 64}}));
    // Program 1 (number 0) becomes program 10.
    EXPECT_EQ(convert({{0xC0, 0}, {0xC0, 1}}), (std::vector<Bytes>{{0xC0, 9}, {0xC0, 1}}));
    // A rule that becomes incomplete no longer matches.
    rules({{0, "1, Ctrl, 7"}});
    EXPECT_EQ(convert({{0xB0, 7, 40}}), (std::vector<Bytes>{{0xB0, 7, 40}}));
}

TEST_F(MidiConverter, DataBytesAreMappedSwappedAndBounded)
{
    rules({{0, "* Ctrl 1 1 0 127 N * Ctrl 1 1 0 1"},
           {1, "* Ctrl 2 2 * * N * Ctrl 2 2 30 90"},
           {2, "* Ctrl 3 3 * 0 N * Ctrl 3 3 50 100"},
           {3, "* Ctrl 4 4 * * N * Ctrl 200 300 -5 -1"},
           {4, "* NoteOn * * * * N * KeyAft * * * * < >"},
           {5, "* KeyAft * * * * N * NoteOff * * * * <"},
           {6, "* PitchB 0 127 * * N * PitchB 127 0 * * >"}});
    EXPECT_EQ(convert({{0xB0, 1, 63}, {0xB0, 1, 64}}), (std::vector<Bytes>{{0xB0, 1, 0}, {0xB0, 1, 1}}));
    EXPECT_EQ(convert({{0xB0, 2, 5}}), (std::vector<Bytes>{{0xB0, 2, 30}}));  // "*" range: first target
    EXPECT_EQ(convert({{0xB0, 3, 0}}), (std::vector<Bytes>{{0xB0, 3, 50}}));  // one-value range: first target
    EXPECT_EQ(convert({{0xB0, 4, 9}}), (std::vector<Bytes>{{0xB0, 127, 0}}));  // clamped to 0-127
    EXPECT_EQ(convert({{0x90, 60, 100}, {0xA0, 60, 100}}), (std::vector<Bytes>{{0xA0, 100, 60}, {0x80, 100, 100}}));
    EXPECT_EQ(convert({{0xE0, 100, 5}}), (std::vector<Bytes>{{0xE0, 28, 100}}));  // 127 - 99.5 toward zero; data1 copied
}

TEST_F(MidiConverter, TheNumber129MeansAny)
{
    // Channel 130 is any channel, a low bound of 129 no bound, a target of 129 a copy.
    rules({{0, "130 Ctrl 129 5 * * N 1 NoteOn 129 0 0 129"},
           {1, "* NoteOn * * 129 129 N * KeyAft 3 3 0 127"}});
    EXPECT_EQ(convert({{0xB3, 4, 9}, {0xB7, 6, 9}}), (std::vector<Bytes>{{0x90, 4, 9}, {0xB0, 6, 9}}));
    // Both bounds 129: any value, and a range of one value maps to the first target.
    EXPECT_EQ(convert({{0x95, 60, 1}}), (std::vector<Bytes>{{0xA0, 3, 0}}));
}

TEST_F(MidiConverter, ParameterNumbersAreAssembledAndTakenApart)
{
    // Without a rule the four controllers leave again, on channel 1; a second time only the
    // data entry, as the parameter number is unchanged.
    const std::vector<Bytes> nrpn = {{0xB3, 99, 7}, {0xB3, 98, 104}, {0xB3, 6, 64}, {0xB3, 38, 1}};
    EXPECT_EQ(convert(nrpn), (std::vector<Bytes>{{0xB0, 99, 7}, {0xB0, 98, 104}, {0xB0, 6, 64}, {0xB0, 38, 1}}));
    EXPECT_EQ(convert(nrpn), (std::vector<Bytes>{{0xB0, 6, 64}, {0xB0, 38, 1}}));
    // A data entry alone on another channel is a plain controller; so are the pieces before it.
    EXPECT_EQ(convert({{0xB5, 6, 3}}), (std::vector<Bytes>{{0xB0, 6, 3}}));
    // Increment of a selected RPN.
    EXPECT_EQ(convert({{0xB0, 101, 0}, {0xB0, 100, 2}, {0xB0, 96, 5}}),
              (std::vector<Bytes>{{0xB0, 101, 0}, {0xB0, 100, 2}, {0xB0, 96, 5}}));
    // A selection broken by a note or another channel lets its pieces out as they came.
    EXPECT_EQ(convert({{0xB0, 99, 1}, {0x90, 60, 1}}), (std::vector<Bytes>{{0xB0, 99, 1}, {0x90, 60, 1}}));
    EXPECT_EQ(convert({{0xB0, 99, 1}, {0xB1, 98, 2}}), (std::vector<Bytes>{{0xB0, 99, 1}, {0xB0, 98, 2}}));
}

TEST_F(MidiConverter, DataEntryInEitherOrderRepeatedAndStepped)
{
    // LSB before MSB: assembled at the MSB, sent MSB first.
    EXPECT_EQ(convert({{0xB0, 101, 0}, {0xB0, 100, 0}, {0xB0, 38, 5}, {0xB0, 6, 2}}),
              (std::vector<Bytes>{{0xB0, 101, 0}, {0xB0, 100, 0}, {0xB0, 6, 2}, {0xB0, 38, 5}}));
    // A repeated MSB is a new value at once; only the changed piece leaves.
    EXPECT_EQ(convert({{0xB0, 6, 3}}), (std::vector<Bytes>{{0xB0, 6, 3}}));
    // A decrement of the selected parameter, then a fresh value in two pieces.
    EXPECT_EQ(convert({{0xB0, 97, 1}}), (std::vector<Bytes>{{0xB0, 97, 1}}));
    EXPECT_EQ(convert({{0xB0, 6, 4}}), (std::vector<Bytes>{}));
    EXPECT_EQ(convert({{0xB0, 38, 0}}), (std::vector<Bytes>{{0xB0, 6, 4}, {0xB0, 38, 0}}));
}

TEST_F(MidiConverter, TheQueueIsLetOutBeforeItOverflows)
{
    const std::vector<Bytes> expected = {{0xB0, 99, 1}, {0xB0, 98, 2}, {0xB0, 99, 3}, {0xB0, 98, 4}, {0xB0, 99, 5},
                                         {0xB0, 99, 5}, {0xB0, 98, 6}, {0xB0, 6, 7}, {0xB0, 38, 8}};
    EXPECT_EQ(convert({{0xB0, 99, 1}, {0xB0, 98, 2}, {0xB0, 99, 3}, {0xB0, 98, 4}, {0xB0, 99, 5}, {0xB0, 98, 6},
                       {0xB0, 6, 7}, {0xB0, 38, 8}}),
              expected);
}

TEST_F(MidiConverter, RulesSeeAndMakeCompositeMessages)
{
    rules({{0, "* NRPN 1000 1000 0 16383 N * Ctrl 20 20 0 127"},
           {1, "1 Ctrl 1 1 * * N 2 RPN 0 0 * *"},
           {2, "2 Ctrl 6 6 * * N * Ctrl 7 7 * *"},
           {3, "* Ctrl 2 2 * * N * NRPN 20000 20000 -9 -9"}});
    // NRPN 1000 (7 x 128 + 104) with the value 8192 becomes controller 20 at 64.
    EXPECT_EQ(convert({{0xB0, 99, 7}, {0xB0, 98, 104}, {0xB0, 6, 64}, {0xB0, 38, 0}}), (std::vector<Bytes>{{0xB0, 20, 64}}));
    // Controller 1 becomes RPN 0 on channel 2 with its value; the generated data entry MSB on
    // channel 2 meets rule 2 and leaves as controller 7.
    EXPECT_EQ(convert({{0xB0, 1, 127}}),
              (std::vector<Bytes>{{0xB0, 101, 0}, {0xB0, 100, 0}, {0xB0, 7, 0}, {0xB0, 38, 127}}));
    // Parameter numbers and values beyond 14 bits are bounded.
    EXPECT_EQ(convert({{0xB0, 2, 1}}), (std::vector<Bytes>{{0xB0, 99, 127}, {0xB0, 98, 127}, {0xB0, 6, 0}, {0xB0, 38, 0}}));
}

// Events that are not one whole message each reach the rules as whole messages: a real-time byte
// inside a message leaves at once at its own length, unseen by the rules and the parameter-number
// assembly; data bytes without a status byte take the running status; SysEx leaves whole; what
// is left of a malformed message leaves nowhere.
TEST_F(MidiConverter, EventsAreReadAsWholeMessages)
{
    rules({{0, "* NoteOn * * * * Y * NoteOn 60 60 * *"}, {1, "* Ctrl 1 1 * * N * NoteOn * * * *"}});
    EXPECT_EQ(convert({{0x90, 0xF8, 0x21, 0x64}}), (std::vector<Bytes>{{0xF8}, {0x90, 60, 0x64}, {0x90, 0x21, 0x64}}));
    EXPECT_EQ(convert({{0x95, 0x40, 0xFE}, {0xB3, 0xFF, 0x01, 0x7F}, {0xC1, 0x80, 0x01, 0x40}}),
              (std::vector<Bytes>{{0xFE}, {0xFF}, {0x90, 0x01, 0x7F}, {0x80, 0x01, 0x40}}));
    // An event that is one message with a data byte of 0x80 or more (the preset managers' program
    // number 130) holds no number a rule could map: it leaves as it came, on channel 1, unseen by
    // the rules.
    EXPECT_EQ(convert({{0xC5, 0x82, 0}, {0xB1, 0x01, 0x90}}), (std::vector<Bytes>{{0xC0, 0x82}, {0xB0, 0x01, 0x90}}));
    // A two-byte kind with a third byte along leaves at its own length.
    EXPECT_EQ(convert({{0xC2, 8, 5}}), (std::vector<Bytes>{{0xC0, 8}}));
    rules({{0, ""}, {1, ""}});
    // Running status: [3E 64] after [90 3C 64] is note 3E, not a status byte of 0x30.
    EXPECT_EQ(convert({{0x92, 0x3C, 0x64}, {0x3E, 0x64}, {0x3C, 0}}),
              (std::vector<Bytes>{{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}, {0x90, 0x3C, 0}}));
    EXPECT_EQ(convert({{0x90, 0x3C}, {0x64}, {0x3E, 0x64, 0x01}}), (std::vector<Bytes>{{0x90, 0x3C, 0}, {0x90, 0x3E, 0x64}}));
    // Inside an NRPN the clock leaves first and the data entry keeps its value.
    EXPECT_EQ(convert({{0xB0, 99, 1}, {0xB0, 98, 2}, {0xB0, 0xF8, 6, 0x42}, {0xB0, 38, 0}}),
              (std::vector<Bytes>{{0xF8}, {0xB0, 99, 1}, {0xB0, 98, 2}, {0xB0, 6, 0x42}, {0xB0, 38, 0}}));
}

// Each message leaves at its own length: SysEx whole, a clock as one byte, a two-byte kind as two
// bytes, also a clock padded to three bytes by the module before.
TEST_F(MidiConverter, MessagesLeaveAtTheirOwnLength)
{
    const Bytes sysex{0xF0, 0x7E, 0x01, 0x06, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0xF7};
    EXPECT_EQ(convert({sysex, {0xF8}, {0xF8, 0, 0}, {0xC3, 5, 0}, {0xD0, 9}, {0xF3, 2}, {0xF6}}),
              (std::vector<Bytes>{sysex, {0xF8}, {0xF8}, {0xC0, 5}, {0xD0, 9}, {0xF3, 2}, {0xF6}}));
    EXPECT_EQ(convert({{0xF0, 1, 0xF8, 2, 0xF7}}), (std::vector<Bytes>{{0xF8}, {0xF0, 1, 2, 0xF7}}));
    rules({{0, "* ProgChg * * * * N * ChanAft * * * *"}});
    EXPECT_EQ(convert({{0xC0, 7}}), (std::vector<Bytes>{{0xD0, 7}}));
}

// Seeded runs of events of any bytes (sizes 0 to 9) through rule sets that make notes out of notes,
// controllers, program changes, aftertouch, bends and NRPN: whatever leaves is one whole message
// per send, which a reader downstream reads back as exactly those bytes.
TEST(MidiConverterInput, AnyBytesLeaveAsWholeMessages)
{
    const std::vector<std::vector<std::string>> ruleSets = {
        {},
        {"* NoteOn * * * * Y * NoteOn 60 60 * *", "* NoteOn * * * * N * NoteOn * * * *"},
        {"* Ctrl * * * * N * NoteOn * * * *", "* ProgChg * * * * N * NoteOn * * * *"},
        {"* KeyAft * * * * N * NoteOn * * * *", "* PitchB 0 127 0 127 N * NoteOn 0 127 * *", "* NRPN * * * * N * NoteOn * * * *"},
    };
    for (const auto& texts : ruleSets) {
        SCOPED_TRACE(texts.empty() ? "no rule" : texts[0]);
        Host host{test_support::factory(), test_support::config64()};
        const std::size_t module = test_support::add(host, "QV_MidiConverter");
        for (std::size_t k = 0; k < texts.size(); ++k)
            host.setInitialValue(module, Side::Dsp, static_cast<std::int32_t>(2 + k), textValue(texts[k]));
        host.runBlock(64);
        std::mt19937 random(static_cast<std::uint32_t>(texts.size()) + 7u);
        const auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
        for (int i = 0; i < 1500; ++i) {
            Bytes m(static_cast<std::size_t>(pick(0, 9)));
            for (auto& b : m)
                b = static_cast<std::uint8_t>(pick(0, 3) == 0 ? pick(0x80, 0xFF) : pick(0, 0x7F));
            for (auto s : afterMidi(host, module, 0, {m})) {
                std::vector<Bytes> read;
                MidiReader().read(s.bytes.data(), static_cast<std::int32_t>(s.bytes.size()),
                                  [&](unsigned char* bytes, std::int32_t size) { read.emplace_back(bytes, bytes + size); });
                ASSERT_EQ(read, std::vector<Bytes>{s.bytes}) << tav_host::hexBytes(m.data(), m.size());
            }
        }
    }
}

// Rules that arrive with the first block apply to the MIDI of the same time stamp: a note struck at
// sample 0 is shifted like its release, and nothing is left hanging.
TEST(MidiConverterStart, RulesOfTheFirstTimeStampApplyToItsMidi)
{
    Host host{test_support::factory(), test_support::config64()};
    const std::size_t module = test_support::add(host, "QV_MidiConverter");
    host.setInitialValue(module, Side::Dsp, 2, textValue("* NoteOn * * * * N * NoteOn 12 12 * *"));
    host.setInitialValue(module, Side::Dsp, 3, textValue("* NoteOff * * * * N * NoteOff 12 12 * *"));
    EXPECT_EQ(afterMidi(host, module, 0, {{0x90, 60, 100}}), (std::vector<Sent>{{1, {0x90, 12, 100}}}));
    EXPECT_EQ(afterMidi(host, module, 0, {{0x80, 60, 0}}), (std::vector<Sent>{{1, {0x80, 12, 0}}}));
}

// Played like a musician through rule sets that treat a note's on and off alike (shifted an
// octave, doubled onto note 60, squeezed into 40-80, turned into controllers and dropped, limited
// to channel 1), with parameter-number controllers in the stream: once every key is up, every
// note-on sent has had its note-off. The rules stay as set: they are the user's configuration.
TEST(MidiConverterPerformance, EveryNoteOnEndsOnceAllKeysAreReleased)
{
    const std::vector<std::vector<std::string>> ruleSets = {
        {"* NoteOn 36 84 * * N * NoteOn 48 96 * *", "* NoteOff 36 84 * * N * NoteOff 48 96 * *"},
        {"* NoteOn * * * * Y * NoteOn 60 60 * *", "* NoteOff * * * * Y * NoteOff 60 60 * *"},
        {"* NoteOn 0 127 * * N * NoteOn 40 80 * *", "* NoteOff 0 127 * * N * NoteOff 40 80 * *"},
        {"* NoteOn * * * * N * Ctrl 20 20 * *", "* NoteOff * * * * N * Discard * * * *"},
        {"1 NoteOn * * * * Y 1 NoteOn 72 84 * *", "1 NoteOff * * * * Y 1 NoteOff 72 84 * *",
         "1 Ctrl 6 6 * * N 1 Ctrl 7 7 * *"},
    };
    for (const auto& rules : ruleSets) {
        note_ledger::Stage stage("QV_MidiConverter");
        for (std::size_t k = 0; k < rules.size(); ++k)
            stage.initially(static_cast<std::int32_t>(2 + k), textValue(rules[k]));
        EXPECT_EQ(note_ledger::strandedNotes(stage, 10, 100), "") << rules[0];
    }
}

} // namespace
