// The learn map's "Controllers.txt" format and its edits on their own, away from the module.
#include "Midi/LearnMap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The file format on its own: exact bytes, and the reader's rules for odd lines.
TEST(LearnMapFile, FormatAndReader)
{
    learn_map::Map map{};
    map[0] = 127;
    map[100] = 5;
    map[101] = 128;  // cannot be written as an entry
    learn_map::FileText text;
    learn_map::format(map, text);
    const std::string bytes(text.data(), text.size());
    EXPECT_EQ(bytes.size(), 1152u);
    EXPECT_EQ(bytes.substr(0, 9), "  0,127\r\n");
    EXPECT_EQ(bytes.substr(100 * 9, 18), "100,  5\r\n101,  0\r\n");

    learn_map::Map read{};
    read.fill(9);
    learn_map::parse("  0, 12\r\nxx\r\n  2,+7junk\n  3,        1\n  4,99999999999999\n  5, 74", read);
    EXPECT_EQ(std::vector<int>(read.begin(), read.begin() + 7), (std::vector<int>{12, 0, 7, 0, 0, 74, 9}));
}

// The buttons' edits: a pair taken back only while it still holds; numbers outside the map
// change nothing.
TEST(LearnMapEdits, TakeBackOnlyWhileThePairHolds)
{
    using learn_map::Edit;
    learn_map::Map map{};
    learn_map::apply({Edit::kStore, 3, 7}, map);
    learn_map::apply({Edit::kUnlearn, 3, 8}, map);
    EXPECT_EQ(map[3], 7);
    learn_map::apply({Edit::kUnlearn, 3, 7}, map);
    EXPECT_EQ(map[3], 0);
    learn_map::apply({Edit::kStore, 4, 1}, map);
    learn_map::apply({Edit::kClear, 0, 0}, map);
    EXPECT_EQ(map, learn_map::Map{});
    // Numbers outside the map change nothing.
    map[5] = 9;
    learn_map::apply({Edit::kStore, 128, 1}, map);
    learn_map::apply({Edit::kUnlearn, 5, 200}, map);
    EXPECT_EQ(map[5], 9);
}

} // namespace
