// The audio-level bridges: audio levels shown in volts on the interface, with their messages.
#include "Utility/BridgeMessages.h"
#include "Utility/BridgeTestSupport.h"

using namespace tav_host;
using test_support::add;

namespace {

using bridge_test::Bridge;
using bridge_test::payloads;
using bridge_test::text;

// The interface half asks once at start-up (id 1, no payload) and is answered with the input at
// hand; a streaming start reports the sample at its position, x 10 in volts, and the pin
// transmits the volts. Both identifiers behave alike.
TEST_F(Bridge, VoltageToFloatReportsTheInputInVolts)
{
    for (const char* identifier : {"QV_VoltageToFloat", "QV_VoltageToFloat_Out"}) {
        Host h{test_support::factory(), test_support::config64()};
        const std::size_t bridge = add(h, identifier);
        h.start();
        h.setInputFunction(bridge, 0, [](std::int64_t n) { return n % 64 < 10 ? 0.25f : -0.05f; });
        const auto request = h.callsOf(CallKind::PostMessageToAudio, bridge);
        ASSERT_EQ(request.size(), 1u) << identifier;
        EXPECT_EQ(request[0].pin, bridge::kValueRequest);
        EXPECT_EQ(request[0].size, 0);
        EXPECT_EQ(payloads(h.callsOf(CallKind::PostMessageToGui, bridge)), std::vector<Bytes>{text("d0.000000")});

        h.clearCalls();
        h.queueStreaming(bridge, 0, true, 5);
        h.queueStreaming(bridge, 0, false, 20);
        h.runBlock(64);
        // Pieces 0-4 (a first move to 0.25), the start at 5, the stop at 20 (-0.05), and the
        // piece after it (a move to -0.05).
        EXPECT_EQ(payloads(h.callsOf(CallKind::PostMessageToGui, bridge)),
                  (std::vector<Bytes>{text("d2.500000"), text("d2.500000"), text("d-0.500000"), text("d-0.500000")}));
        EXPECT_EQ(payloads(h.callsOf(CallKind::TransmitPin, bridge)),
                  (std::vector<Bytes>{floatValue(2.5f), floatValue(-0.5f)}));
    }
}

// A report goes out only once the first sample of a piece has moved more than 1e-6 since the
// last report: a ramp rising 4e-7 per block reports every third block.
TEST_F(Bridge, VoltageToFloatReportsMovesBeyondTheThreshold)
{
    const std::size_t bridge = add(host, "QV_VoltageToFloat");
    host.setInputFunction(bridge, 0, [](std::int64_t n) { return static_cast<float>(n / 64) * 4e-7f; });
    host.queueStreaming(bridge, 0, true, 0);
    host.runBlock(64);
    host.clearCalls();
    std::vector<std::int64_t> reported;
    for (int b = 1; b <= 9; ++b) {
        host.runBlock(64);
        if (!host.callsOf(CallKind::PostMessageToGui, bridge).empty())
            reported.push_back(b);
        host.clearCalls();
    }
    EXPECT_EQ(reported, (std::vector<std::int64_t>{3, 6, 9}));
}

// The interface half reads the number after the first byte whatever the tag, within the size, and
// needs no terminator; a message without payload changes nothing.
TEST_F(Bridge, VoltageDisplayReadsWithinTheMessage)
{
    const std::size_t bridge = add(host, "QV_VoltageToFloat");
    host.start();
    auto shownAfter = [&](Bytes payload) {
        host.clearCalls();
        host.postToGui(bridge, bridge::kValueText, std::move(payload));
        host.drain();
        return payloads(host.callsOf(CallKind::TransmitPin, bridge));
    };
    EXPECT_EQ(shownAfter(text("x3.5")), std::vector<Bytes>{floatValue(3.5f)});
    EXPECT_EQ(shownAfter(text("d1.75", false)), std::vector<Bytes>{floatValue(1.75f)});
    EXPECT_TRUE(shownAfter(Bytes{}).empty());
    EXPECT_EQ(shownAfter(text("d?")), std::vector<Bytes>{floatValue(0.0f)});
}

// Volts whose "%f" text would not fit the 24-byte message travel in the shortest form that reads
// back as the same float; those that fit keep "%f" exactly (-9e13 V: 24 bytes with the zero).
TEST_F(Bridge, HugeVoltsTravelInAShortFormThatReadsBack)
{
    for (float x : {2e15f, -1e14f, -3.0e37f, -9e12f}) {
        Host h{test_support::factory(), test_support::config64()};
        const std::size_t bridge = add(h, "QV_VoltageToFloat");
        h.setInputConstant(bridge, 0, x);
        h.queueStreaming(bridge, 0, true);
        h.runBlock(64);
        const auto posts = h.callsOf(CallKind::PostMessageToGui, bridge);
        ASSERT_FALSE(posts.empty());
        EXPECT_LE(posts.back().size, 24) << x;
        EXPECT_EQ(posts.back().data.back(), 0) << x;
        const auto shown = h.callsOf(CallKind::TransmitPin, bridge);
        ASSERT_FALSE(shown.empty()) << x;
        EXPECT_EQ(shown.back().data, floatValue(x * 10.0f)) << x;
    }
    Host h{test_support::factory(), test_support::config64()};
    const std::size_t bridge = add(h, "QV_VoltageToFloat");
    h.setInputConstant(bridge, 0, -9e12f);
    h.queueStreaming(bridge, 0, true);
    h.runBlock(64);
    EXPECT_EQ(h.callsOf(CallKind::PostMessageToGui, bridge).back().data, text("d-89999999500288.000000"));
}

} // namespace
