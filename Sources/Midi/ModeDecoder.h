// What the two mode decoders share: a selector is a row number of a fixed table, and a value
// outside the table (negative or past its last row, whatever its low 16 bits) selects nothing.
#pragma once

#include "MpPins.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace mode_decoder {

// The row a selector names in a table of rows rows, or none.
inline std::optional<std::size_t> rowOf(int32_t selector, std::size_t rows)
{
    if (selector < 0 || static_cast<std::size_t>(selector) >= rows)
        return std::nullopt;
    return static_cast<std::size_t>(selector);
}

// Writes one row to its outputs in pin order; an output sends only when its value changes.
template <std::size_t N>
void writeRow(const std::array<FloatOutPin*, N>& outputs, const std::array<float, N>& row)
{
    for (std::size_t i = 0; i < N; ++i)
        *outputs[i] = row[i];
}

} // namespace mode_decoder
