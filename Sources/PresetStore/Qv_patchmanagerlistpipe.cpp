// The list-pipe preset manager's processing half: a 128-preset bank in memory; selecting a preset
// (from its interface half or by a MIDI program change) copies it into the shared preset block
// and announces it with the controller dump and a program change. It carries out the interface
// half's file and list commands, and one second after the interface half starts it stores the
// running sound into the current preset and brings in the factory bank.
#include "Common/SampleCountdown.h"
#include "PresetStore/ListManagerProcessing.h"

#include <algorithm>
#include <string_view>

class Qv_patchmanagerlistpipe : public ListManagerProcessing {
public:
    // Pins: ListManagerProcessing::Pin; the audio output is never written. Messages: listmessage
    // (ListManagerMessages.h).

    static constexpr int kPresets = preset_bank::kPresets;
    static constexpr float kCountdownSeconds = 1.0f;
    // A received path this short is taken for no file at all.
    static constexpr std::size_t kShortestPath = 10;

    Qv_patchmanagerlistpipe() : ListManagerProcessing(true) { workerSide_.conversion = preset_bank::FieldConversion::Decimal; }
    ~Qv_patchmanagerlistpipe() override { finishWork(); }

    int32_t open() noexcept override
    {
        ListManagerProcessing::open();
        setSubProcess(&Qv_patchmanagerlistpipe::subProcess);
        return mpapi::MP_RESULT_OK;
    }

    // The startup bank path is not formed here: every file command replaces the working path by
    // the received path before it opens anything, so it would never be opened.
    void onGraphStart() override
    {
        countdown_.start(countdownSamples(kCountdownSeconds));
        MpPluginBase::onGraphStart();
    }

    // Keeps the sub-process (and with it the start-up countdown) running on every block.
    void onSetPins() override { audioOut_.setStreaming(true); }

    // Until the interface half has started, the countdown runs out without storing. Then the live
    // preset into its slot; while the names are the constructor's, the worker lays the factory
    // bank in (the current preset keeps the live values) and it is announced.
    void subProcess(int /*offset*/, int frames)
    {
        if (countdown_.endsIn(frames) && !waiting_)
            storeLive(Task::StartStore, "start-up store");
    }

private:
    void onMessage(int32_t id, std::string_view payload) override
    {
        if (id >= 0 && id < kPresets) {
            selectPreset(id, true, false, "select");
            return;
        }
        switch (id) {
        case list_message::kLoadPreset:
            // The preset into the current name and the block, then the block into the slot.
            return command(Task::LoadPreset, "load preset");
        case list_message::kSavePreset:
            // The interface half has written the file; its name line becomes the current name and
            // the file is written again with the live values.
            return command(Task::SavePreset, "save preset");
        case list_message::kFixPreset:
            return storeLive(Task::Store, "store preset");
        case list_message::kLoadBank:
            return command(Task::LoadBank, "load bank");
        case list_message::kSaveBank:
            return command(Task::SaveBank, "save bank");
        case list_message::kNameList:
            return takeNames(payload);
        case list_message::kInterfaceStarted:
            return interfaceStarted();
        case list_message::kStopWaiting:
            if (waiting_)
                storeLive(Task::Store, "stop waiting");
            waiting_ = false;
            return;
        case list_message::kPath:
            // A path too long for the buffer is refused, not cut: the next command then finds no
            // path and does nothing.
            if (payload.empty())
                receivedPath_.clear();
            else
                receivedPath_.assign(payload);
            return;
        default:
            return;
        }
    }

    // The received path is the command's, unless it is too short to name a file: it is then
    // emptied and the command does nothing.
    void command(Task task, const char* action)
    {
        if (receivedPath_.size() <= kShortestPath) {
            receivedPath_.clear();
            return;
        }
        fileCommand(task, receivedPath_.view(), action);
    }

    // The names the list text gives go to the worker, which keeps the names: parsed here into
    // the slots the items name (a 129th item and on fall on slot 127, the last one staying).
    void takeNames(std::string_view payload)
    {
        const std::string_view text = payload.substr(0, payload.find('\0'));
        if (text.empty())
            return;
        list_manager::Work* job = newJob(Task::SetNames, {.names = true}, "name list");
        if (!job)
            return;
        job->names->reset();
        preset_bank::ReadList(text, *job->names);
        job->touched = static_cast<int>(std::min<std::size_t>(std::count(text.begin(), text.end(), ',') + 1, kPresets));
        submit(*job);
    }

    // The current preset and the numbered list go back; the first 134 ends the waiting and starts
    // the countdown again.
    void interfaceStarted()
    {
        if (list_manager::Work* job = newJob(Task::ListNames, {.answers = true, .names = true}, "interface start"))
            submit(*job);
        if (waiting_)
            countdown_.start(countdownSamples(kCountdownSeconds));
        waiting_ = false;
    }

    void settleWork(list_manager::Work& job) override
    {
        if (job.task != Task::ListNames) {
            ListManagerProcessing::settleWork(job);
            return;
        }
        sendToGui(list_message::kCurrentPresetBase + job.selection.current);
        sendList(*job.names);
    }

    preset_bank::PathBuffer receivedPath_;  // the last message 136
    bool waiting_ = true;                   // until the interface half has started
    SampleCountdown countdown_;             // samples to the start-up store
};

MP_REGISTER_MODULE(Qv_patchmanagerlistpipe, L"QV_PatchManagerListpipe")
