// What the program-change utilities share: the commit note that makes them issue their program
// change, the trigger note they answer a program change with, the program change they send, and
// the family base of the senders gated by the commit note.
#pragma once

#include "Midi/MidiBytes.h"
#include "MpProcessing.h"

#include <cstdint>

namespace program_change {

inline constexpr uint8_t kCommitNote = 9;
inline constexpr uint8_t kTriggerNote = 60;
inline constexpr uint8_t kTriggerVelocity = 127;

// A note-on for note 9 with a velocity above 0, any channel. The velocity is tested on the raw
// message, so a silent note 9 never commits.
inline bool isCommitNote(const midi::Message& m)
{
    return m.kind() == midi::kNoteOn && m.data1 == kCommitNote && m.data2 > 0;
}

// [0xC0, program, third] at position (the event's position when -1).
inline void sendProgram(MidiOutPin& out, uint8_t program, uint8_t third = 0, int32_t position = -1)
{
    midi::send(out, midi::kProgramChange, program, third, position);
}

// [0x90, 60, 127].
inline void sendTriggerNote(MidiOutPin& out)
{
    midi::send(out, midi::kNoteOn, kTriggerNote, kTriggerVelocity);
}

// Family base of the program senders gated by the commit note: MIDI in, MIDI out, the program pin
// (any further pins are the leaf's). Nothing passes. On a commit note, once the program pin has had
// a value, the leaf's program(pinProgram) goes out as a program change; pinProgram is the pin's low
// 16 bits, signed (midi::modeOf).
template <class Module>
class CommitGatedSender : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kProgram };

    CommitGatedSender()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kProgram, programPin_);
    }

    void onSetPins() override { notePinValue(); }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        notePinValue();  // a value arriving with the message counts for it
        const uint8_t program = static_cast<const Module*>(this)->program(midi::modeOf(programPin_.value));
        if (programKnown_ && isCommitNote(midi::Message::read(bytes, size)))
            sendProgram(midiOut_, program);
    }

private:
    void notePinValue()
    {
        if (programPin_.isUpdated)
            programKnown_ = true;
    }

    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    IntInPin programPin_;

    bool programKnown_ = false;  // the program pin has had a value
};

} // namespace program_change
