// The learn map's "Controllers.txt" format and its edits on their own, away from the module.
#include "Midi/LearnMap.h"

#include <gtest/gtest.h>

#include <random>
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

// Edits made while a map is read, merged, change any map read exactly as the same edits made one
// by one after it: a pair taken back only while it still holds, clears, stores over take-backs.
TEST(LearnMapEdits, MergedEditsActAsTheEditsInOrder)
{
    using learn_map::Edit;
    std::mt19937 random(7);
    // Few numbers, so that take-backs meet the values they test for.
    const auto number = [&] { return static_cast<uint8_t>(random() % 4); };
    for (int round = 0; round < 2000; ++round) {
        learn_map::MergedEdits merged;
        std::vector<Edit> edits;
        const int count = static_cast<int>(random() % 8);
        for (int i = 0; i < count; ++i) {
            const auto kind = random() % 10 == 0 ? Edit::kClear : random() % 2 ? Edit::kStore : Edit::kUnlearn;
            edits.push_back({kind, number(), number()});
            merged.add(edits.back());
        }
        EXPECT_EQ(merged.empty(), edits.empty());
        learn_map::Map read{};
        for (auto& entry : read)
            entry = static_cast<int32_t>(random() % 4);
        learn_map::Map oneByOne = read;
        for (const Edit& e : edits)
            learn_map::apply(e, oneByOne);
        merged.applyTo(read);
        ASSERT_EQ(read, oneByOne) << "round " << round;
    }
    // Numbers outside the map change nothing.
    learn_map::Map map{};
    map[5] = 9;
    learn_map::apply({Edit::kStore, 128, 1}, map);
    learn_map::apply({Edit::kUnlearn, 5, 200}, map);
    EXPECT_EQ(map[5], 9);
}

} // namespace
