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
    static_assert(std::is_trivially_copyable_v<pin_text::FileSettings>);

    pin_text::FileSettings settings_;  // the last graph start's, on their way to its job
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
    // worker, never in the sub-process.
    void onGraphStart() override
    {
        settings_.take(host, preset_bank::kHostPresetName, autoPath_.value, id_.value, pathMac_.value);
        take(Kind::GraphStart, 0, std::string_view(reinterpret_cast<const char*>(&settings_), sizeof settings_));
        MpBase::onGraphStart();
    }

    void onSetPins() override { audioOut_.setStreaming(true); }

    // Busy gate and startup countdown: fills the gate, no file work.
    void subProcess(int offset, int frames)
    {
        const float level = countdown_.running() ? 1.0f : 0.0f;
        countdown_.step(frames);
        if (float* gate = audioOut_.getBuffer(); gate && frames > 0)
            std::fill(gate + offset, gate + offset + frames, level);
        if (countdown_.running() || snapshotDone_)
            return;
        snapshotDone_ = true;
        take(Kind::CountdownEnd);
    }

private:
    // [audio thread] The busy gate starts with the graph, whatever waits.
    bool admit(Kind kind, int32_t, std::string_view&) override
    {
        if (kind == Kind::GraphStart)
            countdown_.start(countdownSamples(countdownSeconds_));
        return true;
    }

    Needs needs(Kind kind, int32_t id) const override
    {
        if (const auto common = commonNeeds(kind, id))
            return *common;
        using namespace list_manager;
        if (kind == Kind::GraphStart)
            return {0, false, false, true, true, "graph start"};
        if (kind == Kind::CountdownEnd)
            return {kBlock | kBank, true, false, true, false, "start-up store"};
        if (kind == Kind::Message && id == list_message::kNameList)
            return {0, false, false, true, false, "name list"};
        if (kind == Kind::Message && id == list_message::kInterfaceStarted)
            return {0, false, false, true, false, "interface start"};
        return {};
    }

    // The interface half's start-up 134 usually comes before the first graph start, when the
    // manager folder is not known yet: it is answered once the startup bank's names are in.
    void onGraphStarted(std::string_view settings) override
    {
        graphStarted_ = true;
        list_manager::Work& job =
            newJob(Task::StartUp, list_manager::kBank | list_manager::kNames | (listAskedBeforeStart_ ? list_manager::kOutput : 0));
        if (settings.size() == sizeof job.settings)
            std::memcpy(&job.settings, settings.data(), sizeof job.settings);
        job.writeList = listAskedBeforeStart_;
        job.bank = takeSpareBank();
        listAskedBeforeStart_ = false;
        submit(job);
    }

    // The one snapshot of the live preset into the current slot.
    void onCountdownEnd() override { storeLive(); }

    void onMessage(int32_t id, std::string_view) override
    {
        if (id >= 0 && id <= list_message::kLastPreset) {
            current_ = id;
            changePreset();
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
            storeLive();
            return;
        case list_message::kLoadBank:
            startFileCommand(Task::LoadBank);
            return;
        case list_message::kSaveBank:
            startFileCommand(Task::SaveBank);
            return;
        case list_message::kNameList:
            submit(newJob(Task::ReadList, list_manager::kNames));
            return;
        case list_message::kInterfaceStarted:
            if (!graphStarted_) {
                listAskedBeforeStart_ = true;
                return;
            }
            submit(newJob(Task::WriteList, list_manager::kOutput));
            return;
        case list_message::kStopWaiting:
            if (waiting_)
                storeLive();
            waiting_ = false;
            return;
        default:
            return;
        }
    }

    void applyWork(list_manager::Work& job) override
    {
        switch (job.task) {
        case Task::StartUp:
            if (job.opened) {
                swapBank(job);
                names_ = job.names;
            }
            if (job.writeList)
                announceList();
            return;
        case Task::ReadList:
            if (job.namesChanged)
                names_ = job.names;
            return;
        case Task::WriteList:
            announceList();
            return;
        default:
            ListManagerProcessing::applyWork(job);
            return;
        }
    }

    // Selecting announces nothing here: no controller dump.
    void announcePreset(const preset_bank::PresetValues&) override {}

    // List.txt has been written (or could not be): the current preset, then "read it".
    void announceList()
    {
        postToGui(list_message::kCurrentPresetBase + current_);
        postToGui(list_message::kListText);
    }
};

MP_REGISTER_MODULE(Qv_patchmanagerlistfile, L"QV_PatchManagerListfile")
