// The 114 rows of the controller dump and their arithmetic.
#include "PresetStore/ControllerDump.h"

namespace controller_dump {

namespace {
constexpr Arithmetic F = Arithmetic::Float;
constexpr Arithmetic D = Arithmetic::Double;
constexpr Arithmetic FD = Arithmetic::FloatAddDoubleMultiply;
} // namespace

// slot, controller, arithmetic, offset, factor
const std::array<Row, kMessages> kRows = {{
    {0, 84, D, -0.017, 1530.1204819277107},
    {1, 97, F, 0, 127},
    {2, 80, F, 4, 9.071428},
    {3, 75, F, 4, 9.071428},
    {4, 18, F, 0, 42.333332},
    {5, 17, D, 0, 12700},
    {6, 118, F, 0, 25.4},
    {7, 85, F, 5, 6.35},
    {8, 120, D, -0.05, 604.7619047619047},
    {9, 10, F, -2, 25.4},
    {12, 70, F, 0, 12.7},
    {13, 81, F, 4, 9.071428},
    {14, 76, F, 4, 9.071428},
    {15, 30, F, 0, -10.583333},
    {16, 41, F, 0, 127},
    {17, 45, F, 0, 12.7},
    {18, 43, F, 0, 42.333332},
    {19, 44, F, 0, 12.7},
    {20, 40, F, 0, 127},
    {21, 89, F, 0, 12.7},
    {22, 72, F, 0, 127},
    {23, 24, F, -1, -127},
    {24, 108, F, 0, 127},
    {25, 105, F, 0, 127},
    {26, 23, F, -1, -127},
    {27, 106, F, 0, 63.5},
    {30, 123, F, -1, 63.5},
    {31, 73, F, 0, 127},
    {32, 109, F, 0, 127},
    {33, 20, FD, -47, 19.53846153846154},
    {34, 94, F, -1, -31.75},
    {35, 21, F, 0, 63.5},
    {36, 26, D, -0.04, 577.2727272727273},
    {37, 29, F, 0, 127},
    {38, 27, F, 0, 127},
    {39, 28, F, 0, 127},
    {40, 104, F, 0, 25.4},
    {41, 39, F, 0, 63.5},
    {42, 107, F, 0, 127},
    {43, 31, F, 0, 127},
    {44, 122, F, 0, 127},
    {45, 8, F, 0, 127},
    {46, 9, F, 0, 127},
    {47, 65, F, 0, 127},
    {48, 68, F, 0, 25.4},
    {50, 88, D, 0.0833, 762.3049219687875},
    {52, 103, F, 0, 127},
    {53, 79, D, 0, 254},
    {54, 90, F, -1, -127},
    {55, 32, D, 0, 1270},
    {56, 91, F, -1, -63.5},
    {60, 22, F, -1, -127},
    {61, 2, F, 0, 127},
    {62, 19, D, 0, -2540},
    {63, 102, F, 0, 127},
    {64, 74, D, 0, 254},
    {65, 57, F, 0, 127},
    {66, 117, F, -1, -127},
    {67, 92, F, -1, -127},
    {68, 121, F, 0, 127},
    {69, 93, F, 0, 63.5},
    {71, 95, F, -1, -21.166666},
    {72, 69, F, 0, 127},
    {73, 111, F, 5, 12.7},
    {74, 112, F, 5, 12.7},
    {75, 113, F, 5, 12.7},
    {76, 114, F, 5, 12.7},
    {77, 115, F, 5, 12.7},
    {78, 116, F, 5, 12.7},
    {79, 12, D, 0, 24.14448669201521},
    {80, 11, D, 0, -24.14448669201521},
    {82, 3, F, -1, 63.5},
    {83, 25, F, 0, 127},
    {84, 5, F, 0, 5.521739},
    {85, 14, F, 0, 21.166666},
    {86, 119, F, 0, 21.166666},
    {87, 15, F, 0, 12.7},
    {88, 49, F, -1, -127},
    {89, 50, D, -0.083333, -1524.006096024384},
    {90, 83, F, 4, 9.071428},
    {91, 78, F, 4, 9.071428},
    {92, 71, D, 0, 12.854251012145747},
    {93, 42, F, 0, 127},
    {94, 48, F, 0, 12.7},
    {95, 46, F, 0, 12.7},
    {96, 47, F, 0, 12.7},
    {97, 126, F, 0, 127},
    {98, 82, F, 0, 12.7},
    {99, 77, F, 0, 12.7},
    {100, 13, F, 0, 127},
    {101, 110, F, 0, 127},
    {102, 87, F, 0, 42.333332},
    {103, 4, F, 0, 127},
    {122, 51, F, 1, 63.5},
    {123, 52, F, 1, 63.5},
    {124, 53, F, 1, 63.5},
    {125, 54, F, 1, 63.5},
    {126, 55, F, 1, 63.5},
    {127, 56, F, 1, 63.5},
    {128, 127, F, 5, 12.7},
    {129, 66, F, 0, -25.4},
    {130, 67, F, 0, 63.5},
    {131, 86, F, 0, 21.166666},
    {132, 7, F, 0, 12.7},
    {133, 96, F, 0, 25.4},
    {134, 16, D, -0.0001, 6381.909547738693},
    {135, 125, F, 0, 127},
    {136, 124, D, -0.05, 508},
    {137, 58, F, 0, 127},
    {138, 59, F, 0, 127},
    {139, 60, F, 0, 127},
    {140, 61, F, 0, 127},
    {141, 62, F, 0, 127},
    {142, 63, F, 0, 127},
}};

std::uint8_t controllerValue(const Row& row, float slotValue)
{
    double result = 0.0;
    switch (row.arithmetic) {
    case Arithmetic::Float:
        result = (slotValue + static_cast<float>(row.offset)) * static_cast<float>(row.factor);
        break;
    case Arithmetic::Double:
        result = (static_cast<double>(slotValue) + row.offset) * row.factor;
        break;
    case Arithmetic::FloatAddDoubleMultiply:
        result = static_cast<double>(slotValue + static_cast<float>(row.offset)) * row.factor;
        break;
    }
    // Held to the MIDI data range before the conversion, so no value (NaN, infinities, slots far
    // outside a parameter's range) ever sends a status-like byte or converts out of range.
    if (!(result > 0.0))
        return 0;
    if (result >= 127.0)
        return 127;
    return static_cast<std::uint8_t>(static_cast<int>(result));
}

void computeDump(const float (&slots)[PresetBlock::kSlots], std::array<Message, kMessages>& out)
{
    for (std::size_t i = 0; i < kRows.size(); ++i)
        out[i] = {0xB0, kRows[i].controller, controllerValue(kRows[i], slots[kRows[i].slot])};
}

void sendDump(const PresetBlock& block, MidiOutPin& out)
{
    sendDump(block, [&](const unsigned char* bytes) { out.send(bytes, 3, 0); });
}

void sendDump(const float (&slots)[PresetBlock::kSlots], MidiOutPin& out)
{
    sendDumpOf([&](int slot) { return slots[slot]; }, [&](const unsigned char* bytes) { out.send(bytes, 3, 0); });
}

} // namespace controller_dump
