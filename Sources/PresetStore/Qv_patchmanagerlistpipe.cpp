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

    Qv_patchmanagerlistpipe() { workerSide_.conversion = preset_bank::FieldConversion::Decimal; }
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
        take(Kind::GraphStart);
        MpPluginBase::onGraphStart();
    }

    // Keeps the sub-process (and with it the start-up countdown) running on every block.
    void onSetPins() override { audioOut_.setStreaming(true); }

    void subProcess(int /*offset*/, int frames)
    {
        if (countdown_.endsIn(frames))
            take(Kind::CountdownEnd);
    }

private:
    // [audio thread] A path is remembered and a file command takes it at once, and the countdown
    // starts with the graph, whatever waits: the command carries its path while it waits.
    bool admit(Kind kind, int32_t id, std::string_view& payload) override
    {
        if (kind == Kind::GraphStart) {
            countdown_.start(countdownSamples(kCountdownSeconds));
            return false;
        }
        if (kind != Kind::Message)
            return true;
        switch (id) {
        case list_message::kInterfaceStarted:
            if (countdownWaits_)
                countdown_.start(countdownSamples(kCountdownSeconds));
            countdownWaits_ = false;
            return true;
        case list_message::kStopWaiting:
            countdownWaits_ = false;
            return true;
        case list_message::kPath:
            // A path too long for the buffer is refused, not cut: the next command then finds
            // no path and does nothing.
            if (payload.empty())
                receivedPath_.clear();
            else
                receivedPath_.assign(payload);
            return false;
        case list_message::kLoadPreset:
        case list_message::kSavePreset:
        case list_message::kLoadBank:
        case list_message::kSaveBank:
            // The received path is the command's, unless it is too short to name a file: it is
            // then emptied and the command does nothing.
            if (receivedPath_.size() <= kShortestPath) {
                receivedPath_.clear();
                return false;
            }
            payload = receivedPath_.view();
            return true;
        default:
            return true;
        }
    }

    Needs needs(Kind kind, int32_t id) const override
    {
        if (const auto common = commonNeeds(kind, id))
            return *common;
        using namespace list_manager;
        if (kind == Kind::CountdownEnd)
            return {kBlock | kBank | kNames | kOutput, true, false, true, false, "start-up store"};
        if (kind == Kind::Message && id == list_message::kNameList)
            return {kNames, false, false, true, false, "name list"};
        if (kind == Kind::Message && id == list_message::kInterfaceStarted)
            return {kBlock | kNames | kOutput, false, false, false, false, "interface start"};
        return {};
    }

    void onGraphStarted(std::string_view) override {}

    // Until the interface half has started, the countdown runs out without storing. The live
    // preset into its slot; while the names are the constructor's, the factory bank laid in (the
    // current preset keeps the live values) and announced.
    void onCountdownEnd() override
    {
        if (waiting_)
            return;
        if (std::string_view(names_.name(0)) != preset_bank::kDefaultName) {
            storeLive();
            return;
        }
        bank().storeFrom(current_, liveValues());
        factory_bank::layInto(names_, bank());
        bank().storeFrom(current_, liveValues());
        submit(newJob(Task::FactoryBank, 0));
        postToGui(list_message::kFactoryBankLoaded);
    }

    void onMessage(int32_t id, std::string_view payload) override
    {
        if (id >= 0 && id < kPresets) {
            select(id);
            return;
        }
        switch (id) {
        case list_message::kLoadPreset:
            // The preset into the current name and the block, then the block into the slot.
            startFileCommand(Task::LoadPreset, payload);
            break;
        case list_message::kSavePreset:
            // The interface half has written the file; its name line becomes the current name and
            // the file is written again with the live values.
            startFileCommand(Task::SavePreset, payload);
            break;
        case list_message::kFixPreset:
            storeLive();
            break;
        case list_message::kLoadBank:
            startFileCommand(Task::LoadBank, payload);
            break;
        case list_message::kSaveBank:
            startFileCommand(Task::SaveBank, payload);
            break;
        case list_message::kNameList:
            if (!payload.empty()) {
                preset_bank::ReadList(payload, names_);
                list_manager::Work& job = newJob(Task::SetNames, 0);
                job.names = names_;
                submit(job);
            }
            break;
        case list_message::kInterfaceStarted:
            SaveList();
            waiting_ = false;
            break;
        case list_message::kStopWaiting:
            if (waiting_)
                storeLive();
            waiting_ = false;
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
            changePreset();
            prelude_ = true;
        }
        current_ = preset;
        changePreset();
        sendProgramChange(preset);
    }

    // Selecting announces the new sound by the controller dump of what was written.
    void announcePreset(const preset_bank::PresetValues& values) override
    {
        if (closing())
            return;
        for (const controller_dump::Row& row : controller_dump::kRows) {
            const unsigned char bytes[3] = {0xB0, row.controller, controller_dump::controllerValue(row, values[row.slot])};
            midiOut_.send(bytes, 3, 0);
        }
    }

    // The current preset and the numbered list to the interface half.
    void SaveList()
    {
        postToGui(list_message::kCurrentPresetBase + current_);
        list_.build(names_);
        postToGui(list_message::kListText, static_cast<int32_t>(list_.size() + 1), list_.c_str());
    }

    preset_bank::PathBuffer receivedPath_;  // the last message 136
    preset_bank::ListText list_;            // the list text SaveList sends
    bool waiting_ = true;                   // until the interface half has started
    bool countdownWaits_ = true;            // the same, as the inputs arrive: the countdown starts
                                            // with the first 134 whatever waits before it
    SampleCountdown countdown_;             // samples to the start-up store
    bool prelude_ = false;                  // the one-time pass through preset 1 has happened
};

MP_REGISTER_MODULE(Qv_patchmanagerlistpipe, L"QV_PatchManagerListpipe")
