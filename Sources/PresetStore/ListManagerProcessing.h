// What the processing halves of the two list preset managers share: the seven pins, the shared
// preset block with the 128-preset bank and its names behind it, the program changes in and out,
// and the way their file work goes to the bundle's file worker. Each manager's file keeps its own
// rules: what selecting puts out besides the block, its start-up countdown, and how it takes its
// file and list commands.
//
// File work: a manager fills its one Work (ListManagerWork.h) and starts it; while it is out,
// every later input (interface message, program change, graph start, countdown end) is kept back
// (ListManagerInputs.h). At the start of a later process the result is applied and the inputs
// kept back are handled in order, until one of them starts file work again. Offline the work
// runs inside startWork() and its result is applied at once, so nothing is ever kept back.
#pragma once

#include "FileWorker.h"
#include "MpProcessing.h"
#include "PresetStore/ListManagerInputs.h"
#include "PresetStore/ListManagerMessages.h"
#include "PresetStore/ListManagerWork.h"
#include "PresetStore/PresetBank.h"
#include "PresetStore/PresetBlock.h"

#include <cstdint>
#include <string_view>

class ListManagerProcessing : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kId, kAutoPath, kPathPc, kPathMac, kAudioOut };

    // [load time] Sample rate from the host, the shared preset block opened, the bank zeroed. The
    // module installs its sub-process after this.
    int32_t open() noexcept override;

    using MpBase::process;
    // [audio thread] File work that came back is applied and the inputs kept back meanwhile are
    // handled, then the block runs.
    void process(int32_t count, const mpapi::MpEvent* events) override;

    using MpBase::onMidiMessage;
    // [audio thread] A program change on any channel selects its preset, tells the interface half
    // and is passed on, on channel 1. Other, short or out-of-range messages are ignored.
    void onMidiMessage(int pin, unsigned char* bytes, int size) override;

    // [audio thread] An interface message, handled by the manager's onMessage (or kept back).
    int32_t receiveMessageFromGui(int32_t id, int32_t size, const void* data) noexcept override;

    // Inputs dropped because the room for inputs kept back was full.
    std::size_t droppedInputs() const { return deferred_.dropped(); }

protected:
    ListManagerProcessing();
    ~ListManagerProcessing() override = default;

    // [not the audio thread, after its last call] Each manager's destructor calls this first:
    // waits for the work out, applies it and handles the inputs kept back, starting their work
    // too, so a save asked for before the end is written. Nothing more goes to the host.
    void finishWork();

    // An input, handled now or, while file work is out or inputs wait before it, kept back.
    void take(list_manager::Input::Kind kind, int32_t id = 0, std::string_view payload = {});
    // The manager's own rules for its inputs (a program change is the base's).
    virtual void onMessage(int32_t id, std::string_view payload) = 0;
    virtual void onGraphStarted(std::string_view settings) = 0;
    virtual void onCountdownEnd() = 0;
    // Hands work_ to the file worker (offline: runs it and applies it now).
    void startWork();
    // A preset or bank file command (LoadPreset, SavePreset, LoadBank, SaveBank) on work_.path or
    // Path.txt: work_ gets the current preset and what the command works over, and starts.
    void startFileCommand(list_manager::Work::Task task);
    // Applies what work_ left; called once per startWork, in order. This one applies the file
    // commands: a loaded preset into the current name and the block, then stored into its slot;
    // a name read back from a saved file; a loaded bank, then preset 0 selected and announced.
    virtual void applyWork();

    // The current preset into the shared preset block, with what the manager puts out with it.
    virtual void ChangePreset() = 0;

    // Current preset = preset (0-127), ChangePreset, the preset to the interface half, and
    // [C0 preset 00]: a program change, and the selection after a bank load.
    void selectAndAnnounce(int preset);
    // [C0 program 00] at block position 0.
    void sendProgramChange(int program);
    void postToGui(int32_t id, int32_t size = 0, const void* data = nullptr);
    // trunc(seconds x sample rate), safe for any rate the host gives.
    int32_t countdownSamples(float seconds) const;
    // The module is going: nothing is sent to the host any more.
    bool closing() const { return closing_; }

    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    StringInPin id_;
    BoolInPin autoPath_;
    StringInPin pathPc_;  // read nowhere: the product runs on one system
    StringInPin pathMac_;
    AudioOutPin audioOut_;  // streaming from the first pin update, so the sub-process always runs

    PresetBlock block_;
    preset_bank::BankMemory bank_;
    preset_bank::NameTable names_;
    int current_ = 0;         // preset 0-127 that selection, storing and the files act on
    float sampleRate_ = 0.0f; // Hz

    // Declared before the channel, which goes first and waits for the work out.
    list_manager::Work work_;

private:
    void handle(const list_manager::Input& input);
    void pickUpWork();
    void handleKeptInputs();  // until one starts work
    bool working() const { return channel_.outstanding() > 0; }

    file_worker::Channel channel_{1};  // one piece of work out at a time
    list_manager::DeferredInputs deferred_;
    bool closing_ = false;
};
