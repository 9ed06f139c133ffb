// The list-file preset manager, processing half: a 128-preset bank in memory, selected into the
// shared preset block by program change or by its interface half, which hands it file paths and
// names only through "Path.txt" and "List.txt" in the manager folder. At graph start it reads the
// startup bank and holds its busy gate at 1.0 for one second.
#include "MpProcessing.h"
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/PresetBank.h"
#include "PresetStore/PresetBlock.h"

#include <algorithm>
#include <optional>
#include <string>

class Qv_patchmanagerlistfile : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kId, kAutoPath, kPathPc, kPathMac, kBusyGate };

    // Messages between the halves are ids without payload. From the interface half: 0-127
    // select, then the commands below. To it: 0-127 this preset is now current, kListWritten,
    // and kCurrentBase + the current preset.
    static constexpr int32_t kLastPreset = 127;
    enum Command : int32_t {
        kLoadPreset = 128,
        kSavePreset = 129,
        kFixPreset = 130,
        kLoadBank = 131,
        kSaveBank = 132,
        kReadList = 133,
        kSaveList = 134,
        kFixOnce = 135,
    };
    static constexpr int32_t kListWritten = 129;
    static constexpr int32_t kCurrentBase = 130;

private:
    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    StringInPin id_;
    BoolInPin autoPath_;
    StringInPin pathPc_;  // read nowhere: the product runs on one system
    StringInPin pathMac_;
    AudioOutPin busyGate_;

    PresetBlock block_;
    presetbank::BankMemory bank_;
    presetbank::NameTable names_;
    std::optional<std::string> baseFolder_;  // "" with AutoPath; nothing: PathMac refused, no files
    presetbank::PathBuffer workingPath_;
    presetbank::PathBuffer receivedPath_;
    bool receivedValid_ = false;
    std::optional<std::string> idText_;  // nothing: ID refused
    bool graphStarted_ = false;          // the manager folder exists only from the first graph start
    int current_ = 0;                    // preset 0-127 that selection, snapshot and files act on
    bool waiting_ = true;
    float sampleRate_ = 0.0f;            // Hz
    int32_t countdown_ = 0;              // samples left of the startup countdown
    float countdownSeconds_ = 1.0f;
    bool snapshotDone_ = false;

public:
    Qv_patchmanagerlistfile()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kId, id_);
        initializePin(kAutoPath, autoPath_);
        initializePin(kPathPc, pathPc_);
        initializePin(kPathMac, pathMac_);
        initializePin(kBusyGate, busyGate_);
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_patchmanagerlistfile::subProcess);
        if (host)
            host->querySampleRate(&sampleRate_);
        initSharedMemory();
        return 0;
    }

    // File work of graph start: the startup bank is read here, never in the sub-process.
    void onGraphStart() override
    {
        try {
            const presetbank::StartupPath start =
                presetbank::startupBankPath(host, autoPath_.value, id_.value, pathMac_.value);
            idText_ = start.idText;
            baseFolder_ = start.baseFolder;
            graphStarted_ = true;
            workingPath_.assign(start.workingPath.value_or(std::string()));
            loadStartupBank();
        } catch (...) {
            // An allocation failure leaves the bank as it was; the gate still runs.
            countdown_ = countdownSamples();
        }
        MpBase::onGraphStart();
    }

    void onSetPins() override { busyGate_.setStreaming(true); }

    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        if (!bytes || size < 2 || (bytes[0] & 0xF0) != 0xC0 || bytes[1] >= 0x80)
            return;
        const int preset = bytes[1];
        select(preset);
        if (host)
            host->postMessageToGui(preset, 0, nullptr);
        sendProgramChange(preset);
    }

    // Busy gate and startup countdown: fills the gate, at most one 256-value copy, no file work.
    void subProcess(int offset, int frames)
    {
        float level = 0.0f;
        if (countdown_ > 0) {
            countdown_ -= frames;
            level = 1.0f;
        }
        if (float* gate = busyGate_.getBuffer(); gate && frames > 0)
            std::fill(gate + offset, gate + offset + frames, level);
        if (countdown_ > 0 || snapshotDone_)
            return;
        bank_.storeFrom(current_, block_);
        snapshotDone_ = true;
    }

    int32_t receiveMessageFromGui(int32_t id, int32_t, const void*) noexcept override
    {
        try {
            dispatch(id);
        } catch (...) {
            // A failed allocation in a file command leaves memory as it was.
        }
        return 0;
    }

private:
    void initSharedMemory()
    {
        block_.open(host);
        bank_.clear();
    }

    int32_t countdownSamples() const
    {
        const float samples = countdownSeconds_ * sampleRate_;
        if (!(samples > 0.0f))
            return 0;
        return samples >= 2147483647.0f ? 2147483647 : static_cast<int32_t>(samples);
    }

    void loadStartupBank()
    {
        presetbank::LoadBank(workingPath_.view(), names_, bank_, presetbank::FieldConversion::Atof);
        countdown_ = countdownSamples();
    }

    void dispatch(int32_t id)
    {
        if (id >= 0 && id <= kLastPreset) {
            select(id);
            sendProgramChange(id);
            return;
        }
        switch (id) {
        case kLoadPreset:
            if (!takeReceivedPath())
                return;
            if (usableWorkingPath())
                presetbank::LoadPreset(workingPath_.view(), names_, current_, block_);
            fixPreset();
            return;
        case kSavePreset:
            if (!takeReceivedPath() || !usableWorkingPath())
                return;
            presetbank::LoadName(workingPath_.view(), names_, current_);
            presetbank::SavePreset(workingPath_.view(), names_.view(current_), block_);
            return;
        case kFixPreset:
            fixPreset();
            return;
        case kLoadBank:
            if (takeReceivedPath() && usableWorkingPath())
                loadBank();
            return;
        case kSaveBank:
            if (!takeReceivedPath() || !usableWorkingPath())
                return;
            presetbank::LoadNames(workingPath_.view(), names_);
            presetbank::SaveBank(workingPath_.view(), names_, bank_);
            return;
        case kReadList:
            readList();
            return;
        case kSaveList:
            saveList();
            return;
        case kFixOnce:
            if (waiting_)
                fixPreset();
            waiting_ = false;
            return;
        default:
            return;
        }
    }

    void select(int preset)
    {
        current_ = presetbank::BankMemory::clampPreset(preset);
        bank_.copyTo(current_, block_);
    }

    void fixPreset() { bank_.storeFrom(current_, block_); }

    void sendProgramChange(int preset)
    {
        const unsigned char bytes[3] = {0xC0, static_cast<unsigned char>(preset & 0x7F), 0x00};
        midiOut_.send(bytes, 3, 0);
    }

    void loadBank()
    {
        if (!presetbank::LoadBank(workingPath_.view(), names_, bank_, presetbank::FieldConversion::Atof))
            return;
        select(0);
        if (host)
            host->postMessageToGui(0, 0, nullptr);
        sendProgramChange(0);
    }

    // The manager folder, once the graph has started and while its parts are usable.
    std::optional<std::string> managerFolder() const
    {
        if (!graphStarted_ || !idText_)
            return std::nullopt;
        return listfile::managerFolder(baseFolder_, *idText_, autoPath_.value);
    }

    // Path.txt into the received path; true when a valid received path became the working path.
    bool takeReceivedPath()
    {
        const std::optional<std::string> folder = managerFolder();
        listfile::PathFileRead read;
        if (folder)
            read = listfile::readPathFile(*folder);
        switch (read.status) {
        case listfile::PathFileRead::Status::Unreadable:
            receivedPath_.clear();
            receivedValid_ = false;
            return false;
        case listfile::PathFileRead::Status::NoLine:
            break;
        case listfile::PathFileRead::Status::Path:
            receivedValid_ = receivedPath_.assign(read.path);
            break;
        }
        if (!receivedValid_)
            return false;
        workingPath_.assign(receivedPath_.view());
        return true;
    }

    // Files chosen in a panel are absolute; anything else (an empty line, a stray relative path)
    // opens nothing, so that no file is read or written relative to the current folder.
    bool usableWorkingPath() const { return !workingPath_.empty() && workingPath_.view().front() == '/'; }

    void readList()
    {
        const std::optional<std::string> folder = managerFolder();
        if (!folder)
            return;
        const std::optional<std::string> line = listfile::readListFile(*folder);
        if (line && !line->empty())
            presetbank::ReadList(*line, names_);
    }

    void saveList()
    {
        if (const std::optional<std::string> folder = managerFolder()) {
            listfile::createManagerFolders(baseFolder_, *idText_, autoPath_.value);
            listfile::writeListFile(*folder, presetbank::SaveList(names_));
        }
        if (host) {
            host->postMessageToGui(kCurrentBase + current_, 0, nullptr);
            host->postMessageToGui(kListWritten, 0, nullptr);
        }
    }
};

MP_REGISTER_MODULE(Qv_patchmanagerlistfile, L"QV_PatchManagerListfile")
