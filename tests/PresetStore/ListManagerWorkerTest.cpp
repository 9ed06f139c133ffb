// The list managers' processing halves with their file work on the bundle's file worker, as a
// real-time host runs them: with the worker held back, every input still takes its place when it
// arrives (what depends on an owed result becomes a job the worker completes) and only answers
// wait, so a scripted session gives the same messages, MIDI, presets and files as offline. Two
// saves of one file land in order, also from two managers; a load after a save reads what was
// saved; a late load leaves what was written since; a manager released while saves run or wait
// still writes them, whole.
#include "PresetStore/ManagerTestSupport.h"
#include "support/Settle.h"

#include "FileWorker.h"
#include "Log.h"
#include "PresetStore/ListManagerProcessing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using ListManagerProcessingRoom = ListManagerProcessing;
using namespace manager_test;
using tav_host::Bytes;
using tav_host::CallKind;

enum Pin { kMidiIn, kMidiOut, kId, kAutoPath, kPathPc, kPathMac, kAudioOut };

float bankValue(int p, int k) { return static_cast<float>(p) * 0.5f - static_cast<float>(k) * 0.25f; }

std::array<float, 256> presetValues(float offset)
{
    std::array<float, 256> values{};
    for (int k = 0; k < 256; ++k)
        values[k] = static_cast<float>(k) * 0.5f + offset;
    return values;
}

// One manager's processing half and the block probe on a host at 1000 Hz, in real-time or offline
// mode, under a folder of its own. The start-up (the interface half's 134, the startup bank, the
// one-second countdown) is over when it is made. In real-time mode the worker is held from then
// on, except in settle().
class Rig {
public:
    Rig(const std::string& identifier, bool realTime, const std::function<void(const fs::path&)>& prepare)
        : realTime_(realTime), pathFile_(identifier == "QV_PatchManagerListfile")
    {
        file_worker::setOffline(!realTime);
        prepare(root());
        host_ = std::make_unique<tav_host::Host>(
            &factory_, tav_host::HostConfig{.sampleRate = 1000.0f, .blockLength = 64, .fileFolder = root() / "host"});
        test_support::add(*host_, "TEST_BlockProbe");
        manager_ = test_support::add(*host_, identifier);
        host_->setInitialValue(manager_, tav_host::Side::Dsp, kId, tav_host::textValue("TAVRIN ONE"));
        host_->setInitialValue(manager_, tav_host::Side::Dsp, kPathMac, tav_host::textValue(root().string() + "/"));
        host_->start();
        message(list_message::kInterfaceStarted);
        for (int block = 0; block < 20; ++block)
            step();
        host_->clearCalls();
        hold();
    }
    ~Rig()
    {
        letGo();
        release();
        file_worker::setOffline(wasOffline_);
    }

    fs::path root() const { return shared_.path(); }
    fs::path file(const std::string& name) const { return root() / "files" / name; }
    fs::path managerFolder() const { return root() / "Quorvane" / "TAVRIN ONE"; }
    tav_host::Host& host() { return *host_; }

    // An interface message, delivered now; while file work is out it waits.
    void message(int id, const std::string& payload = {})
    {
        Bytes bytes(payload.begin(), payload.end());
        if (!payload.empty())
            bytes.push_back(0);
        host_->postToDsp(manager_, id, bytes);
        host_->drain();
    }
    void path(const fs::path& file) { message(list_message::kPath, file.string()); }
    // The file the next file command works on, handed over as the manager's interface half does.
    void choose(const fs::path& file)
    {
        if (pathFile_)
            settle([&] { writeBytes(managerFolder() / "Path.txt", file.string() + "\r\n"); });
        else
            path(file);
    }
    float live(int slot) const { return factory_.probe->block.get(slot); }
    void programChange(int program)
    {
        host_->queueMidi(manager_, kMidiIn, tav_host::midiValue({0xC3, static_cast<std::uint8_t>(program), 0}));
        step();
    }
    void graphStart()
    {
        host_->queueRawEvents(manager_, {{.eventType = mpapi::MP_EVENT_GRAPH_START}});
        step();
    }

    // The worker let go until every request and every input waiting behind one is done; then held
    // again. What the session does to files and to the shared preset block happens only here, as
    // the interface half and the parameter links would act on them only once answered.
    void settle(const std::function<void()>& change = {})
    {
        letGo();
        for (int round = 0; round < (realTime_ ? 40 : 1); ++round)
            step();
        if (change)
            change();
        hold();
    }
    void live(int slot, float value)
    {
        settle([&] { factory_.probe->block.set(slot, value); });
    }
    // A knob turned by another module between blocks, the worker still held.
    void turn(int slot, float value)
    {
        factory_.probe->block.set(slot, value);
        step();
    }

    // What left the manager, in order, whatever block it left in: messages to its interface half
    // with their payloads, MIDI, and the live preset after each selection of the final sweep.
    std::vector<std::string> outputs() const { return outputs_; }
    void record()
    {
        for (const auto& call : host_->calls()) {
            if (call.instance != manager_)
                continue;
            if (call.kind == CallKind::PostMessageToGui)
                outputs_.push_back("gui " + std::to_string(call.pin) + " " + std::string(call.data.begin(), call.data.end()));
            else if (call.kind == CallKind::SendPinValue && call.pin == kMidiOut)
                outputs_.push_back("midi " + tav_host::formatValue(call.data, tav_host::ValueType::Midi));
        }
        host_->clearCalls();
    }
    // Every preset selected in turn by program change, its first slots recorded.
    void sweep()
    {
        settle();
        for (int p = 0; p < 128; ++p) {
            programChange(p);
            settle();
            record();
            std::string values = "live " + std::to_string(p);
            for (int k = 0; k < 4; ++k)
                values += " " + std::to_string(factory_.probe->block.get(k));
            outputs_.push_back(values);
        }
    }

    // Releases the modules (a manager waits for its work and writes what waits).
    void release()
    {
        if (!host_)
            return;
        host_->shutdown();
        EXPECT_TRUE(host_->faults().empty()) << host_->faults().front();
        host_.reset();
    }

    // In real-time mode, unless the worker is held, waits for it before the block, so that a
    // request made in the block before is answered in this one.
    void step()
    {
        if (realTime_ && !held_)
            file_worker::waitUntilIdle();
        ASSERT_TRUE(host_->runBlock(64));
    }
    void hold()
    {
        if (realTime_)
            file_worker::hold();
        held_ = realTime_;
    }
    void letGo()
    {
        file_worker::release();
        held_ = false;
    }

private:
    const bool wasOffline_ = file_worker::offline();
    bool realTime_;
    bool pathFile_;  // the list-file manager: paths through Path.txt
    bool held_ = false;
    test_support::TemporarySharedFolder shared_;
    OneSideFactory factory_{mpapi::MP_TYPE_AUDIO};
    std::unique_ptr<tav_host::Host> host_;
    std::size_t manager_ = 0;
    std::vector<std::string> outputs_;
};

// The files the sessions start from: two presets, two banks and the startup bank.
void prepareFiles(const fs::path& root)
{
    writeBytes(root / "files" / "a.tavpreset", presetText("Lead One", presetValues(-10.0f)));
    writeBytes(root / "files" / "b.tavpreset", presetText("Saved Name", {}));
    writeBytes(root / "files" / "x.tavbank", bankText(numberedNames("Pad "), bankValue));
    writeBytes(root / "files" / "y.tavbank", bankText(numberedNames("N")).substr(0, 3203) + ",9;\r\n");
    writeBytes(root / "Quorvane" / "TAVRIN ONE" / "Presetbase" / "DEFAULTBANK.tavbank",
               bankText(paddedNames("Start"), [](int p, int k) { return static_cast<float>(p + k) * 0.125f; }));
}

// Every request of the list-pipe manager with inputs of every kind waiting behind it.
void listpipeSession(Rig& rig)
{
    rig.live(0, 0.25f);
    rig.path(rig.file("a.tavpreset"));
    rig.message(list_message::kLoadPreset);
    rig.programChange(5);
    rig.message(list_message::kNameList, listWith({{5, "Five"}, {6, "Six:6"}}));
    rig.path(rig.file("b.tavpreset"));
    rig.message(list_message::kSavePreset);
    rig.message(list_message::kFixPreset);
    rig.path(rig.file("x.tavbank"));
    rig.message(list_message::kLoadBank);
    rig.programChange(9);
    rig.path(rig.file("y.tavbank"));
    rig.message(list_message::kSaveBank);
    rig.message(list_message::kInterfaceStarted);
    rig.message(7);
    rig.path(rig.file("missing.tavbank"));
    rig.message(list_message::kLoadBank);
    rig.message(list_message::kPath, "/short");
    rig.message(list_message::kLoadPreset);
    rig.message(list_message::kStopWaiting);
    rig.live(2, 0.75f);
    rig.path(rig.file("b.tavpreset"));
    rig.message(list_message::kSavePreset);
    rig.message(list_message::kLoadPreset);
    rig.message(list_message::kInterfaceStarted);
}

// The same for the list-file manager, whose paths come through Path.txt (written only while
// nothing waits, as its interface half writes it before each command) and whose names go both
// ways through List.txt; a graph start reads the startup bank again.
void listfileSession(Rig& rig)
{
    const auto pathFile = [&](const std::string& name) {
        rig.settle([&] { writeBytes(rig.managerFolder() / "Path.txt", rig.file(name).string() + "\r\n"); });
    };
    rig.live(0, 0.25f);
    pathFile("a.tavpreset");
    rig.message(list_message::kLoadPreset);
    rig.programChange(5);
    rig.message(list_message::kFixPreset);
    rig.message(list_message::kInterfaceStarted);
    rig.graphStart();
    rig.message(3);
    rig.settle([&] { writeBytes(rig.managerFolder() / "List.txt", listWith({{1, "One"}, {3, "Th:ree"}}) + "\r\n"); });
    rig.message(list_message::kNameList);
    rig.programChange(2);
    rig.message(list_message::kInterfaceStarted);
    pathFile("x.tavbank");
    rig.message(list_message::kLoadBank);
    rig.programChange(9);
    rig.message(list_message::kSaveBank);
    rig.message(list_message::kInterfaceStarted);
    rig.live(2, 0.75f);
    pathFile("b.tavpreset");
    rig.message(list_message::kSavePreset);
    rig.message(list_message::kLoadPreset);
    rig.message(list_message::kStopWaiting);
    pathFile("missing.tavbank");
    rig.message(list_message::kLoadBank);
    rig.message(list_message::kInterfaceStarted);
}

struct SessionResult {
    std::vector<std::string> outputs;
    std::map<std::string, std::string> files;
};

SessionResult runSession(const std::string& identifier, bool realTime, const std::function<void(Rig&)>& session)
{
    Rig rig(identifier, realTime, prepareFiles);
    rig.record();
    session(rig);
    rig.sweep();
    SessionResult run{rig.outputs(), {}};
    for (const char* name : {"a.tavpreset", "b.tavpreset", "x.tavbank", "y.tavbank"})
        run.files[name] = readBytes(rig.file(name));
    run.files["List.txt"] = readBytes(rig.managerFolder() / "List.txt");
    return run;
}

::testing::AssertionResult sameFiles(const std::map<std::string, std::string>& realTime, const std::map<std::string, std::string>& offline)
{
    // One entry a file, its name first, so that a difference names the file.
    const auto entries = [](const std::map<std::string, std::string>& files) {
        std::vector<std::string> out;
        for (const auto& [name, bytes] : files)
            out.push_back(name + ": " + std::to_string(std::hash<std::string>{}(bytes)) + " " + bytes);
        return out;
    };
    return sameStream(entries(realTime), entries(offline));
}

class ListManagerWorkerTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        file_worker::release();
        file_worker::setOffline(wasOffline_);
    }
    const bool wasOffline_ = file_worker::offline();
};

// The session run offline and in real time; the offline run's result.
SessionResult expectSameAsOffline(const std::string& identifier, const std::function<void(Rig&)>& session)
{
    SessionResult offline = runSession(identifier, false, session);
    const SessionResult realTime = runSession(identifier, true, session);
    EXPECT_TRUE(sameStream(realTime.outputs, offline.outputs));
    EXPECT_TRUE(sameFiles(realTime.files, offline.files));
    return offline;
}

TEST_F(ListManagerWorkerTest, ListpipeSessionGivesWhatOfflineGives)
{
    const SessionResult offline = expectSameAsOffline("QV_PatchManagerListpipe", listpipeSession);
    // The session did reach the files: the saved preset has the live values, the bank the names.
    EXPECT_EQ(offline.files.at("y.tavbank").substr(0, 25), nameField("N0"));
    EXPECT_NE(offline.files.at("b.tavpreset"), presetText("Saved Name", {}));
}

// Name lists of some 8 KB wait behind bank loads, three rounds of seven, more than the room kept
// for payloads holds at once: each arrives whole, the later rounds' across the room's end.
TEST_F(ListManagerWorkerTest, LongNameListsWaitWhole)
{
    const auto session = [](Rig& rig) {
        for (int round = 0; round < 3; ++round) {
            rig.path(rig.file("x.tavbank"));
            rig.message(list_message::kLoadBank);
            for (int i = 0; i < 7; ++i) {
                Names names = numberedNames(std::string(40, static_cast<char>('a' + i)) + std::to_string(round));
                names[static_cast<std::size_t>(i)] = "R" + std::to_string(round) + "M" + std::to_string(i);
                rig.message(list_message::kNameList, listText(names));
                rig.message(list_message::kInterfaceStarted);
            }
            rig.settle();
        }
    };
    const SessionResult offline = expectSameAsOffline("QV_PatchManagerListpipe", session);
    EXPECT_NE(std::find_if(offline.outputs.begin(), offline.outputs.end(),
                           [](const std::string& line) { return line.find(",  7:R2M6,") != std::string::npos; }),
              offline.outputs.end());
}

TEST_F(ListManagerWorkerTest, ListfileSessionGivesWhatOfflineGives)
{
    const SessionResult offline = expectSameAsOffline("QV_PatchManagerListfile", listfileSession);
    EXPECT_EQ(offline.files.at("x.tavbank").substr(0, 25), nameField("Pad 0"));
}

// Manager A saves a bank, then a preset to F; manager B then loads F. A's preset save is a job
// from the moment it arrives, not after A's bank save came back, so B's load, asked for later,
// reads what A saved.
TEST_F(ListManagerWorkerTest, ASaveIsOnDiskBeforeAnotherManagersLaterLoad)
{
    file_worker::setOffline(false);
    test_support::TemporarySharedFolder shared;
    OneSideFactory factory{mpapi::MP_TYPE_AUDIO};
    tav_host::Host host(&factory, tav_host::HostConfig{.sampleRate = 1000.0f, .blockLength = 64, .fileFolder = shared.path()});
    test_support::add(host, "TEST_BlockProbe");
    const std::size_t a = test_support::add(host, "QV_PatchManagerListpipe");
    const std::size_t b = test_support::add(host, "QV_PatchManagerListpipe");
    host.start();
    const fs::path f = shared.path() / "F.tavpreset", bank = shared.path() / "y.tavbank";
    writeBytes(f, presetText("Old", presetValues(1.0f)));
    writeBytes(bank, bankText(constructorNames()));
    factory.probe->block.set(0, 3.0f);
    test_support::settle(host);
    const auto command = [&](std::size_t manager, const fs::path& path, int id) {
        const std::string name = path.string();
        Bytes text(name.begin(), name.end());
        text.push_back(0);
        host.postToDsp(manager, list_message::kPath, text);
        host.postToDsp(manager, id, {});
        host.drain();
    };
    file_worker::hold();
    command(a, bank, list_message::kSaveBank);
    command(a, f, list_message::kSavePreset);
    command(b, f, list_message::kLoadPreset);
    file_worker::release();
    test_support::settle(host);
    std::array<float, 256> saved{};
    saved[0] = 3.0f;
    EXPECT_EQ(readBytes(f), presetText("Old", saved));
    for (int k = 0; k < 256; ++k)
        ASSERT_EQ(factory.probe->block.get(k), saved[static_cast<std::size_t>(k)]) << k;  // not 1.0 + k / 2
    host.shutdown();
}

// Two list-pipe managers on one block, under a folder of their own, started with the worker idle.
class TwoManagers : public ListManagerWorkerTest {
protected:
    void SetUp() override
    {
        writeBytes(loaded_, presetText("Loaded", presetValues(1.0f)));
        writeBytes(target_, presetText("Target", {}));
        test_support::settle(rig_.host);
    }
    void TearDown() override
    {
        file_worker::release();
        rig_.host.shutdown();
        EXPECT_TRUE(rig_.host.faults().empty());
        ListManagerWorkerTest::TearDown();
    }
    void command(std::size_t manager, const fs::path& file, int id)
    {
        rig_.post(manager, list_message::kPath, file.string());
        rig_.post(manager, id);
        rig_.host.runBlock(64);
    }

    test_support::TemporarySharedFolder shared_;
    fs::path loaded_ = shared_.path() / "Loaded.tavpreset", target_ = shared_.path() / "Target.tavpreset";
    ManagerHost rig_{shared_.path(), {"QV_PatchManagerListpipe", "QV_PatchManagerListpipe"}};
    std::size_t a_ = rig_.managers[0], b_ = rig_.managers[1];
};

// B loads a preset file and saves its sound to F while the load is owed; another module turns a
// knob; then A saves its sound to F. F ends with A's save, the loaded values and the turn in it,
// as offline: B's save took its place when it arrived, not after A's.
TEST_F(TwoManagers, ALaterSaveOfAnotherManagerLandsLast)
{
    file_worker::hold();
    command(b_, loaded_, list_message::kLoadPreset);
    command(b_, target_, list_message::kSavePreset);
    rig_.block().set(7, 0.5f);
    rig_.host.runBlock(64);
    command(a_, target_, list_message::kSavePreset);
    file_worker::release();
    test_support::settle(rig_.host);
    std::array<float, 256> expected = presetValues(1.0f);
    expected[7] = 0.5f;
    EXPECT_EQ(readBytes(target_), presetText("Target", expected));
}

// A's load is owed while B's program change selects a preset holding what the block holds (all
// 256 slots equal): the newer preset stays, whatever A's load brings later. A switch pressed to the
// value it shows while a load is owed keeps that value too.
TEST_F(TwoManagers, ALateLoadLeavesWhatWasWrittenSince)
{
    file_worker::hold();
    command(a_, loaded_, list_message::kLoadPreset);
    rig_.host.queueMidi(b_, 0, tav_host::midiValue({0xC0, 3, 0}));  // B's preset 3: zeros, as the block
    rig_.host.runBlock(64);
    file_worker::release();
    test_support::settle(rig_.host);
    for (int k = 0; k < 256; ++k)
        ASSERT_EQ(rig_.block().get(k), 0.0f) << k;

    file_worker::hold();
    command(a_, loaded_, list_message::kLoadPreset);
    rig_.block().set(9, 0.0f);  // the value it shows while the load is owed
    rig_.host.runBlock(64);
    file_worker::release();
    test_support::settle(rig_.host);
    EXPECT_EQ(rig_.block().get(9), 0.0f);
    EXPECT_EQ(rig_.block().get(8), presetValues(1.0f)[8]);
    EXPECT_EQ(rig_.block().get(10), presetValues(1.0f)[10]);
}

// An owed answer holds later answers back, never inputs: the list answering 134 comes from the
// worker; a program change after it selects at once (the block is written), but its dump, message
// and program change leave after the list.
TEST_F(TwoManagers, AnOwedAnswerHoldsLaterAnswersNotInputs)
{
    const fs::path bank = shared_.path() / "x.tavbank";
    writeBytes(bank, bankText(numberedNames("Pad "), bankValue));
    command(a_, bank, list_message::kLoadBank);
    test_support::settle(rig_.host);
    std::vector<std::vector<std::string>> out;
    rig_.record(out);
    out.clear();

    file_worker::hold();
    rig_.post(a_, list_message::kInterfaceStarted);
    rig_.host.queueMidi(a_, 0, tav_host::midiValue({0xC0, 5, 0}));
    rig_.host.runBlock(64);
    EXPECT_EQ(rig_.block().get(1), bankValue(5, 1));
    rig_.record(out);
    if (!file_worker::offline()) {
        EXPECT_TRUE(out[0].empty());
    }
    file_worker::release();
    test_support::settle(rig_.host);
    rig_.record(out);
    ASSERT_EQ(out[0].size(), 2u + 114u + 2u);
    EXPECT_EQ(out[0][0], "gui 130 ");
    EXPECT_EQ(out[0][1].substr(0, 20), "gui 129   1:Pad 0,  ");
    EXPECT_EQ(out[0][2].substr(0, 7), "midi B0");
    EXPECT_EQ(out[0][116], "gui 5 ");
    EXPECT_EQ(out[0][117], "midi C0 05 00");
}

} // namespace

namespace {

// What both managers do alike, each case run on both.
class BothManagersWorkerTest : public ListManagerWorkerTest, public ::testing::WithParamInterface<const char*> {
protected:
    // The program changes and messages to the interface half since the last call.
    std::vector<std::string> programChangesAndAnnouncements(Rig& rig)
    {
        rig.record();
        std::vector<std::string> out;
        const std::vector<std::string> all = rig.outputs();
        for (std::size_t i = seen_; i < all.size(); ++i) {
            const std::string& line = all[i];
            if (line.rfind("midi C0", 0) == 0 || line.rfind("gui", 0) == 0)
                out.push_back(line);
        }
        seen_ = all.size();
        return out;
    }
    std::size_t seen_ = 0;
};

// A bank load held back on the worker: the program changes after it are selected by the worker and
// nothing goes out; once the bank is in, its selection of preset 0 goes out first, then the
// program changes'.
TEST_P(BothManagersWorkerTest, AnswersWaitBehindFileWorkAndFollowInOrder)
{
    Rig rig(GetParam(), true, prepareFiles);
    rig.record();
    rig.choose(rig.file("x.tavbank"));
    rig.message(list_message::kLoadBank);
    rig.programChange(9);
    rig.programChange(4);
    EXPECT_TRUE(programChangesAndAnnouncements(rig).empty());
    rig.settle();
    EXPECT_EQ(programChangesAndAnnouncements(rig),
              (std::vector<std::string>{"gui 0 ", "midi C0 00 00", "gui 9 ", "midi C0 09 00", "gui 4 ", "midi C0 04 00"}));
    EXPECT_EQ(rig.live(1), bankValue(4, 1));
}

// Two bank saves of one file with a store between them: the file ends as the second save wrote
// it. A preset save and a load of the same file right after it: the load reads what was saved.
TEST_P(BothManagersWorkerTest, SavesOfOneFileLandInOrderAndALoadReadsThem)
{
    Rig rig(GetParam(), true, prepareFiles);
    rig.choose(rig.file("x.tavbank"));
    rig.message(list_message::kLoadBank);  // preset 0 current
    rig.live(0, 4.5f);
    rig.choose(rig.file("y.tavbank"));
    rig.message(list_message::kSaveBank);
    rig.message(list_message::kFixPreset);  // 4.5 into slot 0 of preset 0
    rig.message(list_message::kSaveBank);
    rig.settle();
    std::string expected = bankText(numberedNames("N"), [](int p, int k) { return p == 0 && k == 0 ? 4.5f : bankValue(p, k); });
    EXPECT_EQ(readBytes(rig.file("y.tavbank")), expected);

    writeBytes(rig.file("p.tavpreset"), presetText("Typed", presetValues(7.0f)));
    rig.live(0, 2.5f);
    rig.choose(rig.file("p.tavpreset"));
    rig.message(list_message::kSavePreset);
    rig.message(list_message::kLoadPreset);
    rig.settle();
    EXPECT_EQ(rig.live(0), 2.5f);
    std::array<float, 256> saved{};
    for (int k = 0; k < 256; ++k)
        saved[k] = rig.live(k);
    EXPECT_EQ(readBytes(rig.file("p.tavpreset")), presetText("Typed", saved));
}

// A manager released while a save is held on the worker and more file work waits behind it:
// everything asked for is written, whole, before it goes, and nothing reaches the host any more.
TEST_P(BothManagersWorkerTest, ReleasedWithSavesRunningAndWaitingWritesThemAll)
{
    Rig rig(GetParam(), true, prepareFiles);
    rig.live(0, 3.25f);
    rig.choose(rig.file("b.tavpreset"));
    rig.message(list_message::kSavePreset);  // held on the worker
    rig.message(list_message::kFixPreset);
    rig.message(list_message::kSaveBank);    // the same file, now as a bank: it waits
    std::array<float, 256> live{};
    for (int k = 0; k < 256; ++k)
        live[k] = rig.live(k);
    std::thread letGo([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        file_worker::release();
    });
    rig.release();
    letGo.join();
    // The bank save read the names line of the preset file just saved: its one name, in slot 0.
    Names names = constructorNames();
    names[0] = "Saved Name";
    const std::string bank = readBytes(rig.file("b.tavpreset"));
    EXPECT_EQ(bank.size(), 397187u);
    EXPECT_EQ(bank.substr(0, 25), nameField("Saved Name"));
    EXPECT_NE(bank.find(valueField(3.25f)), std::string::npos);
}

// A save waiting behind a load reads the block as it was when the save arrived, with what the
// load put there: a knob turned after the save stays out of the file. A load that lands late
// keeps a knob turned after it was asked for, and the next save has that knob.
TEST_P(BothManagersWorkerTest, WaitingInputsReadTheBlockOfTheirArrival)
{
    Rig rig(GetParam(), true, prepareFiles);
    rig.live(5, 0.42f);
    writeBytes(rig.file("p.tavpreset"), ",Mine;\r\n,  1.5000000;\r\n");  // one value: slot 0
    rig.choose(rig.file("p.tavpreset"));
    rig.message(list_message::kLoadPreset);  // held on the worker
    rig.message(list_message::kSavePreset);  // the same file: waits for the load
    rig.turn(5, 0.895f);
    rig.settle();
    std::array<float, 256> saved{};
    for (int k = 0; k < 256; ++k)
        saved[k] = rig.live(k);
    saved[5] = 0.42f;
    EXPECT_EQ(saved[0], 1.5f);
    EXPECT_EQ(readBytes(rig.file("p.tavpreset")), presetText("Mine", saved));
    EXPECT_EQ(rig.live(5), 0.895f);

    rig.choose(rig.file("a.tavpreset"));
    rig.message(list_message::kLoadPreset);  // held on the worker
    rig.turn(7, -2.25f);
    rig.settle();
    EXPECT_EQ(rig.live(7), -2.25f);
    EXPECT_EQ(rig.live(8), presetValues(-10.0f)[8]);
    rig.choose(rig.file("q.tavpreset"));
    rig.message(list_message::kSavePreset);
    rig.settle();
    std::array<float, 256> expected = presetValues(-10.0f);
    expected[7] = -2.25f;
    EXPECT_EQ(readBytes(rig.file("q.tavpreset")), presetText("Lead One", expected));
}

// A program change whose preset is in the bank memory is answered in its own block while a save
// is still on the worker.
TEST_P(BothManagersWorkerTest, ProgramChangeIsNotHeldBehindASave)
{
    Rig rig(GetParam(), true, prepareFiles);
    rig.record();
    rig.choose(rig.file("b.tavpreset"));
    rig.message(list_message::kSavePreset);  // held on the worker
    rig.programChange(9);
    EXPECT_EQ(programChangesAndAnnouncements(rig), (std::vector<std::string>{"gui 9 ", "midi C0 09 00"}));
    EXPECT_EQ(file_worker::unfinished(), 1u);
}

// Far more inputs than the room while the disk does not answer: none is dropped in silence. The
// program changes behind a bank load become jobs up to the room and are answered in order; each
// one beyond it is logged as refused, by name; the saves behind a held bank save are all written.
TEST_P(BothManagersWorkerTest, NothingIsLostInSilence)
{
    std::vector<std::string> logged;
    platform::setLogSink([](const char* line, void* lines) { static_cast<std::vector<std::string>*>(lines)->emplace_back(line); },
                         &logged);
    {
        Rig rig(GetParam(), true, prepareFiles);
        rig.record();
        rig.choose(rig.file("x.tavbank"));
        rig.message(list_message::kLoadBank);
        constexpr int kBurst = 1100;
        for (int i = 0; i < kBurst; ++i)
            rig.host().queueMidi(1, kMidiIn, tav_host::midiValue({0xC0, static_cast<std::uint8_t>(i % 128), 0}));
        rig.step();
        rig.settle();
        const std::vector<std::string> out = programChangesAndAnnouncements(rig);
        // Behind the owed bank load each program change is a job of its own; the load has one.
        constexpr int kKept = static_cast<int>(ListManagerProcessingRoom::kJobs) - 1;
        ASSERT_EQ(out.size(), 2u + 2u * kKept);
        for (int i = 0; i < kKept; ++i) {
            char pc[32];
            std::snprintf(pc, sizeof pc, "midi C0 %02X 00", i % 128);
            ASSERT_EQ(out[2 + 2 * i], "gui " + std::to_string(i % 128) + " ");
            ASSERT_EQ(out[3 + 2 * i], pc);
        }
        int refused = 0;
        for (const std::string& line : logged) {
            int more = 0;
            if (line.find("program change refused") != std::string::npos)
                ++refused;
            else if (std::sscanf(line.c_str(), "TAVRIN: %d more actions refused", &more) == 1)
                refused += more;
        }
        EXPECT_EQ(refused, kBurst - kKept);

        // 60 actions behind a held bank save, a preset save every tenth: every save is written.
        const bool pipe = GetParam() == std::string("QV_PatchManagerListpipe");
        logged.clear();
        rig.choose(rig.file("y.tavbank"));
        rig.message(list_message::kSaveBank);
        for (int i = 0; i < 60; ++i) {
            rig.message(i % 128);
            rig.programChange((i * 7) % 128);
            rig.message(list_message::kFixPreset);
            if (i % 10 == 9 && pipe) {  // the list-file manager's paths come through Path.txt
                rig.path(rig.file("save" + std::to_string(i) + ".tavpreset"));
                rig.message(list_message::kSavePreset);
            }
        }
        rig.settle();
        for (int i = 9; i < 60 && pipe; i += 10) {
            EXPECT_EQ(readBytes(rig.file("save" + std::to_string(i) + ".tavpreset")).size(), 3868u) << i;
        }
        EXPECT_TRUE(logged.empty());
    }
    platform::setLogSink(nullptr, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Both, BothManagersWorkerTest,
                         ::testing::Values("QV_PatchManagerListfile", "QV_PatchManagerListpipe"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param).substr(15); });

} // namespace
