// Interface half of QV_TextToGui: puts the processing half's text on its text pin, which transmits
// it only when it differs.
#include "MpInterface.h"
#include "Utility/BridgeMessages.h"

#include <cstring>

class Qv_texttoguiGui : public MpGuiBase {
public:
    enum Pin { kText };

    Qv_texttoguiGui() { initializePin(kText, text_, &Qv_texttoguiGui::onSetText); }

    // The characters up to the first zero, at most size / 4 of them: the payload need not hold a
    // terminator, and an empty one (size 0, no data) is the empty text.
    int32_t receiveMessageFromAudio(int32_t, int32_t size, void* data) noexcept override
    {
        std::wstring text;
        if (data && size >= static_cast<int32_t>(sizeof(wchar_t))) {
            const auto* bytes = static_cast<const unsigned char*>(data);
            const std::size_t most = static_cast<std::size_t>(size) / sizeof(wchar_t);
            for (std::size_t i = 0; i < most; ++i) {
                wchar_t c;
                std::memcpy(&c, bytes + i * sizeof(wchar_t), sizeof c);
                if (c == L'\0')
                    break;
                text.push_back(c);
            }
        }
        text_ = text;
        return mpapi::MP_RESULT_OK;
    }

    void onSetText() {}

private:
    StringGuiPin text_;
};

MP_REGISTER_MODULE(Qv_texttoguiGui, L"QV_TextToGui")
