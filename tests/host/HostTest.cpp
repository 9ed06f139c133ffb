// The stand-in host itself, checked with a fake module written here: what process() receives,
// shared blocks, message and pin delivery order, wires, file names and reference balance.
#include "Host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace tav_host;
using namespace mpapi;

namespace {

// One event as the fake saw it in process().
struct Seen {
    int32_t time, type, pin, size, parm3, parm4;
    bool extra;
    Bytes bytes; // copied from extraData when set

    bool operator==(const Seen&) const = default;
};

// A module half: one reference to start, deleted at zero, holding the host interface it asked
// for at creation; it answers only its own interface.
template <class Interface, class HostInterface>
class FakeHalf : public Interface {
public:
    FakeHalf(IMpUnknown* host, const MpGuid& hostIid, const MpGuid& ownIid) : ownIid_(ownIid)
    {
        void* h = nullptr;
        if (host && host->queryInterface(hostIid, &h) == MP_RESULT_OK)
            host_ = static_cast<HostInterface*>(h);
    }
    virtual ~FakeHalf()
    {
        if (host_)
            host_->release();
    }
    int32_t queryInterface(const MpGuid& iid, void** object) override
    {
        *object = nullptr;
        if (!(iid == MP_IID_UNKNOWN || iid == ownIid_))
            return MP_RESULT_UNSUPPORTED;
        *object = static_cast<Interface*>(this);
        addRef();
        return MP_RESULT_OK;
    }
    int32_t addRef() override { return ++refs_; }
    int32_t release() override
    {
        const int32_t r = --refs_;
        if (r == 0)
            delete this;
        return r;
    }

    HostInterface* host_ = nullptr;

private:
    MpGuid ownIid_;
    std::atomic<int32_t> refs_{1};
};

class FakeDsp final : public FakeHalf<IMpPlugin, IMpHost> {
public:
    explicit FakeDsp(IMpUnknown* host) : FakeHalf(host, MP_IID_HOST, MP_IID_PLUGIN) {}
    int32_t open() override { return MP_RESULT_OK; }
    int32_t setBuffer(int32_t, float*) override { return MP_RESULT_OK; }
    void process(int32_t count, MpEvent* events) override
    {
        inProcess = true;
        blocks.emplace_back();
        for (const MpEvent* e = events; e; e = e->next) {
            Bytes b;
            if (e->extraData && e->parm2 > 0)
                b.assign(e->extraData, e->extraData + e->parm2);
            blocks.back().push_back({e->timeDelta, e->eventType, e->parm1, e->parm2, e->parm3, e->parm4,
                                     e->extraData != nullptr, b});
        }
        if (onProcess)
            onProcess(*this, count);
        inProcess = false;
    }
    int32_t receiveMessageFromGui(int32_t id, int32_t, void*) override
    {
        messages.push_back(id);
        if (onMessage)
            onMessage(*this, id);
        return MP_RESULT_OK;
    }

    bool inProcess = false;
    std::vector<std::vector<Seen>> blocks;
    std::vector<int32_t> messages;
    std::function<void(FakeDsp&, int32_t)> onProcess, onMessage;
};

class FakeGui final : public FakeHalf<IMpUserInterface, IMpUserInterfaceHost> {
public:
    explicit FakeGui(IMpUnknown* host) : FakeHalf(host, MP_IID_UI_HOST, MP_IID_GUI_PLUGIN) {}
    int32_t initialize() override
    {
        if (onInitialize)
            onInitialize(*this);
        return MP_RESULT_OK;
    }
    int32_t setPin(int32_t pin, int32_t, int32_t size, void* data) override
    {
        const auto* p = static_cast<const uint8_t*>(data);
        log.push_back("set " + std::to_string(pin) + " " + formatValue(Bytes(p, p + size), ValueType::Unknown));
        return MP_RESULT_OK;
    }
    int32_t notifyPin(int32_t pin, int32_t) override
    {
        log.push_back("notify " + std::to_string(pin));
        if (onNotify)
            onNotify(*this, pin);
        log.push_back("notified " + std::to_string(pin));
        return MP_RESULT_OK;
    }
    int32_t receiveMessageFromAudio(int32_t id, int32_t, void*) override
    {
        log.push_back("message " + std::to_string(id));
        if (onMessage)
            onMessage(*this, id);
        return MP_RESULT_OK;
    }
    int32_t onCreateContextMenu() override { return MP_RESULT_OK; }
    int32_t onContextMenu(int32_t) override { return MP_RESULT_OK; }

    std::vector<std::string> log;
    std::function<void(FakeGui&)> onInitialize;
    std::function<void(FakeGui&, int32_t)> onNotify, onMessage;
};

// Makes both halves under "fake"; "gui-only" has only the interface half. Keeps pointers to
// what it made so a test can reach into its modules.
class FakeFactory final : public IMpFactory {
public:
    int32_t queryInterface(const MpGuid&, void** object) override
    {
        *object = nullptr;
        return MP_RESULT_UNSUPPORTED;
    }
    int32_t addRef() override { return 1; }
    int32_t release() override { return 1; }
    int32_t createInstance(const wchar_t* id, int32_t type, IMpUnknown* host, void** object) override
    {
        *object = nullptr;
        const std::wstring name(id);
        if (type == MP_TYPE_AUDIO && name == L"fake") {
            dsp.push_back(new FakeDsp(host));
            *object = static_cast<IMpUnknown*>(dsp.back());
        } else if (type == MP_TYPE_GUI && (name == L"fake" || name == L"gui-only")) {
            gui.push_back(new FakeGui(host));
            *object = static_cast<IMpUnknown*>(gui.back());
        } else {
            return MP_RESULT_UNSUPPORTED;
        }
        return MP_RESULT_OK;
    }
    int32_t getSdkInformation(int32_t&, int32_t, wchar_t*) override { return MP_RESULT_FAIL; }

    std::vector<FakeDsp*> dsp;
    std::vector<FakeGui*> gui;
};

class HostTest : public ::testing::Test {
protected:
    std::size_t addFake(const char* id = "fake", InstanceOptions options = {})
    {
        const auto created = host.addInstance(id, std::move(options));
        EXPECT_TRUE(created.instance) << created.error;
        return created.instance.value_or(0);
    }

    FakeFactory factory;
    Host host{&factory, HostConfig{.blockLength = 8, .fileFolder = "/data/files"}};
};

int32_t inlineWord(std::initializer_list<uint8_t> bytes)
{
    uint8_t b[4] = {};
    std::copy(bytes.begin(), bytes.end(), b);
    int32_t v = 0;
    std::memcpy(&v, b, 4);
    return v;
}

// The list arrives sorted by time, keeping queue order within a time; initial values and graph
// start come first; up to 8 bytes inline, longer data by extraData.
TEST_F(HostTest, EventListIsSortedStablyWithInlineAndExtraData)
{
    const auto m = addFake();
    host.setInitialValue(m, Side::Dsp, 3, intValue(-2));
    const Bytes twelve = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    host.queuePinValue(m, 1, twelve, 5);
    host.queueMidi(m, 2, midiValue({0x90, 0x3C, 0x7F}), 2);
    host.queueStreaming(m, 0, true, 5);
    host.queuePinValue(m, 4, Bytes{1, 2, 3, 4, 5, 6, 7, 8}, 2);
    host.queuePinValue(m, 5, floatValue(0.5f), 99); // past the block: moved to its last sample
    ASSERT_TRUE(host.runBlock(8));

    const std::vector<Seen> expected = {
        {0, MP_EVENT_PIN_VALUE, 3, 4, -2, 0, false, {}},
        {0, MP_EVENT_GRAPH_START, 0, 0, 0, 0, false, {}},
        {2, MP_EVENT_MIDI, 2, 3, inlineWord({0x90, 0x3C, 0x7F}), 0, false, {}},
        {2, MP_EVENT_PIN_VALUE, 4, 8, inlineWord({1, 2, 3, 4}), inlineWord({5, 6, 7, 8}), false, {}},
        {5, MP_EVENT_PIN_VALUE, 1, 12, 0, 0, true, twelve},
        {5, MP_EVENT_STREAMING_START, 0, 0, 0, 0, false, {}},
        {7, MP_EVENT_PIN_VALUE, 5, 4, std::bit_cast<int32_t>(0.5f), 0, false, {}},
    };
    ASSERT_EQ(factory.dsp[0]->blocks.size(), 1u);
    EXPECT_EQ(factory.dsp[0]->blocks[0], expected);

    // Raw lists pass as given: out of order, beyond the block, negative or oversize sizes.
    RawEvent late{.timeDelta = 20, .parm1 = 1, .parm2 = -4};
    RawEvent early{.timeDelta = -1, .eventType = MP_EVENT_MIDI, .parm2 = 300};
    RawEvent withExtra{.timeDelta = 3, .parm2 = 2, .hasExtra = true, .extra = {7, 9}};
    host.queueRawEvents(m, {late, early, withExtra});
    host.queuePinValue(m, 6, boolValue(true)); // waits for the block after
    host.runBlock(8);
    host.runBlock(8);
    const std::vector<Seen> raw = {{20, MP_EVENT_PIN_VALUE, 1, -4, 0, 0, false, {}},
                                   {-1, MP_EVENT_MIDI, 0, 300, 0, 0, false, {}},
                                   {3, MP_EVENT_PIN_VALUE, 0, 2, 0, 0, true, {7, 9}}};
    ASSERT_EQ(factory.dsp[0]->blocks.size(), 3u);
    EXPECT_EQ(factory.dsp[0]->blocks[1], raw);
    EXPECT_EQ(factory.dsp[0]->blocks[2], (std::vector<Seen>{{0, MP_EVENT_PIN_VALUE, 6, 1, 1, 0, false, {}}}));
}

// The first opener of a name initialises the block; later ones share it and never grow it.
TEST_F(HostTest, SharedBlockNeedsInitOnlyForTheFirstOpener)
{
    const auto a = addFake();
    const auto b = addFake();
    IMpHost* ha = factory.dsp[a]->host_;
    IMpHost* hb = factory.dsp[b]->host_;
    void* first = nullptr;
    void* second = nullptr;
    int32_t needsInit = -1;
    ASSERT_EQ(ha->openSharedBlock(L"bank", &first, 16, &needsInit, -1.0f), 0);
    EXPECT_EQ(needsInit, 1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::memcmp(first, std::vector<char>(16, 0).data(), 16), 0);
    std::memset(first, 0x5A, 16);
    ASSERT_EQ(hb->openSharedBlock(L"bank", &second, 8, &needsInit, -1.0f), 0);
    EXPECT_EQ(needsInit, 0);
    EXPECT_EQ(second, first);
    EXPECT_EQ(static_cast<unsigned char*>(second)[15], 0x5A);

    EXPECT_EQ(hb->openSharedBlock(L"bank", &second, 17, &needsInit, -1.0f), -1);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(hb->openSharedBlock(L"other", &second, 4, &needsInit, -1.0f), 0);
    EXPECT_EQ(needsInit, 1);
    EXPECT_NE(second, first);
    EXPECT_EQ(host.callsOf(CallKind::OpenSharedBlock).size(), 4u);
    EXPECT_EQ(host.callsOf(CallKind::OpenSharedBlock)[0].text, "bank");
}

// Messages wait until the poster's call has returned, then reach the other half; messages posted
// in initialize reach the processing half before its first block; ping-pong is cut off.
TEST_F(HostTest, MessagesAreDeliveredAfterThePostingCallReturns)
{
    const auto m = addFake();
    FakeDsp& dsp = *factory.dsp[0];
    FakeGui& gui = *factory.gui[0];
    gui.onInitialize = [](FakeGui& g) { g.host_->postMessageToAudio(1, 0, nullptr); };
    std::vector<bool> receivedInProcess;
    gui.onMessage = [&](FakeGui&, int32_t) { receivedInProcess.push_back(dsp.inProcess); };
    dsp.onProcess = [](FakeDsp& d, int32_t) {
        const int32_t payload = 42;
        d.host_->postMessageToGui(2, 4, &payload);
    };
    host.runBlock(8);
    EXPECT_EQ(dsp.messages, std::vector<int32_t>{1});
    EXPECT_EQ(dsp.blocks.size(), 1u);
    EXPECT_EQ(gui.log, std::vector<std::string>{"message 2"});
    EXPECT_EQ(receivedInProcess, std::vector<bool>{false});
    EXPECT_EQ(host.callsOf(CallKind::PostMessageToGui, m)[0].data, intValue(42));

    dsp.onProcess = nullptr;
    dsp.onMessage = [](FakeDsp& d, int32_t id) { d.host_->postMessageToGui(id + 1, 0, nullptr); };
    gui.onMessage = [](FakeGui& g, int32_t id) { g.host_->postMessageToAudio(id + 1, 0, nullptr); };
    host.postToDsp(m, 10, {});
    EXPECT_EQ(dsp.messages.size(), 1u + host.config().maxDeliveries / 2);
    ASSERT_EQ(host.faults().size(), 1u);
    EXPECT_NE(host.faults()[0].find("still exchanging"), std::string::npos);
}

// Values a processing half sends in block k reach a wired processing input in block k+1 at the
// same position; interface pins reach wired interface pins after the sending call returns.
TEST_F(HostTest, WiresDeliverInTheNextBlockAndAfterTheCall)
{
    const auto a = addFake();
    const auto b = addFake();
    ASSERT_TRUE(host.connect(a, Side::Dsp, 1, b, Side::Dsp, 0));
    ASSERT_TRUE(host.connect(a, Side::Gui, 2, b, Side::Gui, 3));
    ASSERT_TRUE(host.connect(a, Side::Dsp, 1, b, Side::Gui, 4));
    factory.dsp[a]->onProcess = [](FakeDsp& d, int32_t) {
        if (d.blocks.size() == 1) {
            d.host_->sendPinValue(3, 1, 4, floatValue(0.75f).data());
            d.host_->sendPinStreaming(6, 1, true);
        }
    };
    host.runBlock(8);
    const auto& got = factory.dsp[b]->blocks;
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].size(), 1u); // graph start only
    EXPECT_EQ(factory.gui[b]->log, (std::vector<std::string>{"set 4 0.75", "notify 4", "notified 4"}));
    host.runBlock(8);
    EXPECT_EQ(got[1], (std::vector<Seen>{{3, MP_EVENT_PIN_VALUE, 0, 4, std::bit_cast<int32_t>(0.75f), 0, false, {}},
                                         {6, MP_EVENT_STREAMING_START, 0, 0, 0, 0, false, {}}}));

    factory.gui[b]->log.clear();
    factory.gui[a]->onNotify = [&](FakeGui& g, int32_t) {
        g.host_->transmitPin(2, 1, boolValue(true).data(), 0);
        g.log.push_back("transmitted");
    };
    host.guiSetPin(a, 0, floatValue(1.0f));
    EXPECT_EQ(factory.gui[a]->log.back(), "notified 0");
    EXPECT_EQ(factory.gui[b]->log, (std::vector<std::string>{"set 3 true", "notify 3", "notified 3"}));
}

// fileFolder joined with the short name, terminated, only when it fits in maxChars.
TEST_F(HostTest, ExpandFileNameWritesOnlyWhatFits)
{
    addFake();
    IMpHost* h = factory.dsp[0]->host_;
    const std::wstring expected = L"/data/files/a.txt"; // 17 characters
    wchar_t buf[32];
    std::wmemset(buf, L'#', 32);
    EXPECT_EQ(h->expandFileName(L"a.txt", 18, buf), 0);
    EXPECT_EQ(std::wstring(buf), expected);
    std::wmemset(buf, L'#', 32);
    EXPECT_EQ(h->expandFileName(L"a.txt", 17, buf), -1);
    EXPECT_EQ(buf[0], L'\0');
    EXPECT_EQ(buf[1], L'#');
    std::wmemset(buf, L'#', 32);
    EXPECT_EQ(h->expandFileName(L"a.txt", 0, buf), -1);
    EXPECT_EQ(h->expandFileName(nullptr, 32, buf), -1);
    EXPECT_EQ(buf[0], L'#');
    EXPECT_EQ(factory.gui[0]->host_->expandFileName(L"b", 32, buf), 0);
    EXPECT_EQ(std::wstring(buf), L"/data/files/b");
}

// Every reference a module took on its host objects is back after release; reserved slots and
// refused identifiers show up as the module sees them.
TEST_F(HostTest, ReferencesBalanceAndFaultsAreRecorded)
{
    const auto m = addFake();
    const auto refused = addFake("fake", {.refusedIids = {MP_IID_HOST, MP_IID_UI_HOST}});
    const auto guiOnly = addFake("gui-only", {.guiPinCount = 5});
    EXPECT_TRUE(host.hasHalf(guiOnly, Side::Gui));
    EXPECT_FALSE(host.hasHalf(guiOnly, Side::Dsp));
    EXPECT_EQ(factory.dsp[refused]->host_, nullptr);
    EXPECT_EQ(factory.gui[refused]->host_, nullptr);
    EXPECT_EQ(host.hostReferences(m, Side::Dsp), 1);
    EXPECT_EQ(host.hostReferences(m, Side::Gui), 1);
    int32_t pins = 0;
    EXPECT_EQ(factory.gui[guiOnly]->host_->queryPinCount(&pins), 0);
    EXPECT_EQ(pins, 5);
    EXPECT_FALSE(host.addInstance("missing").instance);
    EXPECT_EQ(host.addInstance("missing").dspResult, MP_RESULT_UNSUPPORTED);

    host.runBlock(8);
    EXPECT_TRUE(host.faults().empty());
    factory.dsp[m]->host_->reserved12();
    EXPECT_EQ(host.callsOf(CallKind::ReservedSlotCalled).size(), 1u);
    EXPECT_EQ(host.callsOf(CallKind::ReservedSlotCalled)[0].pin, 12);

    // A module that keeps an extra reference is reported at release.
    factory.gui[m]->host_->addRef();
    host.shutdown();
    EXPECT_EQ(host.hostReferences(m, Side::Dsp), 0);
    EXPECT_EQ(host.hostReferences(m, Side::Gui), 1);
    ASSERT_EQ(host.faults().size(), 2u);
    EXPECT_NE(host.faults()[1].find("keeps 1 reference(s) to the interface host"), std::string::npos);
}

} // namespace
