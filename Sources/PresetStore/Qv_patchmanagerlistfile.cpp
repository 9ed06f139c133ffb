// The list-file preset manager, processing half: a 128-preset bank in memory, selected into the
// shared preset block by program change or by its interface half, which hands it file paths and
// names only through "Path.txt" and "List.txt" in the manager folder. At graph start it reads the
// startup bank and holds its busy gate at 1.0 for one second.
#include "Common/SampleCountdown.h"
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/ListManagerProcessing.h"

#include <algorithm>
#include <optional>
#include <string>

class Qv_patchmanagerlistfile : public ListManagerProcessing {
public:
    // Pins: ListManagerProcessing::Pin; the audio output is the busy gate, 1.0 while the startup
    // countdown runs, else 0.0. Messages: listmessage (ListManagerMessages.h), all without
    // payload here.

private:
    preset_bank::PathBuffer workingPath_;
    preset_bank::PathBuffer receivedPath_;
    bool receivedValid_ = false;
    std::optional<list_file::ManagerFolder> folder_;  // from the last graph start; nothing: no files
    bool graphStarted_ = false;
    bool listAskedBeforeStart_ = false;  // a 134 came before the manager folder was known
    bool waiting_ = true;
    SampleCountdown countdown_;  // samples left of the startup countdown
    float countdownSeconds_ = 1.0f;
    bool snapshotDone_ = false;

public:
    int32_t open() noexcept override
    {
        ListManagerProcessing::open();
        setSubProcess(&Qv_patchmanagerlistfile::subProcess);
        return mpapi::MP_RESULT_OK;
    }

    // File work of graph start: the startup bank is read here, never in the sub-process. The
    // interface half's start-up 134 usually comes before the first graph start, when the manager
    // folder is not known yet: it is answered here, once the startup bank's names are in.
    void onGraphStart() override
    {
        try {
            const preset_bank::StartupPath start =
                preset_bank::startupBankPath(host, autoPath_.value, id_.value, pathMac_.value);
            folder_ = list_file::managerFolder(start, autoPath_.value);
            graphStarted_ = true;
            workingPath_.assign(start.workingPath.value_or(std::string()));
            loadStartupBank();
            if (listAskedBeforeStart_) {
                listAskedBeforeStart_ = false;
                saveList();
            }
        } catch (...) {
            // An allocation failure leaves the bank as it was; the gate still runs.
            countdown_.start(countdownSamples(countdownSeconds_));
        }
        MpBase::onGraphStart();
    }

    void onSetPins() override { audioOut_.setStreaming(true); }

    // Busy gate and startup countdown: fills the gate, at most one 256-value copy, no file work.
    void subProcess(int offset, int frames)
    {
        const float level = countdown_.running() ? 1.0f : 0.0f;
        countdown_.step(frames);
        if (float* gate = audioOut_.getBuffer(); gate && frames > 0)
            std::fill(gate + offset, gate + offset + frames, level);
        if (countdown_.running() || snapshotDone_)
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
        return mpapi::MP_RESULT_OK;
    }

private:
    void loadStartupBank()
    {
        preset_bank::LoadBank(workingPath_.view(), names_, bank_, preset_bank::FieldConversion::Atof);
        countdown_.start(countdownSamples(countdownSeconds_));
    }

    void dispatch(int32_t id)
    {
        if (id >= 0 && id <= list_message::kLastPreset) {
            current_ = id;
            ChangePreset();
            sendProgramChange(id);
            return;
        }
        switch (id) {
        case list_message::kLoadPreset:
            if (!takeReceivedPath())
                return;
            if (usableWorkingPath())
                preset_bank::LoadPreset(workingPath_.view(), names_, current_, block_);
            fixPreset();
            return;
        case list_message::kSavePreset:
            if (!takeReceivedPath() || !usableWorkingPath())
                return;
            preset_bank::LoadName(workingPath_.view(), names_, current_);
            preset_bank::SavePreset(workingPath_.view(), names_.view(current_), block_);
            return;
        case list_message::kFixPreset:
            fixPreset();
            return;
        case list_message::kLoadBank:
            if (takeReceivedPath() && usableWorkingPath())
                loadBank();
            return;
        case list_message::kSaveBank:
            if (!takeReceivedPath() || !usableWorkingPath())
                return;
            preset_bank::LoadNames(workingPath_.view(), names_);
            preset_bank::SaveBank(workingPath_.view(), names_, bank_);
            return;
        case list_message::kNameList:
            readList();
            return;
        case list_message::kInterfaceStarted:
            if (graphStarted_)
                saveList();
            else
                listAskedBeforeStart_ = true;
            return;
        case list_message::kStopWaiting:
            if (waiting_)
                fixPreset();
            waiting_ = false;
            return;
        default:
            return;
        }
    }

    // Selecting announces nothing here: no controller dump.
    void ChangePreset() override { bank_.copyTo(current_, block_); }

    void fixPreset() { bank_.storeFrom(current_, block_); }

    void loadBank()
    {
        if (preset_bank::LoadBank(workingPath_.view(), names_, bank_, preset_bank::FieldConversion::Atof))
            selectAndAnnounce(0);
    }

    // Path.txt into the received path; true when a valid received path became the working path.
    bool takeReceivedPath()
    {
        list_file::PathFileRead read;
        if (folder_)
            read = list_file::readPathFile(folder_->path);
        switch (read.status) {
        case list_file::PathFileRead::Status::Unreadable:
            receivedPath_.clear();
            receivedValid_ = false;
            return false;
        case list_file::PathFileRead::Status::NoLine:
            break;
        case list_file::PathFileRead::Status::Path:
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
        if (!folder_)
            return;
        const std::optional<std::string> line = list_file::readListFile(folder_->path);
        if (line && !line->empty())
            preset_bank::ReadList(*line, names_);
    }

    void saveList()
    {
        if (folder_) {
            list_file::createManagerFolders(*folder_);
            list_file::writeListFile(folder_->path, preset_bank::SaveList(names_));
        }
        postToGui(list_message::kCurrentPresetBase + current_);
        postToGui(list_message::kListText);
    }
};

MP_REGISTER_MODULE(Qv_patchmanagerlistfile, L"QV_PatchManagerListfile")
