#include "MpProcessing.h"

MpPluginBase::MpPluginBase(mpapi::IMpUnknown*) {}

MpPluginBase::~MpPluginBase()
{
    pins.clear();
    releaseHosts();
}

int32_t MpPluginBase::queryInterface(const mpapi::MpGuid& iid, void** object)
{
    if (!object)
        return mpapi::MP_RESULT_FAIL;
    *object = nullptr;
    if (iid == mpapi::MP_IID_UNKNOWN || iid == mpapi::MP_IID_PLUGIN)
        *object = static_cast<mpapi::IMpPlugin*>(this);
    else if (iid == mpapi::MP_IID_PLUGIN2)
        *object = static_cast<mpapi::IMpPlugin2*>(this);
    else if (iid == mpapi::MP_IID_LEGACY_INITIALIZATION)
        *object = static_cast<mpapi::IMpLegacyInitialization*>(this);
    else
        return mpapi::MP_RESULT_UNSUPPORTED;
    addRef();
    return mpapi::MP_RESULT_OK;
}

int32_t MpPluginBase::addRef()
{
    return ++refCount;
}

int32_t MpPluginBase::release()
{
    const int32_t count = --refCount;
    if (count == 0)
        delete this;
    return count;
}

int32_t MpPluginBase::open() noexcept
{
    sampleRate_ = 0.0f;
    blockLength_ = 0;
    if (host) {
        host->querySampleRate(&sampleRate_);
        host->queryBlockLength(&blockLength_);
    }
    // Text values arrive on the audio thread: their room is set aside now.
    for (const auto& [id, pin] : pins)
        if (auto* text = dynamic_cast<StringInPin*>(pin))
            text->reserveRoom();
    return mpapi::MP_RESULT_OK;
}

int32_t MpPluginBase::setBuffer(int32_t pinId, float* buffer)
{
    MpPinBase* pin = getPin(pinId);
    if (!pin)
        return mpapi::MP_RESULT_FAIL;
    pin->setBuffer(buffer);
    return mpapi::MP_RESULT_OK;
}

void MpPluginBase::process(int32_t count, mpapi::MpEvent* events)
{
    process(count, static_cast<const mpapi::MpEvent*>(events));
}

int32_t MpPluginBase::receiveMessageFromGui(int32_t id, int32_t size, void* data) noexcept
{
    if (inMessage)
        return mpapi::MP_RESULT_OK;
    inMessage = true;
    const int32_t result = receiveMessageFromGui(id, size, static_cast<const void*>(data));
    inMessage = false;
    return result;
}

int32_t MpPluginBase::receiveMessageFromGui(int32_t id, int32_t size, const void* data) noexcept
{
    if (inMessage)
        return mpapi::MP_RESULT_OK;
    inMessage = true;
    const int32_t result = receiveMessageFromGui(id, size, const_cast<void*>(data));
    inMessage = false;
    return result;
}

void MpPluginBase::releaseHosts()
{
    if (processorHost)
        processorHost->release();
    if (host)
        host->release();
    processorHost = nullptr;
    host = nullptr;
}

int32_t MpPluginBase::bindHost(mpapi::IMpUnknown* newHost)
{
    releaseHosts();
    if (!newHost)
        return mpapi::MP_RESULT_FAIL;
    newHost->queryInterface(mpapi::MP_IID_PROCESSOR_HOST, reinterpret_cast<void**>(&processorHost));
    return newHost->queryInterface(mpapi::MP_IID_HOST, reinterpret_cast<void**>(&host));
}

int32_t MpPluginBase::setHost(mpapi::IMpUnknown* newHost)
{
    try {
        return bindHost(newHost);
    } catch (...) {
        return mpapi::MP_RESULT_FAIL;
    }
}

void MpPluginBase::onMidiMessage(int pin, const unsigned char* bytes, int size)
{
    onMidiMessage(pin, const_cast<unsigned char*>(bytes), size);
}

void MpPluginBase::onMidiMessage(int, unsigned char*, int) {}

void MpPluginBase::onSetPins() {}

void MpPluginBase::onGraphStart()
{
    for (const auto& [id, pin] : pins)
        if (pin->getDirection() == mpapi::MP_OUT)
            pin->sendFirstUpdate();
}

void MpPluginBase::initializePin(int32_t index, MpPinBase& pin, MpPinEventHandler handler)
{
    pin.initialize(this, index, handler);
    pins.try_emplace(index, &pin);
}

void MpPluginBase::resetSleepCounter()
{
    if (host)
        host->queryBlockLength(&sleepCount);
}

MpPinBase* MpPluginBase::getPin(int32_t pinId) const
{
    const auto found = pins.find(pinId);
    return found == pins.end() ? nullptr : found->second;
}

void MpPluginBase::midiHelper(const mpapi::MpEvent* event)
{
    const MpEventData data = eventData(event);
    // The input's own reader keeps its running status; a pin of another kind reads each event
    // afresh.
    MidiReader fresh;
    auto* input = dynamic_cast<MidiInPin*>(getPin(event->parm1));
    MidiReader& reader = input ? input->reader : fresh;
    const int32_t pin = event->parm1;
    reader.read(const_cast<unsigned char*>(data.bytes), data.size,
                [this, pin](unsigned char* bytes, int32_t size) { onMidiMessage(pin, bytes, size); });
}

void MpPluginBase::preProcessEvent(const mpapi::MpEvent* event)
{
    if (event->eventType < mpapi::MP_EVENT_PIN_VALUE || event->eventType > mpapi::MP_EVENT_MIDI)
        return;
    if (MpPinBase* pin = getPin(event->parm1))
        pin->preProcessEvent(event);
}

void MpPluginBase::processEvent(const mpapi::MpEvent* event)
{
    if (event->eventType == mpapi::MP_EVENT_GRAPH_START) {
        onGraphStart();
        return;
    }
    if (event->eventType < mpapi::MP_EVENT_PIN_VALUE || event->eventType > mpapi::MP_EVENT_MIDI)
        return;
    if (MpPinBase* pin = getPin(event->parm1))
        pin->processEvent(event);
}

void MpPluginBase::postProcessEvent(const mpapi::MpEvent* event)
{
    if (event->eventType < mpapi::MP_EVENT_PIN_VALUE || event->eventType > mpapi::MP_EVENT_MIDI)
        return;
    if (MpPinBase* pin = getPin(event->parm1))
        pin->postProcessEvent(event);
}

// --- MpBase ---------------------------------------------------------------------------------

void MpBase::process(int32_t count, const mpapi::MpEvent* events)
{
    processPieces(count, events, [this](int32_t offset, int32_t frames) { (this->*curSubProcess)(offset, frames); });
}

void MpBase::subProcessNothing(int, int) {}

void MpBase::subProcessPreSleep(int bufferOffset, int sampleFrames)
{
    countDownToSleep(
        bufferOffset, sampleFrames, [this] { curSubProcess = savedSubProcess; },
        [this](int32_t offset, int32_t frames) { (this->*savedSubProcess)(offset, frames); });
}

// --- MpBase2 --------------------------------------------------------------------------------

void MpBase2::process(int32_t count, const mpapi::MpEvent* events)
{
    processPieces(count, events, [this](int32_t offset, int32_t frames) {
        blockPos = offset;
        (this->*curSubProcess)(frames);
        blockPos = offset + frames;
    });
}

void MpBase2::subProcessNothing(int) {}

void MpBase2::subProcessPreSleep(int sampleFrames)
{
    const int32_t start = blockPos;
    countDownToSleep(
        start, sampleFrames, [this] { curSubProcess = savedSubProcess; },
        [this](int32_t offset, int32_t frames) {
            blockPos = offset;
            (this->*savedSubProcess)(frames);
        });
    blockPos = start;
}
