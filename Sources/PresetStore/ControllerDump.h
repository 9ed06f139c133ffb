// The controller dump: after a preset has been copied into the shared preset block, a preset
// manager announces the new sound as 114 control changes [B0 cc v], one per dumped slot, each
// slot mapped onto 0..127 by a linear formula of its own. Shared by every manager that sends it.
#pragma once

#include "MpPins.h"
#include "PresetStore/PresetBlock.h"

#include <array>
#include <cstdint>

namespace controller_dump {

constexpr int kMessages = 114;

// How a row computes: Float rows work in single precision throughout, Double rows widen the slot
// value first, FloatAddDoubleMultiply adds in single precision and multiplies the widened sum.
enum class Arithmetic : std::uint8_t { Float, Double, FloatAddDoubleMultiply };

// One row: controller = (slot value + offset) x factor. The float constants are the float
// rounding of the double ones.
struct Row {
    std::uint8_t slot;
    std::uint8_t controller;
    Arithmetic arithmetic;
    double offset;
    double factor;
};

// The rows in sending order.
extern const std::array<Row, kMessages> kRows;

// [any thread] The data byte of one row for a slot value: the formula truncated toward zero and
// held to 0..127. A NaN gives 0; +infinity 127, -infinity 0.
std::uint8_t controllerValue(const Row& row, float slotValue);

using Message = std::array<std::uint8_t, 3>;

// [any thread] The whole dump for 256 slot values, in sending order.
void computeDump(const float (&slots)[PresetBlock::kSlots], std::array<Message, kMessages>& out);

// [audio thread] The dump of the slot values slot(k) gives, each message handed to
// send(const unsigned char* bytes) in order. Allocates nothing.
template <class Slot, class Send>
void sendDumpOf(Slot&& slot, Send&& send)
{
    for (const Row& row : kRows) {
        const unsigned char bytes[3] = {0xB0, row.controller, controllerValue(row, slot(row.slot))};
        send(bytes);
    }
}

// [audio thread] Reads the block and hands each message to send in order.
template <class Send>
void sendDump(const PresetBlock& block, Send&& send)
{
    sendDumpOf([&](int slot) { return block.get(slot); }, send);
}

// [audio thread] Sends the dump on a MIDI output, every message 3 bytes at block position 0: of
// the block, or of 256 slot values a module keeps for it.
void sendDump(const PresetBlock& block, MidiOutPin& out);
void sendDump(const float (&slots)[PresetBlock::kSlots], MidiOutPin& out);

} // namespace controller_dump
