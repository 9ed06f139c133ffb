// MIDI as the performance modules see it: every incoming message (whole, as the framework's
// MidiReader delivers it) is read as three bytes with the missing ones as 0, status tests look at
// the kind nibble only, and everything a module sends is exactly three bytes (a shorter message
// padded with zeros, which the reader takes as padding).
#pragma once

#include "MpPins.h"

#include <cmath>
#include <cstdint>

namespace midi {

enum Kind : uint8_t {
    kNoteOff = 0x80,
    kNoteOn = 0x90,
    kPolyPressure = 0xA0,
    kControlChange = 0xB0,
    kProgramChange = 0xC0,
    kChannelPressure = 0xD0,
    kPitchBend = 0xE0,
    kSystem = 0xF0,
};

inline constexpr int kNotes = 128;

// One incoming message, zero-padded to three bytes.
struct Message {
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;

    static Message read(const unsigned char* bytes, int size)
    {
        Message m;
        if (!bytes)
            return m;
        if (size > 0)
            m.status = bytes[0];
        if (size > 1)
            m.data1 = bytes[1];
        if (size > 2)
            m.data2 = bytes[2];
        return m;
    }

    uint8_t kind() const { return status & 0xF0; }
    bool isSystem() const { return kind() == kSystem; }
    bool isNoteOn() const { return kind() == kNoteOn && data2 > 0; }
    // A note-on with velocity 0 counts as a note-off.
    bool isNoteOff() const { return kind() == kNoteOff || (kind() == kNoteOn && data2 == 0); }
    bool isController() const { return kind() == kControlChange; }
    // The message as a module forwards it: a silent note-on becomes [0x80, note, 0].
    Message withSilentNoteOnAsOff() const
    {
        if (kind() == kNoteOn && data2 == 0)
            return {kNoteOff, data1, 0};
        return *this;
    }
    bool isProgramChange() const { return kind() == kProgramChange; }
    // The message on MIDI channel 1 (channel nibble 0). System messages (0xF0-0xFF) have no
    // channel: their low nibble is part of the status, so they keep it.
    Message onChannelOne() const { return {isSystem() ? status : kind(), data1, data2}; }
};

// A data byte that can index a 128-entry table (note, controller); 128 and more is no such
// number and is left untracked.
inline bool isTableIndex(uint8_t data) { return data < kNotes; }

// Sends three bytes at position (the event's block position when -1).
inline void send(MidiOutPin& out, uint8_t status, uint8_t data1, uint8_t data2, int32_t position = -1)
{
    const unsigned char bytes[3] = {status, data1, data2};
    out.send(bytes, 3, position);
}

inline void send(MidiOutPin& out, const Message& m, int32_t position = -1)
{
    send(out, m.status, m.data1, m.data2, position);
}

// The message of status at its own length (MidiReader::lengthOf): no padding byte after a
// two-byte message or a one-byte system message.
inline void sendAtLength(MidiOutPin& out, uint8_t status, uint8_t data1, uint8_t data2, int32_t position = -1)
{
    const unsigned char bytes[3] = {status, data1, data2};
    const int32_t length = MidiReader::lengthOf(status);
    out.send(bytes, length > 0 ? length : 3, position);
}

// One message per note 0 to 127 in ascending order: the all-notes sweep.
inline void sendAllNotes(MidiOutPin& out, uint8_t status, uint8_t velocity, int32_t position = -1)
{
    for (int note = 0; note < kNotes; ++note)
        send(out, status, static_cast<uint8_t>(note), velocity, position);
}

// A data byte clamped to 0-127; NaN gives 0.
inline uint8_t clampData(float value)
{
    if (!(value > 0.0f))
        return 0;
    if (value >= 127.0f)
        return 127;
    return static_cast<uint8_t>(value);
}

inline uint8_t clampData(int32_t value)
{
    return static_cast<uint8_t>(value < 0 ? 0 : value > 127 ? 127 : value);
}

// A control voltage as a data byte: trunc(cv x 127 + add), saturated to 0-127, NaN as 0.
inline uint8_t cvToData(float cv, float add = 0.0f)
{
    return clampData(cv * 127.0f + add);
}

// The mode pin's low 16 bits as a signed number, the form modules compare with their thresholds.
inline int16_t modeOf(int32_t pinValue)
{
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(pinValue) & 0xFFFFu));
}

} // namespace midi
