// The road of MIDI bytes into the modules, across the MIDI modules: the host's events through the
// framework's reader into each module's message handler, with events that are not one whole
// message each (a real-time byte inside a message, data bytes leaning on the running status).
// Each module must end the note it started.
#include "FileWorker.h"
#include "Midi/ArpeggiatorTestSupport.h"
#include "Midi/MidiModuleTestSupport.h"
#include "Midi/NoteLedgerTestSupport.h"

#include <string>

using namespace midi_test;

namespace {

struct Road {
    const char* identifier;
    std::vector<std::pair<std::int32_t, std::int32_t>> ints;  // int pins set before graph start
    std::int32_t notesOut;                                    // where the notes leave
    std::vector<Bytes> release;                               // sent there for [80 F8 3C 00]
};

void PrintTo(const Road& r, std::ostream* os) { *os << r.identifier; }

class MidiInputRoad : public ::testing::TestWithParam<Road> {
protected:
    // Runs the blocks this module needs for what it was given, the file worker idle between them;
    // every message sent, in order.
    std::vector<Sent> run()
    {
        std::vector<Sent> sent;
        for (int block = 0; block < 2; ++block) {
            host.clearCalls();
            host.runBlock(64);
            for (const auto& call : host.callsOf(tav_host::CallKind::SendPinValue, module))
                sent.push_back({call.pin, call.data});
            file_worker::waitUntilIdle();
        }
        return sent;
    }
    std::vector<Sent> feed(std::vector<Bytes> events)
    {
        for (auto& e : events)
            host.queueMidi(module, 0, std::move(e), 5);
        return run();
    }

    tav_host::Host host{test_support::factory(), test_support::config64()};
    std::size_t module = 0;
};

// A clock byte between a release's status and its data: the clock goes on as a message of its own
// where the module passes clocks, and the release releases the note.
TEST_P(MidiInputRoad, AClockInsideAReleaseStillReleasesTheNote)
{
    const Road& road = GetParam();
    module = test_support::add(host, road.identifier);
    for (const auto& [pin, value] : road.ints)
        host.setInitialValue(module, tav_host::Side::Dsp, pin, tav_host::intValue(value));
    run();
    note_ledger::NoteLedger ledger;
    ledger.hearAll(feed({{0x90, 0x3C, 0x64}}));
    const auto released = feed({{0x80, 0xF8, 0x3C, 0x00}});
    ledger.hearAll(released);
    EXPECT_EQ(ledger.left(), "");
    std::vector<Bytes> atNotes;
    for (const auto& s : released)
        if (s.pin == road.notesOut)
            atNotes.push_back(s.bytes);
    EXPECT_EQ(atNotes, road.release);
}

// Data bytes without a status byte take the running status of the input: [3E 64] after
// [90 3C 64] strikes note 3E, and [3C 00] [3E 00] end both.
TEST_P(MidiInputRoad, RunningStatusStrikesAndEndsTheRightNotes)
{
    const Road& road = GetParam();
    module = test_support::add(host, road.identifier);
    for (const auto& [pin, value] : road.ints)
        host.setInitialValue(module, tav_host::Side::Dsp, pin, tav_host::intValue(value));
    run();
    note_ledger::NoteLedger ledger;
    ledger.hearAll(feed({{0x90, 0x3C, 0x64}, {0x3E, 0x64}}));
    ledger.hearAll(feed({{0x3C, 0x00}, {0x3E, 0x00}}));
    EXPECT_EQ(ledger.left(), "");
}

const Bytes kClock{0xF8, 0, 0};
const Bytes kRelease{0x80, 0x3C, 0};

INSTANTIATE_TEST_SUITE_P(
    Modules, MidiInputRoad,
    ::testing::Values(Road{"QV_NotesThroughOnly", {}, 1, {kRelease}}, Road{"QV_NoteOffThrough", {}, 1, {kRelease}},
                      Road{"QV_NoHold", {{2, 3}}, 1, {kClock, kRelease}},
                      Road{"QV_CubaseBugFilter", {}, 1, {kClock, kRelease}},
                      Road{"QV_MidiMsgSeparate", {}, 1, {kRelease}},
                      Road{"QV_BlockController", {}, 1, {kClock, kRelease}},
                      Road{"QV_CCLearnFilter", {}, 1, {kClock, kRelease}},
                      Road{"QV_NoteOnRetrigGate", {{2, 1}}, 1, {kClock, kRelease}},
                      Road{"QV_MidiLearnModule", {}, 9, {kClock, kRelease}},
                      Road{"QV_MidiConverter", {}, 1, {{0xF8}, kRelease}}),
    [](const ::testing::TestParamInfo<Road>& info) { return std::string(info.param.identifier).substr(3); });

class ClockArpeggiator : public arp_test::ArpeggiatorTest {};

// The clock arpeggiator forgets a key released with a clock byte inside the release.
TEST_F(ClockArpeggiator, ForgetsAKeyReleasedAroundAClock)
{
    using arp_test::on;
    make("QV_PowerArpeggiator", {{arp_test::Pin::kArpOn, 3}, {arp_test::Pin::kDirection, 1}, {arp_test::Pin::kOctaves, 1}});
    play({on(60, 90), on(64, 90)});
    play({{0x80, 0xF8, 64, 0}});
    EXPECT_EQ(stepNotes(3), (std::vector<int>{60, 60, 60}));
}

} // namespace
