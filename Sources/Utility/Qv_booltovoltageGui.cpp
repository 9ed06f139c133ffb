// Interface half of QV_BoolToVoltage: a switch choosing between two voltages, sent to the
// processing half as an audio level (volts / 10) at every notification of the switch and when the
// processing half announces itself. A voltage change alone waits for one of those.
#include "Common/TaggedValue.h"
#include "MpInterface.h"
#include "Utility/BridgeMessages.h"

class Qv_booltovoltageGui : public MpGuiBase {
public:
    enum Pin { kSwitch, kVoltsIfFalse, kVoltsIfTrue };

    Qv_booltovoltageGui()
    {
        initializePin(kSwitch, switch_, &Qv_booltovoltageGui::onSetBoolIn);
        initializePin(kVoltsIfFalse, voltsIfFalse_);
        initializePin(kVoltsIfTrue, voltsIfTrue_);
    }

    int32_t receiveMessageFromAudio(int32_t, int32_t size, void* data) noexcept override
    {
        if (number_text::hasTag(size, data, bridge::kReady[0]))
            outputValue();
        return mpapi::MP_RESULT_OK;
    }

    void onSetBoolIn() { outputValue(); }

    void outputValue()
    {
        const float level = (switch_.getValue() ? voltsIfTrue_.getValue() : voltsIfFalse_.getValue()) / 10.0f;
        char text[number_text::kTaggedMessageBytes];
        const int32_t size = number_text::formatTaggedValue(bridge::kToAudioTag, level, text);
        if (host)
            host->postMessageToAudio(bridge::kValueTextToAudio, size, text);
    }

private:
    MpGuiPin<bool> switch_;
    MpGuiPin<float> voltsIfFalse_;
    MpGuiPin<float> voltsIfTrue_;
};

MP_REGISTER_MODULE(Qv_booltovoltageGui, L"QV_BoolToVoltage")
