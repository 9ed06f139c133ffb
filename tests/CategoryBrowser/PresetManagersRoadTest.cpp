// The road across the preset managers: a list-pipe, a list-file and a category manager on one
// host, one shared preset block and one set of files, in seeded random sessions run in real time
// with the file worker slowed at random and offline, compared: every file byte for byte, the
// block's 256 values, and each manager's messages to its interface half and MIDI out in order.
// An end-to-end test across the preset store and the category browser: named after the road it
// drives, not after one module.
//
// What a session draws: first a fixed crossing (the category manager saves a preset the list-pipe
// manager loads, the list-file manager saves one the category manager loads, the list-pipe
// manager saves the bank the category manager imports), then 80 random steps, each for one of
// the three managers: blocks, knob turns by the block probe (some to the value a load writes
// there), program changes, selections, list commands with their paths (load/save preset on files
// of the category library, load/save bank on one bank file), the list managers' messages and
// graph starts, and the category manager's clicks, folders, pages, search text, favourites,
// deletes and saves. The host never waits for the disk.
#include "CategoryBrowser/PrescatMessages.h"
#include "CategoryBrowser/PrescatTestSupport.h"
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/ListManagerMessages.h"
#include "PresetStore/ManagerTestSupport.h"
#include "FileWorker.h"
#include "support/Settle.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace manager_test;

constexpr std::size_t kPipe = 0, kFile = 1, kCat = 2;  // the managers, in ManagerHost order

// One step of a session.
struct Step {
    enum Kind { Blocks, Turn, ProgramChange, Message, Command, GraphStart, CatInput, Mark } kind = Blocks;
    std::size_t manager = kPipe;
    int a = 0;           // blocks, slot, program, message id, command id, random state
    float value = 0;     // knob value; for Mark the value offline must hold in slot a
    std::string file{};  // a command's file, relative to the shared folder
};

// Preset files in the category library's "Presets" folder, which all three managers load and save.
const std::vector<std::string> kPresetFiles{"Lead One #le.tavpreset", "Cross 0.tavpreset", "Cross 1.tavpreset", "none.tavpreset"};
const std::vector<std::string> kBankFiles{"x.tavbank", "y.tavbank", "none.tavbank"};
const std::string kPresets = "Quorvane/TAVRIN TWO/Presetbase/Presets/";

Step command(std::size_t manager, int id, const std::string& file) { return {Step::Command, manager, id, 0.0f, file}; }

Step listCommand(std::mt19937& random, std::size_t manager)
{
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
    if (pick(2) == 0)
        return command(manager, pick(2) ? list_message::kLoadPreset : list_message::kSavePreset,
                       kPresets + kPresetFiles[static_cast<std::size_t>(pick(4))]);
    return command(manager, pick(3) ? list_message::kLoadBank : list_message::kSaveBank,
                   "files/" + kBankFiles[static_cast<std::size_t>(pick(3))]);
}

// The fixed start: one manager's save read back by another's load, each checked offline.
std::vector<Step> crossing()
{
    return {{Step::Message, kPipe, list_message::kInterfaceStarted},
            {Step::Message, kCat, prescat::kInterfaceStarted},
            {Step::Blocks, kPipe, 20},
            {Step::Turn, kPipe, 0, 0.375f},
            command(kCat, prescat::kSavePreset, kPresets + "Cross 0.tavpreset"),
            {Step::Blocks, kPipe, 8},
            {Step::Turn, kPipe, 0, 0.625f},
            command(kPipe, list_message::kLoadPreset, kPresets + "Cross 0.tavpreset"),
            {Step::Blocks, kPipe, 2},
            {Step::Mark, kPipe, 0, 0.375f},
            {Step::Turn, kPipe, 1, 0.875f},
            command(kFile, list_message::kSavePreset, kPresets + "Cross 1.tavpreset"),
            {Step::Blocks, kPipe, 2},
            {Step::Turn, kPipe, 1, 0.125f},
            command(kCat, prescat::kLoadPresetFile, kPresets + "Cross 1.tavpreset"),
            {Step::Blocks, kPipe, 2},
            {Step::Mark, kPipe, 1, 0.875f},
            command(kPipe, list_message::kSaveBank, "files/x.tavbank"),
            command(kCat, prescat::kLoadBank, "files/x.tavbank"),
            {Step::Blocks, kPipe, 2}};
}

// A category manager's step: its own list commands on the shared files, or any other input.
Step catStep(std::mt19937& random)
{
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
    switch (pick(4)) {
    case 0:
        return command(kCat, pick(2) ? prescat::kLoadPresetFile : prescat::kSavePreset, kPresets + kPresetFiles[static_cast<std::size_t>(pick(4))]);
    case 1: return command(kCat, prescat::kLoadBank, "files/" + kBankFiles[static_cast<std::size_t>(pick(3))]);
    default: return {Step::CatInput, kCat, static_cast<int>(random())};
    }
}

std::vector<Step> session(uint32_t seed)
{
    std::mt19937 random(seed);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
    std::vector<Step> steps = crossing();
    static const int kMessages[] = {list_message::kFixPreset, list_message::kInterfaceStarted, list_message::kStopWaiting,
                                    list_message::kNameList};
    for (int i = 0; i < 80; ++i) {
        const std::size_t manager = static_cast<std::size_t>(pick(3));
        switch (pick(8)) {
        case 0: steps.push_back({Step::Blocks, manager, 1 + pick(4)}); break;
        case 1: steps.push_back({Step::Turn, manager, pick(8), static_cast<float>(pick(1000)) / 1000.0f}); break;
        case 2:  // to the value the library's presets give the slot (often held already)
            steps.push_back({Step::Turn, manager, 1 + pick(40)});
            steps.back().value = 0.01f * static_cast<float>(steps.back().a % 50);
            break;
        case 3: steps.push_back({Step::ProgramChange, manager, pick(8)}); break;
        default:
            if (manager == kCat)
                steps.push_back(catStep(random));
            else if (pick(3) == 0)
                steps.push_back({Step::Message, manager, pick(2) ? pick(8) : kMessages[pick(4)]});
            else if (pick(8) == 0)
                steps.push_back({Step::GraphStart, kFile});
            else
                steps.push_back(listCommand(random, manager));
            break;
        }
    }
    return steps;
}

struct Result {
    std::vector<std::vector<std::string>> outputs;
    std::array<float, 256> block{};
    std::map<std::string, std::string> files;  // below the shared folder, but the host's and the Trash
};

void prepare(const fs::path& root)
{
    const fs::path files = root / "files", folder = root / "Quorvane" / "TAVRIN ONE";
    prescat_test::writeSessionLibrary(root / "Quorvane" / "TAVRIN TWO" / "Presetbase", files / "import.tavbank", 12);
    writeBytes(files / "x.tavbank", bankText(numberedNames("Pad "), [](int p, int k) { return static_cast<float>(p - k) * 0.25f; }));
    writeBytes(files / "y.tavbank", bankText(numberedNames("N")).substr(0, 3203) + ",9;\r\n");
    writeBytes(folder / "Presetbase" / "DEFAULTBANK.tavbank",
               bankText(paddedNames("Start"), [](int p, int k) { return static_cast<float>(p + k) * 0.125f; }));
    writeBytes(folder / "List.txt", listWith({{1, "One"}, {3, "Th:ree"}}) + "\r\n");
}

struct Session {
    ManagerHost& rig;
    PathWrites& paths;
    const fs::path& root;
    bool realTime;
    int names = 0;

    void command(const Step& step, std::size_t manager)
    {
        const std::string path = (root / step.file).string();
        if (step.manager == kFile)
            paths.write(root / "Quorvane" / "TAVRIN ONE", path);
        else
            rig.post(manager, list_message::kPath, path);  // the same id in both families
        rig.post(manager, step.a);
    }
    void take(const Step& step)
    {
        const std::size_t manager = rig.managers[step.manager];
        switch (step.kind) {
        case Step::Blocks:
            for (int b = 0; b < step.a; ++b)
                rig.host.runBlock(64);
            return;
        case Step::Turn: rig.block().set(step.a, step.value); return;
        case Step::Mark:
            if (!realTime) {
                EXPECT_EQ(rig.block().get(step.a), step.value) << "the crossing, slot " << step.a;
            }
            return;
        case Step::ProgramChange:
            rig.host.queueMidi(manager, 0, tav_host::midiValue({static_cast<std::uint8_t>(step.manager == kCat ? 0xC0 : 0xC2), static_cast<std::uint8_t>(step.a), 0}));
            rig.host.runBlock(64);
            return;
        case Step::GraphStart:
            rig.host.queueRawEvents(manager, {{.eventType = mpapi::MP_EVENT_GRAPH_START}});
            rig.host.runBlock(64);
            return;
        case Step::Message:
            if (step.a == list_message::kNameList && step.manager == kPipe)
                rig.post(manager, step.a, listWith({{names % 128, "Name" + std::to_string(names)}})), ++names;
            else
                rig.post(manager, step.a);
            return;
        case Step::Command: command(step, manager); return;
        case Step::CatInput: catInput(step, manager); return;
        }
    }
    void catInput(const Step& step, std::size_t manager)
    {
        uint32_t state = static_cast<uint32_t>(step.a);
        const auto next = [&](uint32_t n) {
            state = state * 1664525u + 1013904223u;
            return (state >> 8) % n;
        };
        int saves = 1;  // never time order: saves within one second of each other would share a place
        const prescat_test::PrescatRig cat{&rig.host, manager, root / "Quorvane" / "TAVRIN TWO" / "Presetbase"};
        cat.randomInput(next, saves);
        rig.host.drain();
    }
};

// The bytes with the session's own folder (Path.txt names it) as "ROOT".
std::string withoutRoot(std::string bytes, const std::string& root)
{
    for (std::size_t at; (at = bytes.find(root)) != std::string::npos;)
        bytes.replace(at, root.size(), "ROOT");
    return bytes;
}

// Runs the steps. Real time: at the end blocks until every job is done, 1.5 s of audio and again
// until done, counted into endBlocks; offline: the same number of blocks, one timeline for both.
Result run(const std::vector<Step>& steps, bool realTime, uint32_t seed, int& endBlocks)
{
    file_worker::setOffline(!realTime);
    if (realTime)
        file_worker::slowDown(1000, seed);
    test_support::TemporarySharedFolder shared;
    const fs::path root = shared.path();
    ::setenv("XDG_DATA_HOME", (root / "xdg").c_str(), 1);
    prepare(root);
    Result result;
    {
        PathWrites paths;
        ManagerHost rig(root, {"QV_PatchManagerListpipe", "QV_PatchManagerListfile", "QV_PatchManagerPrescat"});
        Session session{rig, paths, root, realTime};
        for (const Step& step : steps) {
            session.take(step);
            rig.record(result.outputs);
        }
        if (realTime) {
            endBlocks = test_support::settle(rig.host);
            for (int b = 0; b < 24; ++b, ++endBlocks)
                rig.host.runBlock(64);
            endBlocks += test_support::settle(rig.host);
        } else {
            for (int b = 0; b < endBlocks; ++b)
                rig.host.runBlock(64);
        }
        rig.record(result.outputs);
        for (int k = 0; k < 256; ++k)
            result.block[static_cast<std::size_t>(k)] = rig.block().get(k);
        rig.host.shutdown();
        EXPECT_TRUE(rig.host.faults().empty());
    }
    file_worker::slowDown(0);
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && !fs::relative(entry.path(), root).string().starts_with("host/") &&
            !fs::relative(entry.path(), root).string().starts_with("xdg/"))
            result.files[fs::relative(entry.path(), root).string()] = withoutRoot(readBytes(entry.path()), root.string());
    ::unsetenv("XDG_DATA_HOME");
    return result;
}

class PresetManagersRoadTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        file_worker::slowDown(0);
        file_worker::setOffline(wasOffline_);
    }

    void check(uint32_t seed)
    {
        const std::vector<Step> steps = session(seed);
        int endBlocks = 0;
        const Result realTime = run(steps, true, seed, endBlocks);
        const Result offline = run(steps, false, seed, endBlocks);
        ASSERT_EQ(realTime.outputs.size(), 3u);
        ASSERT_EQ(offline.outputs.size(), 3u);
        EXPECT_TRUE(sameStream(realTime.outputs[kPipe], offline.outputs[kPipe])) << "list-pipe";
        EXPECT_TRUE(sameStream(realTime.outputs[kFile], offline.outputs[kFile])) << "list-file";
        EXPECT_TRUE(sameStream(realTime.outputs[kCat], offline.outputs[kCat])) << "category";
        EXPECT_EQ(realTime.block, offline.block);
        EXPECT_EQ(realTime.files.size(), offline.files.size());
        for (const auto& [name, bytes] : offline.files)
            EXPECT_TRUE(realTime.files.count(name) && realTime.files.at(name) == bytes) << name;
        // The crossing's files are there, and every manager answered.
        EXPECT_TRUE(offline.files.count(kPresets + "Cross 0.tavpreset") && offline.files.count(kPresets + "Cross 1.tavpreset"));
        for (const auto& outputs : offline.outputs)
            EXPECT_GT(outputs.size(), 10u);
    }

    const bool wasOffline_ = file_worker::offline();
};

TEST_F(PresetManagersRoadTest, Seed1GivesInRealTimeWhatItGivesOffline) { check(1); }
TEST_F(PresetManagersRoadTest, Seed2GivesInRealTimeWhatItGivesOffline) { check(2); }
TEST_F(PresetManagersRoadTest, Seed3GivesInRealTimeWhatItGivesOffline) { check(3); }

} // namespace
