// The switch and text bridges: a GUI switch as a static audio level, a button release as a
// control change, and text carried to the interface, with their messages.
#include "Utility/BridgeMessages.h"
#include "Utility/BridgeTestSupport.h"

#include <string>

using namespace tav_host;
using test_support::add;
using bridge_test::Bridge;
using bridge_test::payloads;
using bridge_test::text;

namespace {

constexpr std::int32_t kUnknownId = 9;  // QV_BoolToControl takes any message as a release

// The processing half announces itself with "O" at open, and the interface half answers with its
// level; switching to true sends pin 2's volts / 10 and the output steps to it from the block
// start. A voltage change alone sends nothing.
TEST_F(Bridge, BoolToVoltageSendsTheSelectedLevel)
{
    const std::size_t bridge = add(host, "QV_BoolToVoltage");
    host.setInitialValue(bridge, Side::Gui, 2, floatValue(5.0f));
    host.start();
    const auto ready = host.callsOf(CallKind::PostMessageToGui, bridge);
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_EQ(ready[0].data, text("O"));
    EXPECT_EQ(payloads(host.callsOf(CallKind::PostMessageToAudio, bridge)), std::vector<Bytes>{text("v0.000000")});

    host.clearCalls();
    host.guiSetPin(bridge, 1, floatValue(-2.0f));
    EXPECT_TRUE(host.callsOf(CallKind::PostMessageToAudio).empty());
    host.guiSetPin(bridge, 0, boolValue(true));
    EXPECT_EQ(payloads(host.callsOf(CallKind::PostMessageToAudio, bridge)), std::vector<Bytes>{text("v0.500000")});
    host.runBlock(64);
    EXPECT_EQ(host.buffer(bridge, 0)[0], 0.5f);
    EXPECT_EQ(host.buffer(bridge, 0)[63], 0.5f);
    const auto steps = host.callsOf(CallKind::SendPinStreaming, bridge);
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps[0].blockPosition, 0);
    EXPECT_EQ(steps[0].data, Bytes{0});

    host.clearCalls();
    host.guiSetPin(bridge, 0, boolValue(false));
    EXPECT_EQ(payloads(host.callsOf(CallKind::PostMessageToAudio, bridge)), std::vector<Bytes>{text("v-0.200000")});
    host.postToGui(bridge, bridge::kReadyText, text("X"));
    host.postToGui(bridge, bridge::kReadyText, Bytes{});
    host.drain();
    EXPECT_EQ(host.callsOf(CallKind::PostMessageToAudio, bridge).size(), 1u);  // only "O" answers

    // Levels that are no finite number become 0.0; a message without payload changes nothing.
    host.postToDsp(bridge, bridge::kValueTextToAudio, text("vinf"));
    host.postToDsp(bridge, bridge::kValueTextToAudio, Bytes{});
    host.runBlock(64);
    EXPECT_EQ(host.buffer(bridge, 0)[0], 0.0f);
}

// A button acting on release: pressing sends nothing, releasing sends 0xB0, controller, 0x40 at
// the block start; a first notification with false sends nothing; a controller beyond 127 goes
// out as its low 8 bits.
TEST_F(Bridge, BoolToControlSendsAControlChangeOnRelease)
{
    const std::size_t bridge = add(host, "QV_BoolToControl");
    host.setInitialValue(bridge, Side::Dsp, 1, intValue(74));
    host.runBlock(64);
    host.clearCalls();
    host.guiSetPin(bridge, 0, boolValue(false));
    host.guiSetPin(bridge, 0, boolValue(true));
    EXPECT_TRUE(host.callsOf(CallKind::PostMessageToAudio).empty());
    host.guiSetPin(bridge, 0, boolValue(false));
    const auto release = host.callsOf(CallKind::PostMessageToAudio, bridge);
    ASSERT_EQ(release.size(), 1u);
    EXPECT_EQ(release[0].pin, bridge::kButtonReleased);
    EXPECT_EQ(release[0].size, 0);
    const auto sent = host.callsOf(CallKind::SendPinValue, bridge);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].data, midiValue({0xB0, 0x4A, 0x40}));
    EXPECT_EQ(sent[0].blockPosition, 0);
    host.guiSetPin(bridge, 0, boolValue(false));
    EXPECT_EQ(host.callsOf(CallKind::SendPinValue, bridge).size(), 1u);

    host.queuePinValue(bridge, 1, intValue(300));
    host.runBlock(64);
    host.clearCalls();
    host.postToDsp(bridge, kUnknownId, Bytes{1, 2, 3});
    host.drain();
    EXPECT_EQ(host.callsOf(CallKind::SendPinValue, bridge).at(0).data, midiValue({0xB0, 0x2C, 0x40}));
}

// Text goes as 4-byte characters and a 4-byte zero, cut to 255 characters (1024 bytes); the
// interface pin transmits it only when it differs, the empty text included.
TEST_F(Bridge, TextToGuiCarriesTheText)
{
    const std::size_t bridge = add(host, "QV_TextToGui");
    host.setInitialValue(bridge, Side::Dsp, 0, textValue(U"abc"));
    host.runBlock(64);
    const auto message = host.callsOf(CallKind::PostMessageToGui, bridge);
    ASSERT_EQ(message.size(), 1u);
    EXPECT_EQ(message[0].size, 16);
    Bytes abc = textValue(U"abc");
    abc.insert(abc.end(), 4, 0);
    EXPECT_EQ(message[0].data, abc);
    EXPECT_EQ(payloads(host.callsOf(CallKind::TransmitPin, bridge)), std::vector<Bytes>{textValue(U"abc")});

    host.clearCalls();
    host.queuePinValue(bridge, 0, Bytes{});
    host.runBlock(64);
    host.queuePinValue(bridge, 0, Bytes{});
    host.runBlock(64);
    const auto empty = host.callsOf(CallKind::PostMessageToGui, bridge);
    ASSERT_EQ(empty.size(), 2u);
    EXPECT_EQ(empty[0].data, Bytes(4, 0));
    const auto cleared = host.callsOf(CallKind::TransmitPin, bridge);
    ASSERT_EQ(cleared.size(), 1u);
    EXPECT_EQ(cleared[0].size, 0);

    host.clearCalls();
    const std::u32string longText(300, U'x');
    host.queuePinValue(bridge, 0, textValue(longText));
    host.runBlock(64);
    EXPECT_EQ(host.callsOf(CallKind::PostMessageToGui, bridge).at(0).size, 1024);
    EXPECT_EQ(host.callsOf(CallKind::TransmitPin, bridge).at(0).data, textValue(std::u32string(255, U'x')));

    // The interface half stops at the first zero or at the size, whichever comes first; it takes
    // every character within the size, also more than its processing half sends.
    host.clearCalls();
    Bytes unterminated = textValue(U"xy");
    unterminated.push_back(0x41);  // a partial character past the last whole one
    host.postToGui(bridge, bridge::kText, unterminated);
    host.postToGui(bridge, bridge::kText, textValue(std::u32string(U"q\0r", 3)));
    host.postToGui(bridge, bridge::kText, textValue(std::u32string(300, U'z')));
    host.drain();
    EXPECT_EQ(payloads(host.callsOf(CallKind::TransmitPin, bridge)),
              (std::vector<Bytes>{textValue(U"xy"), textValue(U"q"), textValue(std::u32string(300, U'z'))}));
}

} // namespace
