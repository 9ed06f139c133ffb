// A button that, when released, opens the web address or file name on its text pin with the
// user's default application, after the host has expanded it as a file name.
#include "GuiButtons.h"
#include "MpInterface.h"
#include "Opener.h"
#include "Utf8.h"

#include <wchar.h>

class Qv_openwebsiteGui : public MpGuiBase {
public:
    enum Pin { kTrigger, kAddress };
    static constexpr int32_t kMaxChars = 1024; // wide characters and bytes, terminator included

    Qv_openwebsiteGui()
    {
        initializePin(kTrigger, trigger_, &Qv_openwebsiteGui::onSetTrigger);
        initializePin(kAddress, address_);
    }

    void onSetTrigger()
    {
        if (release_.released(trigger_.getValue()))
            openAddress();
    }

private:
    // A name the host left unwritten or unterminated, or one too long for the byte limit, is not
    // opened: a cut name would open something the user did not ask for.
    void openAddress()
    {
        if (!host)
            return;
        wchar_t expanded[kMaxChars] = {};
        host->expandFileName(address_.getValue().c_str(), kMaxChars, expanded);
        const std::size_t length = ::wcsnlen(expanded, kMaxChars);
        if (length == kMaxChars)
            return;
        const std::string bytes = utf8::fromWide({expanded, length}, utf8::OnError::Replace);
        if (bytes.size() >= static_cast<std::size_t>(kMaxChars) || !platform::isOpenableTarget(bytes))
            return;
        platform::opener().open(bytes);
    }

    MpGuiPin<bool> trigger_;
    StringGuiPin address_;

    ReleaseButton release_;
};

MP_REGISTER_MODULE(Qv_openwebsiteGui, L"QV_OpenWebsite")
