// Processing half of QV_BoolToVoltage: outputs the level its interface half selects, as a static
// audio level. It announces itself at open so the interface half sends the level at once.
#include "Common/NumberText.h"
#include "Common/TaggedValue.h"
#include "MpProcessing.h"
#include "Utility/BridgeMessages.h"

class Qv_booltovoltage : public MpBase {
public:
    enum Pin { kLevelOut };

    Qv_booltovoltage() { initializePin(kLevelOut, levelOut_); }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_booltovoltage::subProcess);
        if (host)
            host->postMessageToGui(bridge::kReadyText, sizeof bridge::kReady, bridge::kReady);
        return mpapi::MP_RESULT_OK;
    }

    void subProcess(int offset, int frames)
    {
        float* out = levelOut_.getBuffer();
        if (!out)
            return;
        for (int i = offset; i < offset + frames; ++i)
            out[i] = level_;
    }

    // The number after the first byte, whatever the tag, id and size; static from the start of
    // the block and written for one block length. A level that is no finite number becomes 0.0,
    // and a message without payload changes nothing.
    int32_t receiveMessageFromGui(int32_t, int32_t size, const void* data) noexcept override
    {
        float level = 0.0f;
        if (!number_text::readTaggedValue(size, data, level))
            return mpapi::MP_RESULT_OK;
        level_ = number_text::finiteFloat(level);
        levelOut_.setStreaming(false, 0);
        return mpapi::MP_RESULT_OK;
    }

private:
    AudioOutPin levelOut_;

    float level_ = 0.0f;  // audio units (1.0 = 10 V)
};

MP_REGISTER_MODULE(Qv_booltovoltage, L"QV_BoolToVoltage")
