// The controller dump's values: exact bytes for known slot values, the end points of every
// row's range, and data bytes that never leave 0..127.
#include "PresetStore/ControllerDump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using controller_dump::computeDump;
using controller_dump::kMessages;
using controller_dump::kRows;
using controller_dump::Message;

// Slot, controller, and the slot values that map onto 0 and onto 127, in sending order, five rows
// a line.
struct Ends {
    int slot;
    int controller;
    float forZero;
    float for127;
};
const Ends kEnds[kMessages] = {
    {0, 84, 0.017, 0.1}, {1, 97, 0, 1}, {2, 80, -4, 10}, {3, 75, -4, 10}, {4, 18, 0, 3},
    {5, 17, 0, 0.01}, {6, 118, 0, 5}, {7, 85, -5, 15}, {8, 120, 0.05, 0.26}, {9, 10, 2, 7},
    {12, 70, 0, 10}, {13, 81, -4, 10}, {14, 76, -4, 10}, {15, 30, 0, -12}, {16, 41, 0, 1},
    {17, 45, 0, 10}, {18, 43, 0, 3}, {19, 44, 0, 10}, {20, 40, 0, 1}, {21, 89, 0, 10},
    {22, 72, 0, 1}, {23, 24, 1, 0}, {24, 108, 0, 1}, {25, 105, 0, 1}, {26, 23, 1, 0},
    {27, 106, 0, 2}, {30, 123, 1, 3}, {31, 73, 0, 1}, {32, 109, 0, 1}, {33, 20, 47, 53.5},
    {34, 94, 1, -3}, {35, 21, 0, 2}, {36, 26, 0.04, 0.26}, {37, 29, 0, 1}, {38, 27, 0, 1},
    {39, 28, 0, 1}, {40, 104, 0, 5}, {41, 39, 0, 2}, {42, 107, 0, 1}, {43, 31, 0, 1},
    {44, 122, 0, 1}, {45, 8, 0, 1}, {46, 9, 0, 1}, {47, 65, 0, 1}, {48, 68, 0, 5},
    {50, 88, -0.0833, 0.0833}, {52, 103, 0, 1}, {53, 79, 0, 0.5}, {54, 90, 1, 0}, {55, 32, 0, 0.1},
    {56, 91, 1, -1}, {60, 22, 1, 0}, {61, 2, 0, 1}, {62, 19, 0, -0.05}, {63, 102, 0, 1},
    {64, 74, 0, 0.5}, {65, 57, 0, 1}, {66, 117, 1, 0}, {67, 92, 1, 0}, {68, 121, 0, 1},
    {69, 93, 0, 2}, {71, 95, 1, -5}, {72, 69, 0, 1}, {73, 111, -5, 5}, {74, 112, -5, 5},
    {75, 113, -5, 5}, {76, 114, -5, 5}, {77, 115, -5, 5}, {78, 116, -5, 5}, {79, 12, 0, 5.26},
    {80, 11, 0, -5.26}, {82, 3, 1, 3}, {83, 25, 0, 1}, {84, 5, 0, 23}, {85, 14, 0, 6},
    {86, 119, 0, 6}, {87, 15, 0, 10}, {88, 49, 1, 0}, {89, 50, 0.083333, 0}, {90, 83, -4, 10},
    {91, 78, -4, 10}, {92, 71, 0, 9.88}, {93, 42, 0, 1}, {94, 48, 0, 10}, {95, 46, 0, 10},
    {96, 47, 0, 10}, {97, 126, 0, 1}, {98, 82, 0, 10}, {99, 77, 0, 10}, {100, 13, 0, 1},
    {101, 110, 0, 1}, {102, 87, 0, 3}, {103, 4, 0, 1}, {122, 51, -1, 1}, {123, 52, -1, 1},
    {124, 53, -1, 1}, {125, 54, -1, 1}, {126, 55, -1, 1}, {127, 56, -1, 1}, {128, 127, -5, 5},
    {129, 66, 0, -5}, {130, 67, 0, 2}, {131, 86, 0, 6}, {132, 7, 0, 10}, {133, 96, 0, 5},
    {134, 16, 0.0001, 0.02}, {135, 125, 0, 1}, {136, 124, 0.05, 0.3}, {137, 58, 0, 1}, {138, 59, 0, 1},
    {139, 60, 0, 1}, {140, 61, 0, 1}, {141, 62, 0, 1}, {142, 63, 0, 1},
};

std::array<Message, kMessages> dumpOf(const float (&slots)[PresetBlock::kSlots])
{
    std::array<Message, kMessages> out{};
    computeDump(slots, out);
    return out;
}

// The rows are sent in their fixed order, each reading its own slot and mapping the ends of its
// parameter's range onto 0 and 127. In four double rows the float32 nearest to the upper end lies
// just below it (0.01f, 0.26f, 0.02f), so they give 126.
TEST(ControllerDump, RowsMapTheirSlotsRangeOntoZeroTo127)
{
    for (int i = 0; i < kMessages; ++i) {
        const int row = i + 1;
        const int top = (row == 6 || row == 9 || row == 33 || row == 106) ? 126 : 127;
        float slots[PresetBlock::kSlots] = {};
        slots[kEnds[i].slot] = kEnds[i].forZero;
        const Message forZero{0xB0, static_cast<std::uint8_t>(kEnds[i].controller), 0};
        EXPECT_EQ(dumpOf(slots)[i], forZero) << "row " << row;
        slots[kEnds[i].slot] = kEnds[i].for127;
        EXPECT_EQ(dumpOf(slots)[i][2], top) << "row " << row;
    }
}

// A block of zeros: offsets show through, and rows whose formula goes negative (row 1: -26, row
// 30: -918) send 0 instead of a byte of 0x80 or more.
TEST(ControllerDump, ZeroBlock)
{
    const float zeros[PresetBlock::kSlots] = {};
    const auto dump = dumpOf(zeros);

    int expected[kMessages + 1];  // by row number, 1-based
    std::fill(std::begin(expected), std::end(expected), 0);
    for (int row : {3, 4, 12, 13, 80, 81})
        expected[row] = 36;
    for (int row : {8, 31})
        expected[row] = 31;
    for (int row : {46, 51, 64, 65, 66, 67, 68, 69, 94, 95, 96, 97, 98, 99, 100})
        expected[row] = 63;
    expected[62] = 21;
    for (int row : {22, 25, 49, 52, 58, 59, 78, 79})
        expected[row] = 127;

    for (int i = 0; i < kMessages; ++i)
        EXPECT_EQ(dump[i][2], expected[i + 1]) << "row " << i + 1;
}

// Single-precision and double-precision rows keep their own rounding.
TEST(ControllerDump, ArithmeticOfEachKind)
{
    float slots[PresetBlock::kSlots] = {};
    slots[0] = 0.1f;        // double row: 127.0000023
    slots[2] = 2.44f;       // float: 6.44f x 9.071428f
    slots[8] = 0.191015f;   // double: (p - 0.05) x 604.76...
    slots[33] = 50.0f;      // float add, double multiply: 3 x 19.538 = 58.6
    slots[53] = 0.25f;      // double x 254
    slots[84] = 10.0f;      // float x 5.521739
    slots[134] = 0.0101f;   // double: (p - 0.0001) x 6381.9
    const auto dump = dumpOf(slots);
    EXPECT_EQ(dump[0][2], 127);
    EXPECT_EQ(dump[2][2], 58);
    EXPECT_EQ(dump[8][2], 85);
    EXPECT_EQ(dump[29][2], 58);
    EXPECT_EQ(dump[47][2], 63);
    EXPECT_EQ(dump[73][2], 55);
    EXPECT_EQ(dump[105][2], 63);
}

// Values outside a row's range, infinities and NaN: the byte stays in 0..127 and the conversion
// is defined (the sanitizer build checks the latter).
TEST(ControllerDump, OutOfRangeValuesAreHeldToMidiData)
{
    constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const std::pair<float, int> held[] = {{1.5f, 127}, {-0.5f, 0}, {-1.5f, 0}, {0.5f, 63},
                                          {kNan, 0},    {kInf, 127}, {-kInf, 0}};
    for (const auto& [value, expected] : held)
        EXPECT_EQ(controller_dump::controllerValue(kRows[1], value), expected) << value;  // slot 1, p x 127
    EXPECT_EQ(controller_dump::controllerValue(kRows[13], -1e10f), 127);  // negative factor

    constexpr float kMax = std::numeric_limits<float>::max();
    const float odd[] = {kNan, -kNan, kInf, -kInf, kMax, -kMax, 1e10f, -1e10f, std::numeric_limits<float>::denorm_min(), -0.0f};
    for (float v : odd) {
        float slots[PresetBlock::kSlots];
        std::fill(std::begin(slots), std::end(slots), v);
        for (const Message& m : dumpOf(slots)) {
            EXPECT_EQ(m[0], 0xB0);
            EXPECT_LE(m[2], 127) << v;
        }
    }
}

} // namespace
