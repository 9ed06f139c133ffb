// The list-pipe preset manager's processing half: a 128-preset bank in memory; selecting a preset
// (from its interface half or by a MIDI program change) copies it into the shared preset block
// and announces it with the controller dump and a program change. It carries out the interface
// half's file and list commands, and one second after the interface half starts it stores the
// running sound into the current preset and brings in the factory bank.
#include "MpProcessing.h"
#include "PresetStore/ControllerDump.h"
#include "PresetStore/FactoryBank.h"
#include "PresetStore/PresetBank.h"
#include "PresetStore/PresetBlock.h"

#include <cstring>
#include <limits>
#include <string>
#include <string_view>

namespace {

// trunc(seconds x rate) in single precision; a rate that is no positive number gives 0 and a
// product beyond int range the largest int, so no host value makes the conversion undefined.
int32_t countdownSamples(float seconds, float sampleRate)
{
    const float product = seconds * sampleRate;
    if (!(product > 0.0f))
        return 0;
    if (product >= 2147483648.0f)
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(product);
}

// A message payload as text: up to its first NUL, never past size; nothing for a null pointer or
// a size of 0 or less.
std::string_view payloadText(int32_t size, const void* data)
{
    if (!data || size <= 0)
        return {};
    const char* text = static_cast<const char*>(data);
    const void* nul = std::memchr(text, 0, static_cast<std::size_t>(size));
    return std::string_view(text, nul ? static_cast<const char*>(nul) - text : static_cast<std::size_t>(size));
}

} // namespace

class Qv_patchmanagerlistpipe : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kId, kAutoPath, kPathPc, kPathMac, kKeepAwake };

    // Messages from the interface half; ids 0-127 select that preset.
    static constexpr int32_t kLoadPreset = 128;
    static constexpr int32_t kSavePreset = 129;
    static constexpr int32_t kFixPreset = 130;
    static constexpr int32_t kLoadBank = 131;
    static constexpr int32_t kSaveBank = 132;
    static constexpr int32_t kNameList = 133;
    static constexpr int32_t kInterfaceStarted = 134;
    static constexpr int32_t kStopWaiting = 135;
    static constexpr int32_t kPath = 136;
    // Messages to the interface half; ids 0-127 announce the preset a program change selected.
    static constexpr int32_t kListText = 129;
    static constexpr int32_t kCurrentPresetBase = 130;  // + current preset
    static constexpr int32_t kFactoryBankLoaded = 260;

    static constexpr int kPresets = presetbank::kPresets;
    static constexpr float kCountdownSeconds = 1.0f;
    // A received path this short is taken for no file at all.
    static constexpr std::size_t kShortestPath = 10;

    Qv_patchmanagerlistpipe()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kId, id_);
        initializePin(kAutoPath, autoPath_);
        initializePin(kPathPc, pathPc_);
        initializePin(kPathMac, pathMac_);
        initializePin(kKeepAwake, keepAwake_);
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_patchmanagerlistpipe::subProcess);
        if (host)
            host->querySampleRate(&sampleRate_);
        InitSharedMemory();
        return mpapi::MP_RESULT_OK;
    }

    void onGraphStart() override
    {
        formStartupPath();
        countdown_ = countdownSamples(kCountdownSeconds, sampleRate_);
        MpPluginBase::onGraphStart();
    }

    // Keeps the sub-process (and with it the start-up countdown) running on every block.
    void onSetPins() override { keepAwake_.setStreaming(true); }

    using MpBase::onMidiMessage;
    // A program change on any channel selects its preset and is passed on, on channel 1.
    void onMidiMessage(int /*pin*/, unsigned char* bytes, int size) override
    {
        if (!bytes || size < 2 || (bytes[0] & 0xF0) != 0xC0 || bytes[1] >= kPresets)
            return;
        const int program = bytes[1];
        current_ = program;
        ChangePreset();
        postToGui(program);
        sendProgramChange(program);
    }

    void subProcess(int /*offset*/, int frames)
    {
        if (countdown_ <= 0)
            return;
        countdown_ -= frames;
        if (countdown_ > 0 || waiting_)
            return;
        FixPreset();
        if (std::string_view(names_.name(0)) == presetbank::kDefaultName)
            LoadStartupBank();
    }

    int32_t receiveMessageFromGui(int32_t id, int32_t size, const void* data) noexcept override
    {
        try {
            dispatch(id, size, data);
        } catch (...) {
            // A file operation that ran out of memory changes nothing further.
        }
        return mpapi::MP_RESULT_OK;
    }

    // The live preset into its bank slot.
    void FixPreset() { bank_.storeFrom(current_, block_); }

    // The current preset into the block, announced by the controller dump.
    void ChangePreset()
    {
        bank_.copyTo(current_, block_);
        SendDump();
    }

    void SendDump() { controller_dump::sendDump(block_, midiOut_); }

    // The factory bank into the names and the bank memory; the current preset keeps the live
    // values.
    void LoadStartupBank()
    {
        factorybank::layInto(names_, bank_);
        FixPreset();
        postToGui(kFactoryBankLoaded);
    }

private:
    void InitSharedMemory()
    {
        block_.open(host);
        bank_.clear();
    }

    // The startup bank path into the working path; no path (no file operation) when the pins
    // give none.
    void formStartupPath()
    {
        workingPath_.clear();
        try {
            const presetbank::StartupPath start =
                presetbank::startupBankPath(host, autoPath_.value, id_.value, pathMac_.value);
            if (start.workingPath)
                workingPath_.assign(*start.workingPath);
        } catch (...) {
            // No memory for the path texts: no startup path.
        }
    }

    void dispatch(int32_t id, int32_t size, const void* data)
    {
        if (id >= 0 && id < kPresets) {
            select(id);
            return;
        }
        switch (id) {
        case kLoadPreset:
            if (LoadPath()) {
                presetbank::LoadPreset(workingPath_.view(), names_, current_, block_);
                FixPreset();
            }
            break;
        case kSavePreset:
            // The interface half has written the file; its name line becomes the current name and
            // the file is written again with the live values.
            if (LoadPath()) {
                presetbank::LoadName(workingPath_.view(), names_, current_);
                presetbank::SavePreset(workingPath_.view(), names_.view(current_), block_);
            }
            break;
        case kFixPreset:
            FixPreset();
            break;
        case kLoadBank:
            if (LoadPath() && presetbank::LoadBank(workingPath_.view(), names_, bank_,
                                                   presetbank::FieldConversion::Decimal)) {
                current_ = 0;
                ChangePreset();
                postToGui(0);
                sendProgramChange(0);
            }
            break;
        case kSaveBank:
            if (LoadPath()) {
                presetbank::LoadNames(workingPath_.view(), names_);
                presetbank::SaveBank(workingPath_.view(), names_, bank_);
            }
            break;
        case kNameList: {
            const std::string_view text = payloadText(size, data);
            if (!text.empty())
                presetbank::ReadList(text, names_);
            break;
        }
        case kInterfaceStarted:
            SaveList();
            if (waiting_) {
                waiting_ = false;
                countdown_ = countdownSamples(kCountdownSeconds, sampleRate_);
            }
            break;
        case kStopWaiting:
            if (waiting_)
                FixPreset();
            waiting_ = false;
            break;
        case kPath: {
            // A path too long for the buffer is refused, not cut: the next command then finds
            // no path and does nothing.
            const std::string_view path = payloadText(size, data);
            if (path.empty())
                receivedPath_.clear();
            else
                receivedPath_.assign(path);
            break;
        }
        default:
            break;
        }
    }

    // A select from the interface half. The first select that finds the current preset at 2 or
    // above first passes through preset 1.
    void select(int preset)
    {
        if (!prelude_ && current_ >= 2) {
            current_ = 1;
            ChangePreset();
            prelude_ = true;
        }
        current_ = preset;
        ChangePreset();
        sendProgramChange(preset);
    }

    // The current preset and the numbered list to the interface half.
    void SaveList()
    {
        postToGui(kCurrentPresetBase + current_);
        const std::string list = presetbank::SaveList(names_);
        postToGui(kListText, static_cast<int32_t>(list.size() + 1), list.c_str());
    }

    // The received path becomes the working path, unless it is too short to name a file: it is
    // then emptied and the command does nothing.
    bool LoadPath()
    {
        if (receivedPath_.size() <= kShortestPath) {
            receivedPath_.clear();
            return false;
        }
        return workingPath_.assign(receivedPath_.view());
    }

    void sendProgramChange(int program)
    {
        const unsigned char bytes[3] = {0xC0, static_cast<unsigned char>(program & 0x7F), 0x00};
        midiOut_.send(bytes, 3, 0);
    }

    void postToGui(int32_t id, int32_t size = 0, const void* data = nullptr)
    {
        if (host)
            host->postMessageToGui(id, size, data);
    }

    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    StringInPin id_;
    BoolInPin autoPath_;
    StringInPin pathPc_;  // not read
    StringInPin pathMac_;
    AudioOutPin keepAwake_;  // never written; streaming keeps the sub-process running

    PresetBlock block_;
    presetbank::BankMemory bank_;
    presetbank::NameTable names_;
    presetbank::PathBuffer workingPath_;
    presetbank::PathBuffer receivedPath_;  // the last message 136
    int current_ = 0;                      // preset 0-127
    bool waiting_ = true;                  // until the interface half has started
    float sampleRate_ = 0.0f;              // Hz
    int32_t countdown_ = 0;                // samples to the start-up store
    bool prelude_ = false;                 // the one-time pass through preset 1 has happened
};

MP_REGISTER_MODULE(Qv_patchmanagerlistpipe, L"QV_PatchManagerListpipe")
