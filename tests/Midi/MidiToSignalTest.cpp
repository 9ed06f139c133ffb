// MIDI into signals: the lowest-note gate and pitch, the trigger with its fresh rising edges, the
// program number and the controller floats with their pulse, driven through the stand-in host.
#include "framework/HostTestSupport.h"

#include <vector>

using namespace tavhost;
using testsupport::add;

namespace {

constexpr float kSemitone = 1.0f / 120.0f;

class MidiToSignal : public ::testing::Test {
protected:
    std::size_t start(const char* identifier)
    {
        const std::size_t module = add(host, identifier);
        host.runBlock(64);  // graph start
        host.clearCalls();
        return module;
    }
    std::vector<float> out(std::size_t module, int32_t pin)
    {
        const auto samples = host.buffer(module, pin);
        return {samples.begin(), samples.end()};
    }
    // (pin, value) of every float or int the module sent in the last block, in order.
    std::vector<std::pair<int32_t, float>> floatsSent(std::size_t module)
    {
        std::vector<std::pair<int32_t, float>> sent;
        for (const auto& call : host.callsOf(CallKind::SendPinValue, module)) {
            float v = 0.0f;
            EXPECT_TRUE(readFloat(call.data, v));
            sent.emplace_back(call.pin, v);
        }
        return sent;
    }

    Host host{testsupport::factory(), testsupport::config64()};
};

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

TEST_F(MidiToSignal, ProgramNumberIsSentOncePerChange)
{
    const std::size_t program = add(host, "QV_PrgChngToInt");
    host.runBlock(64);
    auto sent = host.callsOf(CallKind::SendPinValue, program);
    ASSERT_EQ(sent.size(), 1u);  // graph start sends the output's 0
    EXPECT_EQ(sent[0].data, intValue(0));

    host.clearCalls();
    host.queueMidi(program, 0, midiValue({0xC5, 12}), 7);
    host.queueMidi(program, 0, midiValue({0xC0, 12, 0}), 9);  // same program: no update
    host.queueMidi(program, 0, midiValue({0xB0, 13, 0}), 10);
    host.queueMidi(program, 0, midiValue({0xC0}), 11);  // short: program 0
    host.runBlock(64);
    sent = host.callsOf(CallKind::SendPinValue, program);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].pin, 1);
    EXPECT_EQ(sent[0].data, intValue(12));
    EXPECT_EQ(sent[0].blockPosition, 7);
    EXPECT_EQ(sent[1].data, intValue(0));
    EXPECT_EQ(sent[1].blockPosition, 11);
}

TEST_F(MidiToSignal, ControllerBecomesNumberValueAndAPulseAtTheSameSample)
{
    enum { kMidi, kPulse, kController, kValue };
    const std::size_t cc = start("QV_CCToFloat");
    host.queueMidi(cc, kMidi, midiValue({0xB3, 7, 100}), 12);
    host.queueMidi(cc, kMidi, midiValue({0x90, 7, 100}), 13);  // no controller
    host.runBlock(64);
    using Sent = std::vector<std::pair<int32_t, float>>;
    EXPECT_EQ(floatsSent(cc), (Sent{{kController, 7.0f}, {kValue, 100.0f}, {kPulse, 5.0f}, {kPulse, 0.0f}}));
    for (const auto& call : host.callsOf(CallKind::SendPinValue, cc))
        EXPECT_EQ(call.blockPosition, 12);

    // Unchanged number and value are not sent again; the pulse always is.
    host.clearCalls();
    host.queueMidi(cc, kMidi, midiValue({0xB0, 7, 0}), 0);
    host.runBlock(64);
    EXPECT_EQ(floatsSent(cc), (Sent{{kValue, 0.0f}, {kPulse, 5.0f}, {kPulse, 0.0f}}));
}

} // namespace
