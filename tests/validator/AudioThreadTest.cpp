// The audio thread stays free: every processing half of the bundle, played through the stand-in
// host in real-time mode (file work on the file worker), makes no heap allocation or free, no
// file system call, takes no lock and starts no thread inside the calls a real host makes on its
// audio thread (process, with graph start, pin values, MIDI and streaming changes, and the
// messages of the interface half). The audit is armed exactly around those calls through the
// host's AudioThreadObserver; the host's own work, also inside them, is paused out.
#include "framework/HostTestSupport.h"
#include "support/AudioThreadAudit.h"

#include "CategoryBrowser/PrescatMessages.h"
#include "FileWorker.h"
#include "MpFactory.h"
#include "MpInterface.h"
#include "MpProcessing.h"
#include "PresetStore/ListManagerMessages.h"
#include "PresetStore/ManagerTestSupport.h"
#include "Utf8.h"
#include "Utility/BridgeMessages.h"
#include "Utility/ChangeTriggerMessages.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

using namespace tav_host;
using test_support::AudioThreadAudit;
using test_support::AuditKind;
using test_support::AuditReport;

namespace {

// ---- The observer ------------------------------------------------------------------------------

// Arms an audit for each call the host makes into a processing half on its audio thread, pauses
// it for the host's own work inside the call, and sums what the calls of each kind did.
class Auditor final : public AudioThreadObserver {
public:
    void enterHalf(std::size_t, AudioCall) override { armed_.emplace(); }
    void leaveHalf(std::size_t, AudioCall call) override
    {
        const AuditReport seen = armed_->report();
        armed_.reset();
        seen_[index(call)].add(seen);
        ++calls_[index(call)];
    }
    void enterHost() override { paused_.emplace(); }
    void leaveHost() override { paused_.reset(); }

    const AuditReport& seen(AudioCall call) const { return seen_[index(call)]; }
    int calls(AudioCall call) const { return calls_[index(call)]; }

private:
    static std::size_t index(AudioCall call) { return call == AudioCall::Process ? 0 : 1; }

    std::optional<AudioThreadAudit> armed_;
    std::optional<AudioThreadAudit::Pause> paused_;
    std::array<AuditReport, 2> seen_{};
    std::array<int, 2> calls_{};
};

// ---- The observer is told exactly the half's calls ---------------------------------------------

// A processing half that does on request what no audio-thread call may; on every pin update and
// message it also does what any half may: sends a pin value and posts a message, which the host
// records with allocations of its own.
class AudioThreadProbe : public MpBase {
public:
    enum Pin { kAction, kOut };
    enum Action { kNothing, kAllocate, kOpenFile, kLock };

    AudioThreadProbe()
    {
        initializePin(kAction, action_);
        initializePin(kOut, out_);
    }

    void onSetPins() override { act(action_.value); }

    int32_t receiveMessageFromGui(int32_t id, int32_t, const void*) noexcept override
    {
        act(id);
        return mpapi::MP_RESULT_OK;
    }

private:
    void act(int32_t action) noexcept
    {
        static std::mutex mutex;
        if (action == kAllocate) {
            int* volatile p = new (std::nothrow) int(1);
            delete p;
        } else if (action == kOpenFile) {
            if (std::FILE* f = std::fopen("/dev/null", "r"))
                std::fclose(f);
        } else if (action == kLock) {
            const std::lock_guard hold(mutex);
        }
        out_ = out_.value + 1.0f;
        if (host)
            host->postMessageToGui(0, 4, &action);
    }

    IntInPin action_;
    FloatOutPin out_;
};

TEST(AudioThreadObserver, IsToldTheCallsIntoTheHalfAndThemOnly)
{
    Host host(test_support::factory(), test_support::config64(false));
    const std::size_t probe = test_support::add(host, "TEST_AudioThreadProbe");
    Auditor auditor;
    host.setAudioThreadObserver(&auditor);
    host.start();
    host.queuePinValue(probe, AudioThreadProbe::kAction, intValue(AudioThreadProbe::kNothing));
    host.runBlock(64);
    host.runBlock(64);
    EXPECT_EQ(auditor.calls(AudioCall::Process), 2);
    EXPECT_EQ(host.callsOf(CallKind::SendPinValue, probe).size(), 2u);  // first update, then one
    EXPECT_TRUE(auditor.seen(AudioCall::Process).clean()) << auditor.seen(AudioCall::Process).describe();

    host.queuePinValue(probe, AudioThreadProbe::kAction, intValue(AudioThreadProbe::kAllocate));
    host.runBlock(64);
    EXPECT_EQ(auditor.seen(AudioCall::Process).count(AuditKind::Allocation), 1u);
    EXPECT_EQ(auditor.seen(AudioCall::Process).count(AuditKind::Free), 1u);

    host.postToDsp(probe, AudioThreadProbe::kOpenFile, {});
    host.postToDsp(probe, AudioThreadProbe::kLock, {});
    host.drain();
    EXPECT_EQ(auditor.calls(AudioCall::MessageFromGui), 2);
    EXPECT_EQ(auditor.seen(AudioCall::MessageFromGui).describe(), "2 file system calls, 1 lock (fopen, fclose, pthread_mutex_lock)");
    EXPECT_EQ(host.callsOf(CallKind::PostMessageToGui, probe).size(), 4u);

    // Unset, the host tells nothing.
    host.setAudioThreadObserver(nullptr);
    host.queuePinValue(probe, AudioThreadProbe::kAction, intValue(AudioThreadProbe::kAllocate));
    host.runBlock(64);
    EXPECT_EQ(auditor.calls(AudioCall::Process), 3);
    EXPECT_EQ(auditor.seen(AudioCall::Process).total(), 2u);
    host.shutdown();
    EXPECT_TRUE(host.faults().empty());
}

// ---- The bundle --------------------------------------------------------------------------------

constexpr int kBlock = 64;
constexpr int kBlocks = 1200;     // 1.6 s at 48 kHz: past every start-up countdown and timer
constexpr int32_t kLastGuiPin = 255;
const std::string kProductId = "TAVRIN TWO";

struct Pin {
    int32_t id;
    int32_t datatype;
};

// The input pins of the half of type registered under identifier (created by its registered
// function alone, then released).
std::vector<Pin> inputPins(int32_t type, const std::wstring& identifier)
{
    std::vector<Pin> pins;
    const auto& registry = Factory()->registrations();
    const auto found = registry.find({type, identifier});
    if (found == registry.end())
        return pins;
    mpapi::IMpUnknown* object = found->second();
    if (auto* dsp = dynamic_cast<MpPluginBase*>(object)) {
        for (const auto& [id, pin] : dsp->getPins())
            if (pin->getDirection() == mpapi::MP_IN)
                pins.push_back({id, pin->getDatatype()});
    } else if (auto* gui = dynamic_cast<GuiPinOwner*>(object)) {
        for (int32_t id = 0; id <= kLastGuiPin; ++id)
            if (const MpGuiPinBase* pin = gui->getPin(id))
                pins.push_back({id, pin->getDatatype()});
    }
    object->release();
    return pins;
}

// The bundle's modules that have a processing half.
std::vector<std::string> processingHalves()
{
    std::vector<std::string> identifiers;
    for (const auto& [key, create] : Factory()->registrations())
        if (key.first == mpapi::MP_TYPE_AUDIO && key.second.starts_with(L"QV_"))
            identifiers.push_back(utf8::fromWide(key.second, utf8::OnError::Replace));
    return identifiers;
}

// A phrase that cycles through what a keyboard and a controller send: notes on and off (also by
// velocity 0), controllers (modulation, volume, sustain, expression, an NRPN, all notes off),
// program changes, pitch bend, pressure, on two channels, and one sysex.
const std::vector<Bytes> kPhrase = {
    {0x90, 60, 100}, {0xB0, 1, 64},  {0x90, 64, 90},  {0xB0, 7, 100}, {0x80, 60, 0},  {0xC0, 1},
    {0x90, 64, 0},   {0xB0, 64, 127}, {0xE0, 0, 72},  {0x91, 67, 112}, {0xD0, 48},     {0xA1, 67, 32},
    {0xB0, 64, 0},   {0x81, 67, 64},  {0xC0, 2},      {0xB0, 11, 80},  {0xB0, 99, 1},  {0xB0, 98, 2},
    {0xB0, 6, 64},   {0xC0, 0},       {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},           {0xB0, 123, 0},
};

Bytes text(const std::string& s) { return textValue(std::string_view(s)); }
// A message payload: the text and its zero.
Bytes payload(const std::string& s)
{
    Bytes bytes(s.begin(), s.end());
    bytes.push_back(0);
    return bytes;
}

// A message to the processing half, as its interface half would post it, before block `block`.
struct Message {
    int block;
    int32_t id;
    Bytes data{};
};

// What one module gets beyond the generic performance.
struct Part {
    std::map<int32_t, std::vector<Bytes>> dspTexts;  // pin -> texts, the first initial
    std::map<int32_t, Bytes> guiInitial;
    std::vector<Message> messages;
};

// The shared folder as the preset managers find it: the product's library with a startup bank,
// presets in folders and special views, and loose preset and bank files to load.
struct Library {
    explicit Library(const std::filesystem::path& shared)
        : base(shared.string() + "/"), root(shared / "Quorvane" / kProductId / "Presetbase")
    {
        using manager_test::writeBytes;
        std::array<float, 256> values{};
        for (std::size_t k = 0; k < values.size(); ++k)
            values[k] = static_cast<float>(k % 11) / 10.0f;
        writeBytes(root / "DEFAULTBANK.tavbank", manager_test::bankText(manager_test::numberedNames("Pad ")));
        for (const char* name : {"Presets/Warm Pad.tavpreset", "Presets/Bright Lead #fav.tavpreset",
                                 "Strings/Slow Strings.tavpreset", "2_SAVED/Saved One.tavpreset"})
            writeBytes(root / name, manager_test::presetText("Audit", values));
        std::filesystem::create_directories(root / "3_SEARCH");
        std::filesystem::create_directories(root / "3_FAVOURITES");
        writeBytes(shared / "Loaded.tavpreset", manager_test::presetText("Loaded", values));
        writeBytes(shared / "Saved.tavpreset", manager_test::presetText("Saved", values));
        writeBytes(shared / "Audit Bank.tavbank", manager_test::bankText(manager_test::numberedNames("Bank ")));
    }

    std::string base;  // the PathMac text: the shared folder with its slash
    std::filesystem::path root;
};

// The two list managers: the interface half's conversation (ListManagerMessages.h), paths in
// payloads for the list-pipe one.
Part listManager(const Library& library, const std::filesystem::path& shared, bool pathsInPayload)
{
    using namespace list_message;
    Part part;
    part.dspTexts = {{2, {text(kProductId)}}, {4, {text("")}}, {5, {text(library.base)}}};
    part.guiInitial = {{8, text(kProductId)}, {9, boolValue(false)}, {11, text(library.base)}};
    const auto path = [&](int block, const std::filesystem::path& file) {
        return Message{block, kPath, pathsInPayload ? payload(file.string()) : Bytes{}};
    };
    part.messages = {
        {20, kInterfaceStarted},
        {40, kNameList, pathsInPayload ? payload("  0 Pad 0\n  1 Pad 1\n") : Bytes{}},
        {50, 5}, {60, 0},
        path(80, shared / "Loaded.tavpreset"), {80, kLoadPreset},
        {100, kNameList, pathsInPayload ? payload("  0 Edited\n") : Bytes{}},
        path(100, shared / "Saved.tavpreset"), {100, kSavePreset},
        {140, kFixPreset},
        path(160, shared / "Audit Bank.tavbank"), {160, kLoadBank},
        path(260, shared / "Saved Bank.tavbank"), {260, kSaveBank},
        {300, kStopWaiting},
        {400, 7},
    };
    return part;
}

// The category manager: the interface half's conversation (PrescatMessages.h): start-up, folder
// and row choices, the commands of a result view, files, tags and time order.
Part categoryManager(const Library& library, const std::filesystem::path& shared)
{
    using namespace prescat;
    Part part;
    part.dspTexts = {{2, {text(kProductId)}}, {4, {text("")}}, {5, {text(library.base)}}};
    part.guiInitial = {{8, text(kProductId)}, {9, boolValue(false)}, {11, text(library.base)}};
    part.messages = {
        {20, kInterfaceStarted},
        {40, kFolderBase + 1}, {60, kSelectRowBase + 1}, {80, kFolderBase + 0},
        {100, kPath, payload((shared / "Loaded.tavpreset").string())}, {100, kLoadPresetFile},
        {140, kPath, payload((library.root / "Presets" / "Audit Saved.tavpreset").string())}, {140, kSavePreset},
        {180, kFixPreset}, {180, kFirstStore},
        {200, kPath, payload((shared / "Audit Bank.tavbank").string())}, {200, kLoadBank},
        {240, kPath, payload((library.root / "Imported").string())}, {240, kSaveBankFolder},
        {300, kSearchText, payload("pad")}, {300, kFolderBase + 2}, {300, kFolderBase + 3},
        {380, kSelectRowBase + kFirstCommandRow}, {440, kSelectRowBase + kCategoryRow + 1},
        {500, kSelectRowBase + kNextArrowRow}, {540, kSelectRowBase + kPrevArrowRow},
        {600, kTimeOrderOn}, {640, kTimeOrderOff}, {660, kFolderBase + 0},
        {700, kToggleFavourite}, {760, kDeletePreset}, {800, kUnusedNameList}, {820, kInterfaceStarted},
    };
    return part;
}

Part partOf(const std::string& identifier, const Library& library, const std::filesystem::path& shared)
{
    if (identifier == "QV_PatchManagerPrescat")
        return categoryManager(library, shared);
    if (identifier == "QV_PatchManagerListpipe")
        return listManager(library, shared, true);
    if (identifier == "QV_PatchManagerListfile")
        return listManager(library, shared, false);
    Part part;
    if (identifier == "QV_MidiLearnModule")
        part.dspTexts = {{5, {text(kProductId)}}, {7, {text("")}}, {8, {text(library.base)}}};
    if (identifier == "QV_MidiConverter")
        part.dspTexts = {{2, {text("1, Ctrl, 7, 7, *, *, Y, 1, Ctrl, 11, 11, *, *"), text("* Ctrl 1 1 0 127 N * Ctrl 1 1 0 1")}},
                         {3, {text("* NoteOn * * * * N 2 NoteOn * * * *"), text("")}}};
    if (identifier == "QV_VoltageToFloat" || identifier == "QV_VoltageToFloat_Out")
        part.messages = {{30, bridge::kValueRequest}, {300, bridge::kValueRequest}};
    if (identifier == "QV_BoolToVoltage")
        part.messages = {{30, bridge::kValueTextToAudio, payload("v0.500000")}, {300, bridge::kValueTextToAudio, payload("v-0.200000")}};
    if (identifier == "QV_BoolToControl")
        part.messages = {{30, bridge::kButtonReleased}, {300, bridge::kButtonReleased}};
    if (identifier == "QV_ChangeTrigger" || identifier == "QV_ChangeTriggerTimed")
        part.messages = {{30, change_trigger::kValueText, payload("v0.000000")}, {300, change_trigger::kValueText, payload("v0.250000")}};
    return part;
}

// Values a control takes in turn.
Bytes controlValue(int32_t datatype, int step)
{
    static const float kFloats[] = {0.0f, 0.5f, 1.0f, 0.25f, 10.0f, -1.0f};
    static const int32_t kInts[] = {0, 1, 2, 5, 12, 127};
    switch (datatype) {
    case mpapi::MP_DATATYPE_FLOAT: return floatValue(kFloats[step % 6]);
    case mpapi::MP_DATATYPE_INT: return intValue(kInts[step % 6]);
    case mpapi::MP_DATATYPE_BOOL: return boolValue(step % 2 == 1);
    default: return {};
    }
}

// The half under identifier with its interface half, if any, played for kBlocks blocks: graph
// start with a value on every input, then the MIDI phrase on every MIDI input, new control
// values, streaming changes and pulses on audio inputs, new texts, the interface's controls moved,
// and the interface half's messages. What the audit saw, by kind of call.
void perform(const std::string& identifier, const test_support::TemporarySharedFolder& shared, Auditor& auditor)
{
    const Library library(shared.path());
    const Part part = partOf(identifier, library, shared.path());

    const std::wstring wide = utf8::toWide(identifier, utf8::OnError::Replace);
    const std::vector<Pin> dspPins = inputPins(mpapi::MP_TYPE_AUDIO, wide);
    const std::vector<Pin> guiPins = inputPins(mpapi::MP_TYPE_GUI, wide);
    HostConfig config = test_support::config64();
    config.fileFolder = shared.path();
    for (const Pin& pin : dspPins)
        config.bufferPins = std::max(config.bufferPins, pin.id + 1);
    Host host(test_support::factory(), config);
    const std::size_t module = test_support::add(host, identifier, test_support::withGuiPins(static_cast<int32_t>(guiPins.size())));

    const auto textsOf = [&](int32_t pin) {
        const auto found = part.dspTexts.find(pin);
        return found != part.dspTexts.end() ? found->second : std::vector<Bytes>{text(kProductId), text(library.base)};
    };
    for (const Pin& pin : dspPins) {
        if (pin.datatype == mpapi::MP_DATATYPE_TEXT)
            host.setInitialValue(module, Side::Dsp, pin.id, textsOf(pin.id).front());
        else if (pin.datatype == mpapi::MP_DATATYPE_AUDIO)  // pulses 50 ms apart, each input its own
            host.setInputFunction(module, pin.id, [period = 2400 + 240 * pin.id](std::int64_t s) { return (s / period) % 2 ? 1.0f : 0.0f; });
        else if (pin.datatype != mpapi::MP_DATATYPE_MIDI)
            host.setInitialValue(module, Side::Dsp, pin.id, controlValue(pin.datatype, 1));
    }
    for (const auto& [pin, value] : part.guiInitial)
        host.setInitialValue(module, Side::Gui, pin, value);
    host.setAudioThreadObserver(&auditor);
    host.start();

    for (int block = 0; block < kBlocks; ++block) {
        for (const Pin& pin : dspPins) {
            switch (pin.datatype) {
            case mpapi::MP_DATATYPE_MIDI:
                if (block % 4 == 0)
                    host.queueMidi(module, pin.id, kPhrase[static_cast<std::size_t>(block / 4) % kPhrase.size()], (block * 7) % kBlock);
                break;
            case mpapi::MP_DATATYPE_AUDIO:
                if (block % 16 == 8)
                    host.queueStreaming(module, pin.id, block % 32 == 8, 5);
                break;
            case mpapi::MP_DATATYPE_TEXT:
                if (block % 300 == 150) {
                    const auto texts = textsOf(pin.id);
                    host.queuePinValue(module, pin.id, texts[static_cast<std::size_t>(block / 300) % texts.size()], 9);
                }
                break;
            default:
                if (block % 10 == 3)
                    host.queuePinValue(module, pin.id, controlValue(pin.datatype, block / 10), 17);
            }
        }
        if (block % 50 == 25)
            for (const Pin& pin : guiPins)
                if (pin.datatype != mpapi::MP_DATATYPE_TEXT)
                    host.guiSetPin(module, pin.id, controlValue(pin.datatype, block / 50));
        for (const Message& m : part.messages)
            if (m.block == block)
                host.postToDsp(module, m.id, m.data);
        host.drain();
        ASSERT_TRUE(host.runBlock(kBlock));
        file_worker::waitUntilIdle();  // results are there for the next block to pick up
    }
    host.shutdown();
    for (const std::string& fault : host.faults())
        ADD_FAILURE() << fault;
}

// Real-time mode: file work goes to the worker thread, as in a real host, and TAVRIN_OFFLINE is
// not "1"; the offline mode the other tests run in is given back after. The Trash is in the
// test's shared folder.
class EveryProcessingHalf : public ::testing::TestWithParam<std::string> {
protected:
    EveryProcessingHalf()
    {
        ::setenv("TAVRIN_OFFLINE", "0", 1);
        file_worker::setOffline(false);
        ::setenv("XDG_DATA_HOME", (shared_.path() / "xdg").c_str(), 1);
    }
    ~EveryProcessingHalf() override
    {
        file_worker::setOffline(wasOffline_);
        ::setenv("TAVRIN_OFFLINE", wasOffline_ ? "1" : "0", 1);
        ::unsetenv("XDG_DATA_HOME");
    }

    const bool wasOffline_ = file_worker::offline();
    const test_support::TemporarySharedFolder shared_;
};

TEST_P(EveryProcessingHalf, LeavesTheAudioThreadFree)
{
    const std::string& identifier = GetParam();
    Auditor auditor;
    perform(identifier, shared_, auditor);
    EXPECT_GT(auditor.calls(AudioCall::Process), 0);

    AuditReport seen = auditor.seen(AudioCall::Process);
    seen.add(auditor.seen(AudioCall::MessageFromGui));
    const std::string what = "process: " + auditor.seen(AudioCall::Process).describe() +
                             "; receiveMessageFromGui: " + auditor.seen(AudioCall::MessageFromGui).describe();
    EXPECT_TRUE(seen.clean()) << identifier << " on the audio thread, " << what;
}

INSTANTIATE_TEST_SUITE_P(AudioThread, EveryProcessingHalf, ::testing::ValuesIn(processingHalves()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

} // namespace

MP_REGISTER_MODULE(AudioThreadProbe, L"TEST_AudioThreadProbe")
