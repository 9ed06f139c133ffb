// Processing half of QV_TextToGui: every update of its text pin goes to the interface half as
// wide characters with a zero terminator, cut to 255 characters.
#include "MpProcessing.h"
#include "Utility/BridgeMessages.h"

#include <algorithm>

class Qv_texttogui : public MpBase {
public:
    enum Pin { kText };
    static constexpr std::size_t kMaxCharacters = 255;
    static_assert(sizeof(wchar_t) == 4, "the message carries 4-byte characters");

    Qv_texttogui() { initializePin(kText, text_); }

    void onSetPins() override
    {
        if (!text_.isUpdated)
            return;
        const std::wstring& text = text_.getValue();
        const std::size_t count = std::min(text.size(), kMaxCharacters);
        std::copy_n(text.data(), count, message_);
        message_[count] = L'\0';
        if (host)
            host->postMessageToGui(bridge::kText, static_cast<int32_t>((count + 1) * sizeof(wchar_t)), message_);
    }

private:
    StringInPin text_;

    wchar_t message_[kMaxCharacters + 1] = {};  // the text and its terminator, at most 1024 bytes
};

MP_REGISTER_MODULE(Qv_texttogui, L"QV_TextToGui")
