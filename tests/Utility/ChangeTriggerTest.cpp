// The change triggers: every notification of a watched interface pin posts one "v%f" text; the
// processing halves turn it into a one-sample dip or a timed gate, whole pieces long.
#include "framework/HostTestSupport.h"
#include "Utility/ChangeTriggerMessages.h"

#include <string>

using namespace tav_host;
using test_support::add;

namespace {

enum Pin { kBoolIn, kFloatIn, kIntIn, kTextIn, kGateOpenTime };
constexpr std::int32_t kGateOut = 0;
constexpr std::int32_t kUnknownId = 5;  // the processing halves do not look at the id

Bytes text(const std::string& s, bool terminated = true)
{
    Bytes b(s.begin(), s.end());
    if (terminated)
        b.push_back(0);
    return b;
}

std::vector<float> blockOf(Host& host, std::size_t module)
{
    const auto b = host.buffer(module, kGateOut);
    return {b.begin(), b.end()};
}

std::vector<float> dipThenHold(float first, float rest)
{
    std::vector<float> v(64, rest);
    v[0] = first;
    return v;
}

class ChangeTrigger : public ::testing::Test {
protected:
    std::vector<CallRecord> postsAfter(std::size_t module, std::int32_t pin, Bytes value)
    {
        host.clearCalls();
        host.guiSetPin(module, pin, std::move(value));
        return host.callsOf(CallKind::PostMessageToAudio, module);
    }

    Host host{test_support::factory(), test_support::config64()};
};

// Each of the four pins sends "v0.000000" (10 bytes with the zero) at every notification, the
// same value again too; messages before one piece give one dip of one sample, then 1.0 holds.
TEST_F(ChangeTrigger, EveryNotificationDipsTheGateForOneSample)
{
    const std::size_t trigger = add(host, "QV_ChangeTrigger");
    host.runBlock(64);
    EXPECT_EQ(blockOf(host, trigger), std::vector<float>(64, 0.0f));  // before the first change

    std::vector<CallRecord> posts;
    for (auto [pin, value] : std::vector<std::pair<int, Bytes>>{{kBoolIn, boolValue(true)},
                                                                {kFloatIn, floatValue(0.3f)},
                                                                {kIntIn, intValue(7)},
                                                                {kTextIn, textValue(U"x")},
                                                                {kTextIn, textValue(U"x")}}) {
        const auto sent = postsAfter(trigger, pin, value);
        ASSERT_EQ(sent.size(), 1u) << pin;
        posts.push_back(sent[0]);
    }
    for (const auto& post : posts) {
        EXPECT_EQ(post.pin, change_trigger::kValueText);
        EXPECT_EQ(post.size, 10);
        EXPECT_EQ(post.data, text("v0.000000"));
    }
    host.runBlock(64);
    EXPECT_EQ(blockOf(host, trigger), dipThenHold(0.0f, 1.0f));
    host.runBlock(64);
    EXPECT_EQ(blockOf(host, trigger), std::vector<float>(64, 1.0f));
    EXPECT_TRUE(host.callsOf(CallKind::RequestSleep, trigger).empty());
}

// A text of another value dips to it and holds 0.0; only a "v" text counts, whatever its id, and
// it needs no terminator inside its size; a NaN or infinity is no 0.0, so it holds 0.0 too, and
// its one sample is written as 0.0.
TEST_F(ChangeTrigger, ProcessingHalfTakesOnlyValueTexts)
{
    const std::size_t trigger = add(host, "QV_ChangeTrigger");
    host.postToDsp(trigger, kUnknownId, text("v0.700000"));
    host.runBlock(64);
    EXPECT_EQ(blockOf(host, trigger), dipThenHold(0.7f, 0.0f));

    host.postToDsp(trigger, change_trigger::kValueText, text("d0.000000"));
    host.postToDsp(trigger, change_trigger::kValueText, Bytes{});
    host.runBlock(64);
    EXPECT_EQ(blockOf(host, trigger), std::vector<float>(64, 0.0f));

    host.postToDsp(trigger, change_trigger::kValueText, text("v0.25", false));
    host.runBlock(64);
    EXPECT_EQ(blockOf(host, trigger), dipThenHold(0.25f, 0.0f));
    for (const char* notFinite : {"vnan", "vinf", "v-1e39"}) {
        host.postToDsp(trigger, change_trigger::kValueText, text("v0"));
        host.runBlock(64);
        host.postToDsp(trigger, change_trigger::kValueText, text(notFinite));
        host.runBlock(64);
        EXPECT_EQ(blockOf(host, trigger), dipThenHold(0.0f, 0.0f)) << notFinite;
    }
}

// 0.25 s at 48 kHz is 12000 samples; with 512-sample blocks the gate lasts 24 whole blocks. The
// time is latched from pin 4 without a message and travels with the next change.
TEST_F(ChangeTrigger, TimedGateLastsWholePiecesOfItsTime)
{
    auto config = test_support::config64();
    config.blockLength = 512;
    Host h{test_support::factory(), config};
    const std::size_t timed = add(h, "QV_ChangeTriggerTimed");
    h.start();
    h.clearCalls();
    h.guiSetPin(timed, kGateOpenTime, floatValue(0.25f));
    EXPECT_TRUE(h.callsOf(CallKind::PostMessageToAudio).empty());
    h.runBlock(512);
    EXPECT_EQ(h.buffer(timed, kGateOut)[0], 0.0f);

    h.guiSetPin(timed, kIntIn, intValue(1));
    const auto posts = h.callsOf(CallKind::PostMessageToAudio);
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].data, text("v0.250000"));
    int open = 0;
    for (int b = 0; b < 30; ++b) {
        h.runBlock(512);
        const auto out = h.buffer(timed, kGateOut);
        EXPECT_EQ(out[0], out[511]);
        open += out[0] == 1.0f;
        EXPECT_EQ(out[0], b < 24 ? 1.0f : 0.0f) << b;
    }
    EXPECT_EQ(open, 24);
}

// A new change restarts a running gate; a time of 0 or below sends its text and opens nothing;
// times too long for the sample count keep the gate open instead of overflowing it.
TEST_F(ChangeTrigger, TimedGateRestartsAndBoundsItsTime)
{
    const std::size_t timed = add(host, "QV_ChangeTriggerTimed");
    host.guiSetPin(timed, kGateOpenTime, floatValue(0.002f));  // 96 samples
    host.guiSetPin(timed, kBoolIn, boolValue(true));
    host.runBlock(64);
    host.guiSetPin(timed, kBoolIn, boolValue(true));
    host.runBlock(64);
    host.runBlock(64);
    EXPECT_EQ(blockOf(host, timed), std::vector<float>(64, 1.0f));  // restarted at block 1
    host.runBlock(64);
    EXPECT_EQ(blockOf(host, timed), std::vector<float>(64, 0.0f));

    host.clearCalls();
    host.guiSetPin(timed, kGateOpenTime, floatValue(-1.0f));
    host.guiSetPin(timed, kFloatIn, floatValue(1.0f));
    EXPECT_EQ(host.callsOf(CallKind::PostMessageToAudio).at(0).data, text("v-1.000000"));
    host.runBlock(64);
    EXPECT_EQ(blockOf(host, timed), std::vector<float>(64, 0.0f));

    // 1e16 s has no "%f" text within 24 bytes: the short form that reads back goes instead.
    host.clearCalls();
    host.guiSetPin(timed, kGateOpenTime, floatValue(1e16f));
    host.guiSetPin(timed, kFloatIn, floatValue(1.0f));
    EXPECT_EQ(host.callsOf(CallKind::PostMessageToAudio).at(0).data, text("v1e+16"));
    for (int b = 0; b < 3; ++b) {
        host.runBlock(64);
        EXPECT_EQ(blockOf(host, timed), std::vector<float>(64, 1.0f));
    }
    host.postToDsp(timed, change_trigger::kValueText, text("vinf"));
    host.runBlock(64);
    EXPECT_EQ(blockOf(host, timed), std::vector<float>(64, 1.0f));
    host.postToDsp(timed, change_trigger::kValueText, text("vnan"));
    host.runBlock(64);
    EXPECT_EQ(blockOf(host, timed), std::vector<float>(64, 0.0f));
}

} // namespace
