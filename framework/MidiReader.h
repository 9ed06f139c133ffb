// Reads the bytes of one MIDI event as whole MIDI messages, the way every MIDI input hands them to
// its module. An event may hold any run of bytes: several messages, data bytes that lean on the
// running status, real-time bytes in the middle of a message. Rules, as MIDI states them:
// - a real-time byte (F8-FF) is a message of its own wherever it stands, delivered at once, so
//   before the message it interrupted; it leaves the running status alone;
// - a channel status byte becomes the pin's running status, kept from event to event, so data
//   bytes without a status of their own ([3E 64] after [90 3C 64], or [3C 64] after a lone [90])
//   are read under it; a system common or exclusive byte (F0-F7) cancels it;
// - SysEx is one message from F0 to F7, delivered whole (real-time bytes in it taken out, in
//   place); a status byte before its F7, or the event's end, makes it malformed;
// - F4, F5 and a stray F7 start no message; data bytes after them, or with no running status,
//   are dropped;
// - a message still short of data bytes when a status byte or the event's end comes is dropped,
//   bytes and all: they are never read as part of another message;
// - the bundle's modules treat an event as one message: an event of two or three bytes that
//   starts with a channel status byte and holds no real-time byte is that one message as it
//   stands, short or not, whatever its data bytes (a program change carries a third byte along,
//   the preset managers send program number 130 as [C0 82 00] and read it back); its odd bytes
//   start no other message, and it sets the running status;
// - the modules send every short message padded with zeros to three bytes, so an event of at most
//   three bytes that is one system message followed by zeros ([F8 00 00]) is that message alone.
// Nothing is ever allocated; a delivered message of fewer than three bytes reads as zeros up to
// its third byte. Every other message delivered is whole: a status byte and exactly its data
// bytes, or SysEx from F0 to F7.
#pragma once

#include <cstdint>

class MidiReader {
public:
    // The length of a message starting with status, status included: 1 to 3; 0 for a data byte,
    // for SysEx (F0, as long as it runs) and for bytes that start no message (F4, F5, F7).
    static constexpr int32_t lengthOf(uint8_t status)
    {
        if (status < 0x80)
            return 0;
        if (status < 0xF0)
            return (status & 0xE0) == 0xC0 ? 2 : 3;  // program change and channel pressure carry one byte
        switch (status) {
        case 0xF1:
        case 0xF3:
            return 2;
        case 0xF2:
            return 3;
        case 0xF6:
            return 1;
        case 0xF0:
        case 0xF4:
        case 0xF5:
        case 0xF7:
            return 0;
        default:
            return 1;  // real time
        }
    }

    // Calls deliver(unsigned char* message, int32_t size) once per whole message of bytes[0, size),
    // in order. SysEx bytes are delivered where they lie in bytes (which a SysEx holding
    // real-time bytes rewrites in place); every other message from a zero-padded copy.
    template <class Deliver>
    void read(unsigned char* bytes, int32_t size, Deliver&& deliver)
    {
        if (!bytes || size <= 0)
            return;
        if (isOneMessage(bytes, size)) {
            running_ = bytes[0];
            deliverShort(bytes, size, deliver);
            return;
        }
        Event event{bytes, withoutPadding(bytes, size)};
        for (int32_t i = 0; i < event.size; ++i)
            take(event, i, deliver);
    }

    // The event is one channel message as the modules send it: two or three bytes, a channel
    // status byte first, no real-time byte.
    static constexpr bool isOneMessage(const unsigned char* bytes, int32_t size)
    {
        if (size < 2 || size > 3 || bytes[0] < 0x80 || bytes[0] >= 0xF0)
            return false;
        return bytes[1] < 0xF8 && (size < 3 || bytes[2] < 0xF8);
    }

    // The pin's running status: the last channel status byte, 0 when none or cancelled.
    uint8_t runningStatus() const { return running_; }

private:
    struct Event {
        unsigned char* bytes;
        int32_t size;
        unsigned char message[3] = {};  // the message being gathered
        int32_t have = 0;               // its bytes so far, 0 when none
        int32_t exclusive = -1;         // where a SysEx being read starts, -1 when none
        int32_t write = 0;              // where its next byte goes
    };

    static int32_t withoutPadding(const unsigned char* bytes, int32_t size)
    {
        const int32_t length = lengthOf(bytes[0]);
        if (size > 3 || length == 0 || length >= size)
            return size;
        for (int32_t i = length; i < size; ++i)
            if (bytes[i] != 0)
                return size;
        return length;
    }

    template <class Deliver>
    static void deliverShort(const unsigned char* message, int32_t size, Deliver& deliver)
    {
        unsigned char padded[4] = {};
        for (int32_t i = 0; i < size; ++i)
            padded[i] = message[i];
        deliver(padded, size);
    }

    template <class Deliver>
    void take(Event& e, int32_t i, Deliver& deliver)
    {
        const unsigned char b = e.bytes[i];
        if (b >= 0xF8) {
            deliverShort(&b, 1, deliver);
            return;
        }
        if (e.exclusive >= 0) {
            if (b >= 0x80 && b != 0xF7) {
                e.exclusive = -1;  // cut off: dropped, and the status byte read afresh below
            } else {
                if (e.write != i)
                    e.bytes[e.write] = b;  // closes the gap of a real-time byte taken out
                ++e.write;
                if (b == 0xF7)
                    endExclusive(e, deliver);
                return;
            }
        }
        if (b >= 0x80)
            startMessage(e, i, b, deliver);
        else
            addData(e, b, deliver);
    }

    template <class Deliver>
    void startMessage(Event& e, int32_t i, unsigned char status, Deliver& deliver)
    {
        e.have = 0;
        if (status < 0xF0) {
            running_ = status;
        } else {
            running_ = 0;
            if (status == 0xF0) {
                e.exclusive = i;
                e.write = i + 1;
                return;
            }
            if (lengthOf(status) == 0)
                return;
        }
        e.message[0] = status;
        e.have = 1;
        finishIfWhole(e, deliver);
    }

    template <class Deliver>
    void addData(Event& e, unsigned char data, Deliver& deliver)
    {
        if (e.have == 0) {
            if (running_ == 0)
                return;
            e.message[0] = running_;
            e.have = 1;
        }
        e.message[e.have++] = data;
        finishIfWhole(e, deliver);
    }

    template <class Deliver>
    static void finishIfWhole(Event& e, Deliver& deliver)
    {
        if (e.have < lengthOf(e.message[0]))
            return;
        deliverShort(e.message, e.have, deliver);
        e.have = 0;
    }

    template <class Deliver>
    static void endExclusive(Event& e, Deliver& deliver)
    {
        const int32_t size = e.write - e.exclusive;
        unsigned char* start = e.bytes + e.exclusive;
        e.exclusive = -1;
        if (size < 3)
            deliverShort(start, size, deliver);
        else
            deliver(start, size);
    }

    uint8_t running_ = 0;
};
