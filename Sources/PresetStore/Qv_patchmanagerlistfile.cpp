// The list-file preset manager, processing half: a 128-preset bank in memory, selected into the
// shared preset block by program change or by its interface half, which hands it file paths and
// names only through "Path.txt" and "List.txt" in the manager folder. At graph start it reads the
// startup bank and holds its busy gate at 1.0 for one second.
#include "Common/SampleCountdown.h"
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/ListManagerProcessing.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <type_traits>

class Qv_patchmanagerlistfile : public ListManagerProcessing {
public:
    // Pins: ListManagerProcessing::Pin; the audio output is the busy gate, 1.0 while the startup
    // countdown runs, else 0.0. Messages: listmessage (ListManagerMessages.h), all without
    // payload here.

private:
    using Task = list_manager::Work::Task;
    static_assert(std::is_trivially_copyable_v<pin_text::FileSettings>);

    pin_text::FileSettings settings_;  // the last graph start's, on their way to work_
    bool graphStarted_ = false;
    bool listAskedBeforeStart_ = false;  // a 134 came before the manager folder was known
    bool waiting_ = true;
    SampleCountdown countdown_;  // samples left of the startup countdown
    float countdownSeconds_ = 1.0f;
    bool snapshotDone_ = false;

public:
    // The file commands take their path from Path.txt, and bank values are read with atof.
    Qv_patchmanagerlistfile()
    {
        work_.pathFromPathFile = true;
        work_.conversion = preset_bank::FieldConversion::Atof;
    }
    ~Qv_patchmanagerlistfile() override { finishWork(); }

    int32_t open() noexcept override
    {
        ListManagerProcessing::open();
        setSubProcess(&Qv_patchmanagerlistfile::subProcess);
        return mpapi::MP_RESULT_OK;
    }

    // The pins and the host's "Preset.txt" are taken now; the startup bank is read by the file
    // worker, never in the sub-process.
    void onGraphStart() override
    {
        settings_.take(host, preset_bank::kHostPresetName, autoPath_.value, id_.value, pathMac_.value);
        take(list_manager::Input::Kind::GraphStart, 0,
             std::string_view(reinterpret_cast<const char*>(&settings_), sizeof settings_));
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
        snapshotDone_ = true;
        take(list_manager::Input::Kind::CountdownEnd);
    }

private:
    // The interface half's start-up 134 usually comes before the first graph start, when the
    // manager folder is not known yet: it is answered once the startup bank's names are in.
    void onGraphStarted(std::string_view settings) override
    {
        if (settings.size() == sizeof work_.settings)
            std::memcpy(&work_.settings, settings.data(), sizeof work_.settings);
        graphStarted_ = true;
        countdown_.start(countdownSamples(countdownSeconds_));
        work_.task = Task::StartUp;
        work_.writeList = listAskedBeforeStart_;
        work_.names = names_;
        work_.bank = bank_;
        startWork();
    }

    // The one snapshot of the live preset into the current slot.
    void onCountdownEnd() override { fixPreset(); }

    void onMessage(int32_t id, std::string_view) override
    {
        if (id >= 0 && id <= list_message::kLastPreset) {
            current_ = id;
            ChangePreset();
            sendProgramChange(id);
            return;
        }
        switch (id) {
        case list_message::kLoadPreset:
            startFileCommand(Task::LoadPreset);
            return;
        case list_message::kSavePreset:
            startFileCommand(Task::SavePreset);
            return;
        case list_message::kFixPreset:
            fixPreset();
            return;
        case list_message::kLoadBank:
            startFileCommand(Task::LoadBank);
            return;
        case list_message::kSaveBank:
            startFileCommand(Task::SaveBank);
            return;
        case list_message::kNameList:
            work_.task = Task::ReadList;
            startWork();
            return;
        case list_message::kInterfaceStarted:
            if (!graphStarted_) {
                listAskedBeforeStart_ = true;
                return;
            }
            work_.task = Task::WriteList;
            work_.list.build(names_);
            startWork();
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

    void applyWork() override
    {
        switch (work_.task) {
        case Task::StartUp:
            if (work_.opened) {
                names_ = work_.names;
                bank_ = work_.bank;
            }
            if (work_.writeList) {
                listAskedBeforeStart_ = false;
                announceList();
            }
            return;
        case Task::ReadList:
            if (work_.lineLength > 0)
                preset_bank::ReadList(work_.lineView(), names_);
            return;
        case Task::WriteList:
            announceList();
            return;
        default:
            ListManagerProcessing::applyWork();
            return;
        }
    }

    // Selecting announces nothing here: no controller dump.
    void ChangePreset() override { bank_.copyTo(current_, block_); }

    void fixPreset() { bank_.storeFrom(current_, block_); }

    // List.txt has been written (or could not be): the current preset, then "read it".
    void announceList()
    {
        postToGui(list_message::kCurrentPresetBase + current_);
        postToGui(list_message::kListText);
    }
};

MP_REGISTER_MODULE(Qv_patchmanagerlistfile, L"QV_PatchManagerListfile")
