// The ring the outbox's answers wait in: arrival order with payloads across the ring's end, and
// refusals that change nothing.
#include "Common/PayloadRing.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

struct Input {
    int id = 0;
};

template <class Ring>
std::vector<std::string> drain(Ring& held)
{
    std::vector<std::string> out;
    Input input;
    std::string_view payload;
    while (held.popFront(input, payload))
        out.push_back(std::to_string(input.id) + ":" + std::string(payload));
    return out;
}

TEST(PayloadRing, KeepsOrderAndPayloadsAcrossTheRingsEnd)
{
    payload_ring::PayloadRing<Input, 4, 10> held;
    EXPECT_TRUE(held.pushBack({1}, "abcd"));
    EXPECT_TRUE(held.pushBack({2}, "efg"));
    EXPECT_FALSE(held.pushBack({3}, "hijk"));  // 7 of 10 bytes used: no room, nothing changed
    EXPECT_EQ(held.size(), 2u);
    Input first;
    std::string_view payload;
    ASSERT_TRUE(held.popFront(first, payload));
    EXPECT_EQ(payload, "abcd");
    EXPECT_TRUE(held.pushBack({3}, "hijk"));  // wraps: starts at the ring's beginning
    EXPECT_FALSE(held.pushBack({4}, "x"));    // bytes 7-9 skipped: the ring is full
    EXPECT_TRUE(held.pushBack({4}));
    EXPECT_TRUE(held.pushBack({5}));
    EXPECT_FALSE(held.pushBack({6}));         // four items: full
    EXPECT_EQ(held.at(1)->id, 3);
    EXPECT_EQ(drain(held), (std::vector<std::string>{"2:efg", "3:hijk", "4:", "5:"}));
    EXPECT_TRUE(held.empty());
    for (int i = 0; i < 50; ++i) {  // the ring turns many times over without losing a byte
        const std::string text(static_cast<std::size_t>(i % 5 + 1), static_cast<char>('a' + i % 26));
        ASSERT_TRUE(held.pushBack({i}, text));
        if (i % 2) {
            ASSERT_EQ(drain(held).back(), std::to_string(i) + ":" + text);
        }
    }
    held.pushBack({1});
    held.clear();
    EXPECT_EQ(drain(held), std::vector<std::string>{});
}

} // namespace
