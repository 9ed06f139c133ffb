// Two list managers (list-pipe and list-file) on one shared preset block and one set of preset and
// bank files, in seeded random sessions, run in real time with the file worker slowed at random and
// offline, compared: the same files byte for byte, the same block and each manager's messages and
// MIDI in the order its interface half and the synth see them. A session mixes every input the
// managers take (program changes, selects, file and list commands with their paths, stores, name
// lists, graph starts) with knob turns another module writes between blocks, some to the value a
// load or a selection writes there, on the timeline of a host that does not wait for the disk. The list-file manager's
// paths reach Path.txt through the worker, as its interface half writes them.
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/ManagerTestSupport.h"
#include "support/Settle.h"

#include "FileWorker.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace manager_test;

constexpr std::size_t kPipe = 0, kFile = 1;  // the managers, in ManagerHost order

// One step of a session.
struct Step {
    enum Kind { Blocks, Turn, SameTurn, ProgramChange, Message, Command, GraphStart } kind = Blocks;
    std::size_t manager = kPipe;
    int a = 0;           // blocks, slot, program, message id, command id
    float value = 0;     // knob value
    std::string file{};  // a command's file
};

const std::vector<std::string> kPresetFiles{"a.tavpreset", "b.tavpreset", "c.tavpreset", "none.tavpreset"};
const std::vector<std::string> kBankFiles{"x.tavbank", "y.tavbank", "none.tavbank"};
const std::vector<std::string> kFiles{"a.tavpreset", "b.tavpreset", "c.tavpreset", "x.tavbank", "y.tavbank"};

Step commandStep(std::mt19937& random, std::size_t manager)
{
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
    const bool preset = pick(2) == 0;
    const int command = preset ? (pick(2) ? list_message::kLoadPreset : list_message::kSavePreset)
                               : (pick(3) ? list_message::kLoadBank : list_message::kSaveBank);
    const std::string file = preset ? kPresetFiles[static_cast<std::size_t>(pick(4))] : kBankFiles[static_cast<std::size_t>(pick(3))];
    return {Step::Command, manager, command, 0.0f, file};
}

std::vector<Step> session(uint32_t seed)
{
    std::mt19937 random(seed);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
    std::vector<Step> steps{{Step::Message, kPipe, list_message::kInterfaceStarted}, {Step::Blocks, kPipe, 20}};
    static const int kMessages[] = {list_message::kFixPreset, list_message::kInterfaceStarted, list_message::kStopWaiting,
                                    list_message::kNameList};
    for (int i = 0; i < 160; ++i) {
        const std::size_t manager = pick(2) == 0 ? kPipe : kFile;
        switch (pick(10)) {
        case 0:
            steps.push_back({Step::Blocks, manager, 1 + pick(3)});
            break;
        case 1:
            steps.push_back({Step::Turn, manager, pick(8), static_cast<float>(pick(1000)) / 1000.0f});
            break;
        case 2:
            steps.push_back({Step::SameTurn, manager, pick(8)});
            steps.back().value = pick(2) ? 0.0f : static_cast<float>(-steps.back().a) * 0.25f;
            break;
        case 3:
            steps.push_back({Step::ProgramChange, manager, pick(8)});
            break;
        case 4:
            steps.push_back({Step::Message, manager, pick(8)});
            break;
        case 5:
            steps.push_back({Step::Message, manager, kMessages[pick(4)]});
            break;
        case 6:
        case 7:
            steps.push_back(commandStep(random, manager));
            break;
        case 8:
            steps.push_back({Step::GraphStart, kFile});
            break;
        default:
            steps.push_back({Step::Turn, manager, 8 + pick(200), static_cast<float>(pick(1000)) / 100.0f});
            break;
        }
    }
    return steps;
}

struct Result {
    std::vector<std::vector<std::string>> outputs;
    std::array<float, 256> block{};
    std::map<std::string, std::string> files;
};

void prepare(const fs::path& root)
{
    const fs::path files = root / "files", folder = root / "Quorvane" / "TAVRIN ONE";
    writeBytes(files / "a.tavpreset", presetText("Lead One", {}));
    writeBytes(files / "b.tavpreset", ",Half;\r\n,  1.5000000;\r\n,  2.5000000;\r\n");
    writeBytes(files / "x.tavbank", bankText(numberedNames("Pad "), [](int p, int k) { return static_cast<float>(p - k) * 0.25f; }));
    writeBytes(files / "y.tavbank", bankText(numberedNames("N")).substr(0, 3203) + ",9;\r\n");
    writeBytes(folder / "Presetbase" / "DEFAULTBANK.tavbank",
               bankText(paddedNames("Start"), [](int p, int k) { return static_cast<float>(p + k) * 0.125f; }));
    writeBytes(folder / "List.txt", listWith({{1, "One"}, {3, "Th:ree"}}) + "\r\n");
}

// One step on the rig.
void take(ManagerHost& rig, PathWrites& paths, const fs::path& root, const Step& step, int& names)
{
    const std::size_t manager = rig.managers[step.manager];
    switch (step.kind) {
    case Step::Blocks:
        for (int b = 0; b < step.a; ++b)
            rig.host.runBlock(64);
        return;
    case Step::Turn:
        rig.block().set(step.a, step.value);
        return;
    case Step::SameTurn:  // to the value a load or a selection writes there (x's preset 0, a's zeros)
        rig.block().set(step.a, step.value);
        return;
    case Step::ProgramChange:
        rig.host.queueMidi(manager, 0, tav_host::midiValue({0xC2, static_cast<std::uint8_t>(step.a), 0}));
        rig.host.runBlock(64);
        return;
    case Step::GraphStart:
        rig.host.queueRawEvents(manager, {{.eventType = mpapi::MP_EVENT_GRAPH_START}});
        rig.host.runBlock(64);
        return;
    case Step::Message:
        if (step.a == list_message::kNameList && step.manager == kPipe) {
            rig.post(manager, step.a, listWith({{names % 128, "Name" + std::to_string(names)}}));
            ++names;
        } else {
            rig.post(manager, step.a);
        }
        return;
    case Step::Command:
        if (step.manager == kFile)
            paths.write(root / "Quorvane" / "TAVRIN ONE", (root / "files" / step.file).string());
        else
            rig.post(manager, list_message::kPath, (root / "files" / step.file).string());
        rig.post(manager, step.a);
        return;
    }
}

// Runs the steps. Real time: at the end the blocks until every job is done, counted into
// settleBlocks; offline: the same number of blocks, so both runs share one timeline.
Result run(const std::vector<Step>& steps, bool realTime, uint32_t seed, int& settleBlocks)
{
    file_worker::setOffline(!realTime);
    if (realTime)
        file_worker::slowDown(300, seed);
    test_support::TemporarySharedFolder shared;
    const fs::path root = shared.path();
    prepare(root);
    Result result;
    {
        PathWrites paths;
        ManagerHost rig(root, {"QV_PatchManagerListpipe", "QV_PatchManagerListfile"});
        int names = 0;
        for (const Step& step : steps) {
            take(rig, paths, root, step, names);
            rig.record(result.outputs);
        }
        if (realTime)
            settleBlocks = test_support::settle(rig.host);
        else
            for (int b = 0; b < settleBlocks; ++b)
                rig.host.runBlock(64);
        rig.record(result.outputs);
        for (int k = 0; k < 256; ++k)
            result.block[static_cast<std::size_t>(k)] = rig.block().get(k);
        rig.host.shutdown();
        EXPECT_TRUE(rig.host.faults().empty());
    }
    for (const std::string& name : kFiles)
        result.files[name] = readBytes(root / "files" / name);
    result.files["List.txt"] = readBytes(root / "Quorvane" / "TAVRIN ONE" / "List.txt");
    file_worker::slowDown(0);
    return result;
}

class ListManagerRealTimeTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        file_worker::slowDown(0);
        file_worker::setOffline(wasOffline_);
    }
    const bool wasOffline_ = file_worker::offline();
};

TEST_F(ListManagerRealTimeTest, TwoManagersOnOneBlockGiveWhatOfflineGives)
{
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const std::vector<Step> steps = session(seed);
        int settleBlocks = 0;
        const Result realTime = run(steps, true, seed, settleBlocks);
        const Result offline = run(steps, false, seed, settleBlocks);
        ASSERT_EQ(realTime.outputs.size(), 2u);
        ASSERT_EQ(offline.outputs.size(), 2u);
        EXPECT_TRUE(sameStream(realTime.outputs[kPipe], offline.outputs[kPipe])) << "list-pipe";
        EXPECT_TRUE(sameStream(realTime.outputs[kFile], offline.outputs[kFile])) << "list-file";
        EXPECT_EQ(realTime.block, offline.block);
        for (const auto& [name, bytes] : offline.files)
            EXPECT_TRUE(realTime.files.at(name) == bytes) << name;
        // The sessions reach the disk, both interface halves and the synth.
        EXPECT_GT(offline.outputs[kPipe].size(), 1000u);
        EXPECT_GT(offline.outputs[kFile].size(), 20u);
    }
}

} // namespace
