#include "PresetStore/ListManagerProcessing.h"

#include "Common/SampleCount.h"

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

void ListManagerProcessing::onMidiMessage(int, unsigned char* bytes, int size)
{
    if (!bytes || size < 2 || (bytes[0] & 0xF0) != 0xC0 || bytes[1] >= preset_bank::kPresets)
        return;
    selectAndAnnounce(bytes[1]);
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
    const unsigned char bytes[3] = {0xC0, static_cast<unsigned char>(program & 0x7F), 0x00};
    midiOut_.send(bytes, 3, 0);
}

void ListManagerProcessing::postToGui(int32_t id, int32_t size, const void* data)
{
    if (host)
        host->postMessageToGui(id, size, data);
}

int32_t ListManagerProcessing::countdownSamples(float seconds) const
{
    return samplesIn(seconds, sampleRate_);
}
