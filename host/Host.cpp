#include "Host.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace tav_host {

using namespace mpapi;

namespace {

// Handed to modules for empty values, so they never see a null data pointer.
std::uint8_t emptyValue = 0;

void* dataOf(Bytes& b)
{
    return b.empty() ? &emptyValue : b.data();
}

bool contains(const std::vector<MpGuid>& list, const MpGuid& iid)
{
    return std::any_of(list.begin(), list.end(), [&](const MpGuid& g) { return g == iid; });
}

// Longest name the host reads from a module; a longer one is cut there.
constexpr std::size_t kMaxNameChars = 4096;

struct PendingEvent {
    std::int32_t time;
    std::int32_t type;
    std::int32_t pin;
    Bytes data;
};

} // namespace

class Host::HostWork {
public:
    explicit HostWork(Host& host) : host_(host.observer_ && host.inHalf_ && !host.inHost_ ? &host : nullptr)
    {
        if (host_) {
            host_->inHost_ = true;
            host_->observer_->enterHost();
        }
    }
    ~HostWork()
    {
        if (host_) {
            host_->observer_->leaveHost();
            host_->inHost_ = false;
        }
    }
    HostWork(const HostWork&) = delete;
    HostWork& operator=(const HostWork&) = delete;

private:
    Host* host_;
};

template <class Call>
void Host::callHalf(std::size_t instance, AudioCall kind, Call&& call)
{
    if (!observer_) {
        call();
        return;
    }
    inHalf_ = true;
    observer_->enterHalf(instance, kind);
    call();
    observer_->leaveHalf(instance, kind);
    inHalf_ = false;
}

const char* callKindName(CallKind kind)
{
    switch (kind) {
    case CallKind::SendPinValue: return "sendPinValue";
    case CallKind::SendPinStreaming: return "sendPinStreaming";
    case CallKind::RequestSleep: return "requestSleep";
    case CallKind::PostMessageToGui: return "postMessageToGui";
    case CallKind::PostMessageToAudio: return "postMessageToAudio";
    case CallKind::TransmitPin: return "transmitPin";
    case CallKind::QueryBlockLength: return "queryBlockLength";
    case CallKind::QuerySampleRate: return "querySampleRate";
    case CallKind::OpenSharedBlock: return "openSharedBlock";
    case CallKind::ExpandFileName: return "expandFileName";
    case CallKind::QueryPinCount: return "queryPinCount";
    case CallKind::ReservedSlotCalled: return "reservedSlotCalled";
    }
    return "?";
}

// What both host objects share: the instance they serve, the identifiers a test has them refuse,
// and the count of references the modules took (the Host owns the objects themselves).
class HostObjectCore {
public:
    std::int32_t references() const { return refs_; }

protected:
    HostObjectCore(Host& host, std::size_t index, std::vector<MpGuid> refused, const char* name)
        : host_(host), index_(index), refused_(std::move(refused)), name_(name) {}

    // queryInterface's answer: the interface found for iid (null for none), with a reference.
    int32_t answer(const MpGuid& iid, void** object, void* found)
    {
        if (!object)
            return MP_RESULT_FAIL;
        *object = nullptr;
        if (!found || contains(refused_, iid))
            return MP_RESULT_UNSUPPORTED;
        *object = found;
        ++refs_;
        return MP_RESULT_OK;
    }
    int32_t take() { return ++refs_; }
    int32_t giveBack()
    {
        if (refs_ == 0) {
            host_.fault(index_, std::string("released the ") + name_ + " more often than it took it");
            return 0;
        }
        return --refs_;
    }

    Host& host_;
    std::size_t index_;

private:
    std::vector<MpGuid> refused_;
    const char* name_;
    std::int32_t refs_ = 0;
};

// The processing half's host object. Its reference count counts only the references modules
// took; the Host owns the object itself.
class DspHostObject final : public IMpHost, public IMpProcessorHost, public HostObjectCore {
public:
    DspHostObject(Host& host, std::size_t index, std::vector<MpGuid> refused)
        : HostObjectCore(host, index, std::move(refused), "processing host") {}

    int32_t queryInterface(const MpGuid& iid, void** object) override
    {
        void* found = nullptr;
        if (iid == MP_IID_UNKNOWN || iid == MP_IID_HOST)
            found = static_cast<IMpHost*>(this);
        else if (iid == MP_IID_PROCESSOR_HOST)
            found = static_cast<IMpProcessorHost*>(this);
        return answer(iid, object, found);
    }
    int32_t addRef() override { return take(); }
    int32_t release() override { return giveBack(); }

    int32_t sendPinValue(int32_t position, int32_t pin, int32_t size, const void* data) override
    {
        const Host::HostWork work(host_);
        return host_.onSendPinValue(index_, position, pin, size, data);
    }
    int32_t sendPinStreaming(int32_t position, int32_t pin, bool streaming) override
    {
        const Host::HostWork work(host_);
        return host_.onSendPinStreaming(index_, position, pin, streaming);
    }
    int32_t requestSleep() override
    {
        const Host::HostWork work(host_);
        return host_.onRequestSleep(index_);
    }
    int32_t postMessageToGui(int32_t id, int32_t size, const void* data) override
    {
        const Host::HostWork work(host_);
        return host_.onPostMessage(index_, true, id, size, data);
    }
    int32_t queryBlockLength(int32_t* blockLength) override
    {
        const Host::HostWork work(host_);
        CallRecord& r = host_.record(index_, Side::Dsp, CallKind::QueryBlockLength, 0);
        if (!blockLength)
            return r.result = MP_RESULT_FAIL;
        *blockLength = host_.config_.blockLength;
        return r.result = MP_RESULT_OK;
    }
    int32_t querySampleRate(float* sampleRate) override
    {
        const Host::HostWork work(host_);
        CallRecord& r = host_.record(index_, Side::Dsp, CallKind::QuerySampleRate, 0);
        if (!sampleRate)
            return r.result = MP_RESULT_FAIL;
        *sampleRate = host_.config_.sampleRate;
        return r.result = MP_RESULT_OK;
    }
    int32_t reserved9() override { return host_.onReserved(index_, Side::Dsp, 9); }
    int32_t reserved10() override { return host_.onReserved(index_, Side::Dsp, 10); }
    int32_t reserved11() override { return host_.onReserved(index_, Side::Dsp, 11); }
    int32_t reserved12() override { return host_.onReserved(index_, Side::Dsp, 12); }
    int32_t reserved13() override { return host_.onReserved(index_, Side::Dsp, 13); }
    int32_t reserved14() override { return host_.onReserved(index_, Side::Dsp, 14); }
    int32_t reserved15() override { return host_.onReserved(index_, Side::Dsp, 15); }
    int32_t openSharedBlock(const wchar_t* name, void** block, int32_t size, int32_t* needsInit, float) override
    {
        const Host::HostWork work(host_);
        return host_.onOpenSharedBlock(index_, name, block, size, needsInit);
    }
    int32_t expandFileName(const wchar_t* shortName, int32_t maxChars, wchar_t* fullName) override
    {
        const Host::HostWork work(host_);
        return host_.onExpandFileName(index_, Side::Dsp, shortName, maxChars, fullName);
    }
};

// The interface half's host object; answers the older and the newer interface-host identifiers
// (the newer one's slots 3 and 4 are the same operations).
class GuiHostObject final : public IMpUserInterfaceHost, public IMpUserInterfaceHost2, public HostObjectCore {
public:
    GuiHostObject(Host& host, std::size_t index, std::vector<MpGuid> refused, std::int32_t pinCount)
        : HostObjectCore(host, index, std::move(refused), "interface host"), pinCount_(pinCount) {}

    int32_t queryInterface(const MpGuid& iid, void** object) override
    {
        void* found = nullptr;
        if (iid == MP_IID_UNKNOWN || iid == MP_IID_UI_HOST)
            found = static_cast<IMpUserInterfaceHost*>(this);
        else if (iid == MP_IID_UI_HOST2)
            found = static_cast<IMpUserInterfaceHost2*>(this);
        return answer(iid, object, found);
    }
    int32_t addRef() override { return take(); }
    int32_t release() override { return giveBack(); }

    int32_t transmitPin(int32_t pin, int32_t size, const void* data, int32_t) override
    {
        return host_.onTransmitPin(index_, pin, size, data);
    }
    int32_t postMessageToAudio(int32_t id, int32_t size, const void* data) override
    {
        return host_.onPostMessage(index_, false, id, size, data);
    }
    int32_t reserved5() override { return host_.onReserved(index_, Side::Gui, 5); }
    int32_t reserved6() override { return host_.onReserved(index_, Side::Gui, 6); }
    int32_t reserved7() override { return host_.onReserved(index_, Side::Gui, 7); }
    int32_t reserved8() override { return host_.onReserved(index_, Side::Gui, 8); }
    int32_t reserved9() override { return host_.onReserved(index_, Side::Gui, 9); }
    int32_t expandFileName(const wchar_t* shortName, int32_t maxChars, wchar_t* fullName) override
    {
        return host_.onExpandFileName(index_, Side::Gui, shortName, maxChars, fullName);
    }
    int32_t reserved11() override { return host_.onReserved(index_, Side::Gui, 11); }
    int32_t queryPinCount(int32_t* count) override
    {
        CallRecord& r = host_.record(index_, Side::Gui, CallKind::QueryPinCount, 0);
        if (!count)
            return r.result = MP_RESULT_FAIL;
        *count = pinCount_;
        return r.result = MP_RESULT_OK;
    }

private:
    std::int32_t pinCount_;
};

struct Instance {
    std::size_t index = 0;
    std::string identifier;
    std::unique_ptr<DspHostObject> dspHost;
    std::unique_ptr<GuiHostObject> guiHost;

    // Processing half: the created object and the interface queried from it (one reference each).
    IMpUnknown* dspObject = nullptr;
    IMpUnknown* dspInterface = nullptr;
    IMpPlugin* plugin = nullptr;
    IMpPlugin2* plugin2 = nullptr;

    // Interface half, likewise.
    IMpUnknown* guiObject = nullptr;
    IMpUnknown* guiInterface = nullptr;
    IMpUserInterface* ui = nullptr;
    IMpUserInterface2* ui2 = nullptr;
    IMpUserInterface2B* ui2b = nullptr;

    std::vector<std::vector<float>> buffers; // one per pin id, blockLength floats
    std::vector<std::int32_t> bufferResults; // what setBuffer answered, per pin id
    std::vector<std::pair<std::int32_t, std::function<float(std::int64_t)>>> inputs;
    std::vector<std::tuple<Side, std::int32_t, ValueType>> types;

    std::vector<PendingEvent> initDsp;
    std::vector<std::pair<std::int32_t, Bytes>> initGui;
    std::vector<PendingEvent> pending; // for the next block
    std::vector<PendingEvent> current; // of the block running; owns the extraData bytes
    std::deque<std::vector<RawEvent>> raw;
    std::vector<RawEvent> rawCurrent;
    std::vector<MpEvent> events;
    std::vector<std::int32_t> streamingIn; // input pins streaming, from the events delivered

    bool started = false;
    bool graphStarted = false;
    bool asleep = false;

    bool hasDsp() const { return plugin || plugin2; }
    bool hasGui() const { return ui || ui2; }
};

Host::Host(IMpFactory* factory, HostConfig config) : factory_(factory), config_(std::move(config))
{
    config_.blockLength = std::max<std::int32_t>(1, config_.blockLength);
    config_.bufferPins = std::max<std::int32_t>(0, config_.bufferPins);
    config_.maxDeliveries = std::max<std::int32_t>(1, config_.maxDeliveries);
}

Host::~Host()
{
    shutdown();
}

namespace {

// One half as the factory made it: the object and the first of the interfaces asked for that it
// answers, one reference each.
struct Half {
    std::int32_t type = MP_TYPE_AUDIO;
    std::int32_t result = MP_RESULT_UNSUPPORTED; // createInstance's
    IMpUnknown* object = nullptr;
    void* interface = nullptr;
    int which = -1; // index of the interface answered; -1 for none
    bool madeObject = false;

    // Why the half cannot be used; nothing when it is usable or absent (no module of that type).
    std::optional<std::string> error(const std::string& quoted, const char* half, const char* interfaceName) const
    {
        if (object && which < 0)
            return std::string("the ") + half + " half of " + quoted + " answers no " + interfaceName + " interface";
        if (!object && result != MP_RESULT_UNSUPPORTED)
            return "createInstance(" + quoted + ", type " + std::to_string(type) + ") returned " +
                   std::to_string(result) + (madeObject ? "" : " and no object");
        return std::nullopt;
    }
};

Half createHalf(IMpFactory& factory, const std::wstring& id, std::int32_t type, IMpUnknown* host,
                std::initializer_list<MpGuid> interfaces)
{
    Half h;
    h.type = type;
    void* made = nullptr;
    h.result = factory.createInstance(id.c_str(), type, host, &made);
    h.madeObject = made != nullptr;
    if (h.result != MP_RESULT_OK || !made)
        return h;
    h.object = static_cast<IMpUnknown*>(made);
    int index = 0;
    for (const MpGuid& iid : interfaces) {
        void* p = nullptr;
        if (h.object->queryInterface(iid, &p) == MP_RESULT_OK && p) {
            h.interface = p;
            h.which = index;
            break;
        }
        ++index;
    }
    return h;
}

} // namespace

Host::Created Host::addInstance(std::string_view identifier, InstanceOptions options)
{
    Created c;
    if (shutDown_ || !factory_) {
        c.error = shutDown_ ? "the host is shut down" : "no factory";
        return c;
    }
    auto in = std::make_unique<Instance>();
    in->index = instances_.size();
    in->identifier = std::string(identifier);
    in->dspHost = std::make_unique<DspHostObject>(*this, in->index, options.refusedIids);
    in->guiHost = std::make_unique<GuiHostObject>(*this, in->index, options.refusedIids, options.guiPinCount);
    const std::wstring id = utf8ToWide(identifier);
    const std::string quoted = "'" + in->identifier + "'";

    // Releases what was created when the instance cannot be used.
    auto discard = [&](std::string error) {
        for (IMpUnknown* p : {in->dspInterface, in->dspObject, in->guiInterface, in->guiObject})
            if (p)
                p->release();
        c.instance.reset();
        c.error = std::move(error);
        return c;
    };

    const Half dsp = createHalf(*factory_, id, MP_TYPE_AUDIO, static_cast<IMpHost*>(in->dspHost.get()),
                                {MP_IID_PLUGIN, MP_IID_PLUGIN2});
    c.dspResult = dsp.result;
    in->dspObject = dsp.object;
    if (dsp.which == 0)
        in->dspInterface = in->plugin = static_cast<IMpPlugin*>(dsp.interface);
    else if (dsp.which == 1)
        in->dspInterface = in->plugin2 = static_cast<IMpPlugin2*>(dsp.interface);
    if (const auto error = dsp.error(quoted, "processing", "plugin"))
        return discard(*error);

    const Half gui = createHalf(*factory_, id, MP_TYPE_GUI, static_cast<IMpUserInterfaceHost*>(in->guiHost.get()),
                                {MP_IID_GUI_PLUGIN, MP_IID_GUI_PLUGIN2B, MP_IID_GUI_PLUGIN2});
    c.guiResult = gui.result;
    in->guiObject = gui.object;
    if (gui.which == 0) {
        in->guiInterface = in->ui = static_cast<IMpUserInterface*>(gui.interface);
    } else if (gui.which == 1) {
        in->guiInterface = in->ui2 = in->ui2b = static_cast<IMpUserInterface2B*>(gui.interface);
    } else if (gui.which == 2) {
        in->guiInterface = in->ui2 = static_cast<IMpUserInterface2*>(gui.interface);
    }
    if (const auto error = gui.error(quoted, "interface", "interface-half"))
        return discard(*error);

    if (!in->hasDsp() && !in->hasGui())
        return discard("no module registered under " + quoted + " (factory -2)");

    in->buffers.assign(static_cast<std::size_t>(config_.bufferPins),
                       std::vector<float>(static_cast<std::size_t>(config_.blockLength), 0.0f));
    c.instance = in->index;
    instances_.push_back(std::move(in));
    if (started_) {
        startInstance(*instances_.back());
        drain();
    }
    return c;
}

bool Host::hasHalf(std::size_t instance, Side side) const
{
    if (!valid(instance))
        return false;
    return side == Side::Dsp ? instances_[instance]->hasDsp() : instances_[instance]->hasGui();
}

const std::string& Host::identifier(std::size_t instance) const
{
    static const std::string none;
    return valid(instance) ? instances_[instance]->identifier : none;
}

void Host::setPinType(std::size_t instance, Side side, std::int32_t pin, ValueType type)
{
    if (!valid(instance))
        return;
    auto& types = instances_[instance]->types;
    for (auto& t : types)
        if (std::get<0>(t) == side && std::get<1>(t) == pin) {
            std::get<2>(t) = type;
            return;
        }
    types.emplace_back(side, pin, type);
}

ValueType Host::pinType(std::size_t instance, Side side, std::int32_t pin) const
{
    if (!valid(instance))
        return ValueType::Unknown;
    for (const auto& t : instances_[instance]->types)
        if (std::get<0>(t) == side && std::get<1>(t) == pin)
            return std::get<2>(t);
    return ValueType::Unknown;
}

bool Host::connect(std::size_t fromInstance, Side fromSide, std::int32_t fromPin, std::size_t toInstance,
                   Side toSide, std::int32_t toPin)
{
    if (!hasHalf(fromInstance, fromSide) || !hasHalf(toInstance, toSide) || fromPin < 0 || toPin < 0)
        return false;
    wires_.push_back({fromInstance, fromSide, fromPin, toInstance, toSide, toPin});
    return true;
}

bool Host::setInitialValue(std::size_t instance, Side side, std::int32_t pin, Bytes value)
{
    if (!hasHalf(instance, side) || pin < 0)
        return false;
    Instance& in = *instances_[instance];
    if (side == Side::Dsp)
        in.initDsp.push_back({0, MP_EVENT_PIN_VALUE, pin, std::move(value)});
    else
        in.initGui.emplace_back(pin, std::move(value));
    return true;
}

bool Host::setInputConstant(std::size_t instance, std::int32_t pin, float value)
{
    return setInputFunction(instance, pin, [value](std::int64_t) { return value; });
}

bool Host::setInputFunction(std::size_t instance, std::int32_t pin, std::function<float(std::int64_t)> f)
{
    if (!hasHalf(instance, Side::Dsp) || pin < 0 || pin >= config_.bufferPins || !f)
        return false;
    auto& inputs = instances_[instance]->inputs;
    std::erase_if(inputs, [pin](const auto& i) { return i.first == pin; });
    inputs.emplace_back(pin, std::move(f));
    return true;
}

bool Host::queueEvent(std::size_t instance, std::int32_t time, std::int32_t type, std::int32_t pin, Bytes data)
{
    if (!hasHalf(instance, Side::Dsp))
        return false;
    instances_[instance]->pending.push_back({time, type, pin, std::move(data)});
    return true;
}

bool Host::queuePinValue(std::size_t instance, std::int32_t pin, Bytes value, std::int32_t time)
{
    return queueEvent(instance, time, MP_EVENT_PIN_VALUE, pin, std::move(value));
}

bool Host::queueMidi(std::size_t instance, std::int32_t pin, Bytes midi, std::int32_t time)
{
    return queueEvent(instance, time, MP_EVENT_MIDI, pin, std::move(midi));
}

bool Host::queueStreaming(std::size_t instance, std::int32_t pin, bool streaming, std::int32_t time)
{
    return queueEvent(instance, time, streaming ? MP_EVENT_STREAMING_START : MP_EVENT_STREAMING_STOP, pin, {});
}

bool Host::queueRawEvents(std::size_t instance, std::vector<RawEvent> events)
{
    if (!hasHalf(instance, Side::Dsp))
        return false;
    instances_[instance]->raw.push_back(std::move(events));
    return true;
}

bool Host::guiSetPin(std::size_t instance, std::int32_t pin, Bytes value)
{
    if (shutDown_ || !hasHalf(instance, Side::Gui))
        return false;
    start();
    Instance& in = *instances_[instance];
    const auto size = static_cast<std::int32_t>(value.size());
    if (in.ui) {
        in.ui->setPin(pin, 0, size, dataOf(value));
        in.ui->notifyPin(pin, 0);
    } else {
        in.ui2->setPin(pin, 0, size, dataOf(value));
        if (in.ui2b)
            in.ui2b->notifyPin(pin, 0);
    }
    drain();
    return true;
}

bool Host::postToDsp(std::size_t instance, std::int32_t id, Bytes data)
{
    if (shutDown_ || !hasHalf(instance, Side::Dsp))
        return false;
    deliveries_.push_back({Delivery::MessageToDsp, instance, id, std::move(data)});
    if (started_)
        drain();
    return true;
}

bool Host::postToGui(std::size_t instance, std::int32_t id, Bytes data)
{
    if (shutDown_ || !hasHalf(instance, Side::Gui))
        return false;
    deliveries_.push_back({Delivery::MessageToGui, instance, id, std::move(data)});
    if (started_)
        drain();
    return true;
}

void Host::start()
{
    if (started_ || shutDown_)
        return;
    started_ = true;
    for (auto& in : instances_)
        startInstance(*in);
    drain();
}

void Host::startInstance(Instance& in)
{
    if (in.started)
        return;
    in.started = true;
    if (in.hasDsp()) {
        if (in.plugin)
            in.plugin->open();
        else
            in.plugin2->open();
        in.bufferResults.assign(static_cast<std::size_t>(config_.bufferPins), MP_RESULT_FAIL);
        for (std::int32_t pin = 0; pin < config_.bufferPins; ++pin) {
            float* buffer = in.buffers[static_cast<std::size_t>(pin)].data();
            in.bufferResults[static_cast<std::size_t>(pin)] = in.plugin ? in.plugin->setBuffer(pin, buffer)
                                                                        : in.plugin2->setBuffer(pin, buffer);
        }
    }
    for (auto& [pin, value] : in.initGui) {
        const auto size = static_cast<std::int32_t>(value.size());
        if (in.ui)
            in.ui->setPin(pin, 0, size, dataOf(value));
        else if (in.ui2)
            in.ui2->setPin(pin, 0, size, dataOf(value));
    }
    if (in.ui)
        in.ui->initialize();
    else if (in.ui2)
        in.ui2->initialize();
}

bool Host::bufferAccepted(std::size_t instance, std::int32_t pin) const
{
    if (!valid(instance) || pin < 0)
        return false;
    const auto& results = instances_[instance]->bufferResults;
    return static_cast<std::size_t>(pin) < results.size() && results[static_cast<std::size_t>(pin)] == MP_RESULT_OK;
}

bool Host::runBlock(std::int32_t count)
{
    if (shutDown_ || count < 1 || count > config_.blockLength)
        return false;
    start();
    blockCount_ = count;

    // Audio along wires is one block late, like every other wired output.
    for (const Wire& w : wires_) {
        if (w.fromSide != Side::Dsp || w.toSide != Side::Dsp || w.fromPin >= config_.bufferPins ||
            w.toPin >= config_.bufferPins)
            continue;
        const auto& from = instances_[w.fromInstance]->buffers[static_cast<std::size_t>(w.fromPin)];
        auto& to = instances_[w.toInstance]->buffers[static_cast<std::size_t>(w.toPin)];
        std::copy(from.begin(), from.end(), to.begin());
    }
    for (auto& in : instances_)
        for (auto& [pin, f] : in->inputs) {
            auto& buf = in->buffers[static_cast<std::size_t>(pin)];
            for (std::int32_t s = 0; s < count; ++s)
                buf[static_cast<std::size_t>(s)] = f(blockStart_ + s);
        }

    // Every list is taken before any half runs, so what one half sends in this block waits for
    // the next one whatever the order of instances.
    for (auto& in : instances_)
        prepareEvents(*in, count);
    for (auto& in : instances_)
        processInstance(*in, count);

    blockCount_ = 0;
    ++blockIndex_;
    blockStart_ += count;
    drain();
    return true;
}

void Host::prepareEvents(Instance& in, std::int32_t count)
{
    in.current.clear();
    in.events.clear();
    if (!in.hasDsp())
        return;
    std::size_t n = 0;
    if (!in.raw.empty()) {
        in.rawCurrent = std::move(in.raw.front());
        in.raw.pop_front();
        n = in.rawCurrent.size();
        in.events.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            RawEvent& r = in.rawCurrent[i];
            in.events[i] = MpEvent{r.timeDelta, r.eventType, r.parm1, r.parm2, r.parm3, r.parm4,
                                   r.hasExtra ? reinterpret_cast<char*>(dataOf(r.extra)) : nullptr, nullptr};
        }
    } else {
        if (!in.graphStarted) {
            in.graphStarted = true;
            in.current = in.initDsp;
            in.current.push_back({0, MP_EVENT_GRAPH_START, 0, {}});
        }
        for (auto& e : in.pending)
            in.current.push_back(std::move(e));
        in.pending.clear();
        for (auto& e : in.current)
            e.time = std::clamp(e.time, 0, count - 1);
        std::stable_sort(in.current.begin(), in.current.end(),
                         [](const PendingEvent& a, const PendingEvent& b) { return a.time < b.time; });
        n = in.current.size();
        in.events.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            PendingEvent& p = in.current[i];
            MpEvent& e = in.events[i];
            const auto size = static_cast<std::int32_t>(p.data.size());
            e = MpEvent{p.time, p.type, p.pin, size, 0, 0, nullptr, nullptr};
            if (size > 0 && size <= 8) {
                std::memcpy(&e.parm3, p.data.data(), static_cast<std::size_t>(std::min(size, 4)));
                if (size > 4)
                    std::memcpy(&e.parm4, p.data.data() + 4, static_cast<std::size_t>(size - 4));
            } else if (size > 8) {
                e.extraData = reinterpret_cast<char*>(p.data.data());
            }
        }
    }
    for (std::size_t i = 0; i + 1 < n; ++i)
        in.events[i].next = &in.events[i + 1];
}

void Host::processInstance(Instance& in, std::int32_t count)
{
    if (!in.hasDsp())
        return;
    const std::size_t n = in.events.size();

    for (std::size_t i = 0; i < n; ++i) {
        const MpEvent& e = in.events[i];
        auto& s = in.streamingIn;
        if (e.eventType == MP_EVENT_STREAMING_START && std::find(s.begin(), s.end(), e.parm1) == s.end())
            s.push_back(e.parm1);
        else if (e.eventType == MP_EVENT_STREAMING_STOP)
            std::erase(s, e.parm1);
    }
    if (config_.skipSleeping && in.asleep && n == 0 && in.streamingIn.empty())
        return;

    in.asleep = false;
    MpEvent* first = n ? in.events.data() : nullptr;
    callHalf(in.index, AudioCall::Process, [&] {
        if (in.plugin)
            in.plugin->process(count, first);
        else
            in.plugin2->process(count, first);
    });
}

void Host::drain()
{
    if (draining_ || shutDown_)
        return;
    draining_ = true;
    std::int32_t delivered = 0;
    while (!deliveries_.empty()) {
        if (delivered++ >= config_.maxDeliveries) {
            fault(deliveries_.front().instance,
                  "still exchanging after " + std::to_string(config_.maxDeliveries) + " deliveries; dropped the rest");
            deliveries_.clear();
            break;
        }
        // Taken out first: the call may queue more deliveries.
        Delivery d = std::move(deliveries_.front());
        deliveries_.pop_front();
        Instance& in = *instances_[d.instance];
        const auto size = static_cast<std::int32_t>(d.data.size());
        void* data = dataOf(d.data);
        switch (d.kind) {
        case Delivery::MessageToGui:
            if (in.ui)
                in.ui->receiveMessageFromAudio(d.id, size, data);
            else if (in.ui2)
                in.ui2->receiveMessageFromAudio(d.id, size, data);
            break;
        case Delivery::MessageToDsp:
            callHalf(d.instance, AudioCall::MessageFromGui, [&] {
                if (in.plugin)
                    in.plugin->receiveMessageFromGui(d.id, size, data);
                else if (in.plugin2)
                    in.plugin2->receiveMessageFromGui(d.id, size, data);
            });
            break;
        case Delivery::GuiPin:
            if (in.ui) {
                in.ui->setPin(d.id, 0, size, data);
                in.ui->notifyPin(d.id, 0);
            } else if (in.ui2) {
                in.ui2->setPin(d.id, 0, size, data);
                if (in.ui2b)
                    in.ui2b->notifyPin(d.id, 0);
            }
            break;
        }
    }
    draining_ = false;
}

void Host::shutdown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    deliveries_.clear();
    for (auto& in : instances_) {
        for (IMpUnknown** p : {&in->guiInterface, &in->guiObject, &in->dspInterface, &in->dspObject}) {
            if (*p)
                (*p)->release();
            *p = nullptr;
        }
        in->plugin = nullptr;
        in->plugin2 = nullptr;
        in->ui = nullptr;
        in->ui2 = nullptr;
        in->ui2b = nullptr;
    }
    for (auto& in : instances_) {
        if (const auto r = in->dspHost->references())
            fault(in->index, "keeps " + std::to_string(r) + " reference(s) to the processing host after release");
        if (const auto r = in->guiHost->references())
            fault(in->index, "keeps " + std::to_string(r) + " reference(s) to the interface host after release");
    }
}

std::vector<CallRecord> Host::callsOf(CallKind kind) const
{
    std::vector<CallRecord> out;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(out), [&](const CallRecord& r) { return r.kind == kind; });
    return out;
}

std::vector<CallRecord> Host::callsOf(CallKind kind, std::size_t instance) const
{
    std::vector<CallRecord> out;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(out),
                 [&](const CallRecord& r) { return r.kind == kind && r.instance == instance; });
    return out;
}

std::span<const float> Host::buffer(std::size_t instance, std::int32_t pin) const
{
    if (!valid(instance) || pin < 0 || pin >= config_.bufferPins)
        return {};
    const auto& b = instances_[instance]->buffers[static_cast<std::size_t>(pin)];
    return {b.data(), b.size()};
}

bool Host::asleep(std::size_t instance) const
{
    return valid(instance) && instances_[instance]->asleep;
}

std::int32_t Host::hostReferences(std::size_t instance, Side side) const
{
    if (!valid(instance))
        return 0;
    const Instance& in = *instances_[instance];
    return side == Side::Dsp ? in.dspHost->references() : in.guiHost->references();
}

CallRecord& Host::record(std::size_t instance, Side side, CallKind kind, std::int32_t pin, std::int32_t position)
{
    CallRecord& r = calls_.emplace_back();
    r.instance = instance;
    r.side = side;
    r.kind = kind;
    r.pin = pin;
    r.blockPosition = position;
    r.block = blockIndex_;
    r.sample = blockStart_ + position;
    return r;
}

void Host::fault(std::size_t instance, const std::string& what)
{
    faults_.push_back("instance " + std::to_string(instance) + " (" + identifier(instance) + ") " + what);
}

std::int32_t Host::onSendPinValue(std::size_t instance, std::int32_t position, std::int32_t pin, std::int32_t size, const void* data)
{
    CallRecord& r = record(instance, Side::Dsp, CallKind::SendPinValue, pin, position);
    r.size = size;
    if (size < 0 || (size > 0 && !data)) {
        fault(instance, "sendPinValue with size " + std::to_string(size) + (data ? "" : " and no data"));
        return r.result = MP_RESULT_FAIL;
    }
    r.data.assign(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
    if (blockCount_ > 0 && (position < 0 || position >= blockCount_))
        fault(instance, "sendPinValue at position " + std::to_string(position) + " of a block of " + std::to_string(blockCount_));
    routeDspOutput(instance, position, pin, MP_EVENT_PIN_VALUE, r.data);
    return r.result = MP_RESULT_OK;
}

std::int32_t Host::onSendPinStreaming(std::size_t instance, std::int32_t position, std::int32_t pin, bool streaming)
{
    CallRecord& r = record(instance, Side::Dsp, CallKind::SendPinStreaming, pin, position);
    r.size = 1;
    r.data = boolValue(streaming);
    if (blockCount_ > 0 && (position < 0 || position >= blockCount_))
        fault(instance, "sendPinStreaming at position " + std::to_string(position) + " of a block of " + std::to_string(blockCount_));
    routeDspOutput(instance, position, pin, streaming ? MP_EVENT_STREAMING_START : MP_EVENT_STREAMING_STOP, {});
    return r.result = MP_RESULT_OK;
}

void Host::routeDspOutput(std::size_t instance, std::int32_t position, std::int32_t pin, std::int32_t type, const Bytes& data)
{
    const std::int32_t time = std::clamp(position, 0, config_.blockLength - 1);
    for (const Wire& w : wires_) {
        if (w.fromInstance != instance || w.fromSide != Side::Dsp || w.fromPin != pin)
            continue;
        if (w.toSide == Side::Dsp) {
            std::int32_t t = type;
            if (t == MP_EVENT_PIN_VALUE && (pinType(w.toInstance, Side::Dsp, w.toPin) == ValueType::Midi ||
                                            pinType(instance, Side::Dsp, pin) == ValueType::Midi))
                t = MP_EVENT_MIDI;
            instances_[w.toInstance]->pending.push_back({time, t, w.toPin, data});
        } else if (type == MP_EVENT_PIN_VALUE) {
            deliveries_.push_back({Delivery::GuiPin, w.toInstance, w.toPin, data});
        }
    }
}

std::int32_t Host::onRequestSleep(std::size_t instance)
{
    CallRecord& r = record(instance, Side::Dsp, CallKind::RequestSleep, 0);
    if (valid(instance))
        instances_[instance]->asleep = true;
    return r.result = MP_RESULT_OK;
}

std::int32_t Host::onPostMessage(std::size_t instance, bool toGui, std::int32_t id, std::int32_t size, const void* data)
{
    CallRecord& r = record(instance, toGui ? Side::Dsp : Side::Gui,
                           toGui ? CallKind::PostMessageToGui : CallKind::PostMessageToAudio, id);
    r.size = size;
    if (size < 0 || (size > 0 && !data)) {
        fault(instance, std::string(callKindName(r.kind)) + " with size " + std::to_string(size) + (data ? "" : " and no data"));
        return r.result = MP_RESULT_FAIL;
    }
    r.data.assign(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
    // Delivered by the next drain, never from inside this call.
    if (hasHalf(instance, toGui ? Side::Gui : Side::Dsp))
        deliveries_.push_back({toGui ? Delivery::MessageToGui : Delivery::MessageToDsp, instance, id, r.data});
    return r.result = MP_RESULT_OK;
}

std::int32_t Host::onTransmitPin(std::size_t instance, std::int32_t pin, std::int32_t size, const void* data)
{
    CallRecord& r = record(instance, Side::Gui, CallKind::TransmitPin, pin);
    r.size = size;
    if (size < 0 || (size > 0 && !data)) {
        fault(instance, "transmitPin with size " + std::to_string(size) + (data ? "" : " and no data"));
        return r.result = MP_RESULT_FAIL;
    }
    r.data.assign(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
    const Bytes& value = r.data; // routing below records nothing, so r stays put
    for (const Wire& w : wires_) {
        if (w.fromInstance != instance || w.fromSide != Side::Gui || w.fromPin != pin)
            continue;
        if (w.toSide == Side::Gui) {
            deliveries_.push_back({Delivery::GuiPin, w.toInstance, w.toPin, value});
        } else {
            const bool midi = pinType(w.toInstance, Side::Dsp, w.toPin) == ValueType::Midi;
            instances_[w.toInstance]->pending.push_back({0, midi ? MP_EVENT_MIDI : MP_EVENT_PIN_VALUE, w.toPin, value});
        }
    }
    return r.result = MP_RESULT_OK;
}

std::int32_t Host::onOpenSharedBlock(std::size_t instance, const wchar_t* name, void** block, std::int32_t size, std::int32_t* needsInit)
{
    CallRecord& r = record(instance, Side::Dsp, CallKind::OpenSharedBlock, 0);
    r.size = size;
    if (block)
        *block = nullptr;
    if (needsInit)
        *needsInit = 0;
    if (!name || !block || !needsInit || size < 0)
        return r.result = MP_RESULT_FAIL;
    const std::wstring key(name, wcsnlen(name, kMaxNameChars));
    r.text = wideToUtf8(key);
    for (auto& [existing, shared] : sharedBlocks_) {
        if (existing != key)
            continue;
        // Pointers handed out earlier must stay valid, so the block never grows.
        if (size > shared.size)
            return r.result = MP_RESULT_FAIL;
        *block = shared.memory.get();
        return r.result = MP_RESULT_OK;
    }
    SharedBlock shared;
    const std::size_t units = (static_cast<std::size_t>(size) + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    shared.memory = std::make_unique<std::max_align_t[]>(std::max<std::size_t>(units, 1));
    // Value-initialisation leaves max_align_t's padding bytes as they were: zero by hand.
    std::memset(shared.memory.get(), 0, std::max<std::size_t>(units, 1) * sizeof(std::max_align_t));
    shared.size = size;
    *block = shared.memory.get();
    *needsInit = 1;
    sharedBlocks_.emplace_back(key, std::move(shared));
    return r.result = MP_RESULT_OK;
}

std::int32_t Host::onExpandFileName(std::size_t instance, Side side, const wchar_t* shortName, std::int32_t maxChars, wchar_t* fullName)
{
    CallRecord& r = record(instance, side, CallKind::ExpandFileName, 0);
    r.size = maxChars;
    if (!shortName || !fullName || maxChars < 1)
        return r.result = MP_RESULT_FAIL;
    r.text = wideToUtf8(std::wstring_view(shortName, wcsnlen(shortName, kMaxNameChars)));
    const std::string full = (config_.fileFolder / std::filesystem::path(r.text)).string();
    const std::wstring wide = utf8ToWide(full);
    if (wide.size() + 1 > static_cast<std::size_t>(maxChars)) {
        fullName[0] = L'\0';
        return r.result = MP_RESULT_FAIL;
    }
    std::copy(wide.begin(), wide.end(), fullName);
    fullName[wide.size()] = L'\0';
    r.data.assign(full.begin(), full.end());
    return r.result = MP_RESULT_OK;
}

std::int32_t Host::onReserved(std::size_t instance, Side side, std::int32_t slot)
{
    const HostWork work(*this);
    CallRecord& r = record(instance, side, CallKind::ReservedSlotCalled, slot);
    fault(instance, std::string("called reserved slot ") + std::to_string(slot) + " of the " +
                        (side == Side::Dsp ? "processing" : "interface") + " host");
    return r.result = MP_RESULT_FAIL;
}

} // namespace tav_host
