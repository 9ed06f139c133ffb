// Family bases of the voltage-to-GUI bridges (QV_VoltageToFloat, QV_VoltageToFloat_Out): the
// processing half reports its audio input in volts as "d%f" when it moves, the interface half
// shows it on a float pin. Both identifiers behave alike; each leaf only registers.
#pragma once

#include "Common/TaggedValue.h"
#include "MpInterface.h"
#include "MpProcessing.h"
#include "Utility/BridgeMessages.h"

// Audio floats carry volts with 1.0 standing for 10 V.
inline constexpr float kBridgeVoltsPerUnit = 10.0f;

class VoltageReporter : public MpBase {
public:
    enum Pin { kSignalIn };
    // Smaller moves (audio units) are not reported.
    static constexpr float kMinMove = 1e-6f;

    VoltageReporter() { initializePin(kSignalIn, signalIn_); }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&VoltageReporter::subProcess);
        return mpapi::MP_RESULT_OK;
    }

    // A streaming start or stop reports the sample at hand; the last report is not moved.
    void onSetPins() override
    {
        postVolts(signalIn_.getValue());
        setSubProcess(&VoltageReporter::subProcess);
    }

    // Only the first sample of a piece is looked at.
    void subProcess(int offset, int frames)
    {
        if (frames <= 0)
            return;
        const float x = signalIn_.getValue(offset);
        const float move = x - lastSent_;
        if (move > kMinMove || move < -kMinMove) {
            lastSent_ = x;
            postVolts(x);
        }
    }

    int32_t receiveMessageFromGui(int32_t id, int32_t, const void*) noexcept override
    {
        if (id == bridge::kValueRequest)
            postVolts(signalIn_.getValue());
        return mpapi::MP_RESULT_OK;
    }

private:
    void postVolts(float x)
    {
        char text[number_text::kTaggedMessageBytes];
        const int32_t size = number_text::formatTaggedValue(bridge::kToGuiTag, x * kBridgeVoltsPerUnit, text);
        if (host)
            host->postMessageToGui(bridge::kValueText, size, text);
    }

    AudioInPin signalIn_;

    float lastSent_ = 0.0f;  // audio units
};

class VoltageDisplayGui : public MpGuiBase {
public:
    enum Pin { kVolts };

    VoltageDisplayGui() { initializePin(kVolts, volts_); }

    // Asks the processing half for the value at hand once; later values come on their own.
    int32_t initialize() noexcept override
    {
        MpGuiBase::initialize();
        if (host)
            host->postMessageToAudio(bridge::kValueRequest, 0, nullptr);
        return mpapi::MP_RESULT_OK;
    }

    // The number after the first byte, whatever the tag, id and size; the pin transmits only a
    // changed value. A message without payload carries no value.
    int32_t receiveMessageFromAudio(int32_t, int32_t size, void* data) noexcept override
    {
        float value = 0.0f;
        if (number_text::readTaggedValue(size, data, value))
            volts_ = value;
        return mpapi::MP_RESULT_OK;
    }

private:
    MpGuiPin<float> volts_;
};
