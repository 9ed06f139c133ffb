// What the preset-store tests share: the file formats written out by hand (so the modules are
// checked against bytes, not against their own writers), a factory that hands out only one half
// of each module, a probe on the shared preset block, readers of what a module sent through the
// host, and a fixture that drives a list manager's interface half with scripted file panels.
#pragma once

#include "Dialogs.h"
#include "Host.h"
#include "MpProcessing.h"
#include "FileWorker.h"
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/ListManagerMessages.h"
#include "PresetStore/PresetBank.h"
#include "PresetStore/PresetBlock.h"
#include "framework/HostTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace manager_test {

namespace fs = std::filesystem;

// ---- Files ----------------------------------------------------------------------------------

// The whole file; empty when it cannot be read.
inline std::string readBytes(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces the file with bytes, creating its folder first.
inline void writeBytes(const fs::path& file, const std::string& bytes)
{
    if (file.has_parent_path())
        fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// ---- File formats -----------------------------------------------------------------------------

using Names = std::vector<std::string>;

inline std::string number3(int i)
{
    char text[8];
    std::snprintf(text, sizeof text, "%3d", i);
    return text;
}

// "Default", then 127 times "empty".
inline Names constructorNames()
{
    Names names(128, "empty");
    names[0] = "Default";
    return names;
}

// prefix + preset number: "Pad 0" ... "Pad 127".
inline Names numberedNames(const std::string& prefix)
{
    Names names;
    for (int p = 0; p < 128; ++p)
        names.push_back(prefix + std::to_string(p));
    return names;
}

// prefix + preset number in three columns: "Pad   0" ... "Pad 127".
inline Names paddedNames(const std::string& prefix)
{
    Names names;
    for (int p = 0; p < 128; ++p)
        names.push_back(prefix + number3(p));
    return names;
}

// A value field of the preset and bank files: "," and the value printed "%11.7f".
inline std::string valueField(float v)
{
    char text[40];
    std::snprintf(text, sizeof text, ",%11.7f", static_cast<double>(v));
    return text;
}

// A name field: "," and the name right-aligned in 24 columns (a longer name whole).
inline std::string nameField(const std::string& name)
{
    return "," + std::string(name.size() < 24 ? 24 - name.size() : 0, ' ') + name;
}

// The numbered list text of 128 names: "  1:name,  2:name,...,128:name".
inline std::string listText(const Names& names)
{
    std::string text;
    for (int i = 0; i < 128; ++i)
        text += (i ? "," : "") + number3(i + 1) + ":" + names[i];
    return text;
}

// A preset file: the name line, then 256 value lines.
inline std::string presetText(const std::string& name, const std::array<float, 256>& values)
{
    std::string text = nameField(name) + ";\r\n";
    for (float v : values)
        text += valueField(v) + ";\r\n";
    return text;
}

// A bank file: the names line, then row k with value(p, k) of every preset p (all 0 without one).
template <class Value>
std::string bankText(const Names& names, Value value)
{
    std::string text;
    for (int p = 0; p < 128; ++p)
        text += nameField(names[p]);
    text += ";\r\n";
    for (int k = 0; k < 256; ++k) {
        for (int p = 0; p < 128; ++p)
            text += valueField(value(p, k));
        text += ";\r\n";
    }
    return text;
}
inline std::string bankText(const Names& names)
{
    return bankText(names, [](int, int) { return 0.0f; });
}

// The construction names with some slots renamed.
inline Names namesWith(const std::vector<std::pair<int, std::string>>& renamed)
{
    Names names = constructorNames();
    for (const auto& [slot, name] : renamed)
        names[static_cast<std::size_t>(slot)] = name;
    return names;
}

// The numbered list text of the construction names with some slots renamed.
inline std::string listWith(const std::vector<std::pair<int, std::string>>& renamed)
{
    return listText(namesWith(renamed));
}

// ---- Modules ----------------------------------------------------------------------------------

// Opens the shared preset block so a test can read and write the live preset.
class BlockProbe : public MpBase {
public:
    int32_t open() noexcept override
    {
        MpBase::open();
        block.open(host);
        return 0;
    }
    PresetBlock block;
};

// The bundle's factory handing out only halves of one type (processing or interface), so that
// the messages a half posts stay recorded and undelivered; for processing halves also the probe
// "TEST_BlockProbe".
class OneSideFactory final : public mpapi::IMpFactory {
public:
    explicit OneSideFactory(int32_t type) : type_(type) {}

    int32_t queryInterface(const mpapi::MpGuid& iid, void** object) override
    {
        if (!object)
            return mpapi::MP_RESULT_FAIL;
        *object = nullptr;
        if (!(iid == mpapi::MP_IID_UNKNOWN) && !(iid == mpapi::MP_IID_FACTORY))
            return mpapi::MP_RESULT_UNSUPPORTED;
        *object = this;
        return mpapi::MP_RESULT_OK;
    }
    int32_t addRef() override { return 1; }
    int32_t release() override { return 1; }
    int32_t createInstance(const wchar_t* identifier, int32_t type, mpapi::IMpUnknown* host, void** object) override
    {
        if (object)
            *object = nullptr;
        if (type != type_ || !object)
            return mpapi::MP_RESULT_UNSUPPORTED;
        if (type == mpapi::MP_TYPE_AUDIO && std::wstring_view(identifier) == L"TEST_BlockProbe") {
            auto* made = new BlockProbe;
            made->setHost(host);
            probe = made;
            *object = static_cast<mpapi::IMpPlugin*>(made);
            return mpapi::MP_RESULT_OK;
        }
        const int32_t result = test_support::factory()->createInstance(identifier, type, host, object);
        if (result == mpapi::MP_RESULT_OK)
            made = static_cast<mpapi::IMpUnknown*>(*object);
        return result;
    }
    int32_t getSdkInformation(int32_t& version, int32_t maxChars, wchar_t* text) override
    {
        return test_support::factory()->getSdkInformation(version, maxChars, text);
    }

    BlockProbe* probe = nullptr;
    mpapi::IMpUnknown* made = nullptr;  // the last module object made from the registry (not the probe)

private:
    int32_t type_;
};

// Equal output streams of a real-time and an offline run, or the first place where they part
// (the whole streams are long).
inline ::testing::AssertionResult sameStream(const std::vector<std::string>& realTime, const std::vector<std::string>& offline)
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

// Path.txt written on the file worker from the test's thread, as the list-file interface half does.
class PathWrites {
public:
    PathWrites()
    {
        for (Write& write : writes_)
            free_.push_back(&write);
    }
    void write(const fs::path& folder, const std::string& path)
    {
        while (file_worker::Job* done = channel_.finished())
            free_.push_back(static_cast<Write*>(done));
        if (free_.empty()) {
            channel_.drain();
            return write(folder, path);
        }
        Write& job = *free_.back();
        free_.pop_back();
        job.folder = folder.string() + "/";
        job.path = path;
        channel_.submit(job);
    }

private:
    struct Write final : file_worker::Job {
        std::string folder, path;
        void run() noexcept override { list_file::writePathFile(folder, path); }
    };
    std::array<Write, 16> writes_;
    std::vector<Write*> free_;
    file_worker::Channel channel_{16};
};

// Processing halves on one host with the block probe: a patch of list managers (and later other
// preset managers) sharing the preset block, at 1000 Hz in blocks of 64, every manager's ID pin
// "TAVRIN ONE" and PathMac root + "/", the host's files in root/host.
class ManagerHost {
public:
    ManagerHost(const fs::path& root, const std::vector<std::string>& identifiers)
        : host(&factory, tav_host::HostConfig{.sampleRate = 1000.0f, .blockLength = 64, .fileFolder = root / "host"})
    {
        test_support::add(host, "TEST_BlockProbe");
        for (const std::string& identifier : identifiers) {
            const std::size_t i = test_support::add(host, identifier);
            host.setInitialValue(i, tav_host::Side::Dsp, 2, tav_host::textValue("TAVRIN ONE"));
            host.setInitialValue(i, tav_host::Side::Dsp, 5, tav_host::textValue(root.string() + "/"));
            managers.push_back(i);
        }
        host.start();
    }

    PresetBlock& block() { return factory.probe->block; }
    // A message from a manager's interface half with a text payload (and its zero), delivered now.
    void post(std::size_t manager, int id, const std::string& text = {})
    {
        tav_host::Bytes bytes(text.begin(), text.end());
        if (!text.empty())
            bytes.push_back(0);
        host.postToDsp(manager, id, bytes);
        host.drain();
    }
    // Each manager's messages to its interface half and MIDI out (pin 1), in order, since the last
    // call; the calls are cleared.
    void record(std::vector<std::vector<std::string>>& outputs)
    {
        outputs.resize(managers.size());
        for (const auto& call : host.calls()) {
            const auto at = std::find(managers.begin(), managers.end(), call.instance);
            if (at == managers.end())
                continue;
            std::vector<std::string>& out = outputs[static_cast<std::size_t>(at - managers.begin())];
            if (call.kind == tav_host::CallKind::PostMessageToGui)
                out.push_back("gui " + std::to_string(call.pin) + " " + std::string(call.data.begin(), call.data.end()));
            else if (call.kind == tav_host::CallKind::SendPinValue && call.pin == 1)
                out.push_back("midi " + tav_host::formatValue(call.data, tav_host::ValueType::Midi));
        }
        host.clearCalls();
    }

    OneSideFactory factory{mpapi::MP_TYPE_AUDIO};
    tav_host::Host host;
    std::vector<std::size_t> managers;
};

// ---- Interface halves ---------------------------------------------------------------------------

// The interface pins of both list managers.
enum GuiPin { kPresetNumber, kPresetList, kPresetName, kLoadPreset, kSavePreset, kFixPreset, kLoadBank, kSaveBank,
              kId, kAutoPath, kPathPC, kPathMac, kGuiUpdate, kNameSave };

// The UTF-8 text of a text pin's raw value (4 bytes a character).
inline std::string textOf(const tav_host::Bytes& bytes)
{
    std::wstring wide;
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4)
        wide.push_back(static_cast<wchar_t>(bytes[i] | bytes[i + 1] << 8 | bytes[i + 2] << 16 | bytes[i + 3] << 24));
    return tav_host::wideToUtf8(wide);
}

// The last of a pin's transmissions; a default value when there was none.
template <class T>
T last(const std::vector<T>& sent)
{
    return sent.empty() ? T() : sent.back();
}

// ---- Observing ----------------------------------------------------------------------------------

// Ids of the messages a processing half posted to its interface half since the last clear; with
// bare, each is checked to come without payload.
inline std::vector<int> idsToGui(const tav_host::Host& host, std::size_t i, bool bare = false)
{
    std::vector<int> ids;
    for (const auto& call : host.callsOf(tav_host::CallKind::PostMessageToGui, i)) {
        if (bare) {
            EXPECT_EQ(call.size, 0) << "message " << call.pin;
        }
        ids.push_back(call.pin);
    }
    return ids;
}

// MIDI a processing half sent on a pin since the last clear, each checked to be 3 bytes at block
// position 0.
inline std::vector<tav_host::Bytes> midiSent(const tav_host::Host& host, std::size_t i, int pin)
{
    std::vector<tav_host::Bytes> out;
    for (const auto& call : host.callsOf(tav_host::CallKind::SendPinValue, i)) {
        if (call.pin != pin)
            continue;
        EXPECT_EQ(call.size, 3);
        EXPECT_EQ(call.blockPosition, 0);
        out.push_back(call.data);
    }
    return out;
}

// Every value an interface half's pin transmitted since the last clear, in order; then as texts.
inline std::vector<tav_host::Bytes> valuesOf(const tav_host::Host& host, std::size_t i, int pin)
{
    std::vector<tav_host::Bytes> out;
    for (const auto& call : host.callsOf(tav_host::CallKind::TransmitPin, i))
        if (call.pin == pin)
            out.push_back(call.data);
    return out;
}
inline std::vector<std::string> textsOf(const tav_host::Host& host, std::size_t i, int pin)
{
    std::vector<std::string> out;
    for (const auto& value : valuesOf(host, i, pin))
        out.push_back(textOf(value));
    return out;
}

// One list manager under a fresh shared folder, its pins naming the product folder "TAVRIN ONE"
// below that folder as the product's patch does; the host resolves file names in "host/" there.
// The file panels answer from the scripted queue.
class ManagerGuiTest : public ::testing::Test {
protected:
    explicit ManagerGuiTest(std::string identifier) : identifier_(std::move(identifier)) {}

    void SetUp() override { platform::ScriptedDialogs::instance().reset(); }
    void TearDown() override
    {
        host_.reset();
        platform::ScriptedDialogs::instance().reset();
    }

    // A started manager: only its interface half unless bothHalves; pins are interface pins
    // set before initialize.
    std::size_t start(bool bothHalves = false, std::vector<std::pair<int, tav_host::Bytes>> pins = {})
    {
        tav_host::HostConfig config;
        config.fileFolder = hostFolder_;
        host_.reset();
        host_ = std::make_unique<tav_host::Host>(bothHalves ? test_support::factory() : &interfaceOnly_, config);
        const std::size_t i = test_support::add(*host_, identifier_);
        host_->setInitialValue(i, tav_host::Side::Gui, kId, tav_host::textValue("TAVRIN ONE"));
        host_->setInitialValue(i, tav_host::Side::Gui, kPathMac, tav_host::textValue(folder_.string() + "/"));
        for (auto& [pin, value] : pins)
            host_->setInitialValue(i, tav_host::Side::Gui, pin, value);
        if (bothHalves) {
            // The processing half's ID and PathMac (pins 2 and 5).
            host_->setInitialValue(i, tav_host::Side::Dsp, 2, tav_host::textValue("TAVRIN ONE"));
            host_->setInitialValue(i, tav_host::Side::Dsp, 5, tav_host::textValue(folder_.string() + "/"));
        }
        host_->start();
        return i;
    }

    // A button pressed and released.
    void release(std::size_t i, int button)
    {
        host_->guiSetPin(i, button, tav_host::boolValue(true));
        host_->guiSetPin(i, button, tav_host::boolValue(false));
    }

    // A bank file "In.tavbank" of numbered names ("Preset 0" ...) loaded through the load-bank
    // panel while slot 5 is current, the calls before the press cleared; the file's path.
    fs::path loadNumberedBankFromSlot5(std::size_t i)
    {
        const fs::path in = banks_ / "In.tavbank";
        writeBytes(in, bankText(numberedNames("Preset "), [](int p, int k) { return static_cast<float>(p * 0.5 - k * 0.03125); }));
        host_->guiSetPin(i, kPresetNumber, tav_host::intValue(5));
        host_->clearCalls();
        platform::ScriptedDialogs::instance().pushPanelAnswer(in);
        release(i, kLoadBank);
        return in;
    }

    // Messages to the processing half since the last clear: id and payload bytes.
    using Sent = std::vector<std::pair<int, std::string>>;
    Sent sent(std::size_t i) const
    {
        Sent out;
        for (const auto& call : host_->callsOf(tav_host::CallKind::PostMessageToAudio, i))
            out.emplace_back(call.pin, std::string(call.data.begin(), call.data.end()));
        return out;
    }
    std::vector<tav_host::Bytes> values(std::size_t i, int pin) const { return valuesOf(*host_, i, pin); }
    std::vector<std::string> texts(std::size_t i, int pin) const { return textsOf(*host_, i, pin); }

    test_support::TemporarySharedFolder shared_;
    fs::path folder_ = shared_.path();
    fs::path hostFolder_ = folder_ / "host";
    fs::path manager_ = folder_ / "Quorvane" / "TAVRIN ONE";
    fs::path presets_ = manager_ / "Presetbase" / "Presets";
    fs::path banks_ = manager_ / "Presetbase" / "Banks";
    std::string identifier_;
    OneSideFactory interfaceOnly_{mpapi::MP_TYPE_GUI};
    std::unique_ptr<tav_host::Host> host_;
};

} // namespace manager_test
