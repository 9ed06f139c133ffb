// The result filters of the category manager's index on the library's worked example. Paging and
// the index over whole libraries are driven through the module in Qv_patchmanagerprescatTest.cpp.
#include "CategoryBrowser/PresetIndex.h"

#include <gtest/gtest.h>

#include <string>

using namespace prescat;

namespace {

// The worked example's two files: the first passes PADS and the favourite filter and fails EDIT
// mode; the second passes only without category and favourite filter, or in EDIT mode.
TEST(PresetIndex, FilterRules)
{
    const std::string first = "Name #fav,#012 ,Presets/#012 Name #pa #fav";
    const std::string second = "Lead One,,Presets/Lead One";
    const auto passes = [](const std::string& text, int category, bool favourite, bool edit) {
        FilterRules rules;
        rules.category = category;
        rules.favouriteOnly = favourite;
        rules.editMode = edit;
        return passesFilter(text, rules);
    };
    EXPECT_TRUE(passes(first, 12, false, false));
    EXPECT_TRUE(passes(first, 0, true, false));
    EXPECT_FALSE(passes(first, 1, false, false));
    EXPECT_FALSE(passes(first, 0, false, true));
    EXPECT_TRUE(passes(second, 0, false, false));
    EXPECT_FALSE(passes(second, 12, false, false));
    EXPECT_FALSE(passes(second, 0, true, false));
    EXPECT_TRUE(passes(second, 5, true, true));
    EXPECT_FALSE(passes("a--b,,F/a--b", 0, false, true));
}

} // namespace
