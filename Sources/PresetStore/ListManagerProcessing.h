// What the processing halves of the two list preset managers share: the seven pins, the shared
// preset block with the 128-preset bank and its names behind it, the program changes in and out,
// and the way their file work goes to the bundle's file worker. Each manager's file keeps its own
// rules: what selecting puts out besides the block, its start-up countdown, and how it takes its
// file and list commands.
//
// File work (ListManagerWork.h): every input that needs the disk becomes a job the moment it
// arrives, carrying the block's values, the current preset and its path as they were then; the
// worker runs the jobs of every module in submit order. An input is kept back (HeldInputs) only
// when a job it depends on is still owed (a program change while a bank load is out, a save while
// a preset load is out), or when an input before it is kept back; everything else is answered in
// its own block. Inputs kept back leave in arrival order as soon as what they wait for is applied.
//
// Knob turns: another module may write the shared block between blocks. An input kept back reads
// the block as it was when it arrived (a copy kept with it), and a result or a kept-back selection
// written into the block later leaves the slots turned since its input arrived as they are, so the
// block, the files and the bank end as they would had the disk answered at once.
//
// Offline every job runs inside submit and its result is applied at once, so nothing is ever kept.
#pragma once

#include "Common/HeldInputs.h"
#include "FileWorker.h"
#include "MpProcessing.h"
#include "PresetStore/ListManagerMessages.h"
#include "PresetStore/ListManagerWork.h"
#include "PresetStore/PresetBank.h"
#include "PresetStore/PresetBlock.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

class ListManagerProcessing : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kId, kAutoPath, kPathPc, kPathMac, kAudioOut };

    // Jobs set aside with the module: more inputs needing the disk than this while the worker has
    // not answered are kept back in order, then submitted as jobs come back.
    static constexpr std::size_t kJobs = 32;
    // Inputs kept back, and their payload bytes (a kept-back input that reads the block keeps a
    // copy of it, 1 KB); beyond these an input is refused and logged by name.
    static constexpr std::size_t kHeldInputs = 1024;
    static constexpr std::size_t kHeldPayloadBytes = std::size_t{768} << 10;

    // [load time] Sample rate from the host, the shared preset block opened, the bank zeroed. The
    // module installs its sub-process after this.
    int32_t open() noexcept override;

    using MpBase::process;
    // [audio thread] Results that came back are applied and the inputs they held back handled,
    // then the block runs.
    void process(int32_t count, const mpapi::MpEvent* events) override;

    using MpBase::onMidiMessage;
    // [audio thread] A program change on any channel selects its preset, tells the interface half
    // and is passed on, on channel 1. Other, short or out-of-range messages are ignored.
    void onMidiMessage(int pin, unsigned char* bytes, int size) override;

    // [audio thread] An interface message, handled by the manager's onMessage (or kept back).
    int32_t receiveMessageFromGui(int32_t id, int32_t size, const void* data) noexcept override;

protected:
    using Task = list_manager::Work::Task;
    enum class Kind : uint8_t { Message, ProgramChange, GraphStart, CountdownEnd };

    // What handling an input takes, as each manager's rules say.
    struct Needs {
        uint8_t waitsFor = 0;       // list_manager::Effect bits: kept back while a job changing one is owed
        bool readsBlock = false;    // reads the shared block (kept back, it keeps a copy of it)
        bool writesBlock = false;   // writes the block now or by its job's result
        bool job = false;           // submits one job
        bool bankBuffer = false;    // its job fills a bank buffer
        const char* action = "";    // its name when it must be refused
    };

    ListManagerProcessing();
    ~ListManagerProcessing() override = default;

    // [not the audio thread, after its last call] Each manager's destructor calls this first:
    // waits for this module's jobs, applies them and handles the inputs kept back, submitting
    // their jobs too, so a save asked for before the end is written. Nothing more goes to the host.
    void finishWork();

    // [audio thread] An input arrives: admitted, then handled now or kept back.
    void take(Kind kind, int32_t id = 0, std::string_view payload = {});
    // [audio thread] Called for every input on arrival, before anything waits: what must happen at
    // arrival whatever waits (a path remembered, a countdown started). false: the input is done.
    // payload may be replaced by a view that stays valid until take returns (a command's path).
    virtual bool admit(Kind kind, int32_t id, std::string_view& payload) = 0;
    virtual Needs needs(Kind kind, int32_t id) const = 0;
    // What both managers' selections and file commands take alike (a program change, a select
    // message, the preset and bank file commands, the store); nothing for the others.
    static std::optional<Needs> commonNeeds(Kind kind, int32_t id);
    // The manager's own rules for its inputs (a program change is the base's).
    virtual void onMessage(int32_t id, std::string_view payload) = 0;
    virtual void onGraphStarted(std::string_view settings) = 0;
    virtual void onCountdownEnd() = 0;

    // A free job for the input being handled (its Needs said job), of task, with the current
    // preset, the block as the input saw it and the input's arrival number.
    list_manager::Work& newJob(Task task, uint8_t effects);
    // Hands a job from newJob to the worker (offline: runs it and applies it now).
    void submit(list_manager::Work& job);
    // A preset or bank file command on path (the list-file manager's come from Path.txt).
    void startFileCommand(Task task, std::string_view path = {});
    // The live preset, as the input being handled saw it, into the current slot; the worker's
    // copy follows.
    void storeLive();
    // Applies what a job left; called once per job, in submit order. This one applies the file
    // commands: a loaded preset into its name, slot and the block; a name read back from a saved
    // file; a loaded bank, then preset 0 selected and announced.
    virtual void applyWork(list_manager::Work& job);

    // The shared block as the input being handled saw it when it arrived.
    const preset_bank::PresetValues& liveValues() const { return *arrivalBlock_; }
    // The current preset into the block (slots turned since the input arrived kept), and what
    // the manager announces with it.
    void changePreset();
    virtual void announcePreset(const preset_bank::PresetValues& values) = 0;

    // Current preset = preset (0-127), changePreset, the preset to the interface half, and
    // [C0 preset 00]: a program change, and the selection after a bank load.
    void selectAndAnnounce(int preset);
    // [C0 program 00] at block position 0.
    void sendProgramChange(int program);
    void postToGui(int32_t id, int32_t size = 0, const void* data = nullptr);
    // trunc(seconds x sample rate), safe for any rate the host gives.
    int32_t countdownSamples(float seconds) const;
    // The module is going: nothing is sent to the host any more.
    bool closing() const { return closing_; }

    preset_bank::BankMemory& bank() { return *bank_; }
    // A bank buffer for a job whose input's Needs said bankBuffer; it comes back with the job.
    preset_bank::BankMemory* takeSpareBank() { return spareBanks_[--spares_]; }
    // The bank a job filled becomes the module's: the buffers change hands, nothing is copied.
    void swapBank(list_manager::Work& job) { std::swap(bank_, job.bank); }

    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    StringInPin id_;
    BoolInPin autoPath_;
    StringInPin pathPc_;  // read nowhere: the product runs on one system
    StringInPin pathMac_;
    AudioOutPin audioOut_;  // streaming from the first pin update, so the sub-process always runs

    PresetBlock block_;
    preset_bank::NameTable names_;
    int current_ = 0;         // preset 0-127 that selection, storing and the files act on
    float sampleRate_ = 0.0f; // Hz

    // The worker's own state; declared before the channel, which goes first and waits for the jobs.
    list_manager::WorkerSide workerSide_;

private:
    struct Held {
        Kind kind = Kind::Message;
        int32_t id = 0;
        uint64_t sequence = 0;
        bool hasCopy = false;               // the payload starts with the block as it arrived
        std::array<uint32_t, 8> turned{};   // slots turned since the last write before it
    };
    static constexpr std::size_t kBlockBytes = sizeof(preset_bank::PresetValues);

    bool ready(const Needs& needs) const;
    void hold(Kind kind, int32_t id, uint64_t sequence, const Needs& needs, std::string_view payload);
    void handle(Kind kind, int32_t id, uint64_t sequence, const Needs& needs, std::string_view payload);
    void replayHeld();
    void pickUpWork();
    void apply(list_manager::Work& job);
    void noticeTurns();
    void writeBlock(const preset_bank::PresetValues& values, uint64_t sequence);
    bool owes(uint8_t effects) const;

    std::array<preset_bank::BankMemory, 3> banks_;  // the module's, and two for bank loads on their way
    preset_bank::BankMemory* bank_ = &banks_[0];
    std::array<preset_bank::BankMemory*, 2> spareBanks_{&banks_[1], &banks_[2]};
    std::size_t spares_ = 2;

    std::array<list_manager::Work, kJobs> jobs_;
    std::array<list_manager::Work*, kJobs> freeJobs_{};
    std::size_t freeCount_ = 0;
    std::array<int, 4> owedCount_{};  // jobs owed, by the effect bit of their result

    held_inputs::HeldInputs<Held, kHeldInputs, kHeldPayloadBytes> held_;

    // Knob turns: the block as this module last saw it, the arrival number after which each slot
    // was last seen turned by another module, the values of the last write of this module and the
    // arrival of the last input that writes the block and has not yet written it.
    preset_bank::PresetValues seen_ = {};
    std::array<uint64_t, preset_bank::kSlots> turnedAfter_{};
    preset_bank::PresetValues lastWrite_ = {};
    uint64_t lastWriterSequence_ = 0;
    int writersOwed_ = 0;
    uint64_t sequence_ = 0;        // arrivals so far

    // The input being handled.
    preset_bank::PresetValues arrival_ = {};
    const preset_bank::PresetValues* arrivalBlock_ = &arrival_;
    uint64_t arrivalSequence_ = 0;
    bool wroteByJob_ = false;

    bool picking_ = false;
    bool closing_ = false;

    file_worker::Channel channel_{kJobs};
};
