// The stand-in host: creates module halves from a factory, runs them block by block on the
// calling thread, routes what they send along wires and records every call they make, so tests
// and tavrin-run can drive modules exactly as a real host does.
//
// Threading: a Host is used from one thread; the "audio" and "GUI" halves of each instance are
// called from that same thread, never re-entrantly from inside a module's own call.
#pragma once

#include "Values.h"
#include "mpapi.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tav_host {

// The two halves of a module instance.
enum class Side { Dsp, Gui };

struct HostConfig {
    float sampleRate = 48000.0f;
    std::int32_t blockLength = 64;     // samples; runBlock accepts 1..blockLength
    std::filesystem::path fileFolder{}; // base of expandFileName
    std::int32_t bufferPins = 32;      // setBuffer is called for pins 0..bufferPins-1
    bool skipSleeping = true;          // skip a sleeping half with no events and no streaming input
    std::int32_t maxDeliveries = 10000; // per drain; bounds message ping-pong between halves
};

struct InstanceOptions {
    std::int32_t guiPinCount = 0;            // what queryPinCount answers
    std::vector<mpapi::MpGuid> refusedIids{}; // queryInterface on the host objects answers -2 for these
};

// Every host operation a module can call.
enum class CallKind {
    SendPinValue,
    SendPinStreaming,
    RequestSleep,
    PostMessageToGui,
    PostMessageToAudio,
    TransmitPin,
    QueryBlockLength,
    QuerySampleRate,
    OpenSharedBlock,
    ExpandFileName,
    QueryPinCount,
    ReservedSlotCalled,
};
const char* callKindName(CallKind kind);

// One call a module made on its host object.
struct CallRecord {
    std::size_t instance = 0;
    Side side = Side::Dsp;          // which half's host object was called
    CallKind kind = CallKind::SendPinValue;
    std::int32_t pin = 0;           // pin id; message id for messages; slot for ReservedSlotCalled
    std::int32_t blockPosition = 0; // as passed (sendPinValue / sendPinStreaming), else 0
    std::int32_t size = 0;          // size argument as passed
    Bytes data{};                   // bytes copied from the call; streaming: one byte 0/1
    std::string text{};             // names (shared block, file name) in UTF-8
    std::int64_t block = 0;         // block running, or the next one when called between blocks
    std::int64_t sample = 0;        // absolute sample: start of that block + blockPosition
    std::int32_t result = 0;        // what the host answered
};

// An event handed to process() exactly as written: no sorting, no clamping, no checks.
struct RawEvent {
    std::int32_t timeDelta = 0;
    std::int32_t eventType = mpapi::MP_EVENT_PIN_VALUE;
    std::int32_t parm1 = 0;
    std::int32_t parm2 = 0;
    std::int32_t parm3 = 0;
    std::int32_t parm4 = 0;
    bool hasExtra = false; // extraData points at a host copy of extra when set, else is null
    Bytes extra{};
};

// The calls a real host makes into a processing half on its audio thread: process, and the
// messages of the interface half, which such a host carries over to that thread.
enum class AudioCall { Process, MessageFromGui };

// Told about every call the host makes into a processing half on its audio thread, so that a test
// can watch what the half does there. When the half calls back into the host during such a call
// (sending a pin value, posting a message), the host's own work for it (recording, routing) is
// bracketed by enterHost / leaveHost, so it is not taken for the half's. [the host's thread]
class AudioThreadObserver {
public:
    // Right before and right after the call into the half.
    virtual void enterHalf(std::size_t instance, AudioCall call) = 0;
    virtual void leaveHalf(std::size_t instance, AudioCall call) = 0;
    virtual void enterHost() = 0;
    virtual void leaveHost() = 0;

protected:
    ~AudioThreadObserver() = default;
};

struct Instance;
class HostObjectCore;
class DspHostObject;
class GuiHostObject;

class Host {
public:
    // factory is not owned and must outlive the Host.
    explicit Host(mpapi::IMpFactory* factory, HostConfig config = {});
    // Releases every module (see shutdown) and then the host objects.
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // --- Building the graph -------------------------------------------------------------------

    struct Created {
        std::optional<std::size_t> instance{}; // set when at least one half was created
        std::int32_t dspResult = mpapi::MP_RESULT_UNSUPPORTED; // createInstance result, type 0
        std::int32_t guiResult = mpapi::MP_RESULT_UNSUPPORTED; // createInstance result, type 1
        std::string error{};                 // plain reason when instance is empty
    };
    // Creates whichever halves the factory has under identifier. Once the host has started, the
    // new halves are opened / initialised at once.
    Created addInstance(std::string_view identifier, InstanceOptions options = {});
    std::size_t instanceCount() const { return instances_.size(); }
    bool hasHalf(std::size_t instance, Side side) const;
    const std::string& identifier(std::size_t instance) const;

    // How a pin's bytes are read: a wired value into a MIDI pin arrives as a MIDI event; also
    // used for printing.
    void setPinType(std::size_t instance, Side side, std::int32_t pin, ValueType type);
    ValueType pinType(std::size_t instance, Side side, std::int32_t pin) const;

    // Wires an output to an input. Processing -> processing: values, MIDI and streaming of block
    // k arrive in block k+1 at the same position, and the output buffer is copied into the input
    // buffer at the start of block k+1. Processing -> interface: setPin + notifyPin after the
    // block. Interface -> interface: setPin + notifyPin once the transmitting call has returned.
    // Interface -> processing: a pin value at time 0 of the next block. False on bad indexes.
    bool connect(std::size_t fromInstance, Side fromSide, std::int32_t fromPin,
                 std::size_t toInstance, Side toSide, std::int32_t toPin);

    // Initial value of an input: processing pins get it as an event at time 0 of the first
    // block, before graph start; interface pins get setPin before initialize.
    bool setInitialValue(std::size_t instance, Side side, std::int32_t pin, Bytes value);

    // --- Audio inputs -------------------------------------------------------------------------

    // The buffer of a processing input pin is filled before every block from a constant or from
    // a function of the absolute sample index; this overrides a wire into the same pin.
    bool setInputConstant(std::size_t instance, std::int32_t pin, float value);
    bool setInputFunction(std::size_t instance, std::int32_t pin, std::function<float(std::int64_t)> f);

    // --- Events for the next block -----------------------------------------------------------

    // Queued for the next block at time (clamped into the block), sorted stably by time with
    // everything else queued. Values and MIDI of up to 8 bytes go inline, longer ones by
    // extraData.
    bool queuePinValue(std::size_t instance, std::int32_t pin, Bytes value, std::int32_t time = 0);
    bool queueMidi(std::size_t instance, std::int32_t pin, Bytes midi, std::int32_t time = 0);
    bool queueStreaming(std::size_t instance, std::int32_t pin, bool streaming, std::int32_t time = 0);
    // The next block's list for this instance is exactly these events in this order; the other
    // queued events wait one block more. Each call queues one block's list.
    bool queueRawEvents(std::size_t instance, std::vector<RawEvent> events);

    // --- Interface actions and messages from outside ------------------------------------------

    // setPin + notifyPin on the interface half, as a user moving a control; then drains.
    bool guiSetPin(std::size_t instance, std::int32_t pin, Bytes value);
    // Messages as if the other half had posted them; delivered by the drain that follows.
    bool postToDsp(std::size_t instance, std::int32_t id, Bytes data);
    bool postToGui(std::size_t instance, std::int32_t id, Bytes data);

    // --- Running ------------------------------------------------------------------------------

    // Opens processing halves (open, then setBuffer for every pin) and initialises interface
    // halves, then drains. Runs once; runBlock and guiSetPin call it when needed.
    void start();
    // Runs one block of count samples (1..blockLength) through every processing half, then
    // drains. False when count is out of range or the host was shut down.
    bool runBlock(std::int32_t count);
    // Delivers queued messages and interface pin values until nothing is left (bounded).
    void drain();
    // Releases every module object, once per reference the host holds, then checks that the
    // modules gave back every reference to the host objects (a fault otherwise). Idempotent.
    void shutdown();

    // --- Observing ----------------------------------------------------------------------------

    const std::vector<CallRecord>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }
    std::vector<CallRecord> callsOf(CallKind kind) const;
    std::vector<CallRecord> callsOf(CallKind kind, std::size_t instance) const;
    // Problems seen: reserved slots called, references released below zero or kept after
    // release, positions outside the block, the drain bound reached.
    const std::vector<std::string>& faults() const { return faults_; }

    // The host-owned buffer of a pin (blockLength floats); empty span for bad arguments.
    std::span<const float> buffer(std::size_t instance, std::int32_t pin) const;
    // Whether the processing half took the buffer of that pin (setBuffer answered
    // MP_RESULT_OK once started); false for pins it refused and beyond bufferPins.
    bool bufferAccepted(std::size_t instance, std::int32_t pin) const;
    bool asleep(std::size_t instance) const;
    // References the modules hold on this instance's host object for that side.
    std::int32_t hostReferences(std::size_t instance, Side side) const;
    std::int64_t blocksRun() const { return blockIndex_; }
    std::int64_t samplesRun() const { return blockStart_; }
    const HostConfig& config() const { return config_; }

    // Not owned; nullptr removes it. Without one the host only tests a pointer per call.
    void setAudioThreadObserver(AudioThreadObserver* observer) { observer_ = observer; }

private:
    friend class HostObjectCore;
    friend class DspHostObject;
    friend class GuiHostObject;

    struct Wire {
        std::size_t fromInstance;
        Side fromSide;
        std::int32_t fromPin;
        std::size_t toInstance;
        Side toSide;
        std::int32_t toPin;
    };
    struct Delivery {
        enum Kind { MessageToGui, MessageToDsp, GuiPin } kind;
        std::size_t instance;
        std::int32_t id; // message id or pin
        Bytes data;
    };
    // The host's own work inside a processing half's audio-thread call (see AudioThreadObserver).
    class HostWork;
    struct SharedBlock {
        std::unique_ptr<std::max_align_t[]> memory;
        std::int32_t size = 0;
    };

    bool valid(std::size_t instance) const { return instance < instances_.size(); }
    void startInstance(Instance& in);
    bool queueEvent(std::size_t instance, std::int32_t time, std::int32_t type, std::int32_t pin, Bytes data);
    void prepareEvents(Instance& in, std::int32_t count);
    void processInstance(Instance& in, std::int32_t count);
    // Runs call, the host's call into a processing half on its audio thread, told to the observer.
    template <class Call>
    void callHalf(std::size_t instance, AudioCall kind, Call&& call);
    CallRecord& record(std::size_t instance, Side side, CallKind kind, std::int32_t pin, std::int32_t position = 0);
    void fault(std::size_t instance, const std::string& what);

    // Called by the host objects.
    std::int32_t onSendPinValue(std::size_t instance, std::int32_t position, std::int32_t pin, std::int32_t size, const void* data);
    std::int32_t onSendPinStreaming(std::size_t instance, std::int32_t position, std::int32_t pin, bool streaming);
    std::int32_t onRequestSleep(std::size_t instance);
    std::int32_t onPostMessage(std::size_t instance, bool toGui, std::int32_t id, std::int32_t size, const void* data);
    std::int32_t onTransmitPin(std::size_t instance, std::int32_t pin, std::int32_t size, const void* data);
    std::int32_t onOpenSharedBlock(std::size_t instance, const wchar_t* name, void** block, std::int32_t size, std::int32_t* needsInit);
    std::int32_t onExpandFileName(std::size_t instance, Side side, const wchar_t* shortName, std::int32_t maxChars, wchar_t* fullName);
    std::int32_t onReserved(std::size_t instance, Side side, std::int32_t slot);
    void routeDspOutput(std::size_t instance, std::int32_t position, std::int32_t pin, std::int32_t type, const Bytes& data);

    mpapi::IMpFactory* factory_;
    HostConfig config_;
    std::vector<std::unique_ptr<Instance>> instances_;
    std::vector<Wire> wires_;
    std::deque<Delivery> deliveries_;
    std::vector<std::pair<std::wstring, SharedBlock>> sharedBlocks_;
    std::vector<CallRecord> calls_;
    std::vector<std::string> faults_;
    std::int64_t blockIndex_ = 0;
    std::int64_t blockStart_ = 0;
    std::int32_t blockCount_ = 0; // samples of the block running, 0 between blocks
    bool started_ = false;
    bool shutDown_ = false;
    bool draining_ = false;
    AudioThreadObserver* observer_ = nullptr;
    bool inHalf_ = false;   // a processing half's audio-thread call is running
    bool inHost_ = false;   // ... and has called back into the host
};

} // namespace tav_host
