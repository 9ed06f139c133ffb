#include "PresetStore/ListManagerProcessing.h"

#include "Common/PayloadText.h"
#include "Common/SampleCount.h"

namespace {

// Runs nothing: waiting for it waits for the work submitted before it.
class Nothing final : public file_worker::Job {
public:
    void run() noexcept override {}
};

} // namespace

ListManagerProcessing::ListManagerProcessing()
{
    initializePin(kMidiIn, midiIn_);
    initializePin(kMidiOut, midiOut_);
    initializePin(kId, id_);
    initializePin(kAutoPath, autoPath_);
    initializePin(kPathPc, pathPc_);
    initializePin(kPathMac, pathMac_);
    initializePin(kAudioOut, audioOut_);
}

int32_t ListManagerProcessing::open() noexcept
{
    MpBase::open();
    sampleRate_ = getSampleRate();
    block_.open(host);
    bank_.clear();
    return mpapi::MP_RESULT_OK;
}

void ListManagerProcessing::process(int32_t count, const mpapi::MpEvent* events)
{
    pickUpWork();
    MpBase::process(count, events);
}

void ListManagerProcessing::onMidiMessage(int, unsigned char* bytes, int size)
{
    if (!bytes || size < 2 || (bytes[0] & 0xF0) != 0xC0 || bytes[1] >= preset_bank::kPresets)
        return;
    take(list_manager::Input::Kind::ProgramChange, bytes[1]);
}

int32_t ListManagerProcessing::receiveMessageFromGui(int32_t id, int32_t size, const void* data) noexcept
{
    // Only texts travel with messages; what follows a text's NUL is nobody's.
    take(list_manager::Input::Kind::Message, id, payload::text(size, data));
    return mpapi::MP_RESULT_OK;
}

void ListManagerProcessing::take(list_manager::Input::Kind kind, int32_t id, std::string_view payload)
{
    const list_manager::Input input{kind, id, payload};
    if (working() || !deferred_.empty())
        deferred_.push(input);
    else
        handle(input);
}

void ListManagerProcessing::handle(const list_manager::Input& input)
{
    switch (input.kind) {
    case list_manager::Input::Kind::Message:
        onMessage(input.id, input.payload);
        break;
    case list_manager::Input::Kind::ProgramChange:
        selectAndAnnounce(input.id);
        break;
    case list_manager::Input::Kind::GraphStart:
        onGraphStarted(input.payload);
        break;
    case list_manager::Input::Kind::CountdownEnd:
        onCountdownEnd();
        break;
    }
}

void ListManagerProcessing::startWork()
{
    // Room is certain: inputs are handled only while no work is out.
    if (channel_.submit(work_) && channel_.runsInline())
        pickUpWork();
}

void ListManagerProcessing::startFileCommand(list_manager::Work::Task task)
{
    using Task = list_manager::Work::Task;
    work_.task = task;
    work_.current = current_;
    if (task == Task::SavePreset) {
        work_.names.setName(current_, names_.view(current_));
        block_.read(work_.live);
    } else if (task == Task::LoadBank || task == Task::SaveBank) {
        // A file with fewer names or values than a bank changes only what it holds.
        work_.names = names_;
        work_.bank = bank_;
    }
    startWork();
}

void ListManagerProcessing::applyWork()
{
    using Task = list_manager::Work::Task;
    switch (work_.task) {
    case Task::LoadPreset:
        if (!work_.proceeded)
            return;
        if (work_.opened)
            work_.preset.applyTo(names_, current_, block_);
        bank_.storeFrom(current_, block_);
        return;
    case Task::SavePreset:
        if (work_.proceeded)
            names_.setName(current_, work_.names.view(current_));
        return;
    case Task::LoadBank:
        if (!work_.opened)
            return;
        names_ = work_.names;
        bank_ = work_.bank;
        selectAndAnnounce(0);
        return;
    case Task::SaveBank:
        if (work_.proceeded)
            names_ = work_.names;
        return;
    default:
        return;
    }
}

void ListManagerProcessing::pickUpWork()
{
    while (channel_.finished()) {
        applyWork();
        handleKeptInputs();
    }
}

void ListManagerProcessing::handleKeptInputs()
{
    list_manager::Input input;
    while (!working() && deferred_.pop(input))
        handle(input);
}

void ListManagerProcessing::finishWork()
{
    closing_ = true;
    while (working() || !deferred_.empty()) {
        if (working()) {
            Nothing nothing;
            channel_.runAndWait(nothing);
        }
        pickUpWork();
        handleKeptInputs();
    }
}

void ListManagerProcessing::selectAndAnnounce(int preset)
{
    current_ = preset_bank::BankMemory::clampPreset(preset);
    ChangePreset();
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
