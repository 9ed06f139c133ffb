// Carries a text of up to 24 bytes in twelve float pins and back: a text notification writes all
// twelve floats, and once initialised any float notification rebuilds the text from all twelve.
// Texts travel as UTF-8 bytes, so characters beyond ASCII come back whole.
#include "Common/PinText.h"
#include "MpInterface.h"
#include "TextFloatCodec.h"
#include "Utf8.h"

#include <array>
#include <string_view>

class Qv_texttofloat24Gui : public MpGuiBase {
public:
    enum Pin { kText, kFirstFloat };

    Qv_texttofloat24Gui()
    {
        initializePin(kText, text_, &Qv_texttofloat24Gui::onSetText);
        for (int k = 0; k < text_codec::kFloats; ++k)
            initializePin(kFirstFloat + k, floats_[k], &Qv_texttofloat24Gui::onSetFloat);
    }

    int32_t initialize() noexcept override
    {
        startingUp_ = false;
        DecodeFloat();
        return mpapi::MP_RESULT_OK;
    }

    void onSetText()
    {
        // The text ends at its first zero character, as a C text would.
        std::wstring_view text = text_.getValue();
        text = text.substr(0, text.find(L'\0'));
        const std::string utf8 = utf8::fromWide(text, utf8::OnError::Replace);
        bytes_ = pin_text::cutAtCharBoundary(utf8, text_codec::kBytes);
        EncodeText();
    }

    // One handler serves all twelve float pins.
    void onSetFloat()
    {
        if (!startingUp_)
            DecodeFloat();
    }

    // All twelve floats at every run, by direct transmit: the pins' held values stay as the host
    // set them.
    void EncodeText()
    {
        const std::array<float, text_codec::kFloats> floats = text_codec::encode(bytes_);
        for (int k = 0; k < text_codec::kFloats; ++k)
            pinTransmit(kFirstFloat + k, sizeof(float), &floats[k], 0);
    }

    void DecodeFloat()
    {
        std::array<float, text_codec::kFloats> floats{};
        for (int k = 0; k < text_codec::kFloats; ++k)
            floats[k] = floats_[k].getValue();
        text_ = utf8::toWide(text_codec::decode(floats), utf8::OnError::Replace);
    }

private:
    StringGuiPin text_;
    std::array<MpGuiPin<float>, text_codec::kFloats> floats_;

    std::string bytes_;       // the text's first 24 bytes, for encoding
    bool startingUp_ = true;  // float changes do not rebuild the text before initialize
};

MP_REGISTER_MODULE(Qv_texttofloat24Gui, L"QV_TextToFloat24")
