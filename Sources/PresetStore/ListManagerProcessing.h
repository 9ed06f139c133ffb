// What the processing halves of the two list preset managers share: the seven pins, the shared
// preset block with the 128-preset bank behind it, the program changes in and out, the way their
// file work goes to the bundle's file worker and the order their answers leave in. Each manager's
// file keeps its own rules: what selecting puts out besides the block, its start-up countdown,
// and how it takes its file and list commands.
//
// The one order: every input takes its place when it arrives and is never held. A selection
// whose bank and current preset are known here is carried out at once: the block written at its
// place. Everything else (file commands, stores, names, the list) is a job at arrival, and so is a
// selection while a job that changes the bank or the current preset is owed: the worker completes
// it from the names, bank and selection it keeps (ListManagerWork.h). A job's result that writes
// the block writes it as of its place, so a knob turned or a preset chosen by any module after the
// request stays, equal values included.
//
// Only answers wait (the outbox): messages to the interface half and MIDI leave in the order of
// the inputs that caused them; an answer owed by a job holds later answers back until the job
// comes back. Results are applied in submit order as jobs come back.
//
// Offline every job runs inside submit and its result is applied and answered at once.
#pragma once

#include "Common/Outbox.h"
#include "FileWorker.h"
#include "MpProcessing.h"
#include "PresetStore/BlockShadow.h"
#include "PresetStore/ListManagerMessages.h"
#include "PresetStore/ListManagerWork.h"
#include "PresetStore/PresetBank.h"
#include "PresetStore/PresetBlock.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

class ListManagerProcessing : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kId, kAutoPath, kPathPc, kPathMac, kAudioOut };

    // Jobs set aside with the module: an input needing a job when all are out is refused and
    // logged by name.
    static constexpr std::size_t kJobs = 256;
    // Name tables for name lists and list texts on their way, and start settings for graph starts.
    static constexpr std::size_t kNameTables = 16;
    static constexpr std::size_t kSettings = 32;
    // Answers waiting behind an owed one, and their bytes (a controller dump is 342).
    static constexpr std::size_t kAnswers = 1024;
    static constexpr std::size_t kAnswerBytes = std::size_t{384} << 10;

    // [load time] Sample rate from the host, the shared preset block opened, the bank zeroed. The
    // module installs its sub-process after this.
    int32_t open() noexcept override;

    using MpBase::process;
    // [audio thread] Results that came back are applied and their answers sent, then the block runs.
    void process(int32_t count, const mpapi::MpEvent* events) override;

    using MpBase::onMidiMessage;
    // [audio thread] A program change on any channel selects its preset, tells the interface half
    // and is passed on, on channel 1. Other, short or out-of-range messages are ignored.
    void onMidiMessage(int pin, unsigned char* bytes, int size) override;

    // [audio thread] An interface message, handled by the manager's onMessage.
    int32_t receiveMessageFromGui(int32_t id, int32_t size, const void* data) noexcept override;

protected:
    using Task = list_manager::Work::Task;
    using Work = list_manager::Work;

    // dumps: selecting announces the values by the controller dump (list-pipe).
    explicit ListManagerProcessing(bool dumps);
    ~ListManagerProcessing() override = default;

    // [not the audio thread, after its last call] Each manager's destructor calls this first:
    // waits for this module's jobs and applies them, so a save asked for before the end is
    // written. Nothing more goes to the host.
    void finishWork();

    // The manager's own rules for its interface messages.
    virtual void onMessage(int32_t id, std::string_view payload) = 0;

    // Selects preset (0-127): the block and the answers, at once, or by a job while the bank or
    // the current preset is owed. prelude: the list-pipe select message's one pass through preset
    // 1; tellGui: the preset number goes to the interface half (a program change).
    void selectPreset(int preset, bool prelude, bool tellGui, const char* action);

    // What a job is asked for.
    struct JobNeeds {
        bool changesBank = false;  // its result changes the bank
        bool answers = false;      // its result makes answers
        bool readsBlock = false;   // carries the block as the input saw it
        bool names = false;        // carries a name table
        bool settings = false;     // carries start settings
    };
    // A free job of task for the input being handled, with the selection when it is known, the
    // block when it reads it; nullptr (the action refused and logged) when there is no room.
    Work* newJob(Task task, JobNeeds needs, const char* action);
    // Hands a job from newJob to the worker (offline: runs it, applies it and answers at once).
    void submit(Work& job);
    // A preset or bank file command on path (the list-file manager's come from Path.txt).
    void fileCommand(Task task, std::string_view path, const char* action);
    // The live preset into the current slot, on the worker (another module's owed load is there).
    void storeLive(Task task, const char* action);

    // Applies what a job left; called once per job, in submit order, as it comes back.
    virtual void applyWork(Work& job);
    // The answers a job's result makes, sent now: every earlier answer has left.
    virtual void settleWork(Work& job);

    // Answers, in the order of their inputs: sent now unless an owed one is still out.
    void postToGui(int32_t id, std::string_view payload = {});
    void postProgramChange(int program);
    void postDump(const preset_bank::PresetValues& values);
    // Answers of a job being settled, sent directly.
    void sendToGui(int32_t id, std::string_view payload = {});
    void sendProgramChange(int program);
    void sendDump(const preset_bank::PresetValues& values);
    // The numbered list text of names to the interface half (list-pipe's message 129), directly.
    void sendList(const preset_bank::NameTable& names);

    // trunc(seconds x sample rate), safe for any rate the host gives.
    int32_t countdownSamples(float seconds) const;

    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    StringInPin id_;
    BoolInPin autoPath_;
    StringInPin pathPc_;  // read nowhere: the product runs on one system
    StringInPin pathMac_;
    AudioOutPin audioOut_;  // streaming from the first pin update, so the sub-process always runs

    PresetBlock block_;
    float sampleRate_ = 0.0f; // Hz

    // The worker's own state; declared before the channel, which goes first and waits for the jobs.
    list_manager::WorkerSide workerSide_;
    preset_block::ShadowHandle shadow_;

private:
    struct Answer {
        enum class Kind : uint8_t { Gui, Midi } kind = Kind::Gui;
        int32_t id = 0;  // Gui: the message id; Midi: the payload is 3-byte messages
    };

    void pickUpWork();
    void fetchBank();
    bool select(int preset, bool prelude);
    void flushAnswers();
    void settle(Work& job);
    void sendAnswer(const Answer& answer, std::string_view payload);
    void releaseJob(Work& job);
    bool post(const Answer& answer, std::string_view payload);
    bool answerRoom(std::size_t answers) const { return outbox_.size() + answers <= kAnswers; }
    void swapBank(Work& job) { std::swap(bank_, job.bank); }

    const bool dumps_;
    list_manager::Selection selection_;  // exact while selectionOwed_ is 0
    int bankOwed_ = 0;                    // jobs owed whose result changes the bank
    int selectionOwed_ = 0;               // jobs owed whose result gives the selection
    bool bankStale_ = false;              // a bank was read on the worker and is not here yet

    std::array<preset_bank::BankMemory, 2> banks_;  // the module's, and one for a bank on its way
    preset_bank::BankMemory* bank_ = &banks_[0];
    std::array<preset_bank::BankMemory*, 1> spareBanks_{&banks_[1]};
    std::size_t spares_ = 1;
    template <class Buffer, std::size_t kCount>
    struct Spares {
        std::array<Buffer, kCount> buffers;
        std::array<Buffer*, kCount> free = [this] {
            std::array<Buffer*, kCount> all{};
            for (std::size_t k = 0; k < kCount; ++k)
                all[k] = &buffers[k];
            return all;
        }();
        std::size_t count = kCount;
        Buffer* take() { return count > 0 ? free[--count] : nullptr; }
        void giveBack(Buffer*& buffer)
        {
            if (buffer)
                free[count++] = std::exchange(buffer, nullptr);
        }
    };
    Spares<preset_bank::NameTable, kNameTables> nameTables_;
    Spares<pin_text::FileSettings, kSettings> settings_;
    preset_bank::NameTable factoryNames_;  // the factory bank's names, laid in with its values here

    std::array<Work, kJobs> jobs_;
    std::array<Work*, kJobs> freeJobs_{};
    std::size_t freeCount_ = 0;

    outbox::Outbox<Answer, kAnswers, kAnswerBytes> outbox_;
    preset_bank::ListText list_;  // a list text being sent
    bool picking_ = false;
    bool closing_ = false;

    file_worker::Channel channel_{kJobs};

};
