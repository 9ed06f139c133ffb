// The category manager's processing half: browses the preset library (a tree of preset files with
// categories, favourites and saved lists) folder by folder or in paged result views, answers its
// interface half, and loads a preset into the shared preset block when its own program change
// comes back to its MIDI input. A selection never loads directly: it is answered by [C0 n 00].
//
// Its file work (walks, filters, preset and bank files, tags, the Trash) runs on the bundle's
// file worker as LibraryJob requests; this file keeps the conversation (messages, timers, program
// changes) and only asks and picks up, in the order of RequestOrder.h. A list comes with its
// presets read ahead, so a program change on a row shown loads in the block it arrives in.
#include "CategoryBrowser/LibraryWork.h"
#include "CategoryBrowser/CategoryStore.h"
#include "CategoryBrowser/PresetIndex.h"
#include "CategoryBrowser/PresetLibrary.h"
#include "CategoryBrowser/PrescatMessages.h"
#include "CategoryBrowser/PrescatOperations.h"
#include "CategoryBrowser/RequestOrder.h"
#include "Common/PayloadText.h"
#include "Common/PinText.h"
#include "Common/SampleCount.h"
#include "Common/SampleCountdown.h"
#include "FileWorker.h"
#include "PresetStore/ControllerDump.h"
#include "PresetStore/PresetBank.h"
#include "PresetStore/PresetBlock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace prescat;
using What = LibraryJob::What;

constexpr std::string_view kEmpty = preset_bank::kEmptyName;
constexpr std::size_t kShortestPath = 10;  // a path this short names no file
constexpr int kMutedSlots[] = {16, 17, 19, 93, 95};
constexpr int kBackedUpSlots[] = {13, 16, 17, 19, 90, 93, 95};
// Requests outstanding at once: an input leaves a few; writes (saves, tags, the Trash) do not
// hold the inputs after them, so a burst of them while the disk is slow needs the rest.
constexpr int kJobs = 64;

std::string_view lastComponent(std::string_view path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// What the processing half does with a result beyond applying it.
enum Then : uint8_t {
    kNothingMore,
    kListSelectedFolder,  // folder table at the first start: then the selected folder's list
    kRefreshAfterSave,    // folder table after a save: then the list of the view
    kLoadEntry,           // a program change's preset: then the dump, the entry shown and the echo
    kLoadAndStore,        // message 128's preset: then into bank memory
    kAnswerFavourite,     // the favourite mark toggled on the file selected: then the answers
    kAnswerTag,           // the file selected tagged: then the answers
    kAnswerDelete,        // the file selected to the Trash: then the answers
};

const PresetRead kNoFile{};  // what a list entry naming no file loads: nothing, or the init patch

} // namespace

class Qv_patchmanagerprescat : public MpBase, public ProcessingOperations {
public:
    enum Pin { kMidiIn, kMidiOut, kId, kAutoPath, kPathPc, kPathMac, kAudioOut };
    enum Timer : int32_t { kSaveTimer, kRebuildTimer, kMuteTimer, kRestoreTimer, kPageTimer };

    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    StringInPin id_;
    BoolInPin autoPath_;
    StringInPin pathPc_;  // read nowhere: the product runs on one system
    StringInPin pathMac_;
    AudioOutPin audioOut_;  // never written; streaming so that the timers always run

    // Shared preset block, and the bank of the last bank import (only a buffer on its way to a
    // bank folder); a bank import fills the other one and they swap.
    PresetBlock block_;
    preset_bank::BankMemory banks_[2];
    int bank_ = 0;
    preset_bank::NameTable bankNames_{preset_bank::kWideNameSlotBytes};
    bool bankImported_ = false;
    // The list the interface shows (names()): file stems in a folder view, result paths and
    // command labels in a result view. The worker builds the next list, with its presets, in the
    // other buffer; taking it is a swap, not a copy.
    ListResult lists_[2];
    int shownList_ = 0;
    bool listAsked_ = false;  // the other buffer is the worker's
    FolderTable folders_;
    FolderTable folderScan_;  // the worker's

    std::string root_ = libraryRootPath();  // fixed at construction
    preset_bank::PathBuffer folderPath_;  // the folder listed; root + "/" in whole-library views
    preset_bank::PathBuffer filePath_;
    preset_bank::PathBuffer guiPath_;
    bool guiPathValid_ = false;
    pin_text::FileSettings startup_;  // the last graph start's, on their way to the worker
    char searchText_[kSearchBytes + 1] = {};

    int currentEntry_ = 0;    // list position 0-127 (104-127: commands in a result view)
    // The user's selection: the row and file of the last preset a program change loaded from the
    // list. Delete, favourite and tagging act on it only while that row of the list now shown
    // still names that file (after a folder change, a view switch, a new search or time order,
    // a delete, it names another file or none).
    // The file itself is remembered too: they act only while the path still names that file (not
    // one another process or another manager wrote there since).
    int selectedEntry_ = -1;
    preset_bank::PathBuffer selectedFile_;
    FileIdentity selectedId_;
    FileIdentity loadedId_;  // of the file the last program change loaded from the list
    int selectedFolder_ = 0;  // 0-127
    int loadedFolder_ = 0;
    bool firstStart_ = true;
    int page_ = 0;            // 0 to kLastPage
    int category_ = 0;        // 0-17
    bool timeOrder_ = false;
    bool ignoreNextProgramChange_ = false;
    bool searchView_ = false;
    bool resultView_ = false;
    bool prevArrowActive_ = false;
    bool nextArrowActive_ = false;
    bool editMode_ = false;
    bool favouriteFilter_ = false;
    bool viewSwitchPending_ = false;
    bool muteOnNextProgramChange_ = false;
    bool searchActive_ = false;
    bool savedListView_ = false;
    bool searchSavedView_ = false;
    bool savedView_ = false;
    bool folderJustChosen_ = false;
    bool loadedInSearchView_ = false;
    bool rescan_ = true;
    bool orderToggled_ = false;
    bool suppressSelectionEcho_ = false;
    bool savedOrderHeld_ = false;
    bool favouritesOrderHeld_ = false;
    float effectBackup_[PresetBlock::kSlots] = {};
    bool effectBackupTaken_ = false;
    float sampleRate_ = 0.0f;  // Hz

    SampleCountdown saveTimer_;     // 0.3 s: refresh after a save
    SampleCountdown rebuildTimer_;  // 0.5 s (0.8 s into "3_SEARCH" / "3_FAVOURITES"): CollectListSearch
    SampleCountdown muteTimer_;     // 0.2 s: mute again, then the restore timer
    SampleCountdown restoreTimer_;  // 0.4 s: effects back from the backup
    SampleCountdown pageTimer_;     // 0.5 s: SendListSearch in the favourites view

    // The worker's side, the requests set aside for it, and the order of what is owed.
    LibraryWork library_{root_};
    LibraryJob jobs_[kJobs];
    bool jobAsked_[kJobs] = {};
    bool jobDone_[kJobs] = {};
    FixedQueue<Step, kOwedSteps> owed_;
    FixedQueue<Step, kOwedSteps> made_;  // steps made by what is being handled
    held_inputs::HeldInputs<HeldInput, kHeldInputs, kHeldBytes> held_;
    bool pathRefused_ = false;   // the last path found no room: the command it was for goes too
    // While inputs are held and handled: the block as they see it, in their order (knob turns
    // given after an input are not in it when that input is handled), and the block as this
    // module last saw it, to tell turns by other modules from its own writes.
    bool shadowed_ = false;
    float shadow_[PresetBlock::kSlots] = {};
    float blockSeen_[PresetBlock::kSlots] = {};
    // The read-ahead kept current: the worker is asked what changed on disk every few
    // milliseconds, and the library writes of every manager it has seen.
    PresetChanges changes_;
    bool changesAsked_ = false;
    int32_t sinceLook_ = 0;  // samples
    uint64_t writesSeen_ = libraryWrites.load(std::memory_order_relaxed);
    uint64_t listGeneration_ = 0;
    bool quiet_ = false;  // at teardown: requests finish without a word to the host
    file_worker::Channel channel_{kJobs};  // last: it goes first, after every job has run

    Qv_patchmanagerprescat()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kId, id_);
        initializePin(kAutoPath, autoPath_);
        initializePin(kPathPc, pathPc_);
        initializePin(kPathMac, pathMac_);
        initializePin(kAudioOut, audioOut_);
        restoreLibraryFromBackup();
        joinPath(folderPath_, {root_, "/Presets"});
        for (LibraryJob& job : jobs_)
            job.library = &library_;
    }

    // Requests still owed run to their end, so every file write asked for lands; the host hears
    // nothing more and the shared block is left alone.
    // [not the audio thread]
    ~Qv_patchmanagerprescat() override
    {
        quiet_ = true;
        for (int rounds = 0; (busy() || !owed_.empty()) && rounds < 1000; ++rounds) {
            channel_.drain();
            pickUp();
        }
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_patchmanagerprescat::subProcess);
        sampleRate_ = getSampleRate();
        block_.open(host);
        banks_[0].clear();
        banks_[1].clear();
        return mpapi::MP_RESULT_OK;
    }

    using MpBase::process;
    // [audio thread]
    void process(int32_t count, const mpapi::MpEvent* events) override
    {
        holdTurns();
        pickUp();
        lookForChanges(count);
        MpBase::process(count, events);
    }

    // [audio thread] The settings are taken now; the worker forms the startup path from them (the
    // shell-word expansion of PathMac may read the file system).
    void onGraphStart() override
    {
        startup_.take(host, preset_bank::kHostPresetName, autoPath_.value, id_.value, pathMac_.value);
        if (busy())
            hold({HeldInput::Kind::GraphStart}, "graph start");
        else
            handle([this] { askStartupPath(); });
        MpPluginBase::onGraphStart();
    }

    void onSetPins() override { audioOut_.setStreaming(true); }

    using MpBase::onMidiMessage;
    // [audio thread]
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        if (!bytes || size < 2 || (bytes[0] & 0xF0) != 0xC0)
            return;
        const int program = bytes[1];
        if (busy() || (!ignoreNextProgramChange_ && writeOwedFor(program)))
            hold({HeldInput::Kind::ProgramChange, program}, "program change");
        else
            handle([&] { programChangeIn(program); });
    }

    // [audio thread] While a list, a load or an answer is owed the module's time stands still:
    // the frames wait like an input, so every timer keeps its sample count relative to the
    // inputs around it. Behind writes alone it goes on.
    void subProcess(int, int frames)
    {
        if (busy())
            holdFrames(frames);
        else
            runTimers(frames, 0);
    }

    static constexpr int kTimers = 5;

    // [audio thread]
    int32_t receiveMessageFromGui(int32_t id, int32_t size, const void* data) noexcept override
    {
        // A held payload is kept to one byte more than a path holds: longer is refused as a path
        // all the same, and cannot fill the room.
        const std::string_view payload =
            data && size > 0 ? std::string_view(static_cast<const char*>(data), std::min<std::size_t>(static_cast<std::size_t>(size), preset_bank::kPathBytes + 1))
                             : std::string_view();
        if (id == kPath) {
            if (busy())
                pathRefused_ = !hold({HeldInput::Kind::Message, id}, "path", payload);
            else
                handle([&] { dispatch(id, size, data); });
            return mpapi::MP_RESULT_OK;
        }
        if (takesPath(id) && pathRefused_) {
            pathRefused_ = false;
            channel_.refused(actionName(id));  // its path is gone: it would act on another file
            return mpapi::MP_RESULT_OK;
        }
        if (busy() || (readsNames(id) && quietOwed())) {
            hold({HeldInput::Kind::Message, id}, actionName(id), payload);
        } else {
            handle([&] { dispatch(id, size, data); });
        }
        return mpapi::MP_RESULT_OK;
    }

private:
    // ---- Order of requests and answers ----------------------------------------------------------

    // A save: its result only refreshes what was read ahead and the name of the entry it was made
    // from, so inputs that read neither go on while it is owed.
    static bool quietWrite(const Step& step)
    {
        return step.kind == Step::Kind::Apply && step.job->request.what == What::SavePreset;
    }
    // A look for changed presets answers nobody and holds nothing back.
    static bool background(const Step& step)
    {
        return step.kind == Step::Kind::Apply && step.job->request.what == What::PresetChanges;
    }
    template <class Visit>
    bool anyOwed(Visit&& visit)
    {
        for (std::size_t i = 0; i < owed_.size(); ++i)
            if (visit(owed_.at(i)))
                return true;
        for (std::size_t i = 0; i < made_.size(); ++i)
            if (visit(made_.at(i)))
                return true;
        return false;
    }
    // A step owed that answers the host or changes what inputs read.
    bool owing() { return anyOwed([](const Step& step) { return !quietWrite(step) && !background(step); }); }
    bool quietOwed() { return anyOwed(quietWrite); }
    // busy: owing, or inputs are held (a new one is held behind them).
    bool busy() { return !held_.empty() || owing(); }

    // A program change whose entry a write still owed renames or rewrites: it waits for the write,
    // so it loads what was written.
    bool writeOwedFor(int program)
    {
        if (program >= kEntries || !quietOwed())
            return false;
        preset_bank::PathBuffer path;
        entryPath(program, path);
        return anyOwed([&](const Step& step) {
            return quietWrite(step) && ((step.job->request.what == What::SavePreset && step.job->entry == program) ||
                                        step.job->request.path.view() == path.view());
        });
    }

    static bool takesPath(int32_t id)
    {
        return id == kLoadPresetFile || id == kSavePreset || id == kLoadBank || id == kSaveBankFolder;
    }
    // Messages that act on the selection or the list's names, which an owed save may rename.
    static bool readsNames(int32_t id) { return id == kDeletePreset || id == kToggleFavourite || id == kLoadBank; }
    static const char* actionName(int32_t id)
    {
        switch (id) {
        case kLoadPresetFile: return "load preset file";
        case kSavePreset: return "save preset";
        case kLoadBank: return "load bank";
        case kSaveBankFolder: return "save bank folder";
        case kDeletePreset: return "delete preset";
        case kToggleFavourite: return "favourite";
        case kSearchText: return "search text";
        case kFixPreset: return "fix preset";
        case kInterfaceStarted: return "interface start";
        default: return id >= kSelectRowBase && id < kSelectRowBase + kEntries ? "selection" : "interface message";
        }
    }

    // [audio thread] Keeps input (and its payload) until what it depends on is done; false, with
    // the action logged by name, when there is no room.
    bool hold(const HeldInput& input, const char* action, std::string_view payload = {})
    {
        if (!shadowed_) {
            block_.read(blockSeen_);
            std::copy(std::begin(blockSeen_), std::end(blockSeen_), shadow_);
            shadowed_ = true;
        } else {
            holdTurns();
        }
        if (!held_.pushBack(input, payload)) {
            channel_.refused(action);
            return false;
        }
        return true;
    }
    // [audio thread] While inputs are held, what other modules wrote into the shared block since
    // this module last looked is held after them, slot by slot.
    void holdTurns()
    {
        if (!shadowed_)
            return;
        for (int slot = 0; slot < PresetBlock::kSlots; ++slot) {
            const float value = block_.get(slot);
            if (value == blockSeen_[slot] || (value != value && blockSeen_[slot] != blockSeen_[slot]))
                continue;
            blockSeen_[slot] = value;
            HeldInput turn{HeldInput::Kind::Turn, slot};
            std::memcpy(&turn.first, &value, sizeof value);
            if (!held_.pushBack(turn))
                channel_.refused("knob turn");
        }
    }

    // Held before every other input: the rest of what is being handled.
    void holdFirst(const HeldInput& input)
    {
        if (!held_.pushFront(input))
            channel_.refused("timer pass");
    }

    // Handles one input. Offline its requests have already run, so what they owe is carried out
    // now.
    template <class Handler>
    void handle(Handler&& handler)
    {
        run(handler, false);
        if (channel_.runsInline())
            pickUp();
    }

    // What the handler makes is owed after what is owed already, or, for the rest of a step being
    // carried out, before it.
    template <class Handler>
    void run(Handler&& handler, bool first)
    {
        try {
            handler();
        } catch (...) {
            // Nothing here allocates; a failure ends the request, never the host.
        }
        if (first) {
            for (std::size_t i = made_.size(); i-- > 0;)
                owed_.pushFront(made_.at(i));
        } else {
            for (std::size_t i = 0; i < made_.size(); ++i)
                owed_.pushBack(made_.at(i));
        }
        made_.clear();
    }

    // [audio thread: start of process; offline at the end of each input] Carries out what is
    // owed, as far as the worker has got, then the inputs that waited.
    void pickUp()
    {
        for (;;) {
            if (!owed_.empty()) {
                const Step step = owed_.front();
                if (step.kind == Step::Kind::Apply && !jobHasRun(*step.job)) {
                    shadowed_ = shadowed_ && !held_.empty();
                    return;
                }
                owed_.popFront();
                run([&] { carryOut(step); }, true);
                if (shadowed_)
                    block_.read(blockSeen_);  // the module's own writes are no turns
                continue;
            }
            HeldInput input;
            std::string_view payload;
            if (!held_.popFront(input, payload)) {
                shadowed_ = false;  // every turn is in the block again
                return;
            }
            run([&] { replay(input, payload); }, true);
            if (shadowed_)
                block_.read(blockSeen_);
        }
    }

    // [audio thread] Takes what the worker has finished; whether job is among it.
    bool jobHasRun(const LibraryJob& job)
    {
        while (file_worker::Job* done = channel_.finished())
            jobDone_[static_cast<LibraryJob*>(done) - jobs_] = true;
        return jobDone_[&job - jobs_];
    }

    void carryOut(const Step& step)
    {
        switch (step.kind) {
        case Step::Kind::Post:
            postToGui(step.value);
            break;
        case Step::Kind::ProgramChange:
            sendProgramChange(step.value);
            break;
        case Step::Kind::Apply: {
            const auto slot = static_cast<std::size_t>(step.job - jobs_);
            jobAsked_[slot] = jobDone_[slot] = false;
            apply(*step.job);
            break;
        }
        }
    }

    void replay(const HeldInput& input, std::string_view payload)
    {
        switch (input.kind) {
        case HeldInput::Kind::Message:
            dispatch(input.id, static_cast<int32_t>(payload.size()), payload.data());
            break;
        case HeldInput::Kind::ProgramChange:
            programChangeIn(input.id);
            break;
        case HeldInput::Kind::GraphStart:
            askStartupPath();
            break;
        case HeldInput::Kind::Frames:
            passFrames(input.id);
            break;
        case HeldInput::Kind::TimerPass:
            runTimers(input.id, input.first);
            break;
        case HeldInput::Kind::Turn: {
            float value = 0.0f;
            std::memcpy(&value, &input.first, sizeof value);
            if (!quiet_)
                setSlot(input.id, value);
            break;
        }
        }
    }

    // The rest of a timer pass, from timer `first` on, waits before everything else.
    void runTimers(int32_t frames, int first)
    {
        const int stopped = passTimers(frames, first);
        if (stopped < kTimers)
            holdFirst({HeldInput::Kind::TimerPass, frames, stopped});
    }

    // Frames that passed while a request was owed (consecutive ones together).
    void holdFrames(int32_t frames)
    {
        HeldInput* last = held_.back();
        if (last && last->kind == HeldInput::Kind::Frames) {
            last->id += frames;
        } else if (!held_.full()) {
            hold({HeldInput::Kind::Frames, frames}, "frames");
        } else {
            channel_.refused("frames");
        }
    }

    // Frames that waited, counted off in steps that end where a timer runs out, so each ends at
    // its own sample count; what follows a request asked for waits again.
    void passFrames(int32_t frames)
    {
        while (frames > 0 && !owing()) {
            int32_t step = frames;
            for (const SampleCountdown* timer : {&saveTimer_, &rebuildTimer_, &muteTimer_, &restoreTimer_, &pageTimer_})
                if (timer->running())
                    step = std::min(step, timer->left());
            frames -= step;
            const int stopped = passTimers(step, 0);
            if (stopped < kTimers) {
                if (frames > 0)
                    holdFirst({HeldInput::Kind::Frames, frames});
                holdFirst({HeldInput::Kind::TimerPass, step, stopped});
                return;
            }
        }
        if (frames > 0)
            holdFirst({HeldInput::Kind::Frames, frames});
    }

    // One stretch of frames counted off the timers from `first` on, in order; an ending timer is
    // handled like an input. Returns the timer the pass stopped before because a request became
    // owed (kTimers: it went through).
    int passTimers(int32_t frames, int first)
    {
        SampleCountdown* const timers[] = {&saveTimer_, &rebuildTimer_, &muteTimer_, &restoreTimer_, &pageTimer_};
        for (int t = first; t < kTimers; ++t) {
            if (owing())
                return t;
            if (timers[t]->endsIn(frames))
                handle([&] { timerEnded(static_cast<Timer>(t)); });
        }
        return kTimers;
    }

    static const char* requestName(What what)
    {
        switch (what) {
        case What::SavePreset: return "save preset";
        case What::WriteBankFolder: return "save bank folder";
        case What::Retag: return "tag preset";
        case What::ToggleFavourite: return "favourite";
        case What::Trash: return "delete preset";
        case What::ReadPreset: return "load preset";
        case What::LoadBank: return "load bank";
        default: return "list";
        }
    }

    // A free request, or nullptr, with the action logged by name, when all are out (only while
    // the disk has not answered a long burst of writes).
    LibraryJob* request(What what)
    {
        for (int i = 0; i < kJobs; ++i)
            if (!jobAsked_[i]) {
                LibraryJob& job = jobs_[i];
                job.request = LibraryJob::Request{};
                job.request.what = what;
                job.then = kNothingMore;
                job.entry = currentEntry_;
                return &job;
            }
        channel_.refused(requestName(what));
        return nullptr;
    }

    static bool writes(What what)
    {
        return what == What::SavePreset || what == What::WriteBankFolder || what == What::Retag ||
               what == What::ToggleFavourite || what == What::Trash;
    }

    void ask(LibraryJob* job)
    {
        if (!job)
            return;
        if (made_.full() || owed_.size() + made_.size() >= kOwedSteps || !channel_.submit(*job)) {
            channel_.refused(requestName(job->request.what));
            if (job->list)
                listAsked_ = false;
            return;
        }
        jobAsked_[job - jobs_] = true;
        made_.pushBack({Step::Kind::Apply, 0, job});
        if (writes(job->request.what)) {
            // This module refreshes what it wrote itself; another's write is looked for.
            const uint64_t before = libraryWrites.fetch_add(1, std::memory_order_relaxed);
            if (writesSeen_ == before)
                writesSeen_ = before + 1;
        }
    }

    // [audio thread, real time] Every few milliseconds, while a list with its presets is shown and
    // no list is on its way, the worker is asked which of them changed on disk.
    void lookForChanges(int32_t samples)
    {
        if (channel_.runsInline())
            return;
        sinceLook_ = sinceLook_ > INT32_MAX - samples ? INT32_MAX : sinceLook_ + samples;
        if (changesAsked_ || listAsked_ || lists_[shownList_].generation == 0 || sinceLook_ < samplesIn(0.01f, sampleRate_))
            return;
        handle([this] {
            LibraryJob* job = request(What::PresetChanges);
            if (!job)
                return;
            job->changes = &changes_;
            job->writesBefore = libraryWrites.load(std::memory_order_relaxed);
            changesAsked_ = true;
            sinceLook_ = 0;
            ask(job);
            if (!jobAsked_[job - jobs_])
                changesAsked_ = false;
        });
    }

    // The read-ahead has seen every write into the library asked for so far.
    bool readAheadCurrent() const { return libraryWrites.load(std::memory_order_relaxed) == writesSeen_; }

    // A list is asked for at most once per input, so the other buffer is free.
    LibraryJob* requestList(What what)
    {
        if (listAsked_)
            return nullptr;
        LibraryJob* job = request(what);
        if (!job)
            return nullptr;
        listAsked_ = true;
        job->list = &lists_[1 - shownList_];
        job->request.path.assign(folderPath_.view());
        job->request.base.assign(searchView_ ? std::string_view(root_) : folderPath_.view());
        job->request.subfoldersAllowed = searchView_;
        job->request.readAhead = !channel_.runsInline();
        job->request.generation = ++listGeneration_;
        return job;
    }

    const ListResult& takeList()
    {
        listAsked_ = false;
        shownList_ = 1 - shownList_;
        return lists_[shownList_];
    }

    preset_bank::NameTable& names() { return lists_[shownList_].names; }
    const preset_bank::NameTable& names() const { return lists_[shownList_].names; }

    PresetCache& presets() { return lists_[shownList_].presets; }

    // [audio thread] The result of a job the worker has finished (the job is ours again).
    void apply(LibraryJob& job)
    {
        switch (job.request.what) {
        case What::Folders:
        case What::WriteBankFolder:
            if (job.request.what == What::WriteBankFolder)
                presets().forgetBelow(job.request.path.view());
            folders_ = folderScan_;
            SendBanks();
            if (job.then == kListSelectedFolder) {
                setFolderPath(selectedFolder_);
                SaveList();
            } else if (job.then == kRefreshAfterSave) {
                setFolderPath(selectedFolder_);
                if (!searchView_)
                    SaveList();
                else if (searchSavedView_ || savedView_)
                    CollectListSearch();
            }
            break;
        case What::FolderList:
            showFolderList(takeList());
            break;
        case What::RescanAndPage:
        case What::FilterAndPage:
        case What::SavedAndPage:
            MuteEffects();
            restoreTimer_.start(samplesIn(0.4f, sampleRate_));
            page_ = job.list->page;
            showPage(takeList());
            break;
        case What::ResultPage:
            showPage(takeList());
            break;
        case What::TreeList:
            takeList();
            postToGui(kSelectBase + currentEntryInList());
            postToGui(kList, lists_[shownList_].textSize, lists_[shownList_].text);
            break;
        case What::ReadPreset:
            applyLoad(job.preset, job.entry);
            if (job.then == kLoadEntry && job.request.path.view() == selectedFile_.view())
                selectedId_ = job.preset.file;
            if (job.then == kLoadEntry) {
                SendDump();
                postToGui(job.entry);
                sendProgramChange(job.entry);
            } else if (job.then == kLoadAndStore) {
                FixPreset();
            }
            break;
        case What::SavePreset:
            if (job.ok && job.request.path.view() == selectedFile_.view())
                selectedId_ = job.preset.file;  // saved over by the user: still the file selected
            if (job.nameRead)
                names().setName(job.entry, job.names.view(0));
            presets().refresh(job.request.path.view(), job.preset);
            break;
        case What::LoadBank:
            if (!job.ok)
                break;
            bankNames_ = job.names;
            names() = job.names;
            bank_ = 1 - bank_;
            bankImported_ = true;
            currentEntry_ = 0;
            filePath_.assign(job.newPath.view());
            startLoad();
            applyLoad(job.preset, 0);
            SendDump();
            postToGui(kShowEntryBase);
            sendProgramChange(0);
            break;
        case What::LoadNames:
            if (job.ok) {
                bankNames_ = job.names;
                names() = job.names;
            }
            break;
        case What::Retag:
        case What::ToggleFavourite:
            if (job.ok) {
                presets().refresh(job.request.path.view(), kNoFile);
                presets().refresh(job.newPath.view(), job.preset);
            }
            if (job.sameFile)
                job.request.what == What::Retag ? answerTag() : answerFavourite();
            break;
        case What::Trash:
            if (job.ok)
                presets().refresh(job.request.path.view(), kNoFile);
            if (job.sameFile)
                answerDelete();
            break;
        case What::PresetChanges:
            changesAsked_ = false;
            if (job.writesBefore - writesSeen_ < (uint64_t{1} << 63))
                writesSeen_ = job.writesBefore;
            if (changes_.list == lists_[shownList_].generation)
                for (int i = 0; i < changes_.count; ++i)
                    presets().store(changes_.entries[i], changes_.paths[i].view(), changes_.presets[i]);
            break;
        case What::StartupPath:
            filePath_.assign(job.newPath.view());
            break;
        }
    }

    void askStartupPath()
    {
        if (LibraryJob* job = request(What::StartupPath)) {
            job->startup = startup_;
            ask(job);
        }
    }

    // ---- Program changes ------------------------------------------------------------------------

    void programChangeIn(int p)
    {
        if (muteOnNextProgramChange_) {
            muteTimer_.start(samplesIn(0.2f, sampleRate_));
            postToGui(kDropSelection);
        } else if (searchView_ && p >= kFirstCommandRow) {
            postToGui(kDropSelection);
        }
        // Only data bytes name list positions: 0x80 and above (the saved-view refresh sends 0x82)
        // load nothing and leave the current entry, but in a result view they end the search like
        // any command row.
        if (!ignoreNextProgramChange_) {
            if (!resultView_) {
                if (p < kEntries) {
                    currentEntry_ = p;
                    ChangePreset();
                    keepSelection();
                }
            } else if (!viewSwitchPending_ && p >= kEntries) {
                searchActive_ = false;
            } else if (!viewSwitchPending_) {
                currentEntry_ = p;
                const bool arrow = (p == kNextArrowRow && nextArrowActive_) || (p == kPrevArrowRow && prevArrowActive_);
                if (arrow) {
                    // The message handler has turned the page.
                } else if (p <= kNextArrowRow) {
                    ChangePreset();
                    keepSelection();
                } else {
                    searchActive_ = false;
                    if (p == 108 && editMode_)
                        SetCategory();
                }
            }
        }
        ignoreNextProgramChange_ = muteOnNextProgramChange_ = viewSwitchPending_ = false;
    }

    // ---- Messages ---------------------------------------------------------------------------------

    void dispatch(int32_t id, int32_t size, const void* data)
    {
        if (id >= kSelectRowBase && id < kSelectRowBase + kEntries) {
            selectOrCommand(id - kSelectRowBase);
            return;
        }
        if (id >= kFolderBase && id < kFolderBase + kFolders) {
            // Only slots that hold a folder can be chosen.
            if (id - kFolderBase < folders_.count)
                switchFolder(id - kFolderBase);
            return;
        }
        switch (id) {
        case kLoadPresetFile:
            if (LoadPath()) {
                filePath_.assign(guiPath_.view());
                LoadPreset(kLoadAndStore);
            }
            break;
        case kSavePreset:
            if (LoadPath()) {
                ignoreNextProgramChange_ = true;
                sendProgramChange(currentEntry_);
                filePath_.assign(guiPath_.view());
                SavePreset();
            }
            break;
        case kFixPreset:
            FixPreset();
            break;
        case kLoadBank:
            if (LoadPath()) {
                filePath_.assign(guiPath_.view());
                LoadBank();
            }
            break;
        case kSaveBankFolder:
            if (LoadPath() && bankImported_) {
                filePath_.assign(guiPath_.view());
                SaveBank();
            }
            break;
        case kInterfaceStarted:
            interfaceStarted();
            break;
        case kFirstStore:
            if (firstStart_)
                FixPreset();
            firstStart_ = false;
            break;
        case kPath: {
            // A path too long for the field is refused, not cut into another file's name.
            const std::string_view path = payload::text(size, data);
            if (!guiPath_.assign(path))
                guiPath_.clear();
            break;
        }
        case kTimeOrderOn:
            timeOrderOn();
            break;
        case kDeletePreset:
            DeletePreset();
            break;
        case kTimeOrderOff:
            timeOrderOff();
            break;
        case kToggleFavourite:
            toggleFavourite();
            break;
        case kSearchText:
            setSearchText(payload::text(size, data));
            break;
        default:
            break;
        }
    }

    void selectOrCommand(int n)
    {
        if (searchView_ && currentEntry_ >= kFirstCommandRow)
            postToGui(kDropSelection);
        const bool nextArrow = n == kNextArrowRow && nextArrowActive_;
        const bool prevArrow = n == kPrevArrowRow && prevArrowActive_;
        if (!nextArrow && !prevArrow)
            sendProgramChange(n);
        if (!ignoreNextProgramChange_ && resultView_ && !viewSwitchPending_) {
            currentEntry_ = n;
            if (nextArrow) {
                if (page_ < kLastPage)
                    ++page_;
                SendListSearch();
            } else if (prevArrow) {
                if (page_ > 0)
                    --page_;
                SendListSearch();
            } else if (n >= kFirstCommandRow) {
                searchActive_ = false;
            }
            if (currentEntry_ >= kFirstCommandRow) {
                postToGui(kDropSelection);
                command(currentEntry_);
            }
        }
        if (viewSwitchPending_)
            rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
    }

    void command(int row)
    {
        switch (row) {
        case 104:  // SEARCH
        case 105:  // SET
            editMode_ = row == 105;
            page_ = 0;
            category_ = 0;
            rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
            break;
        case 107:  // ALL
        case 108:  // FAVOURITE; in EDIT mode the tagging runs when [C0 108 00] returns
            if (!editMode_) {
                favouriteFilter_ = row == 108;
                page_ = 0;
                rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
            }
            break;
        default:
            if (row >= kCategoryRow && row < kCategoryRow + kCategories) {
                category_ = row - kCategoryRow;
                page_ = 0;
                if (!editMode_)
                    rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
            }
            break;
        }
    }

    void interfaceStarted()
    {
        favouritesOrderHeld_ = false;
        if (timeOrder_)
            postToGui(kFixPresetOn);
        if (firstStart_) {
            UpdateBanks(kListSelectedFolder);
            firstStart_ = false;
            return;
        }
        if (!(searchView_ && loadedInSearchView_))
            selectedFolder_ = loadedFolder_;
        setFolderPath(selectedFolder_);
        SendBanks();
        if (!searchView_) {
            SaveList();
        } else if (loadedInSearchView_) {
            SendListSearch();
            postToGui(kCategoryRowBase + category_);
            postToGui(kSelectBase + currentEntry_);
        } else {
            searchView_ = false;
            SaveList();
        }
    }

    void switchFolder(int f)
    {
        selectedFolder_ = f;
        folderJustChosen_ = true;
        searchActive_ = false;
        setFolderPath(f);
        resultView_ = false;
        favouritesOrderHeld_ = false;
        savedListView_ = searchSavedView_ = savedView_ = false;

        const std::string_view name = folders_.names[f];
        float rebuild = 0.5f;
        bool special = true;
        bool favourites = false;
        if (name == "3_SEARCH") {
            joinPath(folderPath_, {root_, "/"});
            rebuild = 0.8f;
        } else if (name == "3_FAVOURITES") {
            favourites = true;
            joinPath(folderPath_, {root_, "/"});
            rebuild = 0.8f;
        } else if (contains(name, "_EE_")) {
            savedListView_ = true;
        } else if (name == "3_SEARCHSAVED") {
            searchSavedView_ = true;
        } else if (name == "2_SAVED") {
            savedListView_ = savedView_ = true;
        } else if (name == "3_RELOADS") {
            savedListView_ = true;
        } else {
            special = false;
        }

        if (special) {
            resultView_ = true;
            page_ = 0;
            editMode_ = false;
            favouriteFilter_ = favourites;
            category_ = 0;
            searchView_ = true;
            viewSwitchPending_ = true;
            muteOnNextProgramChange_ = true;
            MuteEffects();
            postToGui(kViewSwitched);
            postToGui(kDropSelection);
            sendProgramChange(currentEntry_);
            rebuildTimer_.start(samplesIn(rebuild, sampleRate_));
        } else {
            prevArrowActive_ = nextArrowActive_ = searchView_ = editMode_ = favouriteFilter_ = false;
            category_ = 0;
            SaveList();
        }
    }

    void timeOrderOn()
    {
        timeOrder_ = true;
        savedOrderHeld_ = favouritesOrderHeld_ = false;
        UpdateBanks();
        orderToggled_ = false;
        if (!searchView_) {
            orderToggled_ = true;
            SaveList();
        } else if (savedView_) {
            page_ = 0;
            postToGui(kClearKeepName);
            savedViewRefresh();
        } else if (favouriteFilter_) {
            suppressSelectionEcho_ = true;
            favouritesRefresh();
        }
    }

    void timeOrderOff()
    {
        timeOrder_ = false;
        if (savedView_ && !savedOrderHeld_) {
            savedOrderHeld_ = true;
            timeOrder_ = true;
            postToGui(kFixPresetOn);
        }
        UpdateBanks();
        orderToggled_ = false;
        if (!searchView_) {
            orderToggled_ = true;
            SaveList();
        } else if (savedView_) {
            page_ = 0;
            savedViewRefresh();
        } else if (favouriteFilter_) {
            suppressSelectionEcho_ = true;
            if (favouritesOrderHeld_) {
                postToGui(kClearKeepName);
            } else {
                timeOrder_ = true;
                favouritesOrderHeld_ = true;
                postToGui(kFixPresetOnKeepName);
            }
            favouritesRefresh();
        }
    }

    void savedViewRefresh()
    {
        muteOnNextProgramChange_ = true;
        MuteEffects();
        postToGui(kSelectBase + 1);
        postToGui(kSelectBase + currentEntry_);
        postToGui(kDropSelection);
        sendProgramChange(130);  // 0x82: comes back as no list position
        rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
    }

    void favouritesRefresh()
    {
        muteOnNextProgramChange_ = true;
        MuteEffects();
        postToGui(kSelectBase + 1);
        postToGui(kSelectBase + currentEntry_);
        postToGui(kDropSelection);
        sendProgramChange(currentEntry_);
        pageTimer_.start(samplesIn(0.5f, sampleRate_));
    }

    // The file selected, if the path still names it, renamed on the worker; then the answers.
    void toggleFavourite()
    {
        if (selectionShown())
            askFileWork(What::ToggleFavourite, selectedFile_.view(), kAnswerFavourite);
    }

    void answerFavourite()
    {
        MuteEffects();
        muteTimer_.start(samplesIn(0.2f, sampleRate_));
        postToGui(kSelectBase + 1);
        postToGui(kSelectBase + currentEntry_);
        postToGui(kDropSelection);
        muteOnNextProgramChange_ = true;
        sendProgramChange(currentEntry_);
        rescan_ = true;
        MuteEffects();
        restoreTimer_.start(samplesIn(0.4f, sampleRate_));
        if (searchView_)
            rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
        else
            SaveList();
    }

    // The search pattern itself is made on the worker, with the next filter pass.
    void setSearchText(std::string_view text)
    {
        text = pin_text::cutAtCharBoundary(text, kSearchBytes);
        if (!text.empty())
            std::memcpy(searchText_, text.data(), text.size());
        searchText_[text.size()] = 0;
        searchActive_ = true;
        page_ = 0;
        rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
    }

    // ---- Timers -----------------------------------------------------------------------------------

    void timerEnded(Timer timer)
    {
        switch (timer) {
        case kSaveTimer:
            searchActive_ = false;
            UpdateBanks(kRefreshAfterSave);
            break;
        case kRebuildTimer:
            CollectListSearch();
            break;
        case kMuteTimer:
            MuteEffects();
            restoreTimer_.start(samplesIn(0.4f, sampleRate_));
            break;
        case kRestoreTimer:
            RestoreEffects();
            break;
        case kPageTimer:
            SendListSearch();
            break;
        }
    }

    // ---- The shared block as the inputs see it ----------------------------------------------------

    float slotValue(int slot) const { return shadowed_ ? shadow_[slot] : block_.get(slot); }
    void setSlot(int slot, float value)
    {
        if (shadowed_)
            shadow_[slot] = value;
        block_.set(slot, value);
    }
    void readBlock(float (&values)[PresetBlock::kSlots]) const
    {
        if (shadowed_)
            std::copy(std::begin(shadow_), std::end(shadow_), values);
        else
            block_.read(values);
    }
    void writeBlock(const float (&values)[PresetBlock::kSlots])
    {
        if (shadowed_)
            std::copy(std::begin(values), std::end(values), shadow_);
        block_.write(values);
    }

    // ---- Effects ----------------------------------------------------------------------------------

    void MuteEffects()
    {
        if (quiet_)
            return;
        // Restoring an empty backup would silence the effects for good: take one first.
        if (!effectBackupTaken_)
            BackupEffects();
        for (int slot : kMutedSlots)
            setSlot(slot, 0.0f);
    }

    void RestoreEffects()
    {
        if (quiet_)
            return;
        for (int slot : kMutedSlots)
            setSlot(slot, effectBackup_[slot]);
    }

    void BackupEffects()
    {
        for (int slot : kBackedUpSlots)
            effectBackup_[slot] = slotValue(slot);
        effectBackupTaken_ = true;
    }

    // ---- Preset store -----------------------------------------------------------------------------

    bool validEntry() const { return currentEntry_ >= 0 && currentEntry_ < kEntries; }

    void FixPreset()
    {
        if (validEntry()) {
            float values[PresetBlock::kSlots];
            readBlock(values);
            banks_[bank_].storeFrom(currentEntry_, values);
        }
    }

    // The length check of the received path: 10 bytes or fewer name no file.
    bool LoadPath()
    {
        if (guiPath_.size() <= kShortestPath) {
            guiPath_.clear();
            guiPathValid_ = false;
            return false;
        }
        guiPathValid_ = true;
        return true;
    }

    // The file of list entry i: in the folder shown, or below the root in a result view. An entry
    // that would lead outside the library names no file (out is emptied).
    void entryPath(int i, preset_bank::PathBuffer& out) const
    {
        const std::string_view entry = i >= 0 && i < kEntries ? names().view(i) : std::string_view();
        prescat::entryPath(searchView_ ? std::string_view(root_) : folderPath_.view(), entry, searchView_, out);
    }

    void setFilePathToEntry() { entryPath(currentEntry_, filePath_); }

    void keepSelection()
    {
        selectedEntry_ = currentEntry_;
        selectedFile_.assign(filePath_.view());
        selectedId_ = loadedId_;
    }

    bool selectionShown() const
    {
        if (selectedFile_.empty())
            return false;
        preset_bank::PathBuffer shown;
        entryPath(selectedEntry_, shown);
        return shown.view() == selectedFile_.view();
    }

    // In real time the entry's preset comes from the list's read-ahead, so it loads in this
    // block; an entry changed since (renamed, an imported bank's names), or any preset after
    // another manager wrote into the library and before the worker told what changed, is read by
    // the worker. Offline the file is read now, as it stands.
    void ChangePreset()
    {
        setFilePathToEntry();
        loadedId_ = FileIdentity{};
        const PresetRead* preset = filePath_.empty()                               ? &kNoFile
                                   : channel_.runsInline() || !readAheadCurrent() ? nullptr
                                                                                  : presets().find(currentEntry_, filePath_.view());
        if (!preset) {
            LoadPreset(kLoadEntry);
            return;
        }
        loadedId_ = preset->file;
        startLoad();
        applyLoad(*preset, currentEntry_);
        SendDump();
        postToGui(currentEntry_);
        sendProgramChange(currentEntry_);
    }

    // The preset file at filePath, read by the worker; then what `then` says.
    void LoadPreset(Then then)
    {
        startLoad();
        LibraryJob* job = request(What::ReadPreset);
        if (!job)
            return;
        job->then = then;
        job->request.path.assign(filePath_.view());
        ask(job);
    }

    void startLoad()
    {
        loadedFolder_ = selectedFolder_;
        loadedInSearchView_ = searchView_;
    }

    // The file's values over the block, migrated; an "empty" entry without a file gets the init
    // patch; any other missing file changes nothing.
    void applyLoad(const PresetRead& preset, int entry)
    {
        if (quiet_)
            return;
        float values[PresetBlock::kSlots];
        readBlock(values);
        if (preset.count != PresetRead::kMissing) {
            std::copy(preset.values, preset.values + preset.count, values);
            migrateOldPreset(values);
        } else if (entry >= 0 && entry < kEntries && names().view(entry) == kEmpty) {
            writeInitPatch(values);
        } else {
            return;
        }
        writeBlock(values);
        BackupEffects();
    }

    void SendDump()
    {
        if (quiet_)
            return;
        float values[PresetBlock::kSlots];
        readBlock(values);
        controller_dump::sendDump(values, midiOut_);
    }

    // The name line of an existing file at filePath into the current entry, then the block
    // written there.
    void SavePreset()
    {
        BackupEffects();
        std::string_view name = lastComponent(filePath_.view());
        name = name.substr(0, name.rfind('.'));
        if (name.size() >= static_cast<std::size_t>(preset_bank::kNameKeepWhole))
            name = pin_text::cutAtCharBoundary(name, preset_bank::kNameFieldColumns);
        if (LibraryJob* job = request(What::SavePreset)) {
            job->request.path.assign(filePath_.view());
            job->request.loadName = validEntry();
            const std::size_t n = std::min(name.size(), sizeof job->request.name - 1);
            std::memcpy(job->request.name, name.data(), n);
            job->request.name[n] = 0;
            readBlock(job->request.values);
            ask(job);
        }
        rescan_ = true;
        saveTimer_.start(samplesIn(0.3f, sampleRate_));
    }

    // The imported bank as a folder of "#NNN name.tavpreset" files.
    void SaveBank()
    {
        if (LibraryJob* job = request(What::WriteBankFolder)) {
            job->request.path.assign(filePath_.view());
            job->folders = &folderScan_;
            job->bankNames = &bankNames_;
            job->bankFrom = &banks_[bank_];
            ask(job);
        }
    }

    void LoadBank()
    {
        if (LibraryJob* job = request(What::LoadBank)) {
            job->request.path.assign(filePath_.view());
            job->request.base.assign(searchView_ ? std::string_view(root_) : folderPath_.view());
            job->request.subfoldersAllowed = searchView_;
            job->names = names();
            job->bankFrom = &banks_[bank_];
            job->bank = &banks_[1 - bank_];
            ask(job);
        }
    }

    // Renames or trashes the file selected on the worker, if its path still names it; then what
    // `then` says.
    void askFileWork(What what, std::string_view path, Then then)
    {
        if (LibraryJob* job = request(what)) {
            job->request.path.assign(path);
            job->request.category = category_;
            job->request.file = selectedId_;
            job->then = then;
            ask(job);
        }
    }

    void SetCategory()
    {
        if (selectionShown())
            askFileWork(What::Retag, selectedFile_.view(), kAnswerTag);
    }

    void answerTag()
    {
        sendProgramChange(currentEntry_);
        rescan_ = true;
        favouriteFilter_ = false;
        category_ = 0;
        if (searchView_)
            rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
        else
            SaveList();
    }

    void DeletePreset()
    {
        if (currentEntry_ != selectedEntry_ || !selectionShown())
            return;
        if (hasNumberPrefix(names().view(currentEntry_))) {
            postToGui(kRemovalDenied);
            return;
        }
        setFilePathToEntry();
        askFileWork(What::Trash, selectedFile_.view(), kAnswerDelete);
    }

    void answerDelete()
    {
        rescan_ = true;
        if (searchView_)
            CollectListSearch();
        else
            SaveList();
    }

    // ---- Lists ------------------------------------------------------------------------------------

    void setFolderPath(int f) { joinPath(folderPath_, {root_, "/", folders_.names[f]}); }

    // A message to the interface half; held back as a step while a request before it is owed.
    void postToGui(int32_t id, int32_t size = 0, const void* data = nullptr)
    {
        if (!made_.empty() && size == 0) {
            made_.pushBack({Step::Kind::Post, id, nullptr});
            return;
        }
        if (host && !quiet_)
            host->postMessageToGui(id, size, data);
    }

    void sendProgramChange(int program)
    {
        if (!made_.empty()) {
            made_.pushBack({Step::Kind::ProgramChange, program, nullptr});
            return;
        }
        if (quiet_)
            return;
        const unsigned char bytes[3] = {0xC0, static_cast<unsigned char>(program), 0x00};
        midiOut_.send(bytes, 3, 0);
    }

    // The folder table of the library root; then what `then` says.
    void UpdateBanks(Then then = kNothingMore)
    {
        if (LibraryJob* job = request(What::Folders)) {
            job->folders = &folderScan_;
            job->then = then;
            ask(job);
        }
    }

    void SendBanks()
    {
        postToGui(kFolderNumberBase + selectedFolder_);
        postToGui(kFolderList, folders_.textSize, folders_.text);
    }

    void SaveList()
    {
        if (LibraryJob* job = requestList(What::FolderList)) {
            job->request.timeOrder = timeOrder_;
            job->request.checkNumbered = timeOrder_ || orderToggled_;
            ask(job);
        }
    }

    void showFolderList(const ListResult& list)
    {
        if (list.numbered) {
            orderToggled_ = false;
            postToGui(kSelectBase + currentEntryInList());
        } else if (orderToggled_) {
            postToGui(kDropSelection);
        } else {
            postToGui(kSelectBase + currentEntryInList());
        }
        orderToggled_ = false;
        postToGui(kList, list.textSize, list.text);
    }

    int currentEntryInList() const { return validEntry() ? currentEntry_ : 0; }

    void CollectListSearch()
    {
        if (savedView_ || savedListView_) {
            CollectListSave();
        } else if (rescan_) {
            rescan_ = false;
            CollectList();
        } else {
            FilterList();
        }
    }

    void CollectList()
    {
        MuteEffects();
        joinPath(folderPath_, {root_, "/"});
        askPage(What::RescanAndPage);
    }

    void FilterList()
    {
        MuteEffects();
        askPage(What::FilterAndPage);
    }

    void CollectListSave()
    {
        MuteEffects();
        askPage(What::SavedAndPage);
    }

    void SendListSearch() { askPage(What::ResultPage); }

    // A page of results, after the builder `what` names.
    void askPage(What what)
    {
        LibraryJob* job = requestList(what);
        if (!job)
            return;
        LibraryJob::Request& r = job->request;
        r.page = page_;
        r.timeOrder = timeOrder_ && savedView_;
        r.savedOrderHeld = savedOrderHeld_;
        r.onlySaved = searchSavedView_;
        r.editMode = editMode_;
        r.favouriteFilter = favouriteFilter_;
        r.folderJustChosen = folderJustChosen_;
        folderJustChosen_ = false;
        r.category = category_;
        r.searchActive = searchActive_;
        std::memcpy(r.searchText, searchText_, sizeof searchText_);
        ask(job);
    }

    void showPage(const ListResult& list)
    {
        if (favouriteFilter_ && timeOrder_)
            postToGui(kFavouritesInTimeOrder);
        prevArrowActive_ = list.arrows.previous;
        nextArrowActive_ = list.arrows.next;
        postToGui(list.arrows.next ? kNextArrowShown : kNextArrowHidden);
        postToGui(list.arrows.previous ? kPrevArrowShown : kPrevArrowHidden);
        if (!suppressSelectionEcho_) {
            postToGui(kClearFirstSelect);
            postToGui(kSelectBase + currentEntryInList());
        }
        suppressSelectionEcho_ = false;
        // The list comes last: the interface reads it with the selection and arrows in place.
        postToGui(kList, list.textSize, list.text);
    }

    // ---- Construction -------------------------------------------------------------------------------

    // A missing library is brought back from its backup; nothing is created. Errors leave the
    // library as it is: the lists then come out empty.
    void restoreLibraryFromBackup()
    {
        struct stat info {};
        if (::lstat(root_.c_str(), &info) == 0 || errno != ENOENT)
            return;
        const std::string backup = libraryBackupPath();
        if (::lstat(backup.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            ::rename(backup.c_str(), root_.c_str());
    }

    // ---- Operations no message reaches ------------------------------------------------------------

    // The bank memory only carries an import on its way to a bank folder: starting over leaves
    // none to write.
    void LoadStartupBank() override
    {
        handle([this] {
            banks_[bank_].clear();
            bankImported_ = false;
            SaveList();
        });
    }

    void LoadNames() override
    {
        handle([this] {
            if (LibraryJob* job = request(What::LoadNames)) {
                job->request.path.assign(filePath_.view());
                job->names = names();
                ask(job);
            }
        });
    }

    void SaveListSearch() override
    {
        handle([this] { ask(requestList(What::TreeList)); });
    }
};

MP_REGISTER_MODULE(Qv_patchmanagerprescat, L"QV_PatchManagerPrescat")
