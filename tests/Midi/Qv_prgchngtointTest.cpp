// The program number of program changes, sent once per change, through the stand-in host.
#include "Midi/MidiToSignalTestSupport.h"

using namespace tav_host;
using test_support::add;

namespace {

class PrgChngToInt : public signal_test::MidiToSignal {};

TEST_F(PrgChngToInt, ProgramNumberIsSentOncePerChange)
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
    // A status byte alone is no message; the data byte after it, in the next event, is program 0.
    host.queueMidi(program, 0, midiValue({0xC0}), 11);
    host.queueMidi(program, 0, midiValue({0x00}), 11);
    host.runBlock(64);
    sent = host.callsOf(CallKind::SendPinValue, program);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].pin, 1);
    EXPECT_EQ(sent[0].data, intValue(12));
    EXPECT_EQ(sent[0].blockPosition, 7);
    EXPECT_EQ(sent[1].data, intValue(0));
    EXPECT_EQ(sent[1].blockPosition, 11);
}

} // namespace
