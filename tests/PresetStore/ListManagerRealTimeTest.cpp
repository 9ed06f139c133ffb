// Both list managers in seeded random sessions, run in real time with the file worker slowed at
// random and offline, compared: the same files byte for byte, the same shared preset block and
// the same messages and MIDI in the order the interface half and the synth see them. A session
// mixes every input the managers take (program changes, selects, file and list commands with
// their paths, stores, name lists, graph starts) with knob turns that another module writes into
// the shared block between blocks, on the timeline of a host that does not wait for the disk.
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
using tav_host::Bytes;
using tav_host::CallKind;

enum Pin { kMidiIn, kMidiOut, kId, kAutoPath, kPathPc, kPathMac, kAudioOut };

// One step of a session.
struct Step {
    enum Kind { Blocks, Turn, ProgramChange, Message, Command, Sync } kind = Blocks;
    int a = 0;       // blocks, slot, program, message id, command id
    float value = 0; // knob value
    std::string file{};  // a command's file
};

const std::vector<std::string> kPresetFiles{"a.tavpreset", "b.tavpreset", "c.tavpreset", "none.tavpreset"};
const std::vector<std::string> kBankFiles{"x.tavbank", "y.tavbank", "none.tavbank"};

std::vector<Step> session(uint32_t seed, bool pathFile)
{
    std::mt19937 random(seed);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
    std::vector<Step> steps{{Step::Message, list_message::kInterfaceStarted}, {Step::Blocks, 20}};
    for (int i = 0; i < 140; ++i) {
        switch (pick(9)) {
        case 0:
            steps.push_back({Step::Blocks, 1 + pick(3)});
            break;
        case 1:
            steps.push_back({Step::Turn, pick(8), static_cast<float>(pick(1000)) / 1000.0f});
            break;
        case 2:
            steps.push_back({Step::ProgramChange, pick(8)});
            break;
        case 3:
            steps.push_back({Step::Message, pick(8)});
            break;
        case 4: {
            static const int kMessages[] = {list_message::kFixPreset, list_message::kInterfaceStarted, list_message::kStopWaiting,
                                            list_message::kNameList};
            steps.push_back({Step::Message, kMessages[pick(4)]});
            break;
        }
        case 5:
        case 6: {
            const bool preset = pick(2) == 0;
            const int command = preset ? (pick(2) ? list_message::kLoadPreset : list_message::kSavePreset)
                                       : (pick(3) ? list_message::kLoadBank : list_message::kSaveBank);
            const std::string file = preset ? kPresetFiles[static_cast<std::size_t>(pick(4))] : kBankFiles[static_cast<std::size_t>(pick(3))];
            // The list-file manager's interface half writes Path.txt before each command; the
            // session lets earlier commands finish first, as the two halves meet only on files.
            if (pathFile)
                steps.push_back({Step::Sync});
            steps.push_back({Step::Command, command, 0.0f, file});
            break;
        }
        case 7:
            if (pathFile) {
                steps.push_back({Step::Sync});
                steps.push_back({Step::Message, -2});  // a graph start
            }
            break;
        default:
            steps.push_back({Step::Turn, 8 + pick(200), static_cast<float>(pick(1000)) / 100.0f});
            break;
        }
    }
    return steps;
}

struct Result {
    std::vector<std::string> outputs;
    std::array<float, 256> block{};
    std::map<std::string, std::string> files;
};

// Runs the steps. Real time: at each Sync the blocks until every job is done, counted into
// syncBlocks; offline: the same number of blocks there, so both runs share one timeline.
Result run(const std::string& identifier, const std::vector<Step>& steps, bool realTime, uint32_t seed, std::vector<int>& syncBlocks)
{
    file_worker::setOffline(!realTime);
    if (realTime)
        file_worker::slowDown(300, seed);
    test_support::TemporarySharedFolder shared;
    const fs::path root = shared.path(), files = root / "files", folder = root / "Quorvane" / "TAVRIN ONE";
    writeBytes(files / "a.tavpreset", presetText("Lead One", {}));
    writeBytes(files / "b.tavpreset", ",Half;\r\n,  1.5000000;\r\n,  2.5000000;\r\n");
    writeBytes(files / "x.tavbank", bankText(numberedNames("Pad "), [](int p, int k) { return static_cast<float>(p - k) * 0.25f; }));
    writeBytes(files / "y.tavbank", bankText(numberedNames("N")).substr(0, 3203) + ",9;\r\n");
    writeBytes(folder / "Presetbase" / "DEFAULTBANK.tavbank", bankText(paddedNames("Start"), [](int p, int k) { return static_cast<float>(p + k) * 0.125f; }));
    writeBytes(folder / "List.txt", listWith({{1, "One"}, {3, "Th:ree"}}) + "\r\n");

    OneSideFactory factory{mpapi::MP_TYPE_AUDIO};
    tav_host::Host host(&factory, tav_host::HostConfig{.sampleRate = 1000.0f, .blockLength = 64, .fileFolder = root / "host"});
    test_support::add(host, "TEST_BlockProbe");
    const std::size_t mgr = test_support::add(host, identifier);
    host.setInitialValue(mgr, tav_host::Side::Dsp, kId, tav_host::textValue("TAVRIN ONE"));
    host.setInitialValue(mgr, tav_host::Side::Dsp, kPathMac, tav_host::textValue(root.string() + "/"));
    host.start();

    Result result;
    const auto record = [&] {
        for (const auto& call : host.calls()) {
            if (call.instance != mgr)
                continue;
            if (call.kind == CallKind::PostMessageToGui)
                result.outputs.push_back("gui " + std::to_string(call.pin) + " " + std::string(call.data.begin(), call.data.end()));
            else if (call.kind == CallKind::SendPinValue && call.pin == kMidiOut)
                result.outputs.push_back("midi " + tav_host::formatValue(call.data, tav_host::ValueType::Midi));
        }
        host.clearCalls();
    };
    const auto block = [&] {
        host.runBlock(64);
        record();
    };
    const auto post = [&](int id, const std::string& text) {
        Bytes bytes(text.begin(), text.end());
        if (!text.empty())
            bytes.push_back(0);
        host.postToDsp(mgr, id, bytes);
        host.drain();
        record();
    };
    std::size_t sync = 0;
    const auto settle = [&] {
        if (realTime)
            syncBlocks.push_back(test_support::settle(host));
        for (int b = realTime ? 0 : syncBlocks.at(sync); b > 0; --b)
            block();
        ++sync;
        record();
    };
    int names = 0;
    for (const Step& step : steps) {
        switch (step.kind) {
        case Step::Blocks:
            for (int b = 0; b < step.a; ++b)
                block();
            break;
        case Step::Turn:
            factory.probe->block.set(step.a, step.value);
            break;
        case Step::ProgramChange:
            host.queueMidi(mgr, kMidiIn, tav_host::midiValue({0xC2, static_cast<std::uint8_t>(step.a), 0}));
            block();
            break;
        case Step::Message:
            if (step.a == -2) {
                host.queueRawEvents(mgr, {{.eventType = mpapi::MP_EVENT_GRAPH_START}});
                block();
            } else if (step.a == list_message::kNameList && identifier == "QV_PatchManagerListpipe") {
                post(step.a, listWith({{names % 128, "Name" + std::to_string(names)}}));
                ++names;
            } else {
                post(step.a, {});
            }
            break;
        case Step::Command:
            if (identifier == "QV_PatchManagerListfile")
                writeBytes(folder / "Path.txt", (files / step.file).string() + "\r\n");
            else
                post(list_message::kPath, (files / step.file).string());
            post(step.a, {});
            break;
        case Step::Sync:
            settle();
            break;
        }
    }
    settle();
    for (int k = 0; k < 256; ++k)
        result.block[static_cast<std::size_t>(k)] = factory.probe->block.get(k);
    host.shutdown();
    EXPECT_TRUE(host.faults().empty());
    for (const char* name : {"a.tavpreset", "b.tavpreset", "c.tavpreset", "x.tavbank", "y.tavbank"})
        result.files[name] = readBytes(files / name);
    result.files["List.txt"] = readBytes(folder / "List.txt");
    file_worker::slowDown(0);
    return result;
}

::testing::AssertionResult same(const std::vector<std::string>& realTime, const std::vector<std::string>& offline)
{
    for (std::size_t i = 0; i < std::max(realTime.size(), offline.size()); ++i) {
        const std::string got = i < realTime.size() ? realTime[i] : "(end)";
        const std::string expected = i < offline.size() ? offline[i] : "(end)";
        if (got != expected)
            return ::testing::AssertionFailure() << "at " << i << " of " << offline.size() << ": real-time \"" << got.substr(0, 80)
                                                 << "\", offline \"" << expected.substr(0, 80) << "\"";
    }
    return ::testing::AssertionSuccess();
}

class ListManagerRealTimeTest : public ::testing::TestWithParam<const char*> {
protected:
    void TearDown() override
    {
        file_worker::slowDown(0);
        file_worker::setOffline(wasOffline_);
    }
    const bool wasOffline_ = file_worker::offline();
};

TEST_P(ListManagerRealTimeTest, RandomSessionsGiveWhatOfflineGives)
{
    const std::string identifier = GetParam();
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const std::vector<Step> steps = session(seed, identifier == "QV_PatchManagerListfile");
        std::vector<int> syncBlocks;
        const Result realTime = run(identifier, steps, true, seed, syncBlocks);
        const Result offline = run(identifier, steps, false, seed, syncBlocks);
        EXPECT_TRUE(same(realTime.outputs, offline.outputs));
        if (getenv("DBG")) { for (std::size_t i = 0; i < offline.outputs.size() && i < realTime.outputs.size(); ++i) if (offline.outputs[i].rfind("midi B0",0)!=0 || realTime.outputs[i]!=offline.outputs[i]) printf("%zu R[%s] O[%s]\n", i, realTime.outputs[i].substr(0,40).c_str(), offline.outputs[i].substr(0,40).c_str()); }

        EXPECT_EQ(realTime.block, offline.block);
        for (const auto& [name, bytes] : offline.files)
            EXPECT_TRUE(realTime.files.at(name) == bytes) << name;
        // The sessions do reach the disk and the interface half (the list-file manager sends no dump).
        EXPECT_GT(offline.outputs.size(), identifier == "QV_PatchManagerListpipe" ? 1000u : 40u);
    }
}

INSTANTIATE_TEST_SUITE_P(BothManagers, ListManagerRealTimeTest, ::testing::Values("QV_PatchManagerListfile", "QV_PatchManagerListpipe"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param).substr(15); });

} // namespace
