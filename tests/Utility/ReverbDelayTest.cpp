// The reverb and the delay, driven as the host drives them: impulse responses at their exact
// samples, the mix extremes, clamped and non-number controls, flushed subnormals, echoes.
#include "framework/HostTestSupport.h"
#include "Patch.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <sstream>
#include <unistd.h>

using namespace tavhost;
using testsupport::add;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::function<float(std::int64_t)> impulseAt(std::int64_t at, float value = 1.0f)
{
    return [at, value](std::int64_t n) { return n == at ? value : 0.0f; };
}

// A repeatable noise in -1..1.
float noise(std::int64_t n)
{
    std::uint32_t x = static_cast<std::uint32_t>(n) * 2654435761u + 12345u;
    x ^= x >> 15;
    x *= 2246822519u;
    x ^= x >> 13;
    return static_cast<float>(x & 0xFFFFFF) / 8388608.0f - 1.0f;
}

// Gathers output pins over whole 64-sample blocks.
std::vector<std::vector<float>> runBlocks(Host& host, std::size_t module, std::vector<std::int32_t> pins, int blocks)
{
    std::vector<std::vector<float>> out(pins.size());
    for (int b = 0; b < blocks; ++b) {
        host.runBlock(64);
        for (std::size_t p = 0; p < pins.size(); ++p) {
            const auto buffer = host.buffer(module, pins[p]);
            out[p].insert(out[p].end(), buffer.begin(), buffer.end());
        }
    }
    return out;
}

class Reverb : public ::testing::Test {
protected:
    enum Pin { kLeftIn, kRightIn, kLeftOut, kRightOut, kRoom, kWidth, kDamping, kMix };

    struct Controls {
        float room = 0.5f;
        float width = 0.98f;
        float damping = 0.5f;
        float mix = 0.5f;
    };

    // Left and right outputs of a fresh reverb over `blocks` blocks.
    std::vector<std::vector<float>> respond(Controls c, std::function<float(std::int64_t)> left,
                                            std::function<float(std::int64_t)> right = impulseAt(-1), int blocks = 36)
    {
        Host host{testsupport::factory(), testsupport::config64()};
        const std::size_t reverb = add(host, "QV_Reverb");
        host.setInputFunction(reverb, kLeftIn, std::move(left));
        host.setInputFunction(reverb, kRightIn, std::move(right));
        host.setInputConstant(reverb, kRoom, c.room);
        host.setInputConstant(reverb, kWidth, c.width);
        host.setInputConstant(reverb, kDamping, c.damping);
        host.setInputConstant(reverb, kMix, c.mix);
        host.queueStreaming(reverb, kLeftIn, true);
        auto out = runBlocks(host, reverb, {kLeftOut, kRightOut}, blocks);
        EXPECT_TRUE(host.callsOf(CallKind::RequestSleep, reverb).empty());
        return out;
    }
};

// An impulse of 1.0 on the left: 0.015 enters every comb; each comb's line comes round after its
// length, through four allpasses whose sign flips cancel; the right set lags 23 samples; the
// fourth left allpass (225) echoes the first comb with its sign flipped. Fully wet, room 0.5
// (feedback 0.84), damping 0.5 (0.2 / 0.8), width 0.98 (wet1 0.99 x 1.5, wet2 0.01 x 1.5).
TEST_F(Reverb, ImpulseResponseArrivesAtTheLineLengths)
{
    const auto out = respond({}, impulseAt(0));
    const auto& left = out[0];
    const auto& right = out[1];
    const float wet1 = (0.49f + 0.5f) * 1.5f;
    const float wet2 = (0.5f - 0.49f) * 1.5f;
    for (int n = 0; n < 1116; ++n)
        ASSERT_EQ(std::bit_cast<std::uint32_t>(left[n]), 0u) << n;  // +0.0: no dry path at full mix
    EXPECT_EQ(left[1116], 0.015f * wet1);
    EXPECT_EQ(right[1116], 0.015f * wet2);
    EXPECT_EQ(left[1117], 0.0f);
    EXPECT_EQ(left[1139], 0.015f * wet2);
    EXPECT_EQ(right[1139], 0.015f * wet1);
    for (int n : {1188, 1277, 1356})
        EXPECT_EQ(left[n], 0.015f * wet1) << n;
    for (int n : {1211, 1300, 1379})
        EXPECT_EQ(right[n], 0.015f * wet1) << n;
    EXPECT_EQ(left[1341], -0.015f * wet1);   // 1116 + 225
    EXPECT_EQ(right[1387], -0.015f * wet1);  // 1139 + 248

    // The first comb's second round: its store took 0.015 x damp2, the line that times feedback;
    // one sample later the store has decayed by damp1.
    const float second = 0.015f * 0.8f * 0.84f;
    EXPECT_EQ(left[2232], second * wet1);
    EXPECT_EQ(right[2232], second * wet2);
    EXPECT_EQ(left[2233], 0.015f * 0.8f * 0.2f * 0.84f * wet1);
}

// Mix at -0.5 or below (and a NaN mix, which takes that bound) is the dry signal bit for bit;
// at 0.0 dry 0.75 and wet 1.125; width at its bounds splits the wet signal 0.99 / 0.01 or
// 0.505 / 0.495.
TEST_F(Reverb, MixAndWidthExtremes)
{
    for (float mix : {-0.5f, -3.0f, kNaN, -kInf}) {
        const auto out = respond({.mix = mix}, noise, [](std::int64_t n) { return noise(n + 7777); }, 40);
        for (std::size_t n = 0; n < out[0].size(); ++n) {
            ASSERT_EQ(std::bit_cast<std::uint32_t>(out[0][n]), std::bit_cast<std::uint32_t>(noise(n))) << n;
            ASSERT_EQ(std::bit_cast<std::uint32_t>(out[1][n]), std::bit_cast<std::uint32_t>(noise(n + 7777))) << n;
        }
    }

    const auto half = respond({.width = 0.5f, .mix = 0.0f}, impulseAt(0));
    EXPECT_EQ(half[0][0], 0.75f);
    EXPECT_EQ(half[1][0], 0.0f);
    EXPECT_EQ(half[0][1116], 0.015f * ((0.25f + 0.5f) * 1.125f));

    for (float mix : {0.5f, 2.0f, kInf}) {
        const auto wet = respond({.mix = mix}, impulseAt(0));
        EXPECT_EQ(wet[0][0], 0.0f);
        EXPECT_EQ(wet[0][1116], 0.015f * (0.99f * 1.5f));
    }
    for (float width : {0.01f, 0.0f, -1.0f, kNaN}) {
        const auto narrow = respond({.width = width}, impulseAt(0));
        EXPECT_EQ(narrow[0][1116], 0.015f * ((0.005f + 0.5f) * 1.5f)) << width;
        EXPECT_EQ(narrow[1][1116], 0.015f * ((0.5f - 0.005f) * 1.5f)) << width;
    }
}

// Room clamps to 0.01..0.98 (feedback 0.7028..0.9744) and damping to 0.01..1.0; a NaN takes the
// lower bound, so the whole response equals the bound's.
TEST_F(Reverb, RoomAndDampingAreClampedAndNaNTakesTheLowerBound)
{
    const float wet1 = 0.99f * 1.5f;
    const auto low = respond({.room = 0.01f}, impulseAt(0));
    EXPECT_EQ(low[0][2232], 0.015f * 0.8f * (0.01f * 0.28f + 0.7f) * wet1);
    for (float room : {0.0f, -4.0f, kNaN})
        EXPECT_EQ(respond({.room = room}, impulseAt(0)), low) << room;
    const auto high = respond({.room = 0.98f}, impulseAt(0));
    EXPECT_EQ(high[0][2232], 0.015f * 0.8f * (0.98f * 0.28f + 0.7f) * wet1);
    EXPECT_EQ(respond({.room = 1.0f}, impulseAt(0)), high);

    const auto dull = respond({.damping = 1.0f}, impulseAt(0));
    EXPECT_EQ(dull[0][2232], 0.015f * (1.0f - 0.4f) * 0.84f * wet1);
    EXPECT_EQ(respond({.damping = 9.0f}, impulseAt(0)), dull);
    const auto bright = respond({.damping = 0.01f}, impulseAt(0));
    EXPECT_EQ(respond({.damping = kNaN}, impulseAt(0)), bright);
    EXPECT_NE(bright, dull);
}

// Zero and subnormal outputs are +0.0; the smallest normal float passes. A NaN, infinite or
// absurd input sample never enters the lines: the response goes on as if the sample were 0. A
// sample that is no finite number is 0 on the dry path too: no NaN from inf x 0 at full wet.
TEST_F(Reverb, SubnormalOutputsAreZeroAndBadSamplesDoNotStay)
{
    const float tiny = std::numeric_limits<float>::denorm_min() * 1000.0f;
    const float smallest = std::numeric_limits<float>::min();
    const auto dry = respond({.mix = -0.5f}, [&](std::int64_t n) { return n == 0 ? tiny : n == 1 ? -0.0f : smallest; },
                             impulseAt(-1), 1);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(dry[0][0]), 0u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(dry[0][1]), 0u);
    EXPECT_EQ(dry[0][2], smallest);

    // The tank keeps nothing below the smallest normal float: a held input whose share in it
    // (x 0.015) is subnormal, or that is subnormal itself, is silence at full wet, in the longest
    // room too.
    for (float held : {1e-37f, std::nextafter(smallest, 0.0f)}) {
        const auto out = respond({.room = 0.98f}, [held](std::int64_t) { return held; },
                                 [held](std::int64_t) { return held; }, 400);
        for (std::size_t n = 0; n < out[0].size(); ++n) {
            ASSERT_EQ(std::bit_cast<std::uint32_t>(out[0][n]), 0u) << held << " at " << n;
            ASSERT_EQ(std::bit_cast<std::uint32_t>(out[1][n]), 0u) << held << " at " << n;
        }
    }

    for (float mix : {0.5f, 0.0f}) {
        const auto clean = respond({.mix = mix}, impulseAt(0), impulseAt(-1), 60);
        for (float bad : {kNaN, kInf, -kInf, 3e38f}) {
            const auto input = [bad](std::int64_t n) { return n == 0 ? 1.0f : n == 10 ? bad : 0.0f; };
            const auto out = respond({.mix = mix}, input, impulseAt(-1), 60);
            // The absurd finite sample still passes the dry path.
            for (std::size_t n = mix > 0.0f || std::isnan(bad - bad) ? 10 : 11; n < out[0].size(); ++n) {
                ASSERT_EQ(out[0][n], clean[0][n]) << bad << " at " << n << ", mix " << mix;
                ASSERT_EQ(out[1][n], clean[1][n]) << bad << " at " << n << ", mix " << mix;
            }
        }
    }
}

// Normal-range output, bit for bit: a second of two noises and a second of their tail, in two
// settings, hashed (FNV-1a over the float bits of both outputs). The hashes were taken from the
// reverb before its arithmetic ran with subnormals as zero; that mode changes nothing above the
// smallest normal float, and the host's own arithmetic has its subnormals back afterwards.
TEST_F(Reverb, NormalRangeOutputIsUnchanged)
{
    auto hash = [](const std::vector<std::vector<float>>& out) {
        std::uint64_t h = 14695981039346656037ull;
        for (std::size_t n = 0; n < out[0].size(); ++n)
            for (const auto& channel : out)
                for (int shift = 0; shift < 32; shift += 8) {
                    h ^= (std::bit_cast<std::uint32_t>(channel[n]) >> shift) & 0xFF;
                    h *= 1099511628211ull;
                }
        return h;
    };
    const auto left = [](std::int64_t n) { return n < 48000 ? noise(n) : 0.0f; };
    const auto right = [](std::int64_t n) { return n < 48000 ? noise(n + 99991) * 0.5f : 0.0f; };
    EXPECT_EQ(hash(respond({.mix = 0.0f}, left, right, 1500)), 16595449043928970555ull);
    EXPECT_EQ(hash(respond({.room = 0.98f, .width = 0.3f, .damping = 0.0f, .mix = 0.3f}, left, right, 1500)),
              2653078085117195910ull);
    volatile float smallest = std::numeric_limits<float>::min();
    EXPECT_EQ(smallest / 4.0f, std::numeric_limits<float>::min() / 4.0f);
    EXPECT_GT(smallest / 4.0f, 0.0f);
}

// The reverb reads its controls at the first sample of each piece: a mix change inside a block
// takes effect at the next piece (cut by an event), not at the sample where it changes.
TEST_F(Reverb, ControlsAreReadOncePerPiece)
{
    Host host{testsupport::factory(), testsupport::config64()};
    const std::size_t reverb = add(host, "QV_Reverb");
    host.setInputConstant(reverb, kLeftIn, 0.5f);
    host.setInputFunction(reverb, kMix, [](std::int64_t n) { return n < 10 ? -0.5f : 0.5f; });
    host.queueStreaming(reverb, kLeftIn, true);
    host.queueStreaming(reverb, kMix, true, 20);
    const auto out = runBlocks(host, reverb, {kLeftOut}, 1)[0];
    EXPECT_EQ(out[19], 0.5f);  // dry until the piece at 20
    EXPECT_EQ(out[20], 0.0f);  // fully wet, nothing come round yet
}

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

    Host host{testsupport::factory(), testsupport::config64()};
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
        Host h{testsupport::factory(), testsupport::config64()};
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
        Host h{testsupport::factory(), testsupport::config64()};
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

// The float samples of a WAV file's data chunk, interleaved; empty when there is none.
std::vector<float> wavSamples(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    for (std::size_t at = 12; at + 8 <= bytes.size(); at += 8 + u32(at + 4) + (u32(at + 4) & 1)) {
        if (bytes.compare(at, 4, "data") != 0)
            continue;
        const std::size_t size = std::min<std::size_t>(u32(at + 4), bytes.size() - at - 8);
        std::vector<float> samples(size / 4);
        std::memcpy(samples.data(), bytes.data() + at + 8, samples.size() * 4);
        return samples;
    }
    return {};
}

// The example patch renders to WAV: the impulse leaves the reverb's left output at once with the
// dry gain (mix 0.2: about 0.51); the MIDI phrase's gate opens at the first note-on (50 ms) with
// the pitch of note 60, reaches the delay one block later through the wire, and the delay's output
// is that input 120 ms (5760 samples) earlier plus half its own output then.
TEST(ReverbDelayExample, RendersTheMidiPhraseThroughReverbAndDelay)
{
    const std::filesystem::path root = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
    const testsupport::TemporaryFolder folder("tavrin-reverb");
    const std::filesystem::path wav = folder.path() / "reverb-delay.wav";
    std::string error;
    const auto patch = loadPatch(root / "examples" / "reverb-delay.json", error);
    ASSERT_TRUE(patch) << error;
    std::ostringstream out, err;
    ASSERT_EQ(runPatch(*patch, testsupport::factory(), {wav}, out, err), 0) << err.str();
    const std::vector<float> all = wavSamples(wav);

    enum Channel { kReverbLeft, kReverbRight, kDelayed, kGate, kPitch, kChannels };
    ASSERT_EQ(all.size(), 38400u * kChannels);  // 800 ms
    auto at = [&](Channel c, std::size_t n) { return all[n * kChannels + c]; };
    const float mix = 0.2f;
    const float q = (mix + 0.5f) * (0.5f - mix);
    EXPECT_EQ(at(kReverbLeft, 0), q + 0.5f - mix);  // about 0.51
    EXPECT_EQ(at(kGate, 2399), 0.0f);
    EXPECT_EQ(at(kGate, 2400), 1.0f);
    EXPECT_EQ(at(kPitch, 2400), static_cast<float>(60 - 9) * 0.008333334f);
    EXPECT_EQ(at(kGate, 4319), 1.0f);  // note-off at 90 ms
    EXPECT_EQ(at(kGate, 4320), 0.0f);
    constexpr std::size_t kLine = 5760;
    constexpr std::size_t kWire = 64;
    for (std::size_t n = 0; n < 38400; ++n) {
        const float in = n >= kLine + kWire ? at(kGate, n - kLine - kWire) : 0.0f;
        const float fed = n >= kLine ? at(kDelayed, n - kLine) * 0.5f : 0.0f;
        ASSERT_EQ(at(kDelayed, n), fed + in) << n;
    }
    EXPECT_EQ(at(kDelayed, 2400 + kWire + kLine), 1.0f);
    EXPECT_NE(at(kReverbRight, 38399), 0.0f);  // the tail still rings at the end
}

} // namespace
