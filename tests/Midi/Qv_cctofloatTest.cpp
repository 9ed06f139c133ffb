// Controllers turned into number, value and pulse at the same sample, through the stand-in host.
#include "Midi/MidiToSignalTestSupport.h"

using namespace tav_host;
using test_support::add;

namespace {

class CCToFloat : public signal_test::MidiToSignal {};

TEST_F(CCToFloat, ControllerBecomesNumberValueAndAPulseAtTheSameSample)
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
