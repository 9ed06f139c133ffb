// The reverb, driven as the host drives it: impulse responses at their exact samples, the mix
// extremes, clamped and non-number controls, flushed subnormals; and the example patch rendered
// through reverb and delay.
#include "Patch.h"
#include "Utility/AudioTestSupport.h"

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

using namespace tav_host;
using test_support::add;

namespace {

using audio_test::impulseAt;
using audio_test::kInf;
using audio_test::kNaN;
using audio_test::runBlocks;

// A repeatable noise in -1..1.
float noise(std::int64_t n)
{
    std::uint32_t x = static_cast<std::uint32_t>(n) * 2654435761u + 12345u;
    x ^= x >> 15;
    x *= 2246822519u;
    x ^= x >> 13;
    return static_cast<float>(x & 0xFFFFFF) / 8388608.0f - 1.0f;
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
        Host host{test_support::factory(), test_support::config64()};
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
    Host host{test_support::factory(), test_support::config64()};
    const std::size_t reverb = add(host, "QV_Reverb");
    host.setInputConstant(reverb, kLeftIn, 0.5f);
    host.setInputFunction(reverb, kMix, [](std::int64_t n) { return n < 10 ? -0.5f : 0.5f; });
    host.queueStreaming(reverb, kLeftIn, true);
    host.queueStreaming(reverb, kMix, true, 20);
    const auto out = runBlocks(host, reverb, {kLeftOut}, 1)[0];
    EXPECT_EQ(out[19], 0.5f);  // dry until the piece at 20
    EXPECT_EQ(out[20], 0.0f);  // fully wet, nothing come round yet
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
    const std::filesystem::path root = std::filesystem::path(TAVRIN_SOURCE_DIR);
    const test_support::TemporaryFolder folder("tavrin-reverb");
    const std::filesystem::path wav = folder.path() / "reverb-delay.wav";
    std::string error;
    const auto patch = loadPatch(root / "examples" / "reverb-delay.json", error);
    ASSERT_TRUE(patch) << error;
    std::ostringstream out, err;
    ASSERT_EQ(runPatch(*patch, test_support::factory(), {wav}, out, err), 0) << err.str();
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
