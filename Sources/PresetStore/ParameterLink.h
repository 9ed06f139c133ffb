// Family helpers of the parameter links, the small modules that tie one synth parameter to one
// slot of the shared preset block: the 10 ms poll clock, the two-poll debounce, the processing
// base of every link and the one of the two float links, and the twelve-pin mirror that both
// float links use as interface half.
#pragma once

#include "Common/SampleCount.h"
#include "Common/SampleCountdown.h"
#include "Common/TaggedValue.h"
#include "MpInterface.h"
#include "MpProcessing.h"
#include "PresetStore/PresetBlock.h"

#include <cstdint>

namespace parameter_link {

inline constexpr float kPollSeconds = 0.01f;
// Each slot is polled while fewer samples of the period are left than (slot + 1) x 10 us, so
// the slots are not all read in the same call.
inline constexpr float kSlotStaggerSeconds = 0.00001f;

inline bool validSlot(int32_t slot) { return slot >= 0 && slot < PresetBlock::kSlots; }

// Sample countdown to the end of each 10 ms poll period.
class PollClock {
public:
    void start(float sampleRate)
    {
        sampleRate_ = sampleRate;
        countdown_.start(period());
    }

    int32_t period() const { return samplesIn(kPollSeconds, sampleRate_); }
    int32_t countdown() const { return countdown_.left(); }

    // Advances the clock over one sub-process call of frames samples; true when slot is to be
    // polled in this call. The call that ends a period polls every slot: when the call lengths
    // add up exactly to the period the countdown stops at 0, and the lowest slots, whose
    // threshold is 0, would otherwise never be read.
    bool advance(int32_t frames, int32_t slot)
    {
        const bool periodEnds = !countdown_.step(frames);
        bool poll = false;
        if (validSlot(slot)) {
            const int32_t threshold = samplesIn(static_cast<float>(slot + 1) * kSlotStaggerSeconds, sampleRate_);
            poll = countdown_.left() < threshold || periodEnds;
        }
        periodEnded_ = periodEnds;
        if (periodEnds)
            countdown_.start(period());  // the overshoot is not carried over
        return poll;
    }

    // Whether the last advance ended a period.
    bool periodEnded() const { return periodEnded_; }

private:
    float sampleRate_ = 0.0f;
    SampleCountdown countdown_;  // samples left in the period
    bool periodEnded_ = false;
};

// A slot change is passed on at the first poll that reads the same value as the poll before it,
// so a block that a manager is half way through rewriting is never passed on.
class TwoPollDebounce {
public:
    // A change is waiting and v held still since the last poll (a NaN never holds still).
    bool settled(float v) const { return changed_ && v == lastRead_; }
    void passedOn() { changed_ = false; }
    // Ends a poll that read v; a difference is counted as a change only when countChange.
    void read(float v, bool countChange = true)
    {
        if (!(v == lastRead_) && countChange)
            changed_ = true;
        lastRead_ = v;
    }

    float lastRead() const { return lastRead_; }
    bool changed() const { return changed_; }

private:
    float lastRead_ = 0.0f;
    bool changed_ = false;
};

// The patch module's halves exchange the slot value as tagged value text ("d%f").
using number_text::formatTaggedValue;
using number_text::kTaggedTextBytes;
using number_text::readTaggedValue;

// --- Processing base of every link -----------------------------------------------------------

// What the three links share: the poll runs in the link's sub-process from open on, kept awake by
// the keep-alive output's streaming, and the shared block is opened at every graph start after
// the first updates of the outputs. Each link keeps its own pins and its write and poll rules.
class LinkBase : public MpBase {
public:
    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(poll_);
        blockLength_ = getBlockLength();
        clock_.start(getSampleRate());
        return mpapi::MP_RESULT_OK;
    }

    void onGraphStart() override
    {
        MpPluginBase::onGraphStart();
        block_.open(host);
    }

protected:
    // poll: the link's sub-process, installed by open.
    template <class Link>
    explicit LinkBase(void (Link::*poll)(int, int)) : poll_(static_cast<SubProcess>(poll))
    {
    }

    PresetBlock block_;
    PollClock clock_;
    TwoPollDebounce debounce_;
    int32_t blockLength_ = 0;  // samples

private:
    SubProcess poll_;
};

// --- Processing base of the float links -----------------------------------------------------

// Module supplies static bool passesOn(float v): whether a settled slot value may go to the
// outputs.
template <class Module>
class FloatLink : public LinkBase {
public:
    enum Pin { kValueIn, kValueOut, kSlot, kKeepAlive, kValueOutCopy };

    FloatLink() : LinkBase(&FloatLink::subProcess)
    {
        initializePin(kValueIn, valueIn_);
        initializePin(kValueOut, valueOut_);
        initializePin(kSlot, slot_);
        initializePin(kKeepAlive, keepAlive_);
        initializePin(kValueOutCopy, valueOutCopy_);
    }

    // The parameter moved: pass it on and store it in the slot. A new slot index alone writes
    // nothing.
    void onSetPins() override
    {
        if (!valueIn_.isUpdated)
            return;
        valueOut_ = valueIn_;
        valueOutCopy_ = valueIn_;
        if (validSlot(slot_.value))
            block_.set(slot_.value, valueIn_.value);
    }

    void subProcess(int /*offset*/, int frames)
    {
        const int32_t slot = slot_.value;
        if (!clock_.advance(frames, slot) || !block_.isOpen())
            return;
        const float v = block_.get(slot);
        if (debounce_.settled(v) && Module::passesOn(v)) {
            valueOut_.setValue(v, 0);
            valueOutCopy_.setValue(v, 0);
            debounce_.passedOn();
        }
        debounce_.read(v);
    }

private:
    FloatInPin valueIn_;
    FloatOutPin valueOut_;
    IntInPin slot_;
    AudioOutPin keepAlive_;  // never written
    FloatOutPin valueOutCopy_;
};

// --- Interface half of the float links ------------------------------------------------------

// Six pairs of pins; a value arriving on either pin of a pair is copied to the other, which
// transmits only when it changes, so the copy back transmits nothing.
class MirrorGui : public MpGuiBase {
public:
    enum Pin {
        kValueIn,
        kNameIn,
        kMenuItemsIn,
        kMenuSelectionIn,
        kMouseDownIn,
        kAnimationIn,
        kName,
        kValue,
        kAnimationPosition,
        kMenuItems,
        kMenuSelection,
        kMouseDown,
    };

    MirrorGui()
    {
        initializePin(kValueIn, valueIn_, &MirrorGui::onValueInChanged);
        initializePin(kNameIn, nameIn_, &MirrorGui::onNameInChanged);
        initializePin(kMenuItemsIn, menuItemsIn_, &MirrorGui::onMenuItemsInChanged);
        initializePin(kMenuSelectionIn, menuSelectionIn_, &MirrorGui::onMenuSelectionInChanged);
        initializePin(kMouseDownIn, mouseDownIn_, &MirrorGui::onMouseDownInChanged);
        initializePin(kAnimationIn, animationIn_, &MirrorGui::onAnimationInChanged);
        initializePin(kName, name_, &MirrorGui::onNameChanged);
        initializePin(kValue, value_, &MirrorGui::onValueChanged);
        initializePin(kAnimationPosition, animationPosition_, &MirrorGui::onAnimationPositionChanged);
        initializePin(kMenuItems, menuItems_, &MirrorGui::onMenuItemsChanged);
        initializePin(kMenuSelection, menuSelection_, &MirrorGui::onMenuSelectionChanged);
        initializePin(kMouseDown, mouseDown_, &MirrorGui::onMouseDownChanged);
    }

    int32_t initialize() noexcept override
    {
        // The zero in between makes the animation position go out at start-up even when it
        // already holds the input's value.
        animationPosition_ = animationIn_.getValue();
        animationPosition_ = 0.0f;
        animationPosition_ = animationIn_.getValue();
        value_ = valueIn_.getValue();
        return mpapi::MP_RESULT_OK;
    }

    int32_t receiveMessageFromAudio(int32_t, int32_t size, void* data) noexcept override
    {
        float value = 0.0f;
        if (readTaggedValue(size, data, value))
            valueIn_ = value;
        return mpapi::MP_RESULT_OK;
    }

    void onValueInChanged() { value_ = valueIn_; }
    void onNameInChanged() { name_ = nameIn_.getValue(); }
    void onMenuItemsInChanged() { menuItems_ = menuItemsIn_.getValue(); }
    void onMenuSelectionInChanged() { menuSelection_ = menuSelectionIn_; }
    void onMouseDownInChanged() { mouseDown_ = mouseDownIn_; }
    void onAnimationInChanged() { animationPosition_ = animationIn_; }
    void onNameChanged() { nameIn_ = name_.getValue(); }
    void onValueChanged() { valueIn_ = value_; }
    void onAnimationPositionChanged() { animationIn_ = animationPosition_; }
    void onMenuItemsChanged() { menuItemsIn_ = menuItems_.getValue(); }
    void onMenuSelectionChanged() { menuSelectionIn_ = menuSelection_; }
    void onMouseDownChanged() { mouseDownIn_ = mouseDown_; }

private:
    MpGuiPin<float> valueIn_;
    StringGuiPin nameIn_;
    StringGuiPin menuItemsIn_;
    MpGuiPin<int32_t> menuSelectionIn_;
    MpGuiPin<bool> mouseDownIn_;
    MpGuiPin<float> animationIn_;
    StringGuiPin name_;
    MpGuiPin<float> value_;
    MpGuiPin<float> animationPosition_;
    StringGuiPin menuItems_;
    MpGuiPin<int32_t> menuSelection_;
    MpGuiPin<bool> mouseDown_;
};

} // namespace parameter_link
