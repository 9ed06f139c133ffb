// The result filters of the category manager's index on the library's worked example. Paging and
// the index over whole libraries are driven through the module in Qv_patchmanagerprescatTest.cpp.
#include "CategoryBrowser/PresetIndex.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

    // Tags count as whole words only: the user's "#array" and "#favourite" are no tags.
    const std::string words = "Mix #array #favourite,,Presets/Mix #array #favourite";
    EXPECT_FALSE(passes(words, 1, false, false));
    EXPECT_FALSE(passes(words, 0, true, false));
    EXPECT_TRUE(passes(words, 0, false, true));
    EXPECT_TRUE(passes("Thing,,Pads #pa/Thing", 12, false, false));  // a folder's tag counts
    EXPECT_FALSE(passes("Mix #fav,x,,Presets/Mix #fav,x", 0, true, false));
}

// The index sorts whole entries as unsigned bytes, whichever order the folders are read in:
// entries alike in their first 16 bytes by the rest (" " before ","), 8-bit names last; empty
// slots and names with "--" left out.
TEST(PresetIndex, EntriesSortedAsBytes)
{
    test_support::TemporaryFolder root("tavrin-index");
    for (const char* file : {"b/Same display name b", "a/Same display name a", "Same display name", "c/d/\xc3\xa9",
                             "Zed #ar", "c/#003 empty", "c/x--y", "1 #003 One"}) {
        std::filesystem::create_directories((root.path() / file).parent_path());
        std::ofstream(root.path() / (std::string(file) + ".tavpreset")) << "";
    }
    PresetIndex index;
    index.rescan(root.path().c_str(), false);
    index.filter(FilterRules{});
    preset_bank::NameTable names(preset_bank::kWideNameSlotBytes);
    index.writePage(0, names);
    std::vector<std::string> shown;
    for (int row = 0; row < 7; ++row)
        shown.emplace_back(names.view(row));
    EXPECT_EQ(shown, (std::vector<std::string>{"1 #003 One", "a/Same display name a", "b/Same display name b", "Same display name",
                                               "Zed #ar", "c/d/\xc3\xa9", preset_bank::kEmptyName}));
}

} // namespace
