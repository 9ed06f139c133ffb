#include "PresetStore/ListManagerProcessing.h"

#include "Common/PayloadText.h"
#include "Common/SampleCount.h"
#include "PresetStore/ControllerDump.h"
#include "PresetStore/FactoryBank.h"

#include <algorithm>
#include <utility>

namespace {

// The outbox hands back the jobs this module owed, as it keeps them.
list_manager::Work& asWork(const file_worker::Job& job)
{
    return const_cast<list_manager::Work&>(static_cast<const list_manager::Work&>(job));
}
template <class Job>
list_manager::Work& asWork(Job* job)
{
    return asWork(*job);
}

} // namespace

ListManagerProcessing::ListManagerProcessing(bool dumps) : dumps_(dumps)
{
    initializePin(kMidiIn, midiIn_);
    initializePin(kMidiOut, midiOut_);
    initializePin(kId, id_);
    initializePin(kAutoPath, autoPath_);
    initializePin(kPathPc, pathPc_);
    initializePin(kPathMac, pathMac_);
    initializePin(kAudioOut, audioOut_);
    for (Work& job : jobs_) {
        job.side = &workerSide_;
        freeJobs_[freeCount_++] = &job;
    }
}

int32_t ListManagerProcessing::open() noexcept
{
    MpBase::open();
    sampleRate_ = getSampleRate();
    block_.open(host);
    try {
        shadow_.attach(block_);
    } catch (...) {
    }
    for (Work& job : jobs_)
        job.shadow = shadow_.get();
    bank_->clear();
    return mpapi::MP_RESULT_OK;
}

// [audio thread]
void ListManagerProcessing::process(int32_t count, const mpapi::MpEvent* events)
{
    pickUpWork();
    MpBase::process(count, events);
}

// [audio thread]
void ListManagerProcessing::onMidiMessage(int, unsigned char* bytes, int size)
{
    if (!bytes || size < 2 || (bytes[0] & 0xF0) != 0xC0 || bytes[1] >= preset_bank::kPresets)
        return;
    selectPreset(bytes[1], false, true, "program change");
}

// [audio thread]
int32_t ListManagerProcessing::receiveMessageFromGui(int32_t id, int32_t size, const void* data) noexcept
{
    // Only texts travel with messages; what follows a text's NUL is nobody's.
    onMessage(id, payload::text(size, data));
    return mpapi::MP_RESULT_OK;
}

// [audio thread] With the bank and the current preset known here, the block is written now, at
// this input's place; while a job changing either is owed, the worker selects from its own. The
// selection itself is known here unless a bank load (or a selection made while one was owed) is
// out: it then comes back with the result.
void ListManagerProcessing::selectPreset(int preset, bool prelude, bool tellGui, const char* action)
{
    preset = preset_bank::BankMemory::clampPreset(preset);
    if (bankOwed_ > 0 || bankStale_ || selectionOwed_ > 0) {
        Work* job = newJob(Task::Select, {.answers = true}, action);
        if (!job)
            return;
        job->program = preset;
        job->prelude = prelude;
        job->tellsGui = tellGui;
        if (job->selectionKnown)
            select(preset, prelude);  // as the worker will
        submit(*job);
        return;
    }
    if (!answerRoom(4)) {
        channel_.refused(action);
        return;
    }
    if (select(preset, prelude))
        postDump(bank_->preset(1));
    block_.write(bank_->preset(preset));
    postDump(bank_->preset(preset));
    if (tellGui)
        postToGui(preset);
    postProgramChange(preset);
}

// The selection after selecting preset; true when it passed through preset 1 first.
bool ListManagerProcessing::select(int preset, bool prelude)
{
    const bool passes = prelude && !selection_.prelude && selection_.current >= 2;
    selection_.prelude = selection_.prelude || passes;
    selection_.current = preset;
    return passes;
}

list_manager::Work* ListManagerProcessing::newJob(Task task, JobNeeds needs, const char* action)
{
    if (freeCount_ == 0 || (needs.answers && !answerRoom(1)) || (needs.names && nameTables_.count == 0) ||
        (needs.settings && settings_.count == 0)) {
        channel_.refused(action);
        return nullptr;
    }
    Work& job = *freeJobs_[--freeCount_];
    job.task = task;
    job.changesBank = needs.changesBank;
    job.answers = needs.answers;
    job.selectionKnown = selectionOwed_ == 0;
    job.setsSelection = task == Task::LoadBank || (task == Task::Select && !job.selectionKnown);
    job.selection = selection_;
    job.readsBlock = needs.readsBlock;
    if (needs.readsBlock)
        block_.read(job.seen);
    job.path.clear();
    job.touched = 0;
    job.prelude = job.tellsGui = job.writeList = false;
    job.bank = nullptr;
    job.names = needs.names ? nameTables_.take() : nullptr;
    job.settings = needs.settings ? settings_.take() : nullptr;
    return &job;
}

void ListManagerProcessing::submit(Work& job)
{
    // Room is certain: the channel holds as many jobs as the pool, and a job is taken from the
    // pool only when one is free. Were it refused even so, it is logged and given back.
    if (!channel_.submit(job)) {
        channel_.refused("list manager file job");
        releaseJob(job);
        return;
    }
    if (job.changesBank)
        ++bankOwed_;
    if (job.setsSelection)
        ++selectionOwed_;
    if (job.answers)
        outbox_.owe(job);
    if (channel_.runsInline())
        pickUpWork();
}

void ListManagerProcessing::fileCommand(Task task, std::string_view path, const char* action)
{
    const bool load = task == Task::LoadPreset || task == Task::LoadBank;
    const JobNeeds needs{.changesBank = load,
                         .answers = task == Task::LoadBank,
                         .readsBlock = task == Task::LoadPreset || task == Task::SavePreset};
    if (Work* job = newJob(task, needs, action)) {
        job->path.assign(path);
        submit(*job);
    }
}

void ListManagerProcessing::storeLive(Task task, const char* action)
{
    if (Work* job = newJob(task, {.changesBank = true, .answers = task == Task::StartStore, .readsBlock = true}, action))
        submit(*job);
}

// [audio thread] Jobs come back in submit order: each is applied, then the answers up to the
// next owed one still out leave.
void ListManagerProcessing::pickUpWork()
{
    if (picking_)
        return;  // a job submitted while results are applied is picked up by the loop below
    picking_ = true;
    while (file_worker::Job* done = channel_.finished()) {
        Work& job = asWork(done);
        applyWork(job);
        if (job.changesBank)
            --bankOwed_;
        if (job.bank)
            spareBanks_[spares_++] = std::exchange(job.bank, nullptr);
        if (job.answers)
            outbox_.cameBack(job);
        else
            releaseJob(job);
        flushAnswers();
    }
    flushAnswers();
    picking_ = false;
    if (bankStale_ && bankOwed_ == 0 && !closing_)
        fetchBank();
}

// [audio thread] A bank read on the worker comes here once no job changing the bank is owed: one
// copy however many were read, and selections go to the worker until it is in.
void ListManagerProcessing::fetchBank()
{
    if (freeCount_ == 0 || spares_ == 0)
        return;  // tried again after the next job comes back
    Work& job = *freeJobs_[--freeCount_];
    job.task = Task::FetchBank;
    job.changesBank = true;
    job.answers = job.readsBlock = job.setsSelection = false;
    job.selectionKnown = selectionOwed_ == 0;
    job.selection = selection_;
    job.names = nullptr;
    job.settings = nullptr;
    job.bank = spareBanks_[--spares_];
    submit(job);
}

void ListManagerProcessing::flushAnswers()
{
    outbox_.flush([this](const Answer& answer, std::string_view payload) { sendAnswer(answer, payload); },
                  [this](auto&& job) { settle(asWork(job)); });
}

void ListManagerProcessing::settle(Work& job)
{
    settleWork(job);
    releaseJob(job);
}

void ListManagerProcessing::releaseJob(Work& job)
{
    if (job.bank)
        spareBanks_[spares_++] = std::exchange(job.bank, nullptr);
    nameTables_.giveBack(job.names);
    settings_.giveBack(job.settings);
    freeJobs_[freeCount_++] = &job;
}

void ListManagerProcessing::applyWork(Work& job)
{
    if (job.setsSelection) {
        selection_ = job.selection;
        --selectionOwed_;
    }
    switch (job.task) {
    case Task::Select:
        block_.writeAsOf(job.values, job.place());
        return;
    case Task::LoadPreset:
        if (job.proceeded)
            bank_->storeFrom(job.selection.current, job.values);
        if (job.opened)
            block_.writeAsOf(job.values, job.place());
        return;
    case Task::LoadBank:
        if (!job.opened)
            return;
        bankStale_ = true;
        block_.writeAsOf(job.values, job.place());
        return;
    case Task::FetchBank:
        swapBank(job);  // the old bank goes back with the job
        bankStale_ = false;
        return;
    case Task::Store:
    case Task::StartStore:
        bank_->storeFrom(job.selection.current, job.values);
        if (!job.factory)
            return;
        factory_bank::layInto(factoryNames_, *bank_);
        bank_->storeFrom(job.selection.current, job.values);
        return;
    case Task::StartUp:
        bankStale_ = bankStale_ || job.opened;
        return;
    default:
        return;
    }
}

void ListManagerProcessing::settleWork(Work& job)
{
    switch (job.task) {
    case Task::Select:
        if (job.preludeDone && dumps_)
            sendAnswer({Answer::Kind::Midi, 0},
                       std::string_view(reinterpret_cast<const char*>(job.preludeDump.data()), sizeof job.preludeDump));
        sendDump(job.values);
        if (job.tellsGui)
            sendToGui(job.program);
        sendProgramChange(job.program);
        return;
    case Task::LoadBank:
        if (!job.opened)
            return;
        sendDump(job.values);
        sendToGui(0);
        sendProgramChange(0);
        return;
    case Task::StartStore:
        if (job.factory)
            sendToGui(list_message::kFactoryBankLoaded);
        return;
    default:
        return;
    }
}

void ListManagerProcessing::finishWork()
{
    closing_ = true;
    while (channel_.outstanding() > 0) {
        channel_.drain();
        pickUpWork();
    }
}

bool ListManagerProcessing::post(const Answer& answer, std::string_view payload)
{
    const bool kept = outbox_.post(answer, payload);
    flushAnswers();
    return kept;
}

void ListManagerProcessing::postToGui(int32_t id, std::string_view payload) { post({Answer::Kind::Gui, id}, payload); }

void ListManagerProcessing::postProgramChange(int program)
{
    const char bytes[3] = {static_cast<char>(0xC0), static_cast<char>(program & 0x7F), 0x00};
    post({Answer::Kind::Midi, 0}, std::string_view(bytes, 3));
}

void ListManagerProcessing::postDump(const preset_bank::PresetValues& values)
{
    if (!dumps_)
        return;
    std::array<controller_dump::Message, controller_dump::kMessages> dump;
    controller_dump::computeDump(values, dump);
    post({Answer::Kind::Midi, 0}, std::string_view(reinterpret_cast<const char*>(dump.data()), sizeof dump));
}

void ListManagerProcessing::sendAnswer(const Answer& answer, std::string_view payload)
{
    if (answer.kind == Answer::Kind::Gui) {
        sendToGui(answer.id, payload);
        return;
    }
    for (std::size_t at = 0; at + 3 <= payload.size() && !closing_; at += 3) {
        unsigned char bytes[3];
        std::copy_n(payload.data() + at, 3, reinterpret_cast<char*>(bytes));
        midiOut_.send(bytes, 3, 0);
    }
}

void ListManagerProcessing::sendToGui(int32_t id, std::string_view payload)
{
    if (host && !closing_)
        host->postMessageToGui(id, static_cast<int32_t>(payload.size()), payload.empty() ? nullptr : payload.data());
}

void ListManagerProcessing::sendProgramChange(int program)
{
    const char bytes[3] = {static_cast<char>(0xC0), static_cast<char>(program & 0x7F), 0x00};
    sendAnswer({Answer::Kind::Midi, 0}, std::string_view(bytes, 3));
}

void ListManagerProcessing::sendDump(const preset_bank::PresetValues& values)
{
    if (dumps_ && !closing_)
        controller_dump::sendDump(values, midiOut_);
}

void ListManagerProcessing::sendList(const preset_bank::NameTable& names)
{
    list_.build(names);
    sendToGui(list_message::kListText, std::string_view(list_.c_str(), list_.size() + 1));
}

int32_t ListManagerProcessing::countdownSamples(float seconds) const
{
    return samplesIn(seconds, sampleRate_);
}
