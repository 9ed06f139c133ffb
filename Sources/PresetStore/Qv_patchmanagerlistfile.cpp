// The list-file preset manager, processing half: a 128-preset bank in memory, selected into the
// shared preset block by program change or by its interface half, which hands it file paths and
// names only through "Path.txt" and "List.txt" in the manager folder. At graph start it reads the
// startup bank and holds its busy gate at 1.0 for one second.
#include "Common/SampleCountdown.h"
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/ListManagerProcessing.h"

#include <algorithm>
#include <string_view>

class Qv_patchmanagerlistfile : public ListManagerProcessing {
public:
    // Pins: ListManagerProcessing::Pin; the audio output is the busy gate, 1.0 while the startup
    // countdown runs, else 0.0. Messages: listmessage (ListManagerMessages.h), all without
    // payload here.

    // The file commands take their path from Path.txt, and bank values are read with atof.
    Qv_patchmanagerlistfile() : ListManagerProcessing(false)
    {
        workerSide_.pathFromPathFile = true;
        workerSide_.conversion = preset_bank::FieldConversion::Atof;
    }
    ~Qv_patchmanagerlistfile() override { finishWork(); }

    int32_t open() noexcept override
    {
        ListManagerProcessing::open();
        setSubProcess(&Qv_patchmanagerlistfile::subProcess);
        return mpapi::MP_RESULT_OK;
    }

    // The pins and the host's "Preset.txt" are taken now; the startup bank is read by the file
    // worker, never in the sub-process. The busy gate starts whatever happens to the read.
    void onGraphStart() override
    {
        countdown_.start(countdownSamples(countdownSeconds_));
        graphStarted_ = true;
        const bool answers = listAskedBeforeStart_;
        if (list_manager::Work* job = newJob(Task::StartUp, {.changesBank = true, .answers = answers, .settings = true}, "graph start")) {
            job->settings->take(host, preset_bank::kHostPresetName, autoPath_.value, id_.value, pathMac_.value);
            job->writeList = answers;
            listAskedBeforeStart_ = false;
            submit(*job);
        }
        MpBase::onGraphStart();
    }

    void onSetPins() override { audioOut_.setStreaming(true); }

    // Busy gate and startup countdown: fills the gate; at the countdown's first end the one
    // snapshot of the live preset into the current slot.
    void subProcess(int offset, int frames)
    {
        const float level = countdown_.running() ? 1.0f : 0.0f;
        countdown_.step(frames);
        if (float* gate = audioOut_.getBuffer(); gate && frames > 0)
            std::fill(gate + offset, gate + offset + frames, level);
        if (countdown_.running() || snapshotDone_)
            return;
        snapshotDone_ = true;
        storeLive(Task::Store, "start-up store");
    }

private:
    void onMessage(int32_t id, std::string_view) override
    {
        if (id >= 0 && id <= list_message::kLastPreset) {
            selectPreset(id, false, false, "select");
            return;
        }
        switch (id) {
        case list_message::kLoadPreset:
            return fileCommand(Task::LoadPreset, {}, "load preset");
        case list_message::kSavePreset:
            return fileCommand(Task::SavePreset, {}, "save preset");
        case list_message::kFixPreset:
            return storeLive(Task::Store, "store preset");
        case list_message::kLoadBank:
            return fileCommand(Task::LoadBank, {}, "load bank");
        case list_message::kSaveBank:
            return fileCommand(Task::SaveBank, {}, "save bank");
        case list_message::kNameList:
            if (list_manager::Work* job = newJob(Task::ReadList, {}, "name list"))
                submit(*job);
            return;
        case list_message::kInterfaceStarted:
            return interfaceStarted();
        case list_message::kStopWaiting:
            if (waiting_)
                storeLive(Task::Store, "stop waiting");
            waiting_ = false;
            return;
        default:
            return;
        }
    }

    // The interface half's start-up 134 usually comes before the first graph start, when the
    // manager folder is not known yet: it is answered once the startup bank's names are in.
    void interfaceStarted()
    {
        if (!graphStarted_) {
            listAskedBeforeStart_ = true;
            return;
        }
        if (list_manager::Work* job = newJob(Task::WriteList, {.answers = true}, "interface start"))
            submit(*job);
    }

    // List.txt has been written (or could not be): the current preset, then "read it".
    void settleWork(list_manager::Work& job) override
    {
        if (job.task == Task::WriteList || (job.task == Task::StartUp && job.writeList)) {
            sendToGui(list_message::kCurrentPresetBase + job.selection.current);
            sendToGui(list_message::kListText);
            return;
        }
        ListManagerProcessing::settleWork(job);
    }

    bool graphStarted_ = false;
    bool listAskedBeforeStart_ = false;  // a 134 came before the manager folder was known
    bool waiting_ = true;
    SampleCountdown countdown_;  // samples left of the startup countdown
    float countdownSeconds_ = 1.0f;
    bool snapshotDone_ = false;
};

MP_REGISTER_MODULE(Qv_patchmanagerlistfile, L"QV_PatchManagerListfile")
