// What the MIDI stream filters share: the frame a passing message leaves in, the controller
// selectors of the two controller-number filters and their family base, and the family base of
// the filters switched by a mode pin. Each filter keeps its own rule of what passes.
#pragma once

#include "Midi/MidiBytes.h"
#include "MpProcessing.h"

#include <array>
#include <cstdint>

namespace midi_filter {

// A message as the filters forward it: read zero-padded, a silent note-on taken as a note-off,
// sent on channel 1.
inline midi::Message framed(const unsigned char* bytes, int size)
{
    return midi::Message::read(bytes, size).withSilentNoteOnAsOff().onChannelOne();
}

// Int pins that each name one controller as its number + 1; 0, or anything outside 1..128,
// names none.
template <std::size_t Count>
class ControllerSelectors {
public:
    // [constructor] Registers the selectors under consecutive pin indexes from firstIndex.
    void registerPins(MpPluginBase& module, int32_t firstIndex)
    {
        for (std::size_t i = 0; i < Count; ++i)
            module.initializePin(firstIndex + static_cast<int32_t>(i), pins_[i]);
    }

    bool selects(uint8_t controller) const
    {
        for (const IntInPin& pin : pins_) {
            const int32_t selector = pin.value;
            if (selector >= 1 && selector <= midi::kNotes && selector - 1 == controller)
                return true;
        }
        return false;
    }

private:
    std::array<IntInPin, Count> pins_;
};

// Family base of the controller-number filters: MIDI in, MIDI out, four controller selectors.
// Every message is read zero-padded (a silent note-on stays a note-on) and sent on channel 1 when
// the leaf's passes(selected) allows it; selected is true for a control change of a selected
// controller.
template <class Module>
class ControllerFilter : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kFirstSelector };

    ControllerFilter()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        selectors_.registerPins(*this, kFirstSelector);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size).onChannelOne();
        if (Module::passes(m.isController() && selectors_.selects(m.data1)))
            midi::send(midiOut_, m);
    }

private:
    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    ControllerSelectors<4> selectors_;  // pins 2-5
};

// Family base of the filters switched by a mode pin: MIDI in, MIDI out, mode. The mode is read
// (midi::modeOf) as each message arrives and handed with the message to the leaf's
// filter(mode, bytes, size), which sends through midiOut_ what its rule lets pass.
template <class Module>
class ModeSwitchedFilter : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kMode };

    ModeSwitchedFilter()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kMode, modePin_);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        mode_ = midi::modeOf(modePin_.value);
        static_cast<Module*>(this)->filter(mode_, bytes, size);
    }

protected:
    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    IntInPin modePin_;

private:
    int16_t mode_ = 0;  // read at the last message
};

} // namespace midi_filter
