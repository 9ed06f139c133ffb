#include "MpPins.h"

#include "MpProcessing.h"
#include "Utf8.h"

#include <algorithm>

MpEventData eventData(const mpapi::MpEvent* event)
{
    const int32_t size = std::max<int32_t>(event->parm2, 0);
    if (event->extraData)
        return {reinterpret_cast<const unsigned char*>(event->extraData), size};
    return {reinterpret_cast<const unsigned char*>(&event->parm3), std::min<int32_t>(size, 8)};
}

void MpPinBase::processEvent(const mpapi::MpEvent* event)
{
    if (handler && plugin)
        (plugin->*handler)(event);
}

void MpPinBase::initialize(MpPluginBase* owner, int32_t pinId, MpPinEventHandler eventHandler)
{
    plugin = owner;
    id = pinId;
    handler = eventHandler;
    if (!handler && getDirection() == mpapi::MP_IN)
        handler = getDefaultEventHandler();
}

int32_t MpPinBase::positionOr(int32_t position) const
{
    return position == -1 && plugin ? plugin->blockPos : position;
}

void MpPinBase::sendPinUpdate(int32_t size, const void* data, int32_t position)
{
    if (plugin && plugin->host)
        plugin->host->sendPinValue(positionOr(position), id, size, data);
}

float MpAudioPinBase::getValue(int32_t index) const
{
    if (!buffer)
        return 0.0f;
    return buffer[index < 0 && plugin ? plugin->blockPos : std::max<int32_t>(index, 0)];
}

void AudioInPin::preProcessEvent(const mpapi::MpEvent* event)
{
    const int32_t type = event->eventType;
    if (type != mpapi::MP_EVENT_STREAMING_START && type != mpapi::MP_EVENT_STREAMING_STOP)
        return;
    isUpdated = true;
    const bool streaming = type == mpapi::MP_EVENT_STREAMING_START;
    if (streaming != isStreaming) {
        isStreaming = streaming;
        plugin->OnPinStreamingChange(streaming);
    }
    if (!isStreaming)
        plugin->oweSampleBeforeSleep();
}

void AudioInPin::postProcessEvent(const mpapi::MpEvent* event)
{
    if (event->eventType == mpapi::MP_EVENT_STREAMING_START || event->eventType == mpapi::MP_EVENT_STREAMING_STOP)
        isUpdated = false;
}

void AudioOutPin::setStreaming(bool streaming, int32_t position)
{
    position = positionOr(position);
    if (isStreaming != streaming) {
        isStreaming = streaming;
        if (plugin)
            plugin->OnPinStreamingChange(streaming);
    }
    if (!plugin || !plugin->host)
        return;
    if (!isStreaming)
        plugin->resetSleepCounter();
    plugin->host->sendPinStreaming(position, id, isStreaming);
}

MpPinEventHandler MidiInPin::getDefaultEventHandler()
{
    return &MpPluginBase::midiHelper;
}

void MidiOutPin::send(const unsigned char* bytes, int32_t size, int32_t position)
{
    if (plugin && plugin->host)
        plugin->host->sendPinValue(positionOr(position), id, size, bytes);
}

namespace mp_detail {

void storeRaw(bool& value, int32_t size, const void* data)
{
    if (size <= 0 || !data)
        return;  // no byte to take, as float and int copy none
    if (size == 4) {
        int32_t word;
        std::memcpy(&word, data, 4);
        value = word != 0;
    } else {
        value = *static_cast<const unsigned char*>(data) != 0;
    }
}

// Within the room the text has (see StringInPin::reserveRoom) the characters are copied in place.
void storeRaw(std::wstring& value, int32_t size, const void* data)
{
    const size_t characters = size > 0 && data ? static_cast<size_t>(size) / sizeof(wchar_t) : 0;
    value.resize(characters);
    if (characters)
        std::memcpy(value.data(), data, characters * sizeof(wchar_t));
}

} // namespace mp_detail

void StringInPin::reserveRoom() noexcept
{
    try {
        value.reserve(kReservedCharacters);
    } catch (...) {
    }
}

StringInPin::operator std::string() const
{
    return utf8::fromWide(value, utf8::OnError::Replace);
}

void MpBlob::setValueRaw(int64_t size, const void* data)
{
    size = std::max<int64_t>(size, 0);
    if (size != size_) {
        delete[] data_;
        data_ = size ? new unsigned char[size] : nullptr;
        size_ = size;
    }
    if (size && data)
        std::memcpy(data_, data, size);
}

void MpBlob::resize(int64_t size)
{
    size = std::max<int64_t>(size, 0);
    if (size > size_) {
        delete[] data_;
        data_ = new unsigned char[size];
    }
    size_ = size;
}

int MpBlob::compare(const unsigned char* bytes, int64_t size) const
{
    if (size != size_)
        return size < size_ ? 1 : -1;
    return size ? std::memcmp(data_, bytes, size) : 0;
}
