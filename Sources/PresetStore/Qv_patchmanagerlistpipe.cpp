// The list-pipe preset manager's processing half: a 128-preset bank in memory; selecting a preset
// (from its interface half or by a MIDI program change) copies it into the shared preset block
// and announces it with the controller dump and a program change. It carries out the interface
// half's file and list commands, and one second after the interface half starts it stores the
// running sound into the current preset and brings in the factory bank.
#include "Common/PayloadText.h"
#include "Common/SampleCountdown.h"
#include "PresetStore/ControllerDump.h"
#include "PresetStore/FactoryBank.h"
#include "PresetStore/ListManagerProcessing.h"

#include <cstring>
#include <string>
#include <string_view>

class Qv_patchmanagerlistpipe : public ListManagerProcessing {
public:
    // Pins: ListManagerProcessing::Pin; the audio output is never written. Messages: listmessage
    // (ListManagerMessages.h).

    static constexpr int kPresets = preset_bank::kPresets;
    static constexpr float kCountdownSeconds = 1.0f;
    // A received path this short is taken for no file at all.
    static constexpr std::size_t kShortestPath = 10;

    int32_t open() noexcept override
    {
        ListManagerProcessing::open();
        setSubProcess(&Qv_patchmanagerlistpipe::subProcess);
        return mpapi::MP_RESULT_OK;
    }

    void onGraphStart() override
    {
        formStartupPath();
        countdown_.start(countdownSamples(kCountdownSeconds));
        MpPluginBase::onGraphStart();
    }

    // Keeps the sub-process (and with it the start-up countdown) running on every block.
    void onSetPins() override { audioOut_.setStreaming(true); }

    void subProcess(int /*offset*/, int frames)
    {
        // Until the interface half has started, the countdown runs out without storing.
        if (!countdown_.endsIn(frames) || waiting_)
            return;
        FixPreset();
        if (std::string_view(names_.name(0)) == preset_bank::kDefaultName)
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
    void ChangePreset() override
    {
        bank_.copyTo(current_, block_);
        SendDump();
    }

    void SendDump() { controller_dump::sendDump(block_, midiOut_); }

    // The factory bank into the names and the bank memory; the current preset keeps the live
    // values.
    void LoadStartupBank()
    {
        factory_bank::layInto(names_, bank_);
        FixPreset();
        postToGui(list_message::kFactoryBankLoaded);
    }

private:
    // The startup bank path into the working path; no path (no file operation) when the pins
    // give none.
    void formStartupPath()
    {
        workingPath_.clear();
        try {
            const preset_bank::StartupPath start =
                preset_bank::startupBankPath(host, autoPath_.value, id_.value, pathMac_.value);
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
        case list_message::kLoadPreset:
            if (LoadPath()) {
                preset_bank::LoadPreset(workingPath_.view(), names_, current_, block_);
                FixPreset();
            }
            break;
        case list_message::kSavePreset:
            // The interface half has written the file; its name line becomes the current name and
            // the file is written again with the live values.
            if (LoadPath()) {
                preset_bank::LoadName(workingPath_.view(), names_, current_);
                preset_bank::SavePreset(workingPath_.view(), names_.view(current_), block_);
            }
            break;
        case list_message::kFixPreset:
            FixPreset();
            break;
        case list_message::kLoadBank:
            if (LoadPath() && preset_bank::LoadBank(workingPath_.view(), names_, bank_,
                                                   preset_bank::FieldConversion::Decimal))
                selectAndAnnounce(0);
            break;
        case list_message::kSaveBank:
            if (LoadPath()) {
                preset_bank::LoadNames(workingPath_.view(), names_);
                preset_bank::SaveBank(workingPath_.view(), names_, bank_);
            }
            break;
        case list_message::kNameList: {
            const std::string_view text = payload::text(size, data);
            if (!text.empty())
                preset_bank::ReadList(text, names_);
            break;
        }
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
        case list_message::kPath: {
            // A path too long for the buffer is refused, not cut: the next command then finds
            // no path and does nothing.
            const std::string_view path = payload::text(size, data);
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
        postToGui(list_message::kCurrentPresetBase + current_);
        const std::string list = preset_bank::SaveList(names_);
        postToGui(list_message::kListText, static_cast<int32_t>(list.size() + 1), list.c_str());
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

    preset_bank::PathBuffer workingPath_;
    preset_bank::PathBuffer receivedPath_;  // the last message 136
    bool waiting_ = true;                  // until the interface half has started
    SampleCountdown countdown_;            // samples to the start-up store
    bool prelude_ = false;                 // the one-time pass through preset 1 has happened
};

MP_REGISTER_MODULE(Qv_patchmanagerlistpipe, L"QV_PatchManagerListpipe")
