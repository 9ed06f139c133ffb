// The category library's name rules on the library's own examples: index entries, the filters
// over them, re-tagging and favourite renames, names made safe for file names, entries that stay
// inside the library, and the directory lister's path order.
#include "CategoryBrowser/PresetIndex.h"
#include "CategoryBrowser/PresetLibrary.h"
#include "framework/HostTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

using namespace prescat;

namespace {

std::string entryOf(const std::string& relativeFile, bool keepTags = false)
{
    IndexEntry entry;
    return makeIndexEntry(relativeFile, keepTags, entry) ? std::string(entry.text) : std::string("(none)");
}

// Index entries: display without number prefixes and category tags (the favourite mark stays),
// the first number prefix, the relative path; empty slots and "--" are marked, overlong paths
// make no entry, and an overlong display is cut.
TEST(PresetLibrary, IndexEntries)
{
    EXPECT_EQ(entryOf("Presets/#012 Name #pa #fav.tavpreset"), "Name #fav,#012 ,Presets/#012 Name #pa #fav");
    EXPECT_EQ(entryOf("Presets/Lead One.tavpreset"), "Lead One,,Presets/Lead One");
    EXPECT_EQ(entryOf("Presets/#012 Name #pa #fav.tavpreset", true), "Name #pa #fav,#012 ,Presets/#012 Name #pa #fav");
    EXPECT_EQ(entryOf("Presets/Name.txt"), "(none)");
    EXPECT_EQ(entryOf(".tavpreset"), "(none)");

    IndexEntry entry;
    ASSERT_TRUE(makeIndexEntry("Bank/#003 empty.tavpreset", false, entry));
    EXPECT_TRUE(entry.emptySlot);
    ASSERT_TRUE(makeIndexEntry("2_SAVED/a--b.tavpreset", false, entry));
    EXPECT_TRUE(entry.dashes);
    EXPECT_TRUE(entry.inSaved);
    EXPECT_STREQ(entry.name, "a--b");

    // Commas in the name and its folders: the relative field is found by its position.
    IndexEntry commas;
    ASSERT_TRUE(makeIndexEntry("A, b/#004 C, d #pa.tavpreset", false, commas));
    EXPECT_STREQ(commas.text, "C, d,#004 ,A, b/#004 C, d #pa");
    EXPECT_STREQ(commas.text + commas.relativeAt, "A, b/#004 C, d #pa");

    const std::string longName(80, 'x');
    EXPECT_EQ(entryOf("F/" + longName + ".tavpreset"), std::string(15, 'x') + ",,F/" + longName);  // 99 bytes
    EXPECT_EQ(entryOf("F/" + std::string(97, 'x') + ".tavpreset"), "(none)");
}

// The worked example's two files: the first passes PADS and the favourite filter and fails EDIT
// mode; the second passes only without category and favourite filter, or in EDIT mode.
TEST(PresetLibrary, FilterRules)
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

// Renames: category before favourite, category 0 drops the tag, the favourite toggles.
TEST(PresetLibrary, Renames)
{
    EXPECT_EQ(retaggedName("Name #fav.tavpreset", 12), "Name #pa #fav.tavpreset");
    EXPECT_EQ(retaggedName("Name #pa #fav.tavpreset", 0), "Name #fav.tavpreset");
    EXPECT_EQ(retaggedName("Name #ba #le.tavpreset", 17), "Name #sw.tavpreset");
    EXPECT_EQ(favouriteToggledName("Name #pa #fav.tavpreset"), "Name #pa.tavpreset");
    EXPECT_EQ(favouriteToggledName("Name #pa.tavpreset"), "Name #pa #fav.tavpreset");
    EXPECT_EQ(safeNameComponent("../../evil"), ".._.._evil");
    EXPECT_EQ(safeNameComponent(".."), "_..");
    EXPECT_EQ(safeNameComponent(""), "_");
    EXPECT_TRUE(isInsideLibraryEntry("Presets/Name", true));
    EXPECT_FALSE(isInsideLibraryEntry("Presets/Name", false));
    EXPECT_FALSE(isInsideLibraryEntry("../Name", true));
    EXPECT_FALSE(isInsideLibraryEntry("Presets/../../x", true));
    EXPECT_FALSE(isInsideLibraryEntry("/etc/passwd", true));
    EXPECT_EQ(findNumberPrefix("a #12 #123 b"), 6u);
    EXPECT_FALSE(hasNumberPrefix("#123b"));
}

// Path order: a folder's files come after the folder's name and before a longer sibling name;
// bytes compare unsigned, so digits, capitals, lower case, then 8-bit names.
TEST(PresetLibrary, ListerWalksInPathOrder)
{
    testsupport::TemporarySharedFolder shared;
    const auto root = shared.path();
    for (const char* file : {"a b", "a/z", "a/b/c", "B", "\xc3\xa9", "1"}) {
        std::filesystem::create_directories((root / file).parent_path());
        std::ofstream(root / file) << "";
    }
    DirectoryLister lister;
    std::vector<std::string> seen;
    EXPECT_TRUE(lister.walk(root.c_str(), [&](std::string_view path, DirectoryLister::Kind) {
        seen.emplace_back(path);
        return true;
    }));
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "B", "a/b/c", "a/z", "a b", "\xc3\xa9"}));
    EXPECT_FALSE(lister.walk((root / "missing").c_str(), [](std::string_view, DirectoryLister::Kind) { return true; }));
}

} // namespace
