// The category manager's processing half: browses the preset library (a tree of preset files with
// categories, favourites and saved lists) folder by folder or in paged result views, answers its
// interface half, and loads a preset into the shared preset block when its own program change
// comes back to its MIDI input. A selection never loads directly: it is answered by [C0 n 00].
//
// Its file side (the lists, their presets read ahead, the selected file, the bank memory) lives
// on the bundle's file worker (LibraryWork.h); this file keeps the conversation (messages, timers,
// program changes), takes every input at once, and answers in the order of RequestOrder.h: its
// requests wait in LibraryRequests.h, its answers leave through PrescatAnswers.h.
#include "CategoryBrowser/LibraryWork.h"
#include "CategoryBrowser/CategoryStore.h"
#include "CategoryBrowser/LibraryRequests.h"
#include "CategoryBrowser/PresetLibrary.h"
#include "CategoryBrowser/PrescatAnswers.h"
#include "CategoryBrowser/PrescatMessages.h"
#include "CategoryBrowser/PrescatOperations.h"
#include "CategoryBrowser/RequestOrder.h"
#include "Common/PayloadText.h"
#include "Common/PinText.h"
#include "Common/SampleCount.h"
#include "Common/SampleCountdown.h"
#include "FileWorker.h"
#include "PresetStore/BlockShadow.h"
#include "PresetStore/ControllerDump.h"
#include "PresetStore/PresetBank.h"
#include "PresetStore/PresetBlock.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using namespace prescat;
using What = LibraryJob::What;

constexpr std::size_t kShortestPath = 10;  // a path this short names no file

std::string_view lastComponent(std::string_view path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

class Qv_patchmanagerprescat : public MpBase, public ProcessingOperations {
public:
    enum Pin { kMidiIn, kMidiOut, kId, kAutoPath, kPathPc, kPathMac, kAudioOut };
    enum Timer : int32_t { kSaveTimer, kRebuildTimer, kMuteTimer, kRestoreTimer, kPageTimer, kTimers };

    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    StringInPin id_;
    BoolInPin autoPath_;
    StringInPin pathPc_;  // read nowhere: the product runs on one system
    StringInPin pathMac_;
    AudioOutPin audioOut_;  // never written; streaming so that the timers always run

    PresetBlock block_;
    FolderTable folders_;  // as last listed: folder switches read the names
    std::string root_ = libraryRootPath();  // fixed at construction
    int listFolder_ = kKeepFolder;  // where lists are made from the next request on (the worker keeps it)
    preset_bank::PathBuffer guiPath_;
    bool guiPathValid_ = false;
    char searchText_[kSearchBytes + 1] = {};

    int currentEntry_ = 0;    // list position 0-127 (104-127: commands in a result view)
    int selectedEntry_ = -1;  // the row of the last program change that loaded (the worker keeps its file)
    int selectedFolder_ = 0;  // 0-127
    int loadedFolder_ = 0;
    bool firstStart_ = true;
    bool pageReset_ = false;  // the page goes back to 0 with the next request (the worker keeps it)
    int category_ = 0;        // 0-17
    bool timeOrder_ = false;
    bool ignoreNextProgramChange_ = false;
    bool searchView_ = false;
    bool resultView_ = false;
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
    bool backupAsked_ = false;  // the effect slots are backed up before their first mute
    float sampleRate_ = 0.0f;   // Hz

    SampleCountdown saveTimer_;     // 0.3 s: refresh after a save
    SampleCountdown rebuildTimer_;  // 0.5 s (0.8 s into "3_SEARCH" / "3_FAVOURITES"): CollectListSearch
    SampleCountdown muteTimer_;     // 0.2 s: mute again, then the restore timer
    SampleCountdown restoreTimer_;  // 0.4 s: effects back from the backup
    SampleCountdown pageTimer_;     // 0.5 s: SendListSearch in the favourites view

    // The worker's side, the requests and buffers set aside for it, and the answers in order.
    LibraryWork library_{root_};
    preset_block::ShadowHandle shadow_;
    LibraryRequests requests_{library_};
    PrescatAnswers answers_{host, midiOut_, folders_};
    file_worker::Channel channel_{LibraryRequests::kJobs};  // last: it goes first, after every job has run

    Qv_patchmanagerprescat()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kId, id_);
        initializePin(kAutoPath, autoPath_);
        initializePin(kPathPc, pathPc_);
        initializePin(kPathMac, pathMac_);
        initializePin(kAudioOut, audioOut_);
        restoreLibraryFromBackup(root_);
        // Folder switches read the table from the first message on (before the worker may look).
        library_.listFolders(folders_);
        shadow_.attach(block_);
        library_.start(shadow_.get(), !channel_.runsInline());
    }

    // Requests still owed run to their end, so every file write asked for lands; the host hears
    // nothing more and the shared block is left alone.
    // [not the audio thread]
    ~Qv_patchmanagerprescat() override
    {
        answers_.silence();
        channel_.drain();
        pump();
        library_.stop();
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_patchmanagerprescat::subProcess);
        sampleRate_ = getSampleRate();
        block_.open(host);
        try {
            shadow_.attach(block_);
        } catch (...) {
            // Out of memory: the module keeps the shadow it has.
        }
        library_.start(shadow_.get(), !channel_.runsInline());
        return mpapi::MP_RESULT_OK;
    }

    using MpBase::process;
    // [audio thread]
    void process(int32_t count, const mpapi::MpEvent* events) override
    {
        pump();
        MpBase::process(count, events);
    }

    // [audio thread] The settings are taken now; the worker forms the startup path from them (the
    // shell-word expansion of PathMac may read the file system).
    void onGraphStart() override
    {
        handle([this] {
            LibraryJob* job = request(What::StartupPath);
            pin_text::FileSettings* settings = job ? requests_.startups.take() : nullptr;
            if (!settings) {
                channel_.refused("graph start");
                return;
            }
            settings->take(host, preset_bank::kHostPresetName, autoPath_.value, id_.value, pathMac_.value);
            job->startup = settings;
            if (!ask(job, false))
                requests_.startups.giveBack(settings);
        });
        MpPluginBase::onGraphStart();
    }

    void onSetPins() override { audioOut_.setStreaming(true); }

    using MpBase::onMidiMessage;
    // [audio thread]
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        if (!bytes || size < 2 || (bytes[0] & 0xF0) != 0xC0)
            return;
        handle([&] { programChangeIn(bytes[1]); });
    }

    // [audio thread] The timers run on audio time, whatever the disk does.
    void subProcess(int, int frames)
    {
        SampleCountdown* const timers[] = {&saveTimer_, &rebuildTimer_, &muteTimer_, &restoreTimer_, &pageTimer_};
        for (int t = 0; t < kTimers; ++t)
            if (timers[t]->endsIn(frames))
                handle([&] { timerEnded(static_cast<Timer>(t)); });
    }

    // [audio thread]
    int32_t receiveMessageFromGui(int32_t id, int32_t size, const void* data) noexcept override
    {
        handle([&] { dispatch(id, size, data); });
        return mpapi::MP_RESULT_OK;
    }

private:
    // ---- Requests and answers ---------------------------------------------------------------------

    // Handles one input; what the worker has finished (offline: all it was asked) is answered.
    template <class Handler>
    void handle(Handler&& handler)
    {
        try {
            handler();
        } catch (...) {
            // Nothing here allocates; a failure ends the request, never the host.
        }
        pump();
    }

    // [audio thread] Takes the jobs that came back and sends the answers that are due, in order.
    void pump()
    {
        while (file_worker::Job* done = channel_.finished()) {
            auto& job = static_cast<LibraryJob&>(*done);
            if (job.owed)
                answers_.cameBack(job);
            else
                requests_.giveBack(job);
        }
        answers_.flush([this](LibraryJob& job) { settle(job); });
    }

    void answer(const Answer& answer, std::string_view payload = {})
    {
        if (!answers_.post(answer, payload))
            channel_.refused("answer");
    }

    void postToGui(int32_t id) { answer({Answer::Kind::Message, id}); }
    void postList(const ListText& list) { answer({Answer::Kind::Message, kList}, {list.text, static_cast<std::size_t>(list.textSize)}); }
    void sendProgramChange(int program) { answer({Answer::Kind::ProgramChange, program}); }

    // A free request, or nullptr, with the action logged by name, when all are out.
    LibraryJob* request(What what)
    {
        LibraryJob* job = requests_.take(what, currentEntry_, selectedFolder_);
        if (!job)
            channel_.refused(LibraryJob::name(what));
        return job;
    }

    // The block as the input sees it goes with a job that reads or writes it.
    void see(LibraryJob& job) const { block_.read(job.seen); }

    // Submits job; owed: its result makes answers, which later answers wait for.
    bool ask(LibraryJob* job, bool owed)
    {
        if (!job)
            return false;
        job->owed = owed;
        job->request.resetPage = pageReset_;
        job->request.folder = listFolder_;
        if ((owed && answers_.full()) || !channel_.submit(*job)) {
            channel_.refused(LibraryJob::name(job->request.what));
            requests_.lists.giveBack(job->list);
            requests_.scans.giveBack(job->folders);
            return false;
        }
        pageReset_ = false;
        listFolder_ = kKeepFolder;
        requests_.submitted(*job);
        if (owed)
            answers_.owe(*job);
        return true;
    }

    // [audio thread] The result of a job at the front of the order: applied, then its answers.
    void settle(LibraryJob& job)
    {
        switch (job.request.what) {
        case What::Folders:
        case What::WriteBankFolder: settleFolders(job); break;
        case What::Row: settleRow(job); break;
        case What::LoadEntry:
        case What::LoadBank: settleLoad(job); break;
        case What::LoadFile:
        case What::Restore: writeResult(job); break;
        case What::Retag:
        case What::ToggleFavourite:
        case What::Trash: settleFileWork(job); break;
        default:
            if (LibraryJob::isList(job.request.what))
                showList(job, job.request.what);
            break;
        }
        requests_.giveBack(job);
    }

    void settleFolders(const LibraryJob& job)
    {
        if (!job.ok)
            return;
        folders_ = *job.folders;
        SendBanks(job.request.selectedFolder);
        if (job.request.listAfter != What::None)
            showList(job, job.request.listAfter);
    }

    void settleRow(const LibraryJob& job)
    {
        if (job.acted)
            sendProgramChange(job.request.entry);
        if (job.turned)
            showPage(job);
    }

    // A preset loaded: the block as of the program change, the dump of it, the entry shown, the echo.
    void settleLoad(const LibraryJob& job)
    {
        if (!job.acted)
            return;
        writeResult(job);
        if (!answers_.quiet())
            controller_dump::sendDump(job.values, midiOut_);
        postToGui(job.request.what == What::LoadBank ? kShowEntryBase : job.request.entry);
        sendProgramChange(job.request.what == What::LoadBank ? 0 : job.request.entry);
    }

    void writeResult(const LibraryJob& job)
    {
        if (answers_.quiet() || !job.write)
            return;
        if (job.request.what == What::Restore) {
            for (int slot : kMutedSlots)
                block_.setAsOf(slot, job.values[slot], job.place());
        } else {
            block_.writeAsOf(job.values, job.place());
        }
    }

    void settleFileWork(const LibraryJob& job)
    {
        if (job.denied)
            postToGui(kRemovalDenied);
        if (job.acted && job.turned && job.request.what == What::Trash)
            showList(job, job.request.listAfter);
        if (!job.acted || job.request.what == What::Trash)
            return;
        if (job.request.what == What::ToggleFavourite) {
            postToGui(kSelectBase + 1);
            postToGui(kSelectBase + job.request.entry);
            postToGui(kDropSelection);
        }
        sendProgramChange(job.request.entry);
        if (job.turned)
            showList(job, job.request.listAfter);
    }

    // ---- Effects ----------------------------------------------------------------------------------

    void MuteEffects()
    {
        if (answers_.quiet())
            return;
        // Restoring an empty backup would silence the effects for good: one is taken first.
        if (!backupAsked_)
            if (LibraryJob* job = request(What::Backup)) {
                see(*job);
                backupAsked_ = ask(job, false);
            }
        for (int slot : kMutedSlots)
            block_.set(slot, 0.0f);
    }

    void RestoreEffects() { ask(request(What::Restore), true); }

    // ---- Preset store -----------------------------------------------------------------------------

    bool validEntry() const { return currentEntry_ >= 0 && currentEntry_ < kEntries; }
    int currentEntryInList() const { return validEntry() ? currentEntry_ : 0; }

    // The block into bank memory at the current entry, as the worker knows the block then.
    void FixPreset()
    {
        if (LibraryJob* job = request(What::FixPreset)) {
            see(*job);
            ask(job, false);
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

    // List entry currentEntry's preset, loaded by the worker from what it read ahead (or the file,
    // or the init patch for an "empty" entry); then the dump, the entry shown and the echo.
    void ChangePreset()
    {
        startLoad();
        selectedEntry_ = currentEntry_;
        if (LibraryJob* job = request(What::LoadEntry)) {
            job->request.resultView = resultView_;
            see(*job);
            ask(job, true);
        }
    }

    void startLoad()
    {
        loadedFolder_ = selectedFolder_;
        loadedInSearchView_ = searchView_;
    }

    // Asks for work on guiPath's file that reads or writes the block.
    void askFileWithBlock(What what, bool owed)
    {
        if (LibraryJob* job = request(what)) {
            job->request.path.assign(guiPath_.view());
            see(*job);
            ask(job, owed);
        }
    }

    // The name line of an existing file at the path into the current entry, then the block
    // written there.
    void SavePreset()
    {
        std::string_view name = lastComponent(guiPath_.view());
        name = name.substr(0, name.rfind('.'));
        if (name.size() >= static_cast<std::size_t>(preset_bank::kNameKeepWhole))
            name = pin_text::cutAtCharBoundary(name, preset_bank::kNameFieldColumns);
        if (LibraryJob* job = request(What::SavePreset)) {
            job->request.path.assign(guiPath_.view());
            job->request.loadName = validEntry();
            const std::size_t n = std::min(name.size(), sizeof job->request.name - 1);
            std::memcpy(job->request.name, name.data(), n);
            job->request.name[n] = 0;
            see(*job);
            ask(job, false);
        }
        rescan_ = true;
        saveTimer_.start(samplesIn(0.3f, sampleRate_));
    }

    // The selected file, if the list still shows it, renamed or trashed on the worker; the list
    // `then` (None: none) follows when it was.
    bool askFileWork(What what, What then)
    {
        LibraryJob* job = request(what);
        if (!job)
            return false;
        job->request.category = category_;
        if (then != What::None && !lendList(*job, then, false))
            return false;
        return ask(job, true);
    }

    void SetCategory()
    {
        if (selectedEntry_ < 0 || !askFileWork(What::Retag, searchView_ ? What::None : What::FolderList))
            return;
        rescan_ = true;
        favouriteFilter_ = false;
        category_ = 0;
        if (searchView_)
            rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
    }

    // In a result view the results are collected again at once, their effects muted meanwhile.
    void DeletePreset()
    {
        if (currentEntry_ != selectedEntry_)
            return;
        rescan_ = true;
        askFileWork(What::Trash, searchView_ ? collectKind() : What::FolderList);
        rescan_ = true;
    }

    void toggleFavourite()
    {
        if (selectedEntry_ < 0 || !askFileWork(What::ToggleFavourite, searchView_ ? What::None : What::FolderList))
            return;
        MuteEffects();
        muteTimer_.start(samplesIn(0.2f, sampleRate_));
        muteOnNextProgramChange_ = true;
        rescan_ = true;
        MuteEffects();
        restoreTimer_.start(samplesIn(0.4f, sampleRate_));
        if (searchView_)
            rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
    }

    // ---- Lists ------------------------------------------------------------------------------------

    void SendBanks(int folder)
    {
        postToGui(kFolderNumberBase + folder);
        answer({Answer::Kind::FolderTable, 0});
    }

    // A list request as the module stands now.
    void describeList(LibraryJob& job, What what)
    {
        LibraryJob::Request& r = job.request;
        r.searchView = searchView_;
        r.readAhead = !channel_.runsInline();
        if (what == What::FolderList || what == What::TreeList) {
            r.timeOrder = timeOrder_;
            r.checkNumbered = timeOrder_ || orderToggled_;
            r.orderToggled = orderToggled_;
            orderToggled_ = false;
            return;
        }
        r.timeOrder = timeOrder_ && savedView_;
        r.savedOrderHeld = savedOrderHeld_;
        r.onlySaved = searchSavedView_;
        r.editMode = editMode_;
        r.favouriteFilter = favouriteFilter_;
        r.category = category_;
        r.searchActive = searchActive_;
        std::memcpy(r.searchText, searchText_, sizeof searchText_);
        r.favouritesInTimeOrder = favouriteFilter_ && timeOrder_;
        r.suppressSelectionEcho = suppressSelectionEcho_;
        suppressSelectionEcho_ = false;
        if (what != What::Row) {
            r.folderJustChosen = folderJustChosen_;
            folderJustChosen_ = false;
        }
    }

    // A list of kind what; false when refused.
    bool askList(What what, bool clearArrows = false)
    {
        LibraryJob* job = request(what);
        return job && lendList(*job, what, clearArrows) && ask(job, true);
    }

    // The folder table of the library root; then the list then says (None: none).
    void UpdateBanks(What then = What::None)
    {
        LibraryJob* job = request(What::Folders);
        if (!job)
            return;
        if (!(job->folders = requests_.scans.take())) {
            channel_.refused("folders");
            return;
        }
        if (then == What::None || lendList(*job, then, false))
            ask(job, true);
        else
            requests_.scans.giveBack(job->folders);
    }

    bool lendList(LibraryJob& job, What what, bool clearArrows)
    {
        if (!(job.list = requests_.lists.take())) {
            channel_.refused("list");
            return false;
        }
        describeList(job, what);
        job.request.listAfter = what;
        job.request.clearArrows = clearArrows;
        return true;
    }

    void SaveList(bool clearArrows = false) { askList(What::FolderList, clearArrows); }

    void showList(const LibraryJob& job, What what)
    {
        switch (what) {
        case What::FolderList: showFolderList(job); break;
        case What::TreeList:
            postToGui(kSelectBase + entryInList(job));
            postList(*job.list);
            break;
        default: showPage(job); break;
        }
    }

    static int entryInList(const LibraryJob& job)
    {
        return job.request.entry >= 0 && job.request.entry < kEntries ? job.request.entry : 0;
    }

    void showFolderList(const LibraryJob& job)
    {
        if (!job.list->numbered && job.request.orderToggled)
            postToGui(kDropSelection);
        else
            postToGui(kSelectBase + entryInList(job));
        postList(*job.list);
    }

    void CollectListSearch() { askList(collectKind()); }
    void SendListSearch() { askList(What::ResultPage); }

    // Which results CollectListSearch builds; their effects are muted until the restore.
    What collectKind()
    {
        MuteEffects();
        restoreTimer_.start(samplesIn(0.4f, sampleRate_));
        if (savedView_ || savedListView_)
            return What::SavedAndPage;
        if (!rescan_)
            return What::FilterAndPage;
        rescan_ = false;
        listFolder_ = kRootFolder;
        return What::RescanAndPage;
    }

    void showPage(const LibraryJob& job)
    {
        const ListText& list = *job.list;
        if (job.request.favouritesInTimeOrder)
            postToGui(kFavouritesInTimeOrder);
        postToGui(list.arrows.next ? kNextArrowShown : kNextArrowHidden);
        postToGui(list.arrows.previous ? kPrevArrowShown : kPrevArrowHidden);
        if (!job.request.suppressSelectionEcho) {
            postToGui(kClearFirstSelect);
            postToGui(kSelectBase + entryInList(job));
        }
        // The list comes last: the interface reads it with the selection and arrows in place.
        postList(list);
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
                }
            } else if (!viewSwitchPending_ && p >= kEntries) {
                searchActive_ = false;
            } else if (!viewSwitchPending_) {
                currentEntry_ = p;
                if (p <= kNextArrowRow) {
                    ChangePreset();  // a page arrow shown loads nothing: the worker knows the arrows
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
                startLoad();
                askFileWithBlock(What::LoadFile, true);
            }
            break;
        case kSavePreset:
            if (LoadPath()) {
                ignoreNextProgramChange_ = true;
                sendProgramChange(currentEntry_);
                SavePreset();
            }
            break;
        case kFixPreset: FixPreset(); break;
        case kLoadBank:
            if (LoadPath()) {
                currentEntry_ = 0;
                startLoad();
                askFileWithBlock(What::LoadBank, true);
            }
            break;
        case kSaveBankFolder:
            if (LoadPath())
                if (LibraryJob* job = request(What::WriteBankFolder)) {
                    job->request.path.assign(guiPath_.view());
                    if (!(job->folders = requests_.scans.take()))
                        channel_.refused("folders");
                    else
                        ask(job, true);
                }
            break;
        case kInterfaceStarted: interfaceStarted(); break;
        case kFirstStore:
            if (firstStart_)
                FixPreset();
            firstStart_ = false;
            break;
        case kPath:
            // A path too long for the field is refused, not cut into another file's name.
            if (!guiPath_.assign(payload::text(size, data)))
                guiPath_.clear();
            break;
        case kTimeOrderOn: timeOrder(true); break;
        case kDeletePreset: DeletePreset(); break;
        case kTimeOrderOff: timeOrder(false); break;
        case kToggleFavourite: toggleFavourite(); break;
        case kSearchText: setSearchText(payload::text(size, data)); break;
        default: break;
        }
    }

    // In a result view rows 0 and 103 may be page arrows, which the worker knows: it sends the
    // program change, or turns the page.
    void selectOrCommand(int n)
    {
        if (searchView_ && currentEntry_ >= kFirstCommandRow)
            postToGui(kDropSelection);
        const bool turns = !ignoreNextProgramChange_ && resultView_ && !viewSwitchPending_;
        if (resultView_ && (n == kNextArrowRow || n == kPrevArrowRow))
            askRow(n, turns);
        else
            sendProgramChange(n);
        if (turns) {
            currentEntry_ = n;
            if (n >= kFirstCommandRow) {
                searchActive_ = false;
                postToGui(kDropSelection);
                command(n);
            }
        }
        if (viewSwitchPending_)
            rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
    }

    void askRow(int n, bool turns)
    {
        LibraryJob* job = request(What::Row);
        if (!job || !lendList(*job, What::Row, false))
            return;
        job->request.entry = n;
        job->request.turnPage = turns;
        ask(job, true);
    }

    void command(int row)
    {
        switch (row) {
        case 104:  // SEARCH
        case 105:  // SET
            editMode_ = row == 105;
            pageReset_ = true;
            category_ = 0;
            rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
            break;
        case 107:  // ALL
        case 108:  // FAVOURITE; in EDIT mode the tagging runs when [C0 108 00] returns
            if (!editMode_) {
                favouriteFilter_ = row == 108;
                pageReset_ = true;
                rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
            }
            break;
        default:
            if (row >= kCategoryRow && row < kCategoryRow + kCategories) {
                category_ = row - kCategoryRow;
                pageReset_ = true;
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
            listFolder_ = selectedFolder_;
            UpdateBanks(What::FolderList);
            firstStart_ = false;
            return;
        }
        if (!(searchView_ && loadedInSearchView_))
            selectedFolder_ = loadedFolder_;
        listFolder_ = selectedFolder_;
        SendBanks(selectedFolder_);
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

    // Which view a folder opens, by its name; the rebuild delay of a special view (0: a folder view).
    float openView(std::string_view name)
    {
        if (name == "3_SEARCH" || name == "3_FAVOURITES") {
            favouriteFilter_ = name == "3_FAVOURITES";
            listFolder_ = kRootFolder;
            return 0.8f;
        }
        if (contains(name, "_EE_") || name == "3_RELOADS")
            savedListView_ = true;
        else if (name == "3_SEARCHSAVED")
            searchSavedView_ = true;
        else if (name == "2_SAVED")
            savedListView_ = savedView_ = true;
        else
            return 0.0f;
        return 0.5f;
    }

    void switchFolder(int f)
    {
        selectedFolder_ = f;
        folderJustChosen_ = true;
        searchActive_ = false;
        listFolder_ = f;
        resultView_ = false;
        favouritesOrderHeld_ = false;
        savedListView_ = searchSavedView_ = savedView_ = false;
        favouriteFilter_ = false;
        const float rebuild = openView(folders_.names[f]);
        if (rebuild > 0.0f) {
            resultView_ = true;
            pageReset_ = true;
            editMode_ = false;
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
            searchView_ = editMode_ = false;
            category_ = 0;
            SaveList(true);
        }
    }

    // Time order on (400) or off (402), and the list or page again.
    void timeOrder(bool on)
    {
        timeOrder_ = on;
        if (on) {
            savedOrderHeld_ = favouritesOrderHeld_ = false;
        } else if (savedView_ && !savedOrderHeld_) {
            savedOrderHeld_ = timeOrder_ = true;
            postToGui(kFixPresetOn);
        }
        UpdateBanks();
        orderToggled_ = false;
        if (!searchView_) {
            orderToggled_ = true;
            SaveList();
        } else if (savedView_) {
            pageReset_ = true;
            if (on)
                postToGui(kClearKeepName);
            muteAndRefresh(130);  // 0x82: comes back as no list position
            rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
        } else if (favouriteFilter_) {
            suppressSelectionEcho_ = true;
            if (on || favouritesOrderHeld_) {
                if (!on)
                    postToGui(kClearKeepName);
            } else {
                timeOrder_ = true;
                favouritesOrderHeld_ = true;
                postToGui(kFixPresetOnKeepName);
            }
            muteAndRefresh(currentEntry_);
            pageTimer_.start(samplesIn(0.5f, sampleRate_));
        }
    }

    void muteAndRefresh(int program)
    {
        muteOnNextProgramChange_ = true;
        MuteEffects();
        postToGui(kSelectBase + 1);
        postToGui(kSelectBase + currentEntry_);
        postToGui(kDropSelection);
        sendProgramChange(program);
    }

    // The search pattern itself is made on the worker, with the next filter pass.
    void setSearchText(std::string_view text)
    {
        text = pin_text::cutAtCharBoundary(text, kSearchBytes);
        if (!text.empty())
            std::memcpy(searchText_, text.data(), text.size());
        searchText_[text.size()] = 0;
        searchActive_ = true;
        pageReset_ = true;
        rebuildTimer_.start(samplesIn(0.5f, sampleRate_));
    }

    // ---- Timers -----------------------------------------------------------------------------------

    void timerEnded(Timer timer)
    {
        switch (timer) {
        case kSaveTimer:
            searchActive_ = false;
            listFolder_ = selectedFolder_;
            if (!searchView_)
                UpdateBanks(What::FolderList);
            else if (searchSavedView_ || savedView_)
                UpdateBanks(collectKind());
            else
                UpdateBanks();
            break;
        case kRebuildTimer: CollectListSearch(); break;
        case kMuteTimer:
            MuteEffects();
            restoreTimer_.start(samplesIn(0.4f, sampleRate_));
            break;
        case kRestoreTimer: RestoreEffects(); break;
        case kPageTimer: SendListSearch(); break;
        case kTimers: break;
        }
    }

    // ---- Operations no message reaches ------------------------------------------------------------

    // The bank memory only carries an import on its way to a bank folder: starting over leaves
    // none to write.
    void LoadStartupBank() override
    {
        handle([this] {
            ask(request(What::ClearBank), false);
            SaveList();
        });
    }

    void LoadNames() override
    {
        handle([this] { ask(request(What::LoadNames), false); });
    }

    void SaveListSearch() override
    {
        handle([this] { askList(What::TreeList); });
    }
};

MP_REGISTER_MODULE(Qv_patchmanagerprescat, L"QV_PatchManagerPrescat")
