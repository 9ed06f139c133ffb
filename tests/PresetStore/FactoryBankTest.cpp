// The factory bank: names and values keep every stated bound and count, and laying the bank
// into a manager's tables gives the stated names and memory.
#include "PresetStore/FactoryBank.h"
#include "PresetStore/PresetBank.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using factory_bank::kPresets;
using factory_bank::kValues;

std::vector<float> column(int slot)
{
    std::vector<float> values;
    for (int p = 0; p < kPresets; ++p)
        values.push_back(factory_bank::values(p)[slot]);
    return values;
}

std::set<float> distinct(int slot)
{
    const auto values = column(slot);
    return std::set<float>(values.begin(), values.end());
}

// Names: 10-23 letters, digits, spaces and hyphens, no space at either end, all different.
TEST(FactoryBankTest, Names)
{
    std::set<std::string> seen;
    for (int p = 0; p < kPresets; ++p) {
        const std::string name = factory_bank::name(p);
        EXPECT_GE(name.size(), 10u) << name;
        EXPECT_LE(name.size(), 23u) << name;
        EXPECT_NE(name.front(), ' ') << name;
        EXPECT_NE(name.back(), ' ') << name;
        for (const char c : name)
            EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '-')
                << name;
        EXPECT_NE(name, "Default");  // a loaded factory bank must end the start-up test
        seen.insert(name);
    }
    EXPECT_EQ(seen.size(), 128u);
}

// Values: the bounds and counts of each telling slot, the bank's extremes and its zeros.
TEST(FactoryBankTest, ValueBoundsAndCounts)
{
    const auto within = [](int slot, float low, float high) {
        for (float v : column(slot)) {
            EXPECT_GE(v, low) << "slot " << slot;
            EXPECT_LE(v, high) << "slot " << slot;
        }
    };
    const auto only = [](int slot, std::set<float> allowed) {
        for (float v : column(slot))
            EXPECT_TRUE(allowed.count(v)) << "slot " << slot << " holds " << v;
    };

    within(0, 0.017f, 0.1f);
    EXPECT_EQ(distinct(0).size(), 9u);
    const auto first = column(0);
    EXPECT_EQ(std::count(first.begin(), first.end(), 0.1f), 79);
    within(2, -4.0f, 8.03f);
    for (int slot : {3, 13, 14, 90, 91})
        within(slot, -4.0f, 10.0f);
    within(15, -12.0f, 0.0f);
    only(30, {1.0f});
    within(33, 47.0f, 53.5f);
    only(34, {-3.0f, 1.0f});
    for (int slot : {56, 71})
        only(slot, {-1.0f, 1.0f});
    for (int slot = 73; slot <= 78; ++slot) {
        within(slot, -5.0f, 5.0f);
        EXPECT_GE(distinct(slot).size(), 66u) << slot;
        EXPECT_LE(distinct(slot).size(), 75u) << slot;
    }
    only(128, {-5.0f, 5.0f});
    for (int slot : {6, 48, 133})
        only(slot, {0.0f, 5.0f});
    for (int slot : {85, 86, 131})
        only(slot, {0.0f, 6.0f});
    for (int slot : {10, 11, 40, 41, 49, 51, 70, 81, 104, 106, 108, 110, 111, 112, 113, 114, 115, 117, 119, 137})
        only(slot, {0.0f});
    for (int slot : {20, 23, 26, 31, 37, 38, 39, 43, 44, 45, 46, 47, 54, 57, 58, 59, 61, 66, 67, 69, 83, 88, 97, 100,
                     101, 103, 138, 139, 140, 141, 142})
        only(slot, {0.0f, 1.0f});

    float lowest = 0.0f;
    float highest = 0.0f;
    int zeros = 0;
    for (int p = 0; p < kPresets; ++p) {
        for (int k = 0; k < kValues; ++k) {
            const float v = factory_bank::values(p)[k];
            lowest = std::min(lowest, v);
            highest = std::max(highest, v);
            zeros += v == 0.0f;
        }
    }
    EXPECT_EQ(lowest, -12.0f);
    EXPECT_EQ(*distinct(15).begin(), -12.0f);
    EXPECT_EQ(highest, 53.5f);
    EXPECT_EQ(*distinct(33).rbegin(), 53.5f);
    EXPECT_EQ(zeros, 10819);

    const float start[] = {0.017f, 0.0f, 2.44f, 4.26f, 0.0f, 0.0f, 0.0f, -5.0f, 0.191015f, 2.0f};
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(factory_bank::values(0)[k], start[k]) << k;
}

// Laying the bank in: names in every slot, bank memory zeroed, 143 values per preset, slots
// 143-255 zero; the interface halves take the same names.
TEST(FactoryBankTest, LayInto)
{
    preset_bank::NameTable names;
    auto bank = std::make_unique<preset_bank::BankMemory>();
    for (int p = 0; p < preset_bank::kPresets; ++p)
        for (int k = 0; k < preset_bank::kSlots; ++k)
            bank->set(p, k, 7.0f);
    factory_bank::layInto(names, *bank);
    for (int p = 0; p < kPresets; ++p) {
        ASSERT_STREQ(names.name(p), factory_bank::name(p));
        for (int k = 0; k < kValues; ++k)
            ASSERT_EQ(bank->get(p, k), factory_bank::values(p)[k]);
        for (int k = kValues; k < preset_bank::kSlots; ++k)
            ASSERT_EQ(bank->get(p, k), 0.0f);
    }

    preset_bank::NameTable guiNames;
    factory_bank::layNamesInto(guiNames);
    for (int p = 0; p < kPresets; ++p)
        ASSERT_STREQ(guiNames.name(p), factory_bank::name(p));
}

} // namespace
