// The list-pipe preset manager's processing half: a 128-preset bank in memory; selecting a preset
// (from its interface half or by a MIDI program change) copies it into the shared preset block
// and announces it with the controller dump and a program change. It carries out the interface
// half's file and list commands, and one second after the interface half starts it stores the
// running sound into the current preset and brings in the factory bank.
#include "Common/SampleCountdown.h"
#include "PresetStore/ControllerDump.h"
#include "PresetStore/FactoryBank.h"
#include "PresetStore/ListManagerProcessing.h"

#include <string_view>

class Qv_patchmanagerlistpipe : public ListManagerProcessing {
public:
    // Pins: ListManagerProcessing::Pin; the audio output is never written. Messages: listmessage
    // (ListManagerMessages.h).

    static constexpr int kPresets = preset_bank::kPresets;
    static constexpr float kCountdownSeconds = 1.0f;
    // A received path this short is taken for no file at all.
    static constexpr std::size_t kShortestPath = 10;

    Qv_patchmanagerlistpipe() { work_.conversion = preset_bank::FieldConversion::Decimal; }
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
        take(list_manager::Input::Kind::GraphStart);
        MpPluginBase::onGraphStart();
    }

    // Keeps the sub-process (and with it the start-up countdown) running on every block.
    void onSetPins() override { audioOut_.setStreaming(true); }

    void subProcess(int /*offset*/, int frames)
    {
        if (countdown_.endsIn(frames))
            take(list_manager::Input::Kind::CountdownEnd);
    }

    // The live preset into its bank slot.
    void FixPreset() { bank_.storeFrom(current_, block_); }

    // The current preset into the block, announced by the controller dump.
    void ChangePreset() override
    {
        bank_.copyTo(current_, block_);
        SendDump();
    }

    void SendDump()
    {
        if (!closing())
            controller_dump::sendDump(block_, midiOut_);
    }

    // The factory bank into the names and the bank memory; the current preset keeps the live
    // values.
    void LoadStartupBank()
    {
        factory_bank::layInto(names_, bank_);
        FixPreset();
        postToGui(list_message::kFactoryBankLoaded);
    }

private:
    void onGraphStarted(std::string_view) override { countdown_.start(countdownSamples(kCountdownSeconds)); }

    // Until the interface half has started, the countdown runs out without storing.
    void onCountdownEnd() override
    {
        if (waiting_)
            return;
        FixPreset();
        if (std::string_view(names_.name(0)) == preset_bank::kDefaultName)
            LoadStartupBank();
    }

    void onMessage(int32_t id, std::string_view payload) override
    {
        using Task = list_manager::Work::Task;
        if (id >= 0 && id < kPresets) {
            select(id);
            return;
        }
        switch (id) {
        case list_message::kLoadPreset:
            // The preset into the current name and the block, then the block into the slot.
            if (LoadPath())
                startFileCommand(Task::LoadPreset);
            break;
        case list_message::kSavePreset:
            // The interface half has written the file; its name line becomes the current name and
            // the file is written again with the live values.
            if (LoadPath())
                startFileCommand(Task::SavePreset);
            break;
        case list_message::kFixPreset:
            FixPreset();
            break;
        case list_message::kLoadBank:
            if (LoadPath())
                startFileCommand(Task::LoadBank);
            break;
        case list_message::kSaveBank:
            if (LoadPath())
                startFileCommand(Task::SaveBank);
            break;
        case list_message::kNameList:
            if (!payload.empty())
                preset_bank::ReadList(payload, names_);
            break;
        case list_message::kInterfaceStarted:
            SaveList();
            if (waiting_) {
                waiting_ = false;
                countdown_.start(countdownSamples(kCountdownSeconds));
            }
            break;
        case list_message::kStopWaiting:
            if (waiting_)
                FixPreset();
            waiting_ = false;
            break;
        case list_message::kPath:
            // A path too long for the buffer is refused, not cut: the next command then finds
            // no path and does nothing.
            if (payload.empty())
                receivedPath_.clear();
            else
                receivedPath_.assign(payload);
            break;
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
        postToGui(list_message::kCurrentPresetBase + current_);
        list_.build(names_);
        postToGui(list_message::kListText, static_cast<int32_t>(list_.size() + 1), list_.c_str());
    }

    // The received path becomes the file command's path, unless it is too short to name a file:
    // it is then emptied and the command does nothing.
    bool LoadPath()
    {
        if (receivedPath_.size() <= kShortestPath) {
            receivedPath_.clear();
            return false;
        }
        return work_.path.assign(receivedPath_.view());
    }

    preset_bank::PathBuffer receivedPath_;  // the last message 136
    preset_bank::ListText list_;            // the list text SaveList sends
    bool waiting_ = true;                   // until the interface half has started
    SampleCountdown countdown_;             // samples to the start-up store
    bool prelude_ = false;                  // the one-time pass through preset 1 has happened
};

MP_REGISTER_MODULE(Qv_patchmanagerlistpipe, L"QV_PatchManagerListpipe")
