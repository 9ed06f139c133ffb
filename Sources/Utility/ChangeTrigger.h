// The interface side of the change triggers: four watched pins of different types whose every
// notification posts the module's value to its processing half as "v%f". Each leaf says which
// value (triggerValue) and may add pins of its own after the four.
#pragma once

#include "Common/TaggedValue.h"
#include "MpInterface.h"
#include "Utility/ChangeTriggerMessages.h"

template <class Module>
class ChangeWatchGui : public MpGuiBase {
public:
    enum Pin { kBoolIn, kFloatIn, kIntIn, kTextIn };

    ChangeWatchGui()
    {
        initializePin(kBoolIn, boolIn_, &ChangeWatchGui::onSetBoolIn);
        initializePin(kFloatIn, floatIn_, &ChangeWatchGui::onSetFloatIn);
        initializePin(kIntIn, intIn_, &ChangeWatchGui::onSetIntIn);
        initializePin(kTextIn, textIn_, &ChangeWatchGui::onSetTextIn);
    }

    // Whatever the new value: a notification is the change.
    void onSetBoolIn() { outputValue(); }
    void onSetFloatIn() { outputValue(); }
    void onSetIntIn() { outputValue(); }
    void onSetTextIn() { outputValue(); }

    void outputValue()
    {
        char text[number_text::kTaggedMessageBytes];
        const int32_t size = number_text::formatTaggedValue(change_trigger::kValueTag,
                                                        static_cast<const Module*>(this)->triggerValue(), text);
        if (host)
            host->postMessageToAudio(change_trigger::kValueText, size, text);
    }

private:
    MpGuiPin<bool> boolIn_;
    MpGuiPin<float> floatIn_;
    MpGuiPin<int32_t> intIn_;
    StringGuiPin textIn_;
};
