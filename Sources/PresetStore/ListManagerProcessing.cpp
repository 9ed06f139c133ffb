#include "PresetStore/ListManagerProcessing.h"

#include "Common/PayloadText.h"
#include "Common/SampleCount.h"

#include <algorithm>
#include <cstring>
#include <utility>

using list_manager::Effect;
using list_manager::Work;

ListManagerProcessing::ListManagerProcessing()
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
    bank_->clear();
    block_.read(seen_);
    std::copy(std::begin(seen_), std::end(seen_), std::begin(lastWrite_));
    return mpapi::MP_RESULT_OK;
}

// [audio thread]
void ListManagerProcessing::process(int32_t count, const mpapi::MpEvent* events)
{
    noticeTurns();
    pickUpWork();
    MpBase::process(count, events);
}

// [audio thread]
void ListManagerProcessing::onMidiMessage(int, unsigned char* bytes, int size)
{
    if (!bytes || size < 2 || (bytes[0] & 0xF0) != 0xC0 || bytes[1] >= preset_bank::kPresets)
        return;
    take(Kind::ProgramChange, bytes[1]);
}

// [audio thread]
int32_t ListManagerProcessing::receiveMessageFromGui(int32_t id, int32_t size, const void* data) noexcept
{
    // Only texts travel with messages; what follows a text's NUL is nobody's.
    take(Kind::Message, id, payload::text(size, data));
    return mpapi::MP_RESULT_OK;
}

// [audio thread]
void ListManagerProcessing::take(Kind kind, int32_t id, std::string_view payload)
{
    noticeTurns();
    if (!admit(kind, id, payload))
        return;
    const uint64_t sequence = ++sequence_;
    const Needs needs = this->needs(kind, id);
    if (held_.empty() && ready(needs)) {
        if (needs.readsBlock)
            block_.read(arrival_);
        if (needs.writesBlock) {
            ++writersOwed_;
            lastWriterSequence_ = sequence;
        }
        handle(kind, id, sequence, needs, payload);
        return;
    }
    hold(kind, id, sequence, needs, payload);
}

bool ListManagerProcessing::owes(uint8_t effects) const
{
    for (std::size_t bit = 0; bit < owedCount_.size(); ++bit)
        if ((effects & (1u << bit)) && owedCount_[bit] > 0)
            return true;
    return false;
}

// An input that reads the block also waits for a write of it that is owed: it reads the block as
// that write leaves it.
bool ListManagerProcessing::ready(const Needs& needs) const
{
    const uint8_t waitsFor = needs.waitsFor | (needs.readsBlock ? Effect::kBlock : 0);
    return !owes(waitsFor) && (!needs.job || freeCount_ > 0) && (!needs.bankBuffer || spares_ > 0);
}

// [audio thread] Kept in arrival order. An input that reads the block keeps it as it is now, and
// which slots were turned since the last write before it that is still owed: those it reads as
// they are now, the others as that write will leave them.
void ListManagerProcessing::hold(Kind kind, int32_t id, uint64_t sequence, const Needs& needs, std::string_view payload)
{
    Held input{kind, id, sequence, needs.readsBlock, {}};
    std::array<char, kBlockBytes + preset_bank::kPathBytes> staged;
    std::string_view kept = payload;
    if (needs.readsBlock) {
        preset_bank::PresetValues now;
        block_.read(now);
        for (int k = 0; k < preset_bank::kSlots; ++k)
            if (writersOwed_ == 0 || turnedAfter_[static_cast<std::size_t>(k)] >= lastWriterSequence_)
                input.turned[static_cast<std::size_t>(k) / 32] |= 1u << (k % 32);
        // Inputs that read the block carry at most a path.
        const std::size_t tail = std::min(payload.size(), preset_bank::kPathBytes);
        std::memcpy(staged.data(), now, kBlockBytes);
        if (tail > 0)
            std::memcpy(staged.data() + kBlockBytes, payload.data(), tail);
        kept = std::string_view(staged.data(), kBlockBytes + tail);
    }
    if (!held_.pushBack(input, kept)) {
        channel_.refused(needs.action);
        return;
    }
    if (needs.writesBlock) {
        ++writersOwed_;
        lastWriterSequence_ = sequence;
    }
}

void ListManagerProcessing::handle(Kind kind, int32_t id, uint64_t sequence, const Needs& needs, std::string_view payload)
{
    arrivalSequence_ = sequence;
    wroteByJob_ = false;
    switch (kind) {
    case Kind::Message:
        onMessage(id, payload);
        break;
    case Kind::ProgramChange:
        selectAndAnnounce(id);
        break;
    case Kind::GraphStart:
        onGraphStarted(payload);
        break;
    case Kind::CountdownEnd:
        onCountdownEnd();
        break;
    }
    if (needs.writesBlock && !wroteByJob_)
        --writersOwed_;
}

// [audio thread] The inputs kept back, in order, while the oldest one can be handled.
void ListManagerProcessing::replayHeld()
{
    while (const Held* front = held_.front()) {
        const Needs needs = this->needs(front->kind, front->id);
        if (!ready(needs))
            return;
        Held input;
        std::string_view payload;
        held_.popFront(input, payload);
        if (input.hasCopy && payload.size() >= kBlockBytes) {
            preset_bank::PresetValues copy;
            std::memcpy(copy, payload.data(), kBlockBytes);
            payload.remove_prefix(kBlockBytes);
            for (std::size_t k = 0; k < preset_bank::kSlots; ++k)
                arrival_[k] = (input.turned[k / 32] >> (k % 32)) & 1u ? copy[k] : lastWrite_[k];
        }
        handle(input.kind, input.id, input.sequence, needs, payload);
    }
}

// [audio thread]
void ListManagerProcessing::pickUpWork()
{
    if (picking_)
        return;  // a job submitted while results are applied is picked up by the loop below
    picking_ = true;
    while (file_worker::Job* done = channel_.finished()) {
        apply(static_cast<Work&>(*done));
        replayHeld();
    }
    replayHeld();
    picking_ = false;
}

void ListManagerProcessing::apply(Work& job)
{
    arrivalSequence_ = job.sequence;
    applyWork(job);
    for (std::size_t bit = 0; bit < owedCount_.size(); ++bit)
        if (job.effects & (1u << bit))
            --owedCount_[bit];
    if (job.effects & Effect::kBlock)
        --writersOwed_;
    if (job.bank) {
        spareBanks_[spares_++] = job.bank;
        job.bank = nullptr;
    }
    freeJobs_[freeCount_++] = &job;
}

Work& ListManagerProcessing::newJob(Task task, uint8_t effects)
{
    Work& job = *freeJobs_[--freeCount_];
    job.task = task;
    job.effects = effects;
    job.sequence = arrivalSequence_;
    job.current = current_;
    std::copy(std::begin(liveValues()), std::end(liveValues()), std::begin(job.values));
    job.path.clear();
    job.bank = nullptr;
    job.writeList = false;
    return job;
}

void ListManagerProcessing::submit(Work& job)
{
    // Room is certain: the channel holds as many jobs as the pool, and a job is taken from the
    // pool only when one is free. Were it refused even so, it is logged and given back.
    if (!channel_.submit(job)) {
        channel_.refused("list manager file job");
        if (job.bank)
            spareBanks_[spares_++] = std::exchange(job.bank, nullptr);
        freeJobs_[freeCount_++] = &job;
        return;
    }
    if (job.effects & Effect::kBlock)
        wroteByJob_ = true;
    for (std::size_t bit = 0; bit < owedCount_.size(); ++bit)
        if (job.effects & (1u << bit))
            ++owedCount_[bit];
    if (channel_.runsInline())
        pickUpWork();
}

void ListManagerProcessing::startFileCommand(Task task, std::string_view path)
{
    uint8_t effects = Effect::kNames;
    if (task == Task::LoadPreset || task == Task::LoadBank)
        effects |= Effect::kBlock | Effect::kBank;
    if (task == Task::LoadBank)
        effects |= Effect::kOutput;
    Work& job = newJob(task, effects);
    job.path.assign(path);
    if (task == Task::LoadBank)
        job.bank = takeSpareBank();
    submit(job);
}

void ListManagerProcessing::storeLive()
{
    bank_->storeFrom(current_, liveValues());
    submit(newJob(Task::StorePreset, 0));
}

void ListManagerProcessing::applyWork(Work& job)
{
    switch (job.task) {
    case Task::LoadPreset:
        if (job.proceeded) {
            names_.setName(job.current, job.names.view(job.current));
            bank_->storeFrom(job.current, job.values);
        }
        writeBlock(job.values, job.sequence);
        return;
    case Task::SavePreset:
        if (job.proceeded)
            names_.setName(job.current, job.names.view(job.current));
        return;
    case Task::LoadBank:
        if (!job.opened) {
            writeBlock(job.values, job.sequence);
            return;
        }
        swapBank(job);  // the old bank goes back with the job
        names_ = job.names;
        selectAndAnnounce(0);
        return;
    case Task::SaveBank:
        if (job.proceeded)
            names_ = job.names;
        return;
    default:
        return;
    }
}

// [audio thread] Slots another module changed since this module last looked: turned after the
// inputs that arrived so far.
void ListManagerProcessing::noticeTurns()
{
    for (std::size_t k = 0; k < preset_bank::kSlots; ++k) {
        const float now = block_.get(static_cast<int>(k));
        if (std::memcmp(&now, &seen_[k], sizeof now) != 0) {
            seen_[k] = now;
            turnedAfter_[k] = sequence_;
        }
    }
}

// [audio thread] values into the block, except slots turned after the input that writes them
// arrived: those turns came later, so they stay. (Turns were noticed when this call began: no
// other module runs inside it.)
void ListManagerProcessing::writeBlock(const preset_bank::PresetValues& values, uint64_t sequence)
{
    for (std::size_t k = 0; k < preset_bank::kSlots; ++k) {
        lastWrite_[k] = values[k];
        if (turnedAfter_[k] >= sequence)
            continue;
        block_.set(static_cast<int>(k), values[k]);
        seen_[k] = block_.get(static_cast<int>(k));
    }
}

void ListManagerProcessing::changePreset()
{
    writeBlock(bank_->preset(current_), arrivalSequence_);
    announcePreset(lastWrite_);
}

void ListManagerProcessing::finishWork()
{
    closing_ = true;
    while (channel_.outstanding() > 0 || !held_.empty()) {
        const std::size_t heldBefore = held_.size();
        channel_.drain();
        pickUpWork();
        if (channel_.outstanding() == 0 && held_.size() == heldBefore && heldBefore > 0)
            break;  // cannot happen: with nothing owed every kept input can be handled
    }
}

void ListManagerProcessing::selectAndAnnounce(int preset)
{
    current_ = preset_bank::BankMemory::clampPreset(preset);
    changePreset();
    postToGui(current_);
    sendProgramChange(current_);
}

void ListManagerProcessing::sendProgramChange(int program)
{
    if (closing_)
        return;
    const unsigned char bytes[3] = {0xC0, static_cast<unsigned char>(program & 0x7F), 0x00};
    midiOut_.send(bytes, 3, 0);
}

void ListManagerProcessing::postToGui(int32_t id, int32_t size, const void* data)
{
    if (host && !closing_)
        host->postMessageToGui(id, size, data);
}

int32_t ListManagerProcessing::countdownSamples(float seconds) const
{
    return samplesIn(seconds, sampleRate_);
}

std::optional<ListManagerProcessing::Needs> ListManagerProcessing::commonNeeds(Kind kind, int32_t id)
{
    using namespace list_manager;
    constexpr uint8_t kSelecting = kBlock | kBank | kOutput;
    if (kind == Kind::ProgramChange || (kind == Kind::Message && id >= 0 && id <= list_message::kLastPreset))
        return Needs{kSelecting, false, true, false, false, kind == Kind::ProgramChange ? "program change" : "select"};
    if (kind != Kind::Message)
        return std::nullopt;
    switch (id) {
    case list_message::kLoadPreset:
        return Needs{kBlock, true, true, true, false, "load preset"};
    case list_message::kSavePreset:
        return Needs{kBlock, true, false, true, false, "save preset"};
    case list_message::kFixPreset:
        return Needs{kBlock | kBank, true, false, true, false, "store preset"};
    case list_message::kLoadBank:
        return Needs{0, true, true, true, true, "load bank"};
    case list_message::kSaveBank:
        return Needs{0, false, false, true, false, "save bank"};
    case list_message::kStopWaiting:
        return Needs{kBlock | kBank, true, false, true, false, "stop waiting"};
    default:
        return std::nullopt;
    }
}
