// The MIDI learn map through the stand-in host: translation both ways, learning and unlearning
// by the button signals with the LED, clearing, and "Controllers.txt" read and written where the
// pins say, and nowhere when they name no safe folder. The file worker reads and writes the file:
// offline inside the calls, in real time on its thread, with the same messages, LED and files;
// the last map lands by the time the host has released the module, so the file is read after
// shutdown. No learnt entry is lost to a failed write, a later file, another instance or the end.
#include "Bundle.h"
#include "FileWorker.h"
#include "Midi/LearnMap.h"
#include "Midi/NoteLedgerTestSupport.h"
#include "Midi/RoutingTestSupport.h"
#include "Log.h"
#include "support/AudioThreadAudit.h"
#include "support/Settle.h"
#include "support/TemporaryFolder.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

using namespace tav_host;
using namespace routing_test;
namespace fs = std::filesystem;

namespace {

enum Pin { kExternalIn, kInternalIn, kLearn, kReset, kLed, kId, kAutoPath, kPathPc, kPathMac, kToSynth, kToExternal };

// The file's bytes for entries given as (index, value), all others 0.
std::string mapFile(std::initializer_list<std::pair<int, int>> entries)
{
    int map[128] = {};
    for (auto [i, v] : entries)
        map[i] = v;
    std::string text;
    char line[16];
    for (int i = 0; i < 128; ++i) {
        std::snprintf(line, sizeof line, "%3d,%3d\r\n", i, map[i]);
        text += line;
    }
    return text;
}

std::string readAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class MidiLearn : public ::testing::Test {
protected:
    void TearDown() override
    {
        host.reset();  // its modules' channels go before the mode changes back
        file_worker::release();
        file_worker::setOffline(wasOffline);
        learn_map::setSaveFunction(nullptr);
    }
    // Modules made from now on hand their file work to the worker thread.
    void realTime() { file_worker::setOffline(false); }

    // The module with its pins, started: graph start has loaded the map (unless told not to wait
    // for it); with a second instance on the same pins (other, buttons idle) when asked.
    void start(std::string pathMac, std::string id = "TAVRIN TWO", bool autoPath = false, bool second = false,
               bool waitForMap = true)
    {
        HostConfig config = test_support::config64();
        config.fileFolder = root / "host";
        host = std::make_unique<Host>(test_support::factory(), config);
        module = test_support::add(*host, "QV_MidiLearnModule");
        if (second)
            other = test_support::add(*host, "QV_MidiLearnModule");
        for (const std::size_t m : second ? std::vector<std::size_t>{module, other} : std::vector<std::size_t>{module}) {
            host->setInitialValue(m, Side::Dsp, kId, textValue(id));
            host->setInitialValue(m, Side::Dsp, kAutoPath, boolValue(autoPath));
            host->setInitialValue(m, Side::Dsp, kPathMac, textValue(pathMac));
        }
        host->setInputFunction(module, kLearn, [this](std::int64_t s) { return signal(learnAt, s); });
        host->setInputFunction(module, kReset, [this](std::int64_t s) { return signal(resetAt, s); });
        host->runBlock(64);
        if (waitForMap)
            test_support::settle(*host);
    }
    // The first sample of the block blocks after the next one, plus offset.
    std::int64_t at(int blocks, int offset = 0) const { return host->samplesRun() + 64 * blocks + offset; }
    void graphStart(std::size_t m) { host->queueRawEvents(m, {{.eventType = mpapi::MP_EVENT_GRAPH_START}}); }
    // Learns the pair (internal, external) with a press in the next block and the controllers in
    // the block after it.
    void learnPair(uint8_t internal, uint8_t external)
    {
        learnAt = host->samplesRun() + 1;
        host->runBlock(64);
        host->queueMidi(module, kInternalIn, {0xB0, internal, 1}, 5);
        host->queueMidi(module, kExternalIn, {0xB0, external, 1}, 5);
        host->runBlock(64);
    }
    void startInRoot(std::string id = "TAVRIN TWO", bool autoPath = false, bool second = false)
    {
        start(root.string() + "/", std::move(id), autoPath, second);
    }
    // A button pressed from an absolute sample for one block length.
    static float signal(std::int64_t pressedAt, std::int64_t s) { return s >= pressedAt && s < pressedAt + 64 ? 1.0f : 0.0f; }
    std::vector<Sent> midi(Pin pin, std::vector<Bytes> messages) { return afterMidi(*host, module, pin, std::move(messages)); }
    // The file once the host has released the module; "none" when there is no file.
    std::string fileAfterShutdown(const fs::path& p)
    {
        host->shutdown();
        return fs::exists(p) ? readAll(p) : std::string("none");
    }
    float led(int sample) const { return host->buffer(module, kLed)[static_cast<std::size_t>(sample)]; }

    test_support::TemporaryFolder temporary{"tavrin-learn"};
    fs::path root = temporary.path();
    fs::path file = root / "Quorvane" / "TAVRIN TWO" / "Controllers.txt";
    const bool wasOffline = file_worker::offline();
    std::unique_ptr<Host> host;
    std::size_t module = 0;
    std::size_t other = 0;
    std::int64_t learnAt = 1 << 30;
    std::int64_t resetAt = 1 << 30;
};

TEST_F(MidiLearn, TranslatesBothWaysThroughTheLoadedMap)
{
    fs::create_directories(file.parent_path());
    std::string text = mapFile({{7, 20}, {9, 20}, {5, 74}});
    text.replace(6 * 9, 9, "  6,200\r\n");   // out of range: 0
    text.replace(10 * 9, 18, " 10,-3\n 11, 30\r\n");  // a line without CR, then 11 -> 30
    text += std::string(100 * 1024, 'x');             // past the 128th line: ignored, however long
    std::ofstream(file, std::ios::binary) << text;
    startInRoot();

    EXPECT_EQ(midi(kExternalIn, {{0xB3, 20, 64}}), (std::vector<Sent>{{kToSynth, {0xB0, 7, 64}}, {kToSynth, {0xB0, 9, 64}}}));
    EXPECT_EQ(midi(kExternalIn, {{0xB0, 74, 1}, {0xB0, 30, 2}, {0xB0, 21, 3}, {0xB0, 0, 4}, {0xB0, 200, 5}}),
              (std::vector<Sent>{{kToSynth, {0xB0, 5, 1}}, {kToSynth, {0xB0, 11, 2}}}));
    EXPECT_EQ(midi(kExternalIn, {{0x93, 60, 0}, {0xC2, 5}}),
              (std::vector<Sent>{{kToSynth, {0x93, 60, 0}}, {kToSynth, {0xC2, 5, 0}}}));
    EXPECT_EQ(midi(kInternalIn, {{0xB1, 7, 99}, {0xB0, 8, 1}, {0xB0, 6, 1}, {0xB0, 10, 1}, {0xB0, 247, 1}, {0xE0, 1, 2}}),
              (std::vector<Sent>{{kToExternal, {0xB0, 20, 99}}, {kToExternal, {0xE0, 1, 2}}}));
}

TEST_F(MidiLearn, LearnsAPairAndWritesTheFile)
{
    startInRoot();
    EXPECT_FALSE(fs::exists(file));
    learnAt = at(0, 10);
    host->runBlock(64);
    EXPECT_EQ(led(9), 0.0f);
    EXPECT_EQ(led(10), 1.0f);
    EXPECT_EQ(led(63), 1.0f);

    host->queueMidi(module, kInternalIn, {0xB0, 7, 1}, 5);
    host->queueMidi(module, kExternalIn, {0xB0, 20, 2}, 5);
    host->runBlock(64);
    EXPECT_EQ(led(4), 1.0f);
    EXPECT_EQ(led(5), 0.0f);  // stored at the sample the pair completed
    EXPECT_EQ(midi(kInternalIn, {{0xB0, 7, 3}}), (std::vector<Sent>{{kToExternal, {0xB0, 20, 3}}}));
    EXPECT_EQ(fileAfterShutdown(file), mapFile({{7, 20}}));

    // A second learn, the map loaded again: one half alone stores nothing, the second half
    // completes the pair.
    learnAt = 1 << 30;
    startInRoot();
    midi(kInternalIn, {{0xB0, 8, 1}});
    learnAt = at(0);
    host->runBlock(64);
    host->runBlock(64);  // learning
    midi(kExternalIn, {{0xB0, 21, 1}});
    host->runBlock(64);
    EXPECT_EQ(led(0), 1.0f);  // only one half captured
    midi(kInternalIn, {{0xB0, 8, 1}});
    EXPECT_EQ(fileAfterShutdown(file), mapFile({{7, 20}, {8, 21}}));
}

// Maps stored one after the other faster than the disk may take them: the file holds the last.
TEST_F(MidiLearn, TheLastMapStoredIsTheFile)
{
    startInRoot();
    learnAt = at(0);
    host->queueMidi(module, kInternalIn, {0xB0, 7, 1}, 5);
    host->queueMidi(module, kExternalIn, {0xB0, 20, 1}, 5);
    host->runBlock(64);  // stores 7 -> 20
    resetAt = at(0);
    host->runBlock(64);  // clears
    learnAt = at(0);
    host->queueMidi(module, kInternalIn, {0xB0, 9, 1}, 1);
    host->queueMidi(module, kExternalIn, {0xB0, 30, 1}, 2);
    host->runBlock(64);  // stores 9 -> 30
    EXPECT_EQ(fileAfterShutdown(file), mapFile({{9, 30}}));
}

TEST_F(MidiLearn, LearnTwiceStoresNothingAndResetClears)
{
    startInRoot();
    learnAt = at(0);
    host->runBlock(64);
    learnAt = at(1);
    host->runBlock(64);
    host->runBlock(64);
    EXPECT_EQ(led(0), 0.0f);
    EXPECT_EQ(fileAfterShutdown(file), "none");

    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << mapFile({{3, 4}});
    learnAt = 1 << 30;
    start(root.string() + "/");
    resetAt = at(0, 1);
    host->runBlock(64);
    EXPECT_TRUE(midi(kInternalIn, {{0xB0, 3, 1}}).empty());
    EXPECT_EQ(fileAfterShutdown(file), mapFile({}));
}

TEST_F(MidiLearn, ResetHeldWhileLearningTakesThePairBack)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << mapFile({{7, 20}, {8, 21}});
    startInRoot();
    learnAt = at(0);
    host->runBlock(64);
    resetAt = at(0, 10);  // the reset edge while learning is no clear
    midi(kInternalIn, {{0xB0, 8, 1}});
    EXPECT_EQ(led(11), 0.0f);
    // Captured 8 while map[8] is 21, not the external number 0: written again unchanged.
    EXPECT_EQ(fileAfterShutdown(file), mapFile({{7, 20}, {8, 21}}));

    // Learning again; reset held from sample 1 when the pair completes at sample 3: the entry
    // stored in that sample is taken back at once.
    learnAt = resetAt = 1 << 30;
    startInRoot();
    learnAt = at(1);
    host->runBlock(64);
    host->runBlock(64);
    resetAt = at(0, 1);
    host->queueMidi(module, kInternalIn, {0xB0, 7, 1}, 3);
    host->queueMidi(module, kExternalIn, {0xB0, 20, 1}, 3);
    host->runBlock(64);
    EXPECT_EQ(led(2), 1.0f);
    EXPECT_EQ(led(3), 0.0f);
    EXPECT_EQ(fileAfterShutdown(file), mapFile({{8, 21}}));
}

TEST_F(MidiLearn, FilePathFromAutoPathOrNone)
{
    fs::create_directories(root / "host");
    std::ofstream(root / "host" / "Controllers.txt", std::ios::binary) << mapFile({{1, 2}});
    start("", "ignored", true);
    EXPECT_EQ(midi(kInternalIn, {{0xB0, 1, 9}}), (std::vector<Sent>{{kToExternal, {0xB0, 2, 9}}}));
    resetAt = at(0, 1);
    host->runBlock(64);
    EXPECT_EQ(fileAfterShutdown(root / "host" / "Controllers.txt"), mapFile({}));
    EXPECT_FALSE(fs::exists(root / "Quorvane"));

    // No safe folder (a PathMac that expands to nothing, would run a command or names no absolute
    // folder, an ID that leaves its folder): no file is read or written anywhere.
    resetAt = 1 << 30;
    const fs::path cwd = fs::current_path();
    fs::create_directories(root / "cwd");
    fs::current_path(root / "cwd");
    for (const auto& [pathMac, id] : {std::pair<std::string, std::string>{"", "TAVRIN TWO"},
                                      {"0", "TAVRIN TWO"},
                                      {"b1", "TAVRIN TWO"},
                                      {"~tavrin-no-such-user/", "TAVRIN TWO"},
                                      {"$(touch " + root.string() + "/ran)/", "TAVRIN TWO"},
                                      {"`touch " + root.string() + "/ran`/", "TAVRIN TWO"},
                                      {root.string() + "/", "../escape"},
                                      {root.string() + "/", "a/b"}}) {
        start(pathMac, id);
        resetAt = at(0, 1);
        host->runBlock(64);
        resetAt = 1 << 30;
        host->shutdown();
    }
    fs::current_path(cwd);
    EXPECT_FALSE(fs::exists(root / "ran"));
    EXPECT_FALSE(fs::exists(root / "escape"));
    EXPECT_FALSE(fs::exists(root / "Quorvane"));
    EXPECT_TRUE(fs::is_empty(root / "cwd"));
}

// One session, offline and in real time with the worker held back over the graph start's read:
// while the map is read the LED and the learning follow the buttons at once, and what needs the
// map (every message's translation, the stored pair) waits; once read, the same messages go out
// in the same order, all in the first block after the map is in, each at its own offset or with
// the one before it, and the file holds the same map as offline.
TEST_F(MidiLearn, RealTimeSessionGivesWhatOfflineGives)
{
    struct Outcome {
        std::vector<Sent> midi;
        std::vector<std::int32_t> offsets;
        std::vector<std::int64_t> samples;
        std::vector<float> led;
        std::string file;
    };
    const auto session = [&](bool live) {
        const fs::path folder = root / (live ? "live" : "offline");
        const fs::path map = folder / "Quorvane" / "TAVRIN TWO" / "Controllers.txt";
        fs::create_directories(map.parent_path());
        std::ofstream(map, std::ios::binary) << mapFile({{3, 4}, {7, 20}, {9, 20}});
        file_worker::setOffline(!live);
        if (live)
            file_worker::hold();
        learnAt = 64 * 2 + 10;
        start(folder.string() + "/", "TAVRIN TWO", false, false, !live);
        Outcome out;
        const auto block = [&] {
            host->clearCalls();
            host->runBlock(64);
            for (const auto& call : host->callsOf(CallKind::SendPinValue, module)) {
                out.midi.push_back({call.pin, call.data});
                out.offsets.push_back(call.blockPosition);
                out.samples.push_back(call.sample);
            }
            const auto led = host->buffer(module, kLed);
            out.led.insert(out.led.end(), led.begin(), led.end());
        };
        host->queueMidi(module, kExternalIn, {0xB0, 20, 64}, 2);
        host->queueMidi(module, kExternalIn, {0x90, 60, 100}, 3);
        host->queueMidi(module, kInternalIn, {0xB0, 7, 5}, 4);
        host->queueMidi(module, kInternalIn, {0xB0, 3, 6}, 5);
        block();
        block();  // learning from sample 10
        host->queueMidi(module, kInternalIn, {0xB0, 8, 1}, 5);
        host->queueMidi(module, kExternalIn, {0xB0, 21, 2}, 6);  // completes the pair 8 -> 21
        host->queueMidi(module, kExternalIn, {0xB0, 21, 3}, 20);
        block();
        host->queueMidi(module, kExternalIn, {0x80, 60, 0}, 0);
        host->queueMidi(module, kInternalIn, {0xB0, 8, 4}, 1);
        block();
        if (live) {
            EXPECT_TRUE(out.midi.empty());
            EXPECT_EQ(readAll(map), mapFile({{3, 4}, {7, 20}, {9, 20}}));
            EXPECT_EQ(out.led[64 + 10], 1.0f);
            EXPECT_EQ(out.led[128 + 6], 0.0f);
            file_worker::release();
            file_worker::waitUntilIdle();
        }
        host->queueMidi(module, kExternalIn, {0xB0, 20, 7}, 0);
        for (int b = 0; b < 2; ++b)
            block();
        out.file = fileAfterShutdown(map);
        return out;
    };
    const Outcome offline = session(false);
    EXPECT_EQ(offline.midi, (std::vector<Sent>{{kToSynth, {0xB0, 7, 64}},
                                               {kToSynth, {0xB0, 9, 64}},
                                               {kToSynth, {0x90, 60, 100}},
                                               {kToExternal, {0xB0, 20, 5}},
                                               {kToExternal, {0xB0, 4, 6}},
                                               {kToSynth, {0xB0, 8, 3}},
                                               {kToSynth, {0x80, 60, 0}},
                                               {kToExternal, {0xB0, 21, 4}},
                                               {kToSynth, {0xB0, 7, 7}},
                                               {kToSynth, {0xB0, 9, 7}}}));
    EXPECT_EQ(offline.offsets, (std::vector<std::int32_t>{2, 2, 3, 4, 5, 20, 0, 1, 0, 0}));
    EXPECT_EQ(offline.file, mapFile({{3, 4}, {7, 20}, {8, 21}, {9, 20}}));
    const Outcome live = session(true);
    EXPECT_EQ(live.midi, offline.midi);
    // Four blocks held go out in the fifth, the message that came in it after them.
    EXPECT_EQ(live.offsets, (std::vector<std::int32_t>{2, 2, 3, 4, 5, 20, 20, 20, 20, 20}));
    for (std::size_t i = 0; i < live.samples.size(); ++i)
        EXPECT_EQ(live.samples[i] - live.offsets[i], 64 * 5) << i;
    EXPECT_EQ(live.led, offline.led);
    EXPECT_EQ(live.file, offline.file);
}

// A writer held back on its disk write, released by the test.
struct HeldWriter {
    static inline std::mutex mutex;
    static inline std::condition_variable changed;
    static inline bool released = false;
    static inline int writing = 0;

    HeldWriter()
    {
        released = false;
        learn_map::setSaveFunction(&hold);
    }
    ~HeldWriter()
    {
        release();
        learn_map::setSaveFunction(nullptr);
    }
    static bool hold(const learn_map::Location& where, const learn_map::Map& map)
    {
        std::unique_lock lock(mutex);
        ++writing;
        changed.notify_all();
        changed.wait(lock, [] { return released; });
        const bool saved = learn_map::save(where, map);
        --writing;
        changed.notify_all();
        return saved;
    }
    void waitUntilWriting()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [] { return writing > 0; });
    }
    void release()
    {
        std::unique_lock lock(mutex);
        released = true;
        changed.notify_all();
        changed.wait(lock, [] { return writing == 0; });
    }
};

// A graph start while the map just learnt is still being written loads that map, not the older
// file, in the instance that learnt it and in another one on the same file: the entry
// translates, and the next learn writes it back with the new one.
TEST_F(MidiLearn, GraphStartDuringAWriteLoadsTheLearntMap)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << mapFile({{3, 4}});
    realTime();
    startInRoot("TAVRIN TWO", false, true);
    file_worker::waitUntilIdle();
    host->runBlock(64);
    HeldWriter writer;
    learnPair(7, 20);
    writer.waitUntilWriting();
    EXPECT_EQ(readAll(file), mapFile({{3, 4}}));
    graphStart(module);
    graphStart(other);
    host->runBlock(64);
    for (const std::size_t m : {module, other}) {
        host->queueMidi(m, kInternalIn, {0xB0, 7, 9});
        host->queueMidi(m, kInternalIn, {0xB0, 3, 8});
    }
    host->clearCalls();
    host->runBlock(64);
    EXPECT_TRUE(sentMidi(*host, module).empty());  // waiting for the map
    writer.release();
    file_worker::waitUntilIdle();
    host->clearCalls();
    host->runBlock(64);
    for (const std::size_t m : {module, other})
        EXPECT_EQ(sentMidi(*host, m), (std::vector<Sent>{{kToExternal, {0xB0, 20, 9}}, {kToExternal, {0xB0, 4, 8}}}));

    // Written: a graph start now reads the file, which holds the entry, and a learn keeps it.
    graphStart(module);
    host->runBlock(64);
    file_worker::waitUntilIdle();
    learnPair(8, 21);
    EXPECT_EQ(fileAfterShutdown(file), mapFile({{3, 4}, {7, 20}, {8, 21}}));
}

// A write that fails (a full disk, a refused link) leaves the learnt map the one a graph start
// loads; the next write that works stores every entry. A map whose write failed is written at
// the end, when the last learn module goes.
TEST_F(MidiLearn, GraphStartAfterAFailedWriteKeepsTheLearntMap)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << mapFile({{3, 4}});
    startInRoot();
    static std::atomic<int> failedWrites;
    failedWrites = 0;
    learn_map::setSaveFunction([](const learn_map::Location&, const learn_map::Map&) {
        ++failedWrites;
        return false;
    });
    learnPair(7, 20);
    test_support::settle(*host);
    EXPECT_GE(failedWrites, 1);
    graphStart(module);
    host->runBlock(64);
    test_support::settle(*host);
    EXPECT_EQ(midi(kInternalIn, {{0xB0, 7, 9}, {0xB0, 3, 8}}),
              (std::vector<Sent>{{kToExternal, {0xB0, 20, 9}}, {kToExternal, {0xB0, 4, 8}}}));
    learn_map::setSaveFunction(nullptr);
    learnPair(8, 21);
    EXPECT_EQ(fileAfterShutdown(file), mapFile({{3, 4}, {7, 20}, {8, 21}}));

    learnAt = 1 << 30;
    startInRoot();
    failedWrites = 0;
    learn_map::setSaveFunction([](const learn_map::Location&, const learn_map::Map&) {
        ++failedWrites;
        return false;
    });
    learnPair(10, 30);
    test_support::settle(*host);
    EXPECT_GE(failedWrites, 1);
    learn_map::setSaveFunction(nullptr);
    EXPECT_EQ(fileAfterShutdown(file), mapFile({{3, 4}, {7, 20}, {8, 21}, {10, 30}}));
}

// A map learnt on one file whose write fails is kept for that file while the module goes on to
// another file and learns there: both files end up with their entries.
TEST_F(MidiLearn, AFailedWriteSurvivesAGraphStartOnAnotherFile)
{
    static std::atomic<bool> failing;
    failing = false;
    learn_map::setSaveFunction([](const learn_map::Location& where, const learn_map::Map& map) {
        return !failing && learn_map::save(where, map);
    });
    realTime();
    startInRoot();
    file_worker::waitUntilIdle();
    file_worker::hold();
    failing = true;
    learnPair(7, 20);  // stored on "TAVRIN TWO"; its write will fail
    host->queuePinValue(module, kId, textValue("B"));
    host->runBlock(64);
    graphStart(module);
    host->runBlock(64);
    learnPair(8, 21);  // waits for the read of "B"
    file_worker::release();
    test_support::settle(*host);
    EXPECT_FALSE(fs::exists(file));
    failing = false;
    graphStart(module);  // the next learn-map job writes the first file again
    host->runBlock(64);
    test_support::settle(*host);
    EXPECT_EQ(readAll(file), mapFile({{7, 20}}));
    EXPECT_EQ(fileAfterShutdown(root / "Quorvane" / "B" / "Controllers.txt"), mapFile({{8, 21}}));
}

// The host releases the module while its work is still queued (a store, a read, a pair learnt
// while the map was read): nothing is lost, nothing crashes.
TEST_F(MidiLearn, ReleasedWithWorkQueuedStillWritesEverything)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << mapFile({{3, 4}});
    realTime();
    startInRoot();
    file_worker::waitUntilIdle();
    file_worker::hold();
    learnPair(7, 20);
    graphStart(module);
    host->runBlock(64);
    learnPair(8, 21);
    std::thread releaser([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        file_worker::release();
    });
    const std::string written = fileAfterShutdown(file);
    releaser.join();
    EXPECT_EQ(written, mapFile({{3, 4}, {7, 20}, {8, 21}}));
}

// What went out in one block, with where in the block.
struct Out {
    Sent sent;
    std::int32_t offset;
    std::int64_t sample;
};

// Runs a block and adds what the module sent to out.
void runInto(Host& host, std::size_t module, std::vector<Out>& out)
{
    host.clearCalls();
    host.runBlock(64);
    for (const auto& call : host.callsOf(CallKind::SendPinValue, module))
        out.push_back({{call.pin, call.data}, call.blockPosition, call.sample});
}

// 600 controllers from the hardware while "Controllers.txt" is read at graph start: all 1200
// translations reach the synth, as offline, in order, all in the first block after the map is in,
// each at its own offset or with the one before it.
TEST_F(MidiLearn, SixHundredControllersDuringTheReadAllReachTheSynth)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << mapFile({{7, 20}, {9, 20}});
    const auto session = [&](bool live) {
        file_worker::setOffline(!live);
        if (live)
            file_worker::hold();
        start(root.string() + "/", "TAVRIN TWO", false, false, !live);
        std::vector<Out> out;
        for (int b = 0; b < 3; ++b) {
            for (int i = 0; i < 200; ++i)
                host->queueMidi(module, kExternalIn, {0xB0, 20, static_cast<uint8_t>((b * 200 + i) % 128)}, i * 64 / 200);
            runInto(*host, module, out);
        }
        file_worker::release();
        file_worker::waitUntilIdle();  // the next block takes the map
        for (int b = 0; b < 4; ++b)
            runInto(*host, module, out);
        host->shutdown();
        return out;
    };
    const std::vector<Out> offline = session(false);
    const std::vector<Out> live = session(true);
    ASSERT_EQ(offline.size(), 1200u);
    ASSERT_EQ(live.size(), offline.size());
    std::int32_t floor = 0;
    for (std::size_t i = 0; i < live.size(); ++i) {
        const uint8_t value = static_cast<uint8_t>(i / 2 % 128);
        ASSERT_EQ(offline[i].sent, (Sent{kToSynth, {0xB0, static_cast<uint8_t>(i % 2 ? 9 : 7), value}})) << i;
        ASSERT_EQ(live[i].sent, offline[i].sent) << i;
        floor = std::max(floor, offline[i].offset);
        ASSERT_EQ(live[i].offset, floor) << i;
        ASSERT_EQ(live[i].sample - live[i].offset, live[0].sample - live[0].offset) << i;  // one block
    }
}

// Far more MIDI than a slow read leaves room for: the first messages are kept and go out in
// order, each later one is refused by name in the log (never translated out of turn on the map
// at hand), and a pair learnt meanwhile still reaches the map and its file. The release of a
// note that went in before the flood still goes in, so no note sticks; a note that found no room
// is refused whole.
TEST_F(MidiLearn, AFloodBeyondTheRoomIsRefusedByNameButNoNoteSticks)
{
    struct Lines {
        static void sink(const char* line, void* context)
        {
            if (std::string_view(line).find("MIDI message held for the controller map") != std::string_view::npos)
                ++*static_cast<std::atomic<int>*>(context);
        }
    };
    std::atomic<int> refusals{0};
    platform::setLogSink(&Lines::sink, &refusals);
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << mapFile({{3, 4}});
    realTime();
    file_worker::hold();
    start(root.string() + "/", "TAVRIN TWO", false, false, false);
    std::vector<Out> out;
    host->queueMidi(module, kExternalIn, {0x91, 60, 100}, 0);
    for (int b = 0; b < 20; ++b) {
        for (int i = 0; i < 1000; ++i)
            host->queueMidi(module, kInternalIn, {0xB0, 3, static_cast<uint8_t>((b * 1000 + i) % 128)}, i * 64 / 1000);
        runInto(*host, module, out);
    }
    learnPair(7, 20);  // the log is full of MIDI: the edit still finds room
    host->queueMidi(module, kExternalIn, {0x90, 62, 100}, 1);  // no room: refused
    host->queueMidi(module, kExternalIn, {0x81, 60, 0}, 2);
    host->queueMidi(module, kExternalIn, {0x80, 62, 0}, 3);  // no room: refused
    runInto(*host, module, out);
    EXPECT_TRUE(out.empty());
    file_worker::release();
    file_worker::waitUntilIdle();
    runInto(*host, module, out);
    platform::setLogSink(nullptr, nullptr);
    ASSERT_GE(out.size(), 16000u);
    EXPECT_LT(out.size(), 20000u);
    EXPECT_EQ(out.front().sent, (Sent{kToSynth, {0x91, 60, 100}}));
    EXPECT_EQ(out.back().sent, (Sent{kToSynth, {0x81, 60, 0}}));
    for (std::size_t i = 1; i + 1 < out.size(); ++i)
        ASSERT_EQ(out[i].sent, (Sent{kToExternal, {0xB0, 4, static_cast<uint8_t>((i - 1) % 128)}})) << i;
    EXPECT_GE(refusals.load(), 1);
    EXPECT_EQ(midi(kInternalIn, {{0xB0, 7, 9}, {0xB0, 3, 8}}),
              (std::vector<Sent>{{kToExternal, {0xB0, 20, 9}}, {kToExternal, {0xB0, 4, 8}}}));
    EXPECT_EQ(fileAfterShutdown(file), mapFile({{3, 4}, {7, 20}}));
}

// A pair learnt translates from the sample after it completes, in the same block, offline and in
// real time: the audio side changes its own map and the worker only writes the file.
TEST_F(MidiLearn, APairJustLearntTranslatesInTheSameBlock)
{
    for (const bool live : {false, true}) {
        file_worker::setOffline(!live);
        startInRoot();
        learnAt = at(0);
        host->runBlock(64);
        host->queueMidi(module, kInternalIn, {0xB0, 7, 1}, 5);
        host->queueMidi(module, kExternalIn, {0xB0, 20, 2}, 5);  // completes 7 -> 20
        host->queueMidi(module, kInternalIn, {0xB0, 7, 9}, 6);
        host->queueMidi(module, kExternalIn, {0xB0, 20, 8}, 31);
        std::vector<Out> out;
        runInto(*host, module, out);
        ASSERT_EQ(out.size(), 2u) << live;
        EXPECT_EQ(out[0].sent, (Sent{kToExternal, {0xB0, 20, 9}}));
        EXPECT_EQ(out[0].offset, 6);
        EXPECT_EQ(out[1].sent, (Sent{kToSynth, {0xB0, 7, 8}}));
        EXPECT_EQ(out[1].offset, 31);
        EXPECT_EQ(fileAfterShutdown(file), mapFile({{7, 20}})) << live;
        fs::remove(file);
    }
}

// Twenty blocks in a row that each store a pair while the disk holds every write, then a pair
// learnt by another instance on the same file: the file ends with the other instance's map, as
// offline, because each block's edits take their place in the order in the block they are made.
TEST_F(MidiLearn, EditsTakeTheirPlaceWhileTheDiskHoldsEveryWrite)
{
    for (const bool live : {false, true}) {
        file_worker::setOffline(!live);
        startInRoot("TAVRIN TWO", false, true);
        if (live)
            file_worker::hold();
        const std::int64_t from = host->samplesRun();
        host->setInputFunction(module, kLearn, [from](std::int64_t s) {
            return s >= from && s < from + 64 * 20 && s % 64 < 10 ? 1.0f : 0.0f;
        });
        for (int b = 0; b < 20; ++b) {
            host->queueMidi(module, kInternalIn, {0xB0, static_cast<uint8_t>(b + 1), 1}, 5);
            host->queueMidi(module, kExternalIn, {0xB0, static_cast<uint8_t>(b + 30), 1}, 5);
            host->runBlock(64);
        }
        const std::int64_t last = host->samplesRun();
        host->setInputFunction(other, kLearn, [last](std::int64_t s) { return s >= last && s < last + 10 ? 1.0f : 0.0f; });
        host->queueMidi(other, kInternalIn, {0xB0, 100, 1}, 5);
        host->queueMidi(other, kExternalIn, {0xB0, 101, 1}, 5);
        host->runBlock(64);
        if (live)
            file_worker::release();
        EXPECT_EQ(fileAfterShutdown(file), mapFile({{100, 101}})) << live;
        fs::remove(file);
    }
}

// A read that takes 40 blocks, with a message in each: all 40 leave in the first block after the
// map is in, in order, then the one that comes in that block; from the next block on each message
// leaves in its own block at its own offset, as offline.
TEST_F(MidiLearn, MidiHeldOverASlowReadCatchesUpInOneBlock)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << mapFile({{3, 4}});
    realTime();
    file_worker::hold();
    start(root.string() + "/", "TAVRIN TWO", false, false, false);
    std::vector<Out> out;
    std::vector<std::int32_t> offsets;
    const auto block = [&](int i) {
        offsets.push_back(i * 23 % 64);
        host->queueMidi(module, kInternalIn, {0xB0, 3, static_cast<uint8_t>(i)}, offsets.back());
        runInto(*host, module, out);
    };
    for (int i = 0; i < 40; ++i)
        block(i);
    EXPECT_TRUE(out.empty());
    file_worker::release();
    file_worker::waitUntilIdle();
    const std::int64_t caughtUp = host->samplesRun();
    for (int i = 40; i < 44; ++i)
        block(i);
    ASSERT_EQ(out.size(), 44u);
    std::int32_t floor = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].sent, (Sent{kToExternal, {0xB0, 4, static_cast<uint8_t>(i)}})) << i;
        floor = i <= 40 ? std::max(floor, offsets[i]) : offsets[i];
        EXPECT_EQ(out[i].offset, floor) << i;
        EXPECT_EQ(out[i].sample - out[i].offset, caughtUp + 64 * static_cast<std::int64_t>(i <= 40 ? 0 : i - 40)) << i;
    }
}

// The host quits (exit()) while a slow write runs and another store waits behind it, an earlier
// failed write still pending: both run while the process exits, find the bundle's table of maps
// not yet on disk alive, and the file gets every entry. (Under AddressSanitizer a table destroyed
// before the worker's last jobs shows as a use after free.)
TEST(MidiLearnExit, AStoreQueuedAtExitIsWritten)
{
    const test_support::TemporaryFolder temporary{"tavrin-learn-exit"};
    const fs::path file = temporary.path() / "Quorvane" / "TAVRIN TWO" / "Controllers.txt";
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << mapFile({{3, 4}});
    EXPECT_EXIT(
        {
            file_worker::setOffline(false);
            // Held as a host's global object: never released.
            Host& host = *new Host(test_support::factory(), test_support::config64());
            const std::size_t module = test_support::add(host, "QV_MidiLearnModule");
            host.setInitialValue(module, Side::Dsp, kId, textValue("TAVRIN TWO"));
            host.setInitialValue(module, Side::Dsp, kPathMac, textValue(temporary.path().string() + "/"));
            static std::int64_t learnAt = 1 << 30;
            host.setInputFunction(module, kLearn, [](std::int64_t s) { return s >= learnAt && s < learnAt + 64 ? 1.0f : 0.0f; });
            host.runBlock(64);
            test_support::settle(host);
            const auto learn = [&](uint8_t internal, uint8_t external) {
                learnAt = host.samplesRun();
                host.runBlock(64);
                host.queueMidi(module, kInternalIn, {0xB0, internal, 1}, 5);
                host.queueMidi(module, kExternalIn, {0xB0, external, 1}, 5);
                host.runBlock(64);
            };
            learn_map::setSaveFunction([](const learn_map::Location&, const learn_map::Map&) { return false; });
            learn(7, 20);
            test_support::settle(host);  // written in vain: pending
            learn_map::setSaveFunction([](const learn_map::Location& where, const learn_map::Map& map) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                return learn_map::save(where, map);
            });
            learn(8, 21);  // written slowly
            learn(9, 22);  // queued behind it
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(readAll(file), mapFile({{3, 4}, {7, 20}, {8, 21}, {9, 22}}));
}

// The bundle loaded, a learn module reading its map and storing a pair, the bundle unloaded:
// the round frees as many allocations as it makes, as one with a module without file work does
// (where a sanitizer counts the loader's own, those show in both). The maps not yet on disk once
// took a table on the heap that no unload gave back.
TEST(MidiLearnBundle, UnloadingAfterALearnMapLeavesNothingOnTheHeap)
{
    const test_support::TemporaryFolder temporary{"tavrin-learn-unload"};
    const char* mode = std::getenv("TAVRIN_OFFLINE");
    const std::string wasMode = mode ? mode : "";
    ::setenv("TAVRIN_OFFLINE", "1", 1);  // the bundle reads it when it loads: no thread to count
    // The fewest allocations one round of load, play and unload leaves unfreed.
    const auto leftByRound = [&](const char* identifier) {
        std::int64_t least = INT64_MAX;
        for (int i = 0; i < 4; ++i) {
            test_support::AudioThreadAudit audit;
            {
                std::string error;
                auto bundle = tav_host::Bundle::load(TAVRIN_BUNDLE_PATH, error);
                EXPECT_TRUE(bundle) << error;
                if (!bundle)
                    return least;
                Host host(bundle->factory(), test_support::config64());
                const std::size_t module = test_support::add(host, identifier);
                host.setInitialValue(module, Side::Dsp, kId, textValue("TAVRIN TWO"));
                host.setInitialValue(module, Side::Dsp, kPathMac, textValue(temporary.path().string() + "/"));
                host.setInputFunction(module, kLearn, [](std::int64_t s) { return s < 64 ? 1.0f : 0.0f; });
                host.runBlock(64);
                host.queueMidi(module, kInternalIn, {0xB0, 7, 1}, 5);
                host.queueMidi(module, kExternalIn, {0xB0, 20, 1}, 5);
                host.runBlock(64);
                host.shutdown();
            }
            const auto& seen = audit.report();
            if (i > 0)  // the first round makes what the process keeps anyway
                least = std::min(least, static_cast<std::int64_t>(seen.count(test_support::AuditKind::Allocation)) -
                                            static_cast<std::int64_t>(seen.count(test_support::AuditKind::Free)));
        }
        return least;
    };
    const std::int64_t plain = leftByRound("QV_MidiThroughPasser");
    const std::int64_t learn = leftByRound("QV_MidiLearnModule");
    if (wasMode.empty())
        ::unsetenv("TAVRIN_OFFLINE");
    else
        ::setenv("TAVRIN_OFFLINE", wasMode.c_str(), 1);
    EXPECT_LE(learn, plain);
    EXPECT_EQ(readAll(temporary.path() / "Quorvane" / "TAVRIN TWO" / "Controllers.txt"), mapFile({{7, 20}}));
}

// Played like a musician on both inputs, notes pass to the synth and back to the controller
// unchanged, so every note-on sent has had its note-off once every key is up. No map is found and
// no button is pressed, so no file is written.
TEST(MidiLearnPerformance, EveryNoteOnEndsOnceAllKeysAreReleased)
{
    const auto stage = note_ledger::Stage("QV_MidiLearnModule")
                           .midi({kExternalIn, kInternalIn})
                           .initially(kAutoPath, boolValue(false))
                           .initially(kPathMac, textValue("/nonexistent-tavrin/"))
                           .thenQuiet(12);
    EXPECT_EQ(note_ledger::strandedNotes(stage, 10, 100), "");
}

} // namespace
