// What the two mode decoders share: a selector is a row number of a fixed table, read like every
// mode pin from its low 16 bits, here unsigned; a number past the last row (negative values among
// them) selects nothing.
#pragma once

#include "MpPins.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace mode_decoder {

// The selector as the decoders keep it: the pin value's low 16 bits, unsigned.
inline uint16_t selectorOf(int32_t pinValue)
{
    return static_cast<uint16_t>(static_cast<uint32_t>(pinValue) & 0xFFFFu);
}

// The row a selector names in a table of rows rows, or none.
inline std::optional<std::size_t> rowOf(uint16_t selector, std::size_t rows)
{
    if (selector >= rows)
        return std::nullopt;
    return selector;
}

// Writes one row to its outputs in pin order; an output sends only when its value changes.
template <std::size_t N>
void writeRow(const std::array<FloatOutPin*, N>& outputs, const std::array<float, N>& row)
{
    for (std::size_t i = 0; i < N; ++i)
        *outputs[i] = row[i];
}

} // namespace mode_decoder
