// The factory as a host sees it: results -2/-1/0 for every kind of create function, host
// hand-over and reference balance, its own interfaces and SDK information.
#include "HostTestSupport.h"
#include "MpInterface.h"
#include "MpProcessing.h"
#include "RecordingHosts.h"

#include <cwchar>
#include <new>

using namespace tav_host;
using test_support::factory;

namespace {

// Halves that override nothing: their message entries must answer without calling each other.
class PlainDsp : public MpBase {};
class PlainGui : public MpGuiBase {};

// An object that has no hand-over part.
class Bare : public mpapi::IMpUnknown {
public:
    int32_t queryInterface(const mpapi::MpGuid&, void** object) override
    {
        *object = nullptr;
        return mpapi::MP_RESULT_UNSUPPORTED;
    }
    int32_t addRef() override { return ++count; }
    int32_t release() override
    {
        const int32_t left = --count;
        if (left == 0)
            delete this;
        return left;
    }
    virtual ~Bare() = default;
    int32_t count = 1;
};

TEST(Factory, ResultsForEveryKindOfCreateFunction)
{
    MpFactory own;
    own.RegisterPlugin(L"R_Null", 0, nullptr);
    own.RegisterPlugin(L"R_Nothing", 0, []() -> mpapi::IMpUnknown* { return nullptr; });
    own.RegisterPlugin(L"R_Bare", 0, []() -> mpapi::IMpUnknown* { return new Bare(); });
    own.RegisterPlugin(L"R_Throw", 0, []() -> mpapi::IMpUnknown* { throw std::bad_alloc(); });
    own.RegisterPlugin(L"R_Module", 0, &mp_detail::createModule<PlainDsp>);
    own.RegisterPlugin(L"R_Module", 0, []() -> mpapi::IMpUnknown* { return new Bare(); });  // the first stays
    own.RegisterPlugin(L"R_Module", 1, &mp_detail::createModule<PlainGui>);
    own.RegisterPlugin(L"R_GuiOnly", 1, &mp_detail::createModule<PlainGui>);

    Host host{&own};
    EXPECT_EQ(host.addInstance("R_Missing").dspResult, mpapi::MP_RESULT_UNSUPPORTED);
    EXPECT_EQ(host.addInstance("r_module").dspResult, mpapi::MP_RESULT_UNSUPPORTED);  // case matters
    EXPECT_EQ(host.addInstance("R_Null").dspResult, mpapi::MP_RESULT_UNSUPPORTED);
    EXPECT_EQ(host.addInstance("R_Throw").dspResult, mpapi::MP_RESULT_FAIL);
    const auto nothing = host.addInstance("R_Nothing");
    EXPECT_EQ(nothing.dspResult, mpapi::MP_RESULT_OK);
    EXPECT_FALSE(nothing.instance.has_value());
    EXPECT_EQ(host.addInstance("R_Bare").dspResult, mpapi::MP_RESULT_OK);  // handed out without a hand-over

    const auto both = host.addInstance("R_Module");
    ASSERT_TRUE(both.instance.has_value()) << both.error;
    EXPECT_EQ(both.dspResult, mpapi::MP_RESULT_OK);
    EXPECT_EQ(both.guiResult, mpapi::MP_RESULT_OK);
    host.postToDsp(*both.instance, 1, {});
    host.postToGui(*both.instance, 1, {});
    host.runBlock(64);
    EXPECT_TRUE(host.faults().empty());

    const auto guiOnly = host.addInstance("R_GuiOnly");
    EXPECT_EQ(guiOnly.dspResult, mpapi::MP_RESULT_UNSUPPORTED);
    EXPECT_EQ(guiOnly.guiResult, mpapi::MP_RESULT_OK);

    // An interface half whose host offers no interface-side host is released, not handed out.
    InstanceOptions refuseUiHost;
    refuseUiHost.refusedIids = {mpapi::MP_IID_UI_HOST};
    const auto refused = host.addInstance("R_GuiOnly", refuseUiHost);
    EXPECT_EQ(refused.guiResult, mpapi::MP_RESULT_FAIL);
    EXPECT_FALSE(refused.instance.has_value());

    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(own.createInstance(L"R_Module", 2, nullptr, &object), mpapi::MP_RESULT_UNSUPPORTED);
    EXPECT_EQ(object, nullptr);
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(own.createInstance2(L"R_Throw", 0, &object), mpapi::MP_RESULT_FAIL);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(Host{factory()}.addInstance("TEST_Throwing").dspResult, mpapi::MP_RESULT_FAIL);  // a constructor that throws
}

TEST(Factory, AnswersItsInterfacesAndItsSdkInformation)
{
    void* asFactory2 = nullptr;
    void* asUnknown = nullptr;
    EXPECT_EQ(factory()->queryInterface(mpapi::MP_IID_FACTORY2, &asFactory2), 0);
    EXPECT_EQ(factory()->queryInterface(mpapi::MP_IID_UNKNOWN, &asUnknown), 0);
    EXPECT_EQ(asFactory2, asUnknown);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory()->queryInterface(mpapi::MP_IID_HOST, &other), mpapi::MP_RESULT_UNSUPPORTED);
    EXPECT_EQ(other, nullptr);

    int32_t version = 0;
    wchar_t text[64];
    std::wmemset(text, L'#', 64);
    factory()->getSdkInformation(version, 29, text);
    EXPECT_EQ(version, mpapi::MP_SDK_VERSION);
    EXPECT_EQ(mpapi::MP_SDK_VERSION, 30800);
    EXPECT_STREQ(text, L"GCC Compiler V1002 (Release)");
    factory()->getSdkInformation(version, 28, text);
    EXPECT_STREQ(text, L"GCC Compiler V1002 (Release");  // cut, and still terminated
    factory()->getSdkInformation(version, 1, text);
    EXPECT_STREQ(text, L"");
    text[0] = L'#';
    factory()->getSdkInformation(version, 0, text);
    EXPECT_EQ(text[0], L'#');
}

// Each half asks its host for what it needs (the processing half: processor host, then host), a
// second hand-over gives the first host back, a refused one leaves no host, and the last release
// gives back the rest. Each half answers only its own interfaces.
TEST(Factory, HostHandOverAndReferenceBalance)
{
    test_support::RecordingHost first, second, refusing;
    refusing.refuseHost = true;
    void* object = nullptr;
    ASSERT_EQ(factory()->createInstance(L"QV_Pow2x", 0, first.unknown(), &object), 0);
    auto* plugin = static_cast<mpapi::IMpPlugin*>(object);
    ASSERT_EQ(first.asked.size(), 2u);
    EXPECT_TRUE(first.asked[0] == mpapi::MP_IID_PROCESSOR_HOST);
    EXPECT_TRUE(first.asked[1] == mpapi::MP_IID_HOST);
    EXPECT_EQ(first.refs, 2);

    void* found = reinterpret_cast<void*>(1);
    EXPECT_EQ(plugin->queryInterface(mpapi::MP_IID_GUI_PLUGIN, &found), mpapi::MP_RESULT_UNSUPPORTED);
    EXPECT_EQ(found, nullptr);
    ASSERT_EQ(plugin->queryInterface(mpapi::MP_IID_PLUGIN2, &found), 0);
    EXPECT_EQ(found, static_cast<mpapi::IMpPlugin2*>(dynamic_cast<MpPluginBase*>(plugin)));
    static_cast<mpapi::IMpPlugin2*>(found)->release();
    ASSERT_EQ(plugin->queryInterface(mpapi::MP_IID_LEGACY_INITIALIZATION, &found), 0);
    auto* legacy = static_cast<mpapi::IMpLegacyInitialization*>(found);
    legacy->setHost(second.unknown());
    EXPECT_EQ(first.refs, 0);
    EXPECT_EQ(second.refs, 2);
    EXPECT_EQ(legacy->setHost(refusing.unknown()), mpapi::MP_RESULT_UNSUPPORTED);
    EXPECT_EQ(dynamic_cast<MpPluginBase*>(plugin)->host, nullptr);
    EXPECT_EQ(second.refs, 0);
    EXPECT_EQ(legacy->release(), 1);  // one count behind every table
    EXPECT_EQ(plugin->release(), 0);
    EXPECT_EQ(refusing.refs, 0);

    test_support::RecordingUiHost uiFirst, uiSecond;
    ASSERT_EQ(factory()->createInstance(L"QV_FloatTurner", 1, &uiFirst, &object), 0);
    auto* ui = static_cast<mpapi::IMpUserInterface*>(object);
    EXPECT_EQ(uiFirst.refs, 1);
    EXPECT_EQ(ui->queryInterface(mpapi::MP_IID_GUI_PLUGIN2, &found), mpapi::MP_RESULT_UNSUPPORTED);
    ASSERT_EQ(ui->queryInterface(mpapi::MP_IID_LEGACY_INITIALIZATION, &found), 0);
    static_cast<mpapi::IMpLegacyInitialization*>(found)->setHost(&uiSecond);
    EXPECT_EQ(uiFirst.refs, 0);
    EXPECT_EQ(uiSecond.refs, 1);
    EXPECT_EQ(static_cast<mpapi::IMpLegacyInitialization*>(found)->release(), 1);
    EXPECT_EQ(ui->release(), 0);
    EXPECT_EQ(uiSecond.refs, 0);
}

TEST(Factory, HalfWithoutHostSkipsEveryHostCall)
{
    void* object = nullptr;
    ASSERT_EQ(static_cast<mpapi::IMpFactory2*>(factory())->createInstance2(L"QV_Pow2x", 0, &object), 0);
    auto* plugin = static_cast<mpapi::IMpPlugin*>(object);
    float in[64] = {}, out[64] = {};
    plugin->open();
    plugin->setBuffer(0, in);
    plugin->setBuffer(1, out);
    mpapi::MpEvent stop{0, mpapi::MP_EVENT_STREAMING_STOP, 0, 0, 0, 0, nullptr, nullptr};
    mpapi::MpEvent start{0, mpapi::MP_EVENT_GRAPH_START, 0, 0, 0, 0, nullptr, &stop};
    plugin->process(64, &start);
    plugin->process(64, nullptr);
    EXPECT_EQ(plugin->release(), 0);
}

} // namespace
