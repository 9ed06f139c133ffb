// The base of every processing half: host hand-over, reference count, pin map, the block loop
// that cuts each block at its events' time stamps, sub-process switching and sleep.
#pragma once

#include "MpFactory.h"
#include "MpPins.h"

#include <map>

using MpHost = mpapi::IMpHost;
using MpProcessorHost = mpapi::IMpProcessorHost;

class MpPluginBase : public mpapi::IMpPlugin,
                     public mpapi::IMpPlugin2,
                     public IoldSchoolInitialisation,
                     public mpapi::IMpLegacyInitialization,
                     public MpHostBinding {
public:
    explicit MpPluginBase(mpapi::IMpUnknown* unused = nullptr);
    MpPluginBase(const MpPluginBase&) = delete;
    MpPluginBase& operator=(const MpPluginBase&) = delete;

    // [any thread] MP_IID_UNKNOWN, MP_IID_PLUGIN, MP_IID_PLUGIN2 and MP_IID_LEGACY_INITIALIZATION;
    // a match takes a reference.
    int32_t queryInterface(const mpapi::MpGuid& iid, void** object) override;
    // [any thread] COM count; release to 0 deletes the object. Not atomic.
    int32_t addRef() override;
    int32_t release() override;
    // [audio thread] After setHost, before the first process. Overrides call the base first,
    // choose their sub-process and read block length and sample rate. The base reads both and
    // sets aside the room of every text input (StringInPin). Must not throw.
    int32_t open() noexcept override;
    // [audio thread] MP_RESULT_FAIL for a pin id no pin registered, else MP_RESULT_OK; audio
    // pins keep the buffer (host-owned).
    int32_t setBuffer(int32_t pinId, float* buffer) override;
    // [audio thread] Runs the const process.
    void process(int32_t count, mpapi::MpEvent* events) override;
    // [audio thread, after open, between process calls] The host's message entry (data the
    // caller's, valid during the call): calls the const overload unless one is already
    // running on this object (then MP_RESULT_OK).
    int32_t receiveMessageFromGui(int32_t id, int32_t size, void* data) noexcept override;
    virtual ~MpPluginBase();
    // [audio thread, first] Obtains MpProcessorHost, then MpHost; a second call releases the
    // first pair.
    // Returns the host's answer to MP_IID_HOST.
    int32_t setHost(mpapi::IMpUnknown* host) override;
    // [audio thread] One block of count samples with its events (host-owned, sorted by time).
    void process(int32_t count, const mpapi::MpEvent* events) override = 0;
    // [audio thread, after open, between process calls] The overload modules override; must not
    // throw.
    int32_t receiveMessageFromGui(int32_t id, int32_t size, const void* data) noexcept override;
    // [audio thread] MIDI for a MidiInPin without a handler of its own: one call per whole
    // message of an event, as its MidiReader reads it (real-time bytes on their own, running
    // status applied, malformed bytes dropped). Data beyond size reads as 0 up to the third byte;
    // the bytes may be rewritten in place.
    virtual void onMidiMessage(int pin, const unsigned char* bytes, int size);
    virtual void onMidiMessage(int pin, unsigned char* bytes, int size);
    // [audio thread] Once per time stamp that carried a pin value or streaming change, after the
    // pins' handlers.
    virtual void onSetPins();
    // [audio thread] An audio pin started or stopped streaming.
    virtual void OnPinStreamingChange(bool isStreaming) = 0;
    // [audio thread] Graph start: every output sends its first update. Overrides call the base.
    virtual void onGraphStart();
    int32_t bindHost(mpapi::IMpUnknown* host) override;

    // [constructor] Registers a pin under index (kept only if the index is new).
    void initializePin(int32_t index, MpPinBase& pin, MpPinEventHandler handler = nullptr);
    template <class Module>
    void initializePin(int32_t index, MpPinBase& pin, void (Module::*handler)(const mpapi::MpEvent*))
    {
        initializePin(index, pin, static_cast<MpPinEventHandler>(handler));
    }
    // [audio thread] Loads sleepCount with the host's block length.
    void resetSleepCounter();
    // [audio thread] A stream stopped: at least one more sample is computed before sleep.
    void oweSampleBeforeSleep() { sleepCount = sleepCount > 1 ? sleepCount : 1; }
    // Default handler of MIDI inputs: onMidiMessage with each message of the event's bytes.
    void midiHelper(const mpapi::MpEvent* event);

    MpHost* getHost() const { return host; }
    // [audio thread & open] The host's sample rate (Hz) and block length (samples), read once at
    // open; 0 before open or when the host does not answer.
    float getSampleRate() const { return sampleRate_; }
    int32_t getBlockLength() const { return blockLength_; }
    MpPinBase* getPin(int32_t pinId) const;
    const std::map<int32_t, MpPinBase*>& getPins() const { return pins; }

    // When the module may ask the host to sleep.
    enum class SleepMode : int32_t {
        WhileNotStreaming = -1, // once no audio input streams (the default)
        Never = 0,
        Always = 1,
    };

    MpHost* host = nullptr;
    std::map<int32_t, MpPinBase*> pins;
    int32_t blockPos = 0; // sample offset in the block of the piece or event being handled

protected:
    int32_t refCount = 1;
    MpProcessorHost* processorHost = nullptr;
    int32_t sleepCount = 0;    // samples still owed before asking to sleep
    int32_t streamingPins = 0; // audio inputs streaming
    SleepMode canSleep = SleepMode::WhileNotStreaming;
    bool eventsComplete = true; // no event follows the piece being run in this block
    bool inMessage = false;     // a message handler runs on this object

    // Cuts a block at its events' time stamps: runPiece(offset, frames) for the stretches
    // between them, the three event passes and onSetPins at each stamp. An event before the
    // current position (out of order, negative) or at or past count ends the block: the rest is
    // computed and the remaining events are dropped. A count below 1 (outside the interface)
    // computes nothing and handles no event.
    template <class RunPiece>
    void walkBlock(int32_t count, const mpapi::MpEvent* events, RunPiece&& runPiece);

    // Counts a streaming start or stop; true when the module should count down to sleep.
    bool countStreamingChange(bool isStreaming)
    {
        streamingPins += isStreaming ? 1 : -1;
        return streamingPins == 0 || canSleep == SleepMode::Always;
    }
    bool sleepAllowed() const
    {
        return canSleep == SleepMode::Always || (canSleep == SleepMode::WhileNotStreaming && streamingPins == 0);
    }
    // The sleep countdown over one piece: runSaved(offset, frames) for the samples still owed,
    // then requestSleep once no more events follow in the block. When sleep is no longer
    // allowed, handOver() makes the saved sub-process current and it runs the rest.
    template <class HandOver, class RunSaved>
    void countDownToSleep(int32_t offset, int32_t frames, HandOver&& handOver, RunSaved&& runSaved);

private:
    float sampleRate_ = 0.0f;
    int32_t blockLength_ = 0;

    void releaseHosts();
    void preProcessEvent(const mpapi::MpEvent* event);
    void processEvent(const mpapi::MpEvent* event);
    void postProcessEvent(const mpapi::MpEvent* event);
};

// What MpBase and MpBase2 share: the current and saved sub-process, the switch to the sleep
// countdown, and a block loop nothing escapes from. Base is the class whose member functions are
// the sub-processes (pointer type SubProcessType); it defines subProcessNothing and
// subProcessPreSleep.
template <class Base, class SubProcessType>
class MpSubProcessBase : public MpPluginBase {
public:
    using SubProcess = SubProcessType;

    void OnPinStreamingChange(bool isStreaming) override
    {
        curSubProcess = countStreamingChange(isStreaming) ? preSleep() : savedSubProcess;
    }
    // Makes p the module's sub-process; current at once unless a sleep countdown runs.
    void setSubProcess(SubProcess p)
    {
        if (curSubProcess == savedSubProcess)
            curSubProcess = p;
        savedSubProcess = p;
    }
    template <class Module, class... Args>
    void setSubProcess(void (Module::*p)(Args...))
    {
        setSubProcess(static_cast<SubProcess>(p));
    }
    // true: may always sleep; false: never asks to sleep.
    void setSleep(bool sleep)
    {
        canSleep = sleep ? SleepMode::Always : SleepMode::Never;
        if (sleep)
            curSubProcess = preSleep();
    }

    SubProcess curSubProcess;
    SubProcess savedSubProcess;

protected:
    MpSubProcessBase() : curSubProcess(preSleep()), savedSubProcess(&Base::subProcessNothing) {}

    static SubProcess preSleep() { return &Base::subProcessPreSleep; }

    // walkBlock with runPiece; a module's exception ends the block, and the module continues
    // with the next one.
    template <class RunPiece>
    void processPieces(int32_t count, const mpapi::MpEvent* events, RunPiece&& runPiece)
    {
        try {
            walkBlock(count, events, runPiece);
        } catch (...) {
            eventsComplete = true;
        }
    }
};

// The processing base modules derive from: sub-processes take (offset, frames).
class MpBase : public MpSubProcessBase<MpBase, void (MpBase::*)(int bufferOffset, int sampleFrames)> {
public:
    void process(int32_t count, const mpapi::MpEvent* events) override;

    void subProcessNothing(int bufferOffset, int sampleFrames);
    // Runs the saved sub-process for the samples still owed, then asks the host to sleep.
    void subProcessPreSleep(int bufferOffset, int sampleFrames);
};

// A processing base whose sub-processes take only the frame count; blockPos is the offset of the
// piece being run.
class MpBase2 : public MpSubProcessBase<MpBase2, void (MpBase2::*)(int sampleFrames)> {
public:
    void process(int32_t count, const mpapi::MpEvent* events) override;

    void subProcessNothing(int sampleFrames);
    void subProcessPreSleep(int sampleFrames);
};

template <class HandOver, class RunSaved>
void MpPluginBase::countDownToSleep(int32_t offset, int32_t frames, HandOver&& handOver, RunSaved&& runSaved)
{
    for (;;) {
        if (!sleepAllowed()) {
            handOver();
            if (frames > 0)
                runSaved(offset, frames);
            return;
        }
        if (sleepCount <= 0) {
            if (eventsComplete) {
                if (host)
                    host->requestSleep();
                return;
            }
            sleepCount = frames;
        }
        if (frames <= 0)
            return;
        const int32_t n = sleepCount < frames ? sleepCount : frames;
        sleepCount -= n;
        runSaved(offset, n);
        offset += n;
        frames -= n;
    }
}

template <class RunPiece>
void MpPluginBase::walkBlock(int32_t count, const mpapi::MpEvent* events, RunPiece&& runPiece)
{
    blockPos = 0;
    if (count <= 0)
        return;
    int32_t pos = 0;
    bool dropped = false;
    const mpapi::MpEvent* event = events;
    while (event) {
        const int32_t t = event->timeDelta;
        if (t < pos || t >= count) {
            dropped = true;
            break;
        }
        if (t > pos) {
            eventsComplete = false;
            runPiece(pos, t - pos);
            eventsComplete = true;
            pos = t;
        }
        blockPos = t;

        bool pinsChanged = false;
        const mpapi::MpEvent* groupEnd = event;
        for (; groupEnd && groupEnd->timeDelta == t; groupEnd = groupEnd->next) {
            preProcessEvent(groupEnd);
            const int32_t type = groupEnd->eventType;
            pinsChanged |= type >= mpapi::MP_EVENT_PIN_VALUE && type <= mpapi::MP_EVENT_STREAMING_STOP;
        }
        for (const mpapi::MpEvent* e = event; e != groupEnd; e = e->next)
            processEvent(e);
        if (pinsChanged)
            onSetPins();
        for (const mpapi::MpEvent* e = event; e != groupEnd; e = e->next)
            postProcessEvent(e);
        event = groupEnd;
    }
    // Dropped events still followed this piece, so a sleep countdown computes it in full.
    eventsComplete = !dropped;
    runPiece(pos, count - pos);
    eventsComplete = true;
}
