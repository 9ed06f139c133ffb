// The outbox: answers leave in the order of their inputs; an owed answer holds later ones back
// until its job comes back, and a job nothing was owed for holds nothing.
#include "Common/Outbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct NoJob final : file_worker::Job {
    void run() noexcept override {}
};

TEST(Outbox, OwedAnswersHoldLaterOnesBackInOrder)
{
    outbox::Outbox<int, 8, 16> box;
    NoJob load, save, list;
    std::vector<std::string> sent;
    const auto flush = [&] {
        box.flush([&](int answer, std::string_view payload) { sent.push_back(std::to_string(answer) + std::string(payload)); },
                  [&](file_worker::Job& job) { sent.push_back(&job == &load ? "load" : "list"); });
    };
    EXPECT_TRUE(box.post(1, "a"));
    EXPECT_TRUE(box.owe(load));
    EXPECT_TRUE(box.post(2, "b"));
    EXPECT_TRUE(box.owe(list));
    EXPECT_TRUE(box.post(3));
    flush();
    EXPECT_EQ(sent, (std::vector<std::string>{"1a"}));
    EXPECT_TRUE(box.owing());

    box.cameBack(save);  // nothing was owed for it
    box.cameBack(list);  // not the first owed: nothing yet
    flush();
    EXPECT_EQ(sent.size(), 1u);
    box.cameBack(load);
    flush();
    EXPECT_EQ(sent, (std::vector<std::string>{"1a", "load", "2b"}));
    box.cameBack(list);
    flush();
    EXPECT_EQ(sent, (std::vector<std::string>{"1a", "load", "2b", "list", "3"}));
    EXPECT_TRUE(box.empty());
    EXPECT_FALSE(box.owing());

    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(box.post(i));
    EXPECT_FALSE(box.post(9));  // full: refused, nothing changed
    EXPECT_FALSE(box.owe(load));
    EXPECT_EQ(box.size(), 8u);
}

} // namespace
