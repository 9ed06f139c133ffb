// The notes one MIDI output has sent on and not yet off, per channel, so that a module can end
// what it started whatever its modes did since: a switch that stops notes still lets the note-off
// of a note it let through pass, a distributor ends a released note on every output still
// sounding it. Note numbers of 128 and more are no notes and are never tracked.
#pragma once

#include "Midi/MidiBytes.h"

#include <array>
#include <bitset>

class SoundingNotes {
public:
    // Sends m and notes what it starts or ends.
    void send(MidiOutPin& out, const midi::Message& m)
    {
        midi::send(out, m);
        if (!midi::isTableIndex(m.data1))
            return;
        if (m.isNoteOn())
            notes_[m.status & 0x0F].set(m.data1);
        else if (m.isNoteOff())
            notes_[m.status & 0x0F].reset(m.data1);
    }
    // m is a note-off (or silent note-on) for a note this output still sounds.
    bool ends(const midi::Message& m) const
    {
        return m.isNoteOff() && midi::isTableIndex(m.data1) && notes_[m.status & 0x0F][m.data1];
    }

private:
    std::array<std::bitset<midi::kNotes>, 16> notes_{};
};
