// The MIDI learn map in real time against offline: seeded random sessions of two learn modules
// (MIDI on both inputs of each, learn and reset presses, graph starts on either of two files, one
// of them short) run once offline and once with the file worker slowed at random. Whatever the
// disk's timing, real time gives the same messages in the same order, never earlier and never
// out of order within a block (a map read holds them back until the first block after it is in),
// the same LED sample for sample, and the same files; once the maps are in, messages leave at the
// very samples offline sends them.
#include "FileWorker.h"
#include "Log.h"
#include "Midi/RoutingTestSupport.h"
#include "support/TemporaryFolder.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace tav_host;
using namespace routing_test;
namespace fs = std::filesystem;

namespace {

enum Pin { kExternalIn, kInternalIn, kLearn, kReset, kLed, kId, kAutoPath, kPathPc, kPathMac, kToSynth, kToExternal };

constexpr int kModules = 2;
constexpr int kBlocks = 40;
constexpr int kQuietBlocks = 4;  // at the end, with the worker idle before each: one note each
constexpr const char* kIds[] = {"ONE", "TWO"};

std::string readAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Outcome {
    std::vector<std::string> midi[kModules];  // "pin bytes", in the order sent
    std::vector<std::int64_t> samples[kModules];  // where each was sent
    std::vector<float> led[kModules];
    std::string files[2];
};

// A press: the button is high over [from, to).
struct Press {
    std::int64_t from, to;
};

// ONE holds a full map; TWO only its first 40 lines, so the rest of a map read stays.
void writeMaps(const fs::path& folder)
{
    for (int f = 0; f < 2; ++f) {
        fs::create_directories(folder / "Quorvane" / kIds[f]);
        std::ofstream file(folder / "Quorvane" / kIds[f] / "Controllers.txt", std::ios::binary);
        char line[32];
        for (int i = 0; i < (f == 0 ? 128 : 40); ++i) {
            std::snprintf(line, sizeof line, "%3d,%3d\r\n", i, i % 5 == f ? 20 + i % 4 : 0);
            file << line;
        }
    }
}

int drawn(std::mt19937& random, int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

// Up to 12 messages on either input of module, at random offsets in the next block: mostly
// controllers (some mapped, some not, 0 and 127 among them), else notes.
void queueRandomMidi(Host& host, std::size_t module, std::mt19937& random)
{
    static constexpr uint8_t kControllers[] = {0, 3, 5, 7, 8, 20, 21, 22, 23, 40, 127};
    const auto pick = [&](int low, int high) { return drawn(random, low, high); };
    std::vector<int> times(static_cast<std::size_t>(pick(0, 12)));
    for (int& t : times)
        t = pick(0, 63);
    std::sort(times.begin(), times.end());
    for (const int t : times) {
        const int pin = pick(0, 1) == 0 ? kExternalIn : kInternalIn;
        const int kind = pick(0, 9);
        if (kind < 7)
            host.queueMidi(module, pin, {static_cast<uint8_t>(0xB0 | pick(0, 1)), kControllers[pick(0, 10)],
                                         static_cast<uint8_t>(pick(0, 127))}, t);
        else
            host.queueMidi(module, pin, {static_cast<uint8_t>(kind == 7 ? 0x90 : 0x80), static_cast<uint8_t>(pick(40, 80)),
                                         static_cast<uint8_t>(pick(0, 127))}, t);
    }
}

Outcome session(std::uint32_t seed, bool live, const fs::path& root)
{
    file_worker::setOffline(!live);
    const fs::path folder = root / (live ? "live" : "offline");
    writeMaps(folder);
    std::mt19937 random(seed);
    const auto pick = [&](int low, int high) { return drawn(random, low, high); };
    std::vector<Press> presses[kModules][2];  // learn, reset
    Host host(test_support::factory(), test_support::config64());
    std::size_t modules[kModules];
    for (int m = 0; m < kModules; ++m) {
        modules[m] = test_support::add(host, "QV_MidiLearnModule");
        host.setInitialValue(modules[m], Side::Dsp, kId, textValue(kIds[pick(0, 1)]));
        host.setInitialValue(modules[m], Side::Dsp, kAutoPath, boolValue(false));
        host.setInitialValue(modules[m], Side::Dsp, kPathMac, textValue(folder.string() + "/"));
        for (int b = 0; b < 2; ++b)
            host.setInputFunction(modules[m], b == 0 ? kLearn : kReset, [&presses, m, b](std::int64_t s) {
                for (const Press& p : presses[m][b])
                    if (s >= p.from && s < p.to)
                        return 1.0f;
                return 0.0f;
            });
    }
    const auto slowest = static_cast<unsigned>(pick(0, 3000));  // drawn in both modes: same sessions
    if (live)
        file_worker::slowDown(slowest, seed);

    Outcome out;
    const auto block = [&] {
        host.clearCalls();
        host.runBlock(64);
        for (int m = 0; m < kModules; ++m) {
            for (const auto& call : host.callsOf(CallKind::SendPinValue, modules[m])) {
                out.midi[m].push_back(std::to_string(call.pin) + " " + hexBytes(call.data.data(), call.data.size()));
                out.samples[m].push_back(call.sample);
            }
            const auto led = host.buffer(modules[m], kLed);
            out.led[m].insert(out.led[m].end(), led.begin(), led.end());
        }
    };
    block();
    for (int b = 0; b < kBlocks; ++b) {
        const std::int64_t start = host.samplesRun();
        for (int m = 0; m < kModules; ++m) {
            if (pick(0, 15) == 0) {
                host.queueRawEvents(modules[m], {RawEvent{pick(0, 63), mpapi::MP_EVENT_GRAPH_START}});
                continue;
            }
            if (pick(0, 9) == 0)
                host.queuePinValue(modules[m], kId, textValue(kIds[pick(0, 1)]), pick(0, 63));
            for (int button = 0; button < 2; ++button)
                if (pick(0, button == 0 ? 3 : 9) == 0) {
                    const std::int64_t from = start + pick(0, 63);
                    presses[m][button].push_back({from, from + pick(1, 80)});
                }
            queueRandomMidi(host, modules[m], random);
        }
        block();
    }
    // Quiet blocks: the first one after the worker is idle lets out everything held.
    for (int b = 0; b < kQuietBlocks; ++b) {
        if (live)
            file_worker::waitUntilIdle();
        for (int m = 0; m < kModules; ++m)
            host.queueMidi(modules[m], kExternalIn, {0x90, static_cast<uint8_t>(40 + b), 1}, b * 17 % 64);
        block();
    }
    host.shutdown();
    file_worker::slowDown(0);
    for (int f = 0; f < 2; ++f)
        out.files[f] = readAll(folder / "Quorvane" / kIds[f] / "Controllers.txt");
    return out;
}

TEST(MidiLearnRealTime, RandomSessionsGiveWhatOfflineGives)
{
    // Nothing is refused in these sessions: the room suffices for any of them.
    static std::atomic<int> refusals;
    refusals = 0;
    platform::setLogSink([](const char* line, void*) { refusals += std::strstr(line, "refused") != nullptr; }, nullptr);
    const bool wasOffline = file_worker::offline();
    for (std::uint32_t seed = 1; seed <= 16; ++seed) {
        const test_support::TemporaryFolder temporary{"tavrin-learn-rt"};
        const Outcome offline = session(seed, false, temporary.path());
        const Outcome live = session(seed, true, temporary.path());
        for (int m = 0; m < kModules; ++m) {
            EXPECT_EQ(live.midi[m], offline.midi[m]) << "seed " << seed << " module " << m;
            EXPECT_EQ(live.led[m], offline.led[m]) << "seed " << seed << " module " << m;
            const auto& at = live.samples[m];
            for (std::size_t i = 0; i < at.size() && i < offline.samples[m].size(); ++i) {
                EXPECT_GE(at[i], offline.samples[m][i]) << "seed " << seed << " module " << m << " message " << i;
                if (i > 0) {
                    EXPECT_GE(at[i], at[i - 1]) << "seed " << seed << " module " << m << " message " << i;
                }
                if (i + kQuietBlocks - 1 >= at.size()) {  // after the catch-up: on time
                    EXPECT_EQ(at[i], offline.samples[m][i]) << "seed " << seed << " module " << m << " message " << i;
                }
            }
        }
        for (int f = 0; f < 2; ++f)
            EXPECT_EQ(live.files[f], offline.files[f]) << "seed " << seed << " file " << kIds[f];
        if (::testing::Test::HasFailure())
            break;
    }
    file_worker::setOffline(wasOffline);
    platform::setLogSink(nullptr, nullptr);
    EXPECT_EQ(refusals.load(), 0);
}

} // namespace
