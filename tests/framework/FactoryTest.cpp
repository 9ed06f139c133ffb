// The factory as a host sees it: results -2/-1/0, host hand-over and reference balance.
#include "HostTestSupport.h"
#include "MpProcessing.h"
#include "Probes.h"

#include <cstring>
#include <cwchar>

using namespace tavhost;
using testsupport::factory;

namespace {

// A minimal processing-side host that counts references.
class CountingHost : public mpapi::IMpHost {
public:
    int32_t queryInterface(const mpapi::MpGuid& iid, void** object) override
    {
        *object = nullptr;
        if (!(iid == mpapi::MP_IID_HOST || iid == mpapi::MP_IID_UNKNOWN))
            return mpapi::MP_RESULT_UNSUPPORTED;
        *object = this;
        ++refs;
        return mpapi::MP_RESULT_OK;
    }
    int32_t addRef() override { return ++refs; }
    int32_t release() override { return --refs; }
    int32_t sendPinValue(int32_t, int32_t, int32_t, const void*) override { return 0; }
    int32_t sendPinStreaming(int32_t, int32_t, bool) override { return 0; }
    int32_t requestSleep() override { return 0; }
    int32_t postMessageToGui(int32_t, int32_t, const void*) override { return 0; }
    int32_t queryBlockLength(int32_t* length) override { *length = 64; return 0; }
    int32_t querySampleRate(float* rate) override { *rate = 48000.0f; return 0; }
    int32_t reserved9() override { return -1; }
    int32_t reserved10() override { return -1; }
    int32_t reserved11() override { return -1; }
    int32_t reserved12() override { return -1; }
    int32_t reserved13() override { return -1; }
    int32_t reserved14() override { return -1; }
    int32_t reserved15() override { return -1; }
    int32_t openSharedBlock(const wchar_t*, void**, int32_t, int32_t*, float) override { return -1; }
    int32_t expandFileName(const wchar_t*, int32_t, wchar_t*) override { return -1; }

    int32_t refs = 0;
};

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
    factory()->getSdkInformation(version, 10, text);
    EXPECT_STREQ(text, L"GCC Compi");
    text[0] = L'#';
    factory()->getSdkInformation(version, 0, text);
    EXPECT_EQ(text[0], L'#');
}

TEST(Factory, HostReferencesBalanceAcrossHandOversAndRelease)
{
    CountingHost first, second;
    void* object = nullptr;
    ASSERT_EQ(factory()->createInstance(L"QV_Pow2x", 0, &first, &object), 0);
    auto* plugin = static_cast<mpapi::IMpPlugin*>(object);
    EXPECT_EQ(first.refs, 1);

    void* legacy = nullptr;
    ASSERT_EQ(plugin->queryInterface(mpapi::MP_IID_LEGACY_INITIALIZATION, &legacy), 0);
    static_cast<mpapi::IMpLegacyInitialization*>(legacy)->setHost(&second);
    EXPECT_EQ(first.refs, 0);  // a second hand-over gives back the first host
    EXPECT_EQ(second.refs, 1);
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
