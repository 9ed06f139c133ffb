// Signals into MIDI and MIDI into signals, driven through the stand-in host: the per-sample
// CV-to-controller converter, the gate-triggered controller and the gate-to-note converter with
// exact bytes and send positions; the lowest-note gate and pitch, and the trigger with its fresh
// rising edges.
#include "Midi/MidiToSignalTestSupport.h"
#include "Midi/NoteLedgerTestSupport.h"
#include "StubHost.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <ostream>
#include <limits>
#include <vector>

using namespace tav_host;
using test_support::add;

namespace {

struct Sent {
    Bytes bytes;
    int32_t position;
    bool operator==(const Sent&) const = default;
};

void PrintTo(const Sent& sent, std::ostream* os)
{
    *os << hexBytes(sent.bytes.data(), sent.bytes.size()) << " @" << sent.position;
}

class SignalToMidi : public ::testing::Test {
protected:
    // Runs one block and returns the MIDI the module sent in it.
    std::vector<Sent> midiOfBlock(std::size_t module)
    {
        host.clearCalls();
        host.runBlock(64);
        std::vector<Sent> sent;
        for (const auto& call : host.callsOf(CallKind::SendPinValue, module))
            sent.push_back({call.data, call.blockPosition});
        return sent;
    }

    Host host{test_support::factory(), test_support::config64()};
};

using Sends = std::vector<Sent>;

class CvToMidiCC : public SignalToMidi {
protected:
    enum Pin { kGate, kControllerCv, kController, kValueCv, kUnused, kMidiOut, kSource };

    void SetUp() override
    {
        cc = add(host, "QV_CvToMidiCC");
        host.setInputFunction(cc, kGate, [this](int64_t s) { return gate(s); });
        host.setInputFunction(cc, kValueCv, [this](int64_t s) { return value(s); });
        host.setInputFunction(cc, kControllerCv, [this](int64_t s) { return controllerCv(s); });
        host.queueStreaming(cc, kGate, true);
        host.queueStreaming(cc, kValueCv, true);
    }

    std::size_t cc = 0;
    std::function<float(int64_t)> gate = [](int64_t) { return 0.0f; };
    std::function<float(int64_t)> value = [](int64_t) { return 0.5f; };
    std::function<float(int64_t)> controllerCv = [](int64_t) { return 0.0f; };
};

TEST_F(CvToMidiCC, RisingGateSendsOnceAtTheBlockStartAndAgainAfterFalling)
{
    host.setInitialValue(cc, Side::Dsp, kController, intValue(7));
    gate = [](int64_t s) { return s >= 10 && s < 100 ? 1.0f : s >= 150 ? 1.0f : 0.0f; };
    EXPECT_EQ(midiOfBlock(cc), (Sends{{{0xB0, 7, 64}, 0}}));  // 0.5 x 127 + 0.6 = 64.1
    EXPECT_EQ(midiOfBlock(cc), Sends{});                     // held gate, steady CV
    EXPECT_EQ(midiOfBlock(cc), (Sends{{{0xB0, 7, 64}, 0}}));  // fell at 100, rose at 150
}

TEST_F(CvToMidiCC, HighGateSendsEveryChangeOfControllerOrValue)
{
    host.setInitialValue(cc, Side::Dsp, kController, intValue(7));
    gate = [](int64_t) { return 1.0f; };
    value = [](int64_t s) { return s < 3 ? 0.0f : s < 5 ? 1.0f : 1.2f; };  // 1.2 saturates to 127
    EXPECT_EQ(midiOfBlock(cc), (Sends{{{0xB0, 7, 0}, 0}, {{0xB0, 7, 127}, 0}}));
    host.queuePinValue(cc, kController, intValue(300), 20);  // clamped to 127
    EXPECT_EQ(midiOfBlock(cc), (Sends{{{0xB0, 127, 127}, 0}}));
    value = [](int64_t) { return std::numeric_limits<float>::quiet_NaN(); };  // NaN reads as 0
    host.queuePinValue(cc, kController, intValue(-4), 0);
    EXPECT_EQ(midiOfBlock(cc), (Sends{{{0xB0, 0, 0}, 0}}));
}

TEST_F(CvToMidiCC, SourceOneTakesTheControllerFromItsCv)
{
    host.setInitialValue(cc, Side::Dsp, kSource, intValue(1));
    host.setInitialValue(cc, Side::Dsp, kController, intValue(99));  // not read
    controllerCv = [](int64_t) { return 0.1f; };
    gate = [](int64_t s) { return s >= 5 ? 1.0f : 0.0f; };
    EXPECT_EQ(midiOfBlock(cc), (Sends{{{0xB0, 13, 64}, 0}}));  // 12.7 + 0.5 and 63.5 + 0.5

    controllerCv = [](int64_t s) { return s < 80 ? 0.1f : 0.2f; };
    EXPECT_EQ(midiOfBlock(cc), (Sends{{{0xB0, 25, 64}, 0}}));

    host.queuePinValue(cc, kSource, intValue(2), 0);  // back to the int pin
    EXPECT_EQ(midiOfBlock(cc), (Sends{{{0xB0, 99, 64}, 0}}));
}

// Unchanged values are sent again only when the gate rises from exactly 0.0: a low below 0.0 is
// still "not 0.0" for the sample after it.
TEST_F(CvToMidiCC, GateRisingFromANegativeLowResendsOnlyChangedValues)
{
    host.setInitialValue(cc, Side::Dsp, kController, intValue(7));
    gate = [](int64_t s) { return s < 10 ? 1.0f : s < 20 ? -1.0f : s < 30 ? 1.0f : s < 40 ? 0.0f : 1.0f; };
    value = [](int64_t s) { return s < 50 ? 0.5f : s < 55 ? -1.0f : 0.5f; };
    // 0: first rise; 20: from -1.0 with 7/64 unchanged, nothing; 40: from 0.0, again; 50: the value
    // falls to 0 (a value seen while high); 55: changed back to 64.
    EXPECT_EQ(midiOfBlock(cc), (Sends{{{0xB0, 7, 64}, 0}, {{0xB0, 7, 64}, 0}, {{0xB0, 7, 0}, 0}, {{0xB0, 7, 64}, 0}}));
    gate = [](int64_t s) { return s < 64 + 10 ? -1.0f : 1.0f; };
    EXPECT_EQ(midiOfBlock(cc), Sends{});
}

class GateToCC : public SignalToMidi {
protected:
    enum Pin { kGate, kController, kValueCv, kMidiOut };

    void SetUp() override
    {
        cc = add(host, "QV_GateToCC");
        host.setInputFunction(cc, kGate, [this](int64_t) { return gate; });
        host.setInputFunction(cc, kValueCv, [this](int64_t) { return value; });
    }

    std::size_t cc = 0;
    float gate = 1.0f;
    float value = 0.5f;
};

TEST_F(GateToCC, HighGateSendsTheStoredPairBeforeTakingTheNewOnes)
{
    // Nothing is stored before the first update: a high gate then sends nothing.
    host.setInitialValue(cc, Side::Dsp, kController, intValue(20));
    EXPECT_EQ(midiOfBlock(cc), Sends{});

    value = 1.0f;
    host.queueStreaming(cc, kGate, false, 30);
    EXPECT_EQ(midiOfBlock(cc), (Sends{{{0xB0, 20, 63}, 0}}));  // 0.5 x 127 = 63.5, truncated

    host.queueStreaming(cc, kValueCv, false, 10);  // the value CV is read at its update
    host.queuePinValue(cc, kController, intValue(21), 40);
    host.queueStreaming(cc, kGate, true, 40);
    EXPECT_EQ(midiOfBlock(cc), (Sends{{{0xB0, 20, 127}, 0}}));
    host.queueStreaming(cc, kGate, false, 5);
    EXPECT_EQ(midiOfBlock(cc), (Sends{{{0xB0, 21, 127}, 0}}));
}

TEST_F(GateToCC, OnlyAGateUpdateAboveOneHalfSends)
{
    host.setInitialValue(cc, Side::Dsp, kController, intValue(200));  // clamped to 127
    EXPECT_EQ(midiOfBlock(cc), Sends{});
    // Until its first streaming event the gate counts as updated at every pin update.
    host.queuePinValue(cc, kController, intValue(5), 3);
    EXPECT_EQ(midiOfBlock(cc), (Sends{{{0xB0, 127, 63}, 0}}));
    gate = 0.5f;
    host.queueStreaming(cc, kGate, true, 3);
    EXPECT_EQ(midiOfBlock(cc), Sends{});
    gate = 1.0f;
    host.queuePinValue(cc, kController, intValue(6), 3);  // no gate update any more
    EXPECT_EQ(midiOfBlock(cc), Sends{});
    gate = 0.51f;
    host.queueStreaming(cc, kGate, false, 3);
    EXPECT_EQ(midiOfBlock(cc), (Sends{{{0xB0, 6, 63}, 0}}));
}

class GateToNote : public SignalToMidi {
protected:
    enum Pin { kGate, kNote, kVelocityCv, kMidiOut };

    void SetUp() override
    {
        note = add(host, "QV_GateToNote");
        host.setInputFunction(note, kGate, [this](int64_t s) { return gate(s); });
        host.setInputConstant(note, kVelocityCv, 0.8f);  // 101.6 -> 101
        host.setInitialValue(note, Side::Dsp, kNote, intValue(60));
        host.queueStreaming(note, kGate, true);
    }

    std::size_t note = 0;
    std::function<float(int64_t)> gate = [](int64_t) { return 0.0f; };
};

TEST_F(GateToNote, EdgesAreReadAtTheStartOfEachPiece)
{
    gate = [](int64_t s) { return (s >= 70 && s < 100) || (s >= 150 && s < 300) ? 1.0f : 0.0f; };
    EXPECT_EQ(midiOfBlock(note), Sends{});
    EXPECT_EQ(midiOfBlock(note), Sends{});  // rose and fell inside the piece 64-127
    EXPECT_EQ(midiOfBlock(note), Sends{});  // low at 128
    EXPECT_EQ(midiOfBlock(note), (Sends{{{0x90, 60, 101}, 0}}));  // high at 192
    host.queuePinValue(note, kNote, intValue(62), 20);  // cuts the block: piece 256+20 still high
    host.queueMidi(note, kMidiOut, midiValue({0x90, 1, 1}), 50);  // a MIDI event cuts a piece at 50
    EXPECT_EQ(midiOfBlock(note), (Sends{{{0x80, 60, 101}, 50}}));  // off for the note turned on
    EXPECT_EQ(midiOfBlock(note), Sends{});
}

TEST_F(GateToNote, NoteOffNamesTheNoteTurnedOnAndSendsAtThePieceStart)
{
    gate = [](int64_t s) { return s >= 64 + 20 && s < 192 ? 1.0f : 0.0f; };
    EXPECT_EQ(midiOfBlock(note), Sends{});
    host.queuePinValue(note, kNote, intValue(300), 20);  // clamped to 127
    EXPECT_EQ(midiOfBlock(note), (Sends{{{0x90, 127, 101}, 20}}));
    host.queuePinValue(note, kNote, intValue(61), 10);
    EXPECT_EQ(midiOfBlock(note), Sends{});
    EXPECT_EQ(midiOfBlock(note), (Sends{{{0x80, 127, 101}, 0}}));
}

TEST_F(GateToNote, IdleUntilTheFirstPinUpdate)
{
    Host fresh{test_support::factory(), test_support::config64()};
    const std::size_t idle = add(fresh, "QV_GateToNote");
    fresh.setInputConstant(idle, kGate, 1.0f);
    fresh.runBlock(64);
    fresh.runBlock(64);
    EXPECT_TRUE(fresh.callsOf(CallKind::SendPinValue, idle).empty());
    fresh.queueStreaming(idle, kGate, true, 33);
    fresh.runBlock(64);
    const auto sent = fresh.callsOf(CallKind::SendPinValue, idle);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].data, (Bytes{0x90, 0, 0}));
    EXPECT_EQ(sent[0].blockPosition, 33);
}

// A block of no samples (outside the interface) reads no edge: the high gate is seen in the next
// real block.
TEST(GateToNoteDirect, ABlockOfNoSamplesSendsNothing)
{
    struct CountingHost : StubDspHost {
        int32_t sendPinValue(int32_t position, int32_t, int32_t size, const void* data) override
        {
            const auto* bytes = static_cast<const uint8_t*>(data);
            sent.push_back({Bytes(bytes, bytes + size), position});
            return mpapi::MP_RESULT_OK;
        }
        std::vector<Sent> sent;
    } host;
    void* object = nullptr;
    ASSERT_EQ(test_support::factory()->createInstance(L"QV_GateToNote", 0, &host, &object), 0);
    auto* plugin = static_cast<mpapi::IMpPlugin*>(object);
    std::vector<float> gate(64, 0.0f), velocity(64, 0.5f);
    plugin->open();
    plugin->setBuffer(0, gate.data());
    plugin->setBuffer(2, velocity.data());
    mpapi::MpEvent note{0, mpapi::MP_EVENT_PIN_VALUE, 1, 4, 60, 0, nullptr, nullptr};
    mpapi::MpEvent start{0, mpapi::MP_EVENT_STREAMING_START, 0, 0, 0, 0, nullptr, &note};
    plugin->process(64, &start);
    std::fill(gate.begin(), gate.end(), 1.0f);
    plugin->process(0, nullptr);
    EXPECT_EQ(host.sent, Sends{});
    plugin->process(64, nullptr);
    EXPECT_EQ(host.sent, (Sends{{{0x90, 60, 63}, 0}}));
    EXPECT_EQ(plugin->release(), 0);
}

// A gate played at any moment with the note pin and the velocity CV moving meanwhile: once the
// gate is low, the note it turned on has been turned off.
TEST(GateToNotePerformance, EveryNoteOnEndsOnceTheGateFalls)
{
    const auto stage = note_ledger::Stage("QV_GateToNote").midi({}).ints({{1, 0, 127}}).gates({0}).cvs({2});
    EXPECT_EQ(note_ledger::strandedNotes(stage, 20, 100), "");
}

// ---- MIDI into signals --------------------------------------------------------------------------

using signal_test::MidiToSignal;

constexpr float kSemitone = 1.0f / 120.0f;

TEST_F(MidiToSignal, MonoGateOpensOnceAndPitchFollowsTheLowestHeldNote)
{
    enum { kMidi, kGate, kPitch };
    const std::size_t mono = start("QV_MidiToCvMono");
    host.queueMidi(mono, kMidi, midiValue({0x90, 60, 100}), 10);
    host.queueMidi(mono, kMidi, midiValue({0x93, 55, 1}), 20);  // any channel
    host.queueMidi(mono, kMidi, midiValue({0x80, 55, 0}), 30);
    host.runBlock(64);
    auto gate = out(mono, kGate);
    auto pitch = out(mono, kPitch);
    EXPECT_EQ(gate[9], 0.0f);
    for (int i = 10; i < 64; ++i)
        EXPECT_EQ(gate[i], 1.0f) << i;  // no retrigger while notes are held
    EXPECT_EQ(pitch[9], 0.0f);
    EXPECT_FLOAT_EQ(pitch[10], 51 * kSemitone);
    EXPECT_FLOAT_EQ(pitch[29], 46 * kSemitone);
    EXPECT_FLOAT_EQ(pitch[30], 51 * kSemitone);

    // A higher note over the held one does not move the pitch; releasing the lowest goes up.
    host.queueMidi(mono, kMidi, midiValue({0x90, 72, 90}), 5);
    host.queueMidi(mono, kMidi, midiValue({0x90, 60, 0}), 15);  // velocity 0 releases
    host.runBlock(64);
    pitch = out(mono, kPitch);
    EXPECT_FLOAT_EQ(pitch[14], 51 * kSemitone);
    EXPECT_FLOAT_EQ(pitch[15], 63 * kSemitone);
    EXPECT_EQ(out(mono, kGate)[63], 1.0f);

    // The last release closes the gate and leaves the pitch where it was.
    host.queueMidi(mono, kMidi, midiValue({0x80, 72, 64}), 8);
    host.runBlock(64);
    gate = out(mono, kGate);
    pitch = out(mono, kPitch);
    EXPECT_EQ(gate[7], 1.0f);
    EXPECT_EQ(gate[8], 0.0f);
    EXPECT_FLOAT_EQ(pitch[63], 63 * kSemitone);

    // Note 69 is 0.5; a new note after silence opens the gate again.
    host.queueMidi(mono, kMidi, midiValue({0x90, 69, 1}), 0);
    host.runBlock(64);
    EXPECT_EQ(out(mono, kGate)[0], 1.0f);
    EXPECT_FLOAT_EQ(out(mono, kPitch)[0], 0.5f);
}

TEST_F(MidiToSignal, MonoIgnoresBytesThatAreNoNotesAndOtherMessages)
{
    enum { kMidi, kGate, kPitch };
    const std::size_t mono = start("QV_MidiToCvMono");
    host.queueMidi(mono, kMidi, midiValue({0x90, 200, 100}), 0);  // no note
    host.queueMidi(mono, kMidi, midiValue({0xB0, 60, 100}), 1);
    host.queueMidi(mono, kMidi, midiValue({0x90}), 2);  // short: note 0, velocity 0 = release
    host.queueMidi(mono, kMidi, midiValue({0x80, 60, 0}), 3);  // release of a note never held
    host.runBlock(64);
    EXPECT_EQ(out(mono, kGate)[63], 0.0f);
    EXPECT_EQ(out(mono, kPitch)[63], 0.0f);

    host.queueMidi(mono, kMidi, midiValue({0x90, 60, 100}), 0);
    host.queueMidi(mono, kMidi, midiValue({0x80, 200, 0}), 1);
    host.runBlock(64);
    EXPECT_EQ(out(mono, kGate)[63], 1.0f);
    EXPECT_FLOAT_EQ(out(mono, kPitch)[63], 51 * kSemitone);
}

TEST_F(MidiToSignal, TriggerRisesOnAMatchAndDipsOneSampleForEachFurtherMatch)
{
    enum { kMidi, kNoteSelector, kProgramSelector, kTrigger };
    const std::size_t trigger = add(host, "QV_MidiToTrigger");
    host.setInitialValue(trigger, Side::Dsp, kNoteSelector, intValue(62));  // note 60
    host.setInitialValue(trigger, Side::Dsp, kProgramSelector, intValue(1));  // any program
    host.runBlock(64);
    EXPECT_EQ(out(trigger, kTrigger), std::vector<float>(64, 0.0f));  // 0.0 until the first match
    // Each pin update reports the output streaming again.
    const auto streaming = host.callsOf(CallKind::SendPinStreaming, trigger);
    ASSERT_EQ(streaming.size(), 2u);
    EXPECT_EQ(streaming[0].pin, kTrigger);

    host.queueMidi(trigger, kMidi, midiValue({0x90, 61, 100}), 4);  // other note
    host.queueMidi(trigger, kMidi, midiValue({0x80, 60, 0}), 6);     // note-off never matches
    host.queueMidi(trigger, kMidi, midiValue({0x90, 60, 0}), 8);     // silent note-on neither
    host.runBlock(64);
    EXPECT_EQ(out(trigger, kTrigger), std::vector<float>(64, 0.0f));

    host.queueMidi(trigger, kMidi, midiValue({0x9F, 60, 1}), 10);
    host.queueMidi(trigger, kMidi, midiValue({0xC0, 33}), 30);  // a further match: dip at 30
    host.runBlock(64);
    auto trig = out(trigger, kTrigger);
    EXPECT_EQ(trig[9], 0.0f);
    EXPECT_EQ(trig[10], 0.0f);  // the first sample of the matched piece
    EXPECT_EQ(trig[11], 1.0f);
    EXPECT_EQ(trig[29], 1.0f);
    EXPECT_EQ(trig[30], 0.0f);
    EXPECT_EQ(trig[31], 1.0f);
    host.runBlock(64);
    EXPECT_EQ(out(trigger, kTrigger), std::vector<float>(64, 1.0f));  // stays high

    // Selector 0 matches nothing, a negative one neither; 1 matches every note.
    host.queuePinValue(trigger, kNoteSelector, intValue(0), 0);
    host.queuePinValue(trigger, kProgramSelector, intValue(-5), 0);
    host.queueMidi(trigger, kMidi, midiValue({0x90, 60, 1}), 20);
    host.queueMidi(trigger, kMidi, midiValue({0xC0, 3}), 21);
    host.runBlock(64);
    EXPECT_EQ(out(trigger, kTrigger), std::vector<float>(64, 1.0f));
    host.queuePinValue(trigger, kNoteSelector, intValue(1), 0);
    host.queueMidi(trigger, kMidi, midiValue({0x90, 0, 1}), 50);
    host.runBlock(64);
    EXPECT_EQ(out(trigger, kTrigger)[50], 0.0f);
    EXPECT_EQ(out(trigger, kTrigger)[51], 1.0f);
}

} // namespace
