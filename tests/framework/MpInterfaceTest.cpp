// The interface base: host values stored by setPin and acted on at notifyPin, module assignments
// transmitted at once and only on change, pin registration, UTF-8 text; and the newer interface
// base.
#include "HostTestSupport.h"
#include "Probes.h"

#include <limits>
#include <vector>

using namespace tav_host;
using test_support::add;

namespace {

// Change tests of host values, pin by pin: these decide what setPin2 passes on.
TEST(InterfacePins, HostValuesReportChangesByRawForm)
{
    MpGuiPin<float> number;
    const float zero = 0.0f, negativeZero = -0.0f;
    EXPECT_FALSE(number.set(0, 4, &zero));
    EXPECT_TRUE(number.set(0, 4, &negativeZero));  // compared bit for bit
    const unsigned char low = 0x3F;
    EXPECT_TRUE(number.set(0, 1, &low));  // a shorter size overwrites the leading byte only

    MpGuiPin<bool> flag;
    const int32_t one = 1;
    EXPECT_TRUE(flag.set(0, 4, &one));
    EXPECT_TRUE(flag.set(0, 4, &one));  // 4 bytes always report a change
    const unsigned char byteOne = 1, byteTwo = 2;
    EXPECT_FALSE(flag.set(0, 1, &byteOne));
    EXPECT_TRUE(flag.set(0, 1, &byteTwo));  // one byte compares as stored, not as a truth value
    EXPECT_TRUE(flag.value);

    MpGuiPin<std::wstring> text;
    EXPECT_EQ(text.rawSize(), 4);  // one zero character at construction
    const wchar_t abc[] = L"abcd";
    EXPECT_TRUE(text.set(0, 14, abc));  // 3 characters, the remainder ignored
    EXPECT_EQ(text.value, L"abc");
    EXPECT_FALSE(text.set(0, 12, abc));
}

class InterfaceBase : public test_support::InterfaceHostTest {};

TEST_F(InterfaceBase, TextWithoutUtf8FormStaysInsideTheModule)
{
    const std::size_t probe = add(host, "TEST_GuiProbe");
    host.start();
    const auto sent = transmitsAfter(probe, 0, textValue(U"h\u00e9"));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].pin, 3);
    EXPECT_EQ(sent[0].data, textValue(U"h\u00e9"));

    Bytes invalid = intValue(0x110000);  // no UTF-8 form: the handler's conversion throws
    EXPECT_TRUE(transmitsAfter(probe, 0, invalid).empty());
    EXPECT_TRUE(host.faults().empty());
}

// The newer interface base and its indexed pin handlers: no module of this bundle uses them yet,
// held to their contract for those that will.
// A newer-interface host that records transmitted pins.
class Host2 : public mpapi::IMpUserInterfaceHost2 {
public:
    int32_t queryInterface(const mpapi::MpGuid& iid, void** object) override
    {
        *object = nullptr;
        if (!(iid == mpapi::MP_IID_UI_HOST2))
            return mpapi::MP_RESULT_UNSUPPORTED;
        *object = this;
        ++refs;
        return mpapi::MP_RESULT_OK;
    }
    int32_t addRef() override { return ++refs; }
    int32_t release() override { return --refs; }
    int32_t transmitPin(int32_t pin, int32_t, const void*, int32_t) override
    {
        transmitted.push_back(pin);
        return 0;
    }
    int32_t postMessageToAudio(int32_t, int32_t, const void*) override { return 0; }

    int32_t refs = 0;
    std::vector<int32_t> transmitted;
};

class NewerGui : public MpGuiBase2 {
public:
    NewerGui()
    {
        initializePin(0, level_, &NewerGui::onLevel);
        initializePin(1, voiced_, &NewerGui::onVoiced);
        initializePin(2, plain_, Handler{});
    }
    int32_t addRef() override { return ++count_; }
    int32_t release() override
    {
        const int32_t left = --count_;
        if (left == 0)
            delete this;
        return left;
    }
    void onLevel() { echo_ = level_.getValue() * 2.0f; }
    void onVoiced(int voice) { lastVoice = voice; }

    int lastVoice = -1;

private:
    MpGuiPin<float> level_;
    MpGuiPin<int32_t> voiced_;
    MpGuiPin<bool> plain_;
    MpGuiPin<float> echo_;
    int32_t count_ = 1;
};

TEST(NewerInterfaceBase, AnswersItsOwnInterfacesAndHost)
{
    auto* gui = new NewerGui();
    void* object = nullptr;
    EXPECT_EQ(gui->queryInterface(mpapi::MP_IID_GUI_PLUGIN2B, &object), 0);
    EXPECT_EQ(object, static_cast<mpapi::IMpUserInterface2B*>(gui));
    EXPECT_EQ(gui->queryInterface(mpapi::MP_IID_GUI_PLUGIN2, &object), 0);
    EXPECT_EQ(gui->queryInterface(mpapi::MP_IID_GUI_PLUGIN, &object), mpapi::MP_RESULT_UNSUPPORTED);
    EXPECT_EQ(object, nullptr);

    struct Plain : Host2 {
        int32_t queryInterface(const mpapi::MpGuid&, void** object) override
        {
            *object = nullptr;
            return mpapi::MP_RESULT_UNSUPPORTED;
        }
    } plain;
    EXPECT_EQ(gui->setHost(&plain), mpapi::MP_RESULT_UNSUPPORTED);  // refused without throwing
    Host2 host;
    EXPECT_EQ(gui->setHost(&host), 0);
    EXPECT_EQ(host.refs, 1);
    EXPECT_EQ(gui->receiveMessageFromAudio(1, 0, nullptr), mpapi::MP_RESULT_FAIL);
    EXPECT_EQ(gui->getToolTip(0, 0, nullptr), mpapi::MP_RESULT_FAIL);

    const float level = 0.25f;
    EXPECT_EQ(gui->setPin(0, 0, 4, &level), 0);
    EXPECT_EQ(gui->notifyPin(0, 0), 0);
    EXPECT_TRUE(host.transmitted.empty());  // the echo pin was never registered: no owner, no send
    const int32_t seven = 7;
    gui->setPin(1, 3, 4, &seven);
    gui->notifyPin(1, 3);
    EXPECT_EQ(gui->lastVoice, 3);  // indexed handlers receive the voice
    EXPECT_EQ(gui->setPin2(1, 4, 4, &seven), 0);  // setPin2 acts only on a change
    EXPECT_EQ(gui->lastVoice, 3);
    const int32_t eight = 8;
    gui->setPin2(1, 4, 4, &eight);
    EXPECT_EQ(gui->lastVoice, 4);
    EXPECT_EQ(gui->setPin(9, 0, 4, &level), mpapi::MP_RESULT_FAIL);
    EXPECT_EQ(gui->notifyPin(2, 0), 0);  // an empty handler binds nothing
    EXPECT_EQ(gui->notifyPin(9, 0), mpapi::MP_RESULT_FAIL);

    while (gui->release() > 0) {}
    EXPECT_EQ(host.refs, 0);
}

} // namespace
