// The delay, driven as the host drives it: echoes at the line length, the length's bounds, a time
// event's empty line, and only normal finite samples kept in the line.
#include "Utility/AudioTestSupport.h"

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

using namespace tav_host;
using test_support::add;

namespace {

using audio_test::impulseAt;
using audio_test::kInf;
using audio_test::kNaN;
using audio_test::runBlocks;

class Delay : public ::testing::Test {
protected:
    enum Pin { kSignalIn, kFeedback, kSignalOut, kTimeMs };

    std::size_t addDelay(float ms, float feedback, std::function<float(std::int64_t)> in)
    {
        const std::size_t delay = add(host, "QV_Delay");
        host.setInitialValue(delay, Side::Dsp, kTimeMs, floatValue(ms));
        host.setInputConstant(delay, kFeedback, feedback);
        host.setInputFunction(delay, kSignalIn, std::move(in));
        return delay;
    }

    Host host{test_support::factory(), test_support::config64()};
};

// 1 ms at 48 kHz is 48 samples: the echoes of an impulse fall every 48 samples, each the last
// times the feedback; feedback 1.0 repeats without decay.
TEST_F(Delay, EchoesFallEveryLineLength)
{
    const std::size_t halving = addDelay(1.0f, 0.5f, impulseAt(0));
    const std::size_t repeating = addDelay(1.0f, 1.0f, impulseAt(0));
    const auto out = runBlocks(host, halving, {kSignalOut}, 3)[0];
    std::vector<float> expected(192, 0.0f);
    expected[48] = 1.0f;
    expected[96] = 0.5f;
    expected[144] = 0.25f;
    EXPECT_EQ(out, expected);
    for (int n = 0; n < 20; ++n)
        host.runBlock(64);
    // 23 blocks run: samples 1408..1471; 1440 is the 30th echo.
    EXPECT_EQ(host.buffer(repeating, kSignalOut)[1440 - 1408], 1.0f);
    EXPECT_EQ(host.buffer(repeating, kSignalOut)[1441 - 1408], 0.0f);
    EXPECT_TRUE(host.callsOf(CallKind::RequestSleep).empty());
}

// Times of 0, negative, NaN or -inf ms give a 1-sample line: the output is the input one sample
// earlier. Times beyond ten seconds give ten seconds.
TEST_F(Delay, LengthIsAtLeastOneSampleAndAtMostTenSeconds)
{
    for (float ms : {0.0f, -5.0f, kNaN, -kInf, 0.01f}) {
        Host h{test_support::factory(), test_support::config64()};
        const std::size_t delay = add(h, "QV_Delay");
        h.setInitialValue(delay, Side::Dsp, kTimeMs, floatValue(ms));
        h.setInputFunction(delay, kSignalIn, [](std::int64_t n) { return static_cast<float>(n + 1); });
        h.runBlock(64);
        const auto out = h.buffer(delay, kSignalOut);
        EXPECT_EQ(out[0], 0.0f) << ms;
        EXPECT_EQ(out[1], 1.0f) << ms;
        EXPECT_EQ(out[63], 63.0f) << ms;
    }

    for (float ms : {20000.0f, kInf, 3e38f}) {
        Host h{test_support::factory(), test_support::config64()};
        const std::size_t delay = add(h, "QV_Delay");
        h.setInitialValue(delay, Side::Dsp, kTimeMs, floatValue(ms));
        h.setInputFunction(delay, kSignalIn, impulseAt(0));
        for (int b = 0; b < 480000 / 64; ++b)
            h.runBlock(64);
        EXPECT_EQ(h.buffer(delay, kSignalOut)[63], 0.0f);
        h.runBlock(64);
        EXPECT_EQ(h.buffer(delay, kSignalOut)[0], 1.0f) << ms;  // sample 480,000
    }
}

// Every event on the time pin, the same time too, starts an empty line at its sample: what was in
// the line is lost and the next echo falls one length after the event.
TEST_F(Delay, ATimeEventStartsAnEmptyLine)
{
    const std::size_t delay =
        addDelay(0.5f, 0.0f, [](std::int64_t n) { return n == 0 || n == 30 || n == 60 ? 1.0f : 0.0f; });
    host.queuePinValue(delay, kTimeMs, floatValue(0.5f), 10);
    host.runBlock(64);
    const auto out = host.buffer(delay, kSignalOut);
    std::vector<float> got(out.begin(), out.end());
    std::vector<float> expected(64, 0.0f);
    expected[54] = 1.0f;  // the impulse at 30, 24 samples on; the one at 0 was dropped at 10
    EXPECT_EQ(got, expected);

    // A longer line afterwards: its unwritten part reads as silence, not as the impulse at 60
    // still in the memory.
    host.queuePinValue(delay, kTimeMs, floatValue(1.0f), 0);
    host.runBlock(64);
    for (float x : host.buffer(delay, kSignalOut))
        EXPECT_EQ(x, 0.0f);
}

// The line keeps no subnormal and no non-finite sample: an overflowing echo (feedback 1e20)
// becomes silence, a NaN input sample does not come round, a subnormal input reads back as 0. A
// subnormal feedback factor counts as 0: even a loud echo times it is no echo.
TEST_F(Delay, LineKeepsOnlyNormalFiniteSamples)
{
    const std::size_t growing = addDelay(1.0f, 1e20f, impulseAt(0));
    const std::size_t poisoned =
        addDelay(1.0f, 1.0f, [](std::int64_t n) { return n == 0 ? kNaN : n == 1 ? 2.0f : 0.0f; });
    const std::size_t tiny = addDelay(1.0f, 1.0f, impulseAt(0, 1e-40f));
    const std::size_t faint = addDelay(1.0f, 1e-39f, impulseAt(0, 1e4f));
    auto out = runBlocks(host, growing, {kSignalOut}, 2)[0];
    EXPECT_EQ(host.buffer(faint, kSignalOut)[96 - 64], 0.0f);  // not 1e-35
    const auto last = runBlocks(host, growing, {kSignalOut}, 1)[0];
    out.insert(out.end(), last.begin(), last.end());
    EXPECT_EQ(out[48], 1.0f);
    EXPECT_EQ(out[96], 1e20f);
    EXPECT_EQ(out[144], 0.0f);
    EXPECT_EQ(host.buffer(poisoned, kSignalOut)[144 - 128], 0.0f);
    EXPECT_EQ(host.buffer(poisoned, kSignalOut)[145 - 128], 2.0f);
    EXPECT_EQ(host.buffer(tiny, kSignalOut)[144 - 128], 0.0f);
}

} // namespace
