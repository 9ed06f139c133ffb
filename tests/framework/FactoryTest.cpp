// The factory as a host sees it: results -2/-1/0, host hand-over and reference balance.
#include "HostTestSupport.h"
#include "MpProcessing.h"
#include "Probes.h"
#include "RecordingHosts.h"

#include <cstring>
#include <cwchar>

using namespace tavhost;
using testsupport::factory;

namespace {

TEST(Factory, ResultsForUnknownThrowingAndRefusingModules)
{
    Host host{factory()};
    EXPECT_EQ(host.addInstance("QV_NoSuchModule").dspResult, mpapi::MP_RESULT_UNSUPPORTED);
    EXPECT_EQ(host.addInstance("qv_pow2x").dspResult, mpapi::MP_RESULT_UNSUPPORTED);  // case matters
    EXPECT_EQ(host.addInstance("TEST_Throwing").dspResult, mpapi::MP_RESULT_FAIL);

    const auto both = host.addInstance("QV_FloatTurner");
    EXPECT_EQ(both.dspResult, mpapi::MP_RESULT_UNSUPPORTED);  // interface-only module
    EXPECT_EQ(both.guiResult, mpapi::MP_RESULT_OK);

    // An interface half whose host offers no interface-side host is released, not handed out.
    InstanceOptions refuseUiHost;
    refuseUiHost.refusedIids = {mpapi::MP_IID_UI_HOST};
    const auto refused = host.addInstance("QV_FloatTurner", refuseUiHost);
    EXPECT_EQ(refused.guiResult, mpapi::MP_RESULT_FAIL);
    EXPECT_FALSE(refused.instance.has_value());

    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory()->createInstance(L"QV_Pow2x", 2, nullptr, &object), mpapi::MP_RESULT_UNSUPPORTED);
    EXPECT_EQ(object, nullptr);
}

TEST(Factory, FirstRegistrationOfAKeyStays)
{
    static bool secondUsed = false;
    auto second = []() -> mpapi::IMpUnknown* {
        secondUsed = true;
        return nullptr;
    };
    EXPECT_EQ(RegisterPlugin(0, L"QV_Pow2x", second), 0);
    void* object = nullptr;
    ASSERT_EQ(factory()->createInstance(L"QV_Pow2x", 0, nullptr, &object), mpapi::MP_RESULT_OK);
    EXPECT_FALSE(secondUsed);
    static_cast<mpapi::IMpUnknown*>(object)->release();
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
    EXPECT_EQ(factory()->addRef(), 1);
    EXPECT_EQ(factory()->release(), 1);

    int32_t version = 0;
    wchar_t text[64];
    std::wmemset(text, L'#', 64);
    factory()->getSdkInformation(version, 29, text);
    EXPECT_EQ(version, 30800);
    EXPECT_STREQ(text, L"GCC Compiler V1002 (Release)");
    factory()->getSdkInformation(version, 28, text);
    EXPECT_STREQ(text, L"GCC Compiler V1002 (Release");  // cut, and still terminated
    factory()->getSdkInformation(version, 10, text);
    EXPECT_STREQ(text, L"GCC Compi");
    factory()->getSdkInformation(version, 1, text);
    EXPECT_STREQ(text, L"");
    text[0] = L'#';
    factory()->getSdkInformation(version, 0, text);
    EXPECT_EQ(text[0], L'#');
}

TEST(Factory, HostReferencesBalanceAcrossHandOversAndRelease)
{
    testsupport::RecordingHost first, second;
    void* object = nullptr;
    ASSERT_EQ(factory()->createInstance(L"QV_Pow2x", 0, first.unknown(), &object), 0);
    auto* plugin = static_cast<mpapi::IMpPlugin*>(object);
    EXPECT_EQ(first.refs, 2);  // MpHost and the processor host

    void* legacy = nullptr;
    ASSERT_EQ(plugin->queryInterface(mpapi::MP_IID_LEGACY_INITIALIZATION, &legacy), 0);
    static_cast<mpapi::IMpLegacyInitialization*>(legacy)->setHost(second.unknown());
    EXPECT_EQ(first.refs, 0);  // a second hand-over gives back the first host
    EXPECT_EQ(second.refs, 2);
    EXPECT_EQ(plugin->release(), 1);  // the reference queryInterface took
    EXPECT_EQ(plugin->release(), 0);
    EXPECT_EQ(second.refs, 0);
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
