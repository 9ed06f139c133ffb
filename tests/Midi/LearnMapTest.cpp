// The learn map's "Controllers.txt" format on its own, away from the module.
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

} // namespace
