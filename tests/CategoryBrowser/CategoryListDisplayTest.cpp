// How list and folder texts are shown: markers, display entries, the 25-character cut and the
// folder names, checked on the parsing functions themselves where exact bytes are easier to see.
#include "CategoryBrowser/CategoryListDisplay.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace prescat::display;

namespace {

// Markers: "#ddd " and "#ddd# " anywhere, three digits exactly; tags only as whole words (a space
// or the end after them), so the user's own "#array" or "#favourite" is shown as it is.
TEST(CategoryListDisplay, Markers)
{
    EXPECT_EQ(withoutNumberPrefixes("#001 A #002# B #12 C #1234 D ##003 E"), "A B #12 C #1234 D #E");
    EXPECT_EQ(withoutCategoryTags("X # #arep"), "X # #arep");
    EXPECT_EQ(withoutCategoryTags("Pad #pa #sw #xx"), "Pad #xx");
    EXPECT_EQ(withoutCategoryTags("Mix #array #ar"), "Mix #array");
    EXPECT_EQ(withoutCategoryTags("Pads #pa/Pad #pa #pa"), "Pads/Pad");  // a folder's tag ends at "/"
    EXPECT_TRUE(hasFavouriteTag("A #fav"));
    EXPECT_FALSE(hasFavouriteTag("A#fav"));
    EXPECT_FALSE(hasFavouriteTag("#001 #favourite"));
    EXPECT_EQ(withoutFavouriteTag("A #fav #fav B"), "A B");
    EXPECT_EQ(withoutFavouriteTag("A #favs #fav"), "A #favs");

    Entry e = folderViewEntry("#001 Pad #favourite #pa");
    EXPECT_EQ(e.name, "Pad #favourite");
    EXPECT_EQ(e.display, "Pad #favourite");
    e = searchViewEntry("Mixes/Mix #array #br #fav", true);
    EXPECT_EQ(e.name, "Mixes/Mix #array");
    EXPECT_EQ(e.display, ".Mix #array");
}

TEST(CategoryListDisplay, StemAndFolderPart)
{
    EXPECT_EQ(stem("a/b\\c"), "c");
    EXPECT_EQ(folderPart("a/b\\c"), "a/b");
    EXPECT_EQ(stem("abc"), "abc");
    EXPECT_FALSE(hasFolderPart("abc"));
    EXPECT_EQ(folderPart("abc"), "");
    EXPECT_EQ(stem("a/"), "");
    EXPECT_EQ(folderPart("a/"), "a");
}

// Display entries of both views, with the 25-character cut after the favourite mark.
TEST(CategoryListDisplay, Entries)
{
    Entry e = folderViewEntry("#007 Fat Bass #ba");
    EXPECT_EQ(e.name, "Fat Bass");
    EXPECT_EQ(e.display, "Fat Bass");
    e = folderViewEntry("ABCDEFGHIJKLMNOPQRSTUVWXY #pa #fav");
    EXPECT_EQ(e.name, "ABCDEFGHIJKLMNOPQRSTUVWXY");
    EXPECT_EQ(e.display, ".ABCDEFGHIJKLMNOPQRSTUVWX");
    e = folderViewEntry(" #ar");
    EXPECT_EQ(e.name, "");
    EXPECT_EQ(e.display, "");

    e = searchViewEntry("Bass/#012# Fat Bass #ba #fav", true);
    EXPECT_EQ(e.name, "Bass/Fat Bass");
    EXPECT_EQ(e.display, ".Fat Bass");
    EXPECT_EQ(searchViewEntry("Bass/#012# Fat Bass #ba #fav", false).display, "Fat Bass");
    e = searchViewEntry("Leads/#003 Lead One #le", true);
    EXPECT_EQ(e.name, "Leads/Lead One");
    EXPECT_EQ(e.display, "Lead One");
    EXPECT_EQ(searchViewEntry("         PERCUSSIVE", true).display, "         PERCUSSIVE");
    EXPECT_EQ(searchViewEntry("         FAVOURITE ", true).name, "         FAVOURITE ");
    e = searchViewEntry("Pads/ABCDEFGHIJKLMNOPQRSTUVWXYZ1234", true);
    EXPECT_EQ(e.name, "Pads/ABCDEFGHIJKLMNOPQRSTUVWXYZ1234");
    EXPECT_EQ(e.display, "ABCDEFGHIJKLMNOPQRSTUVWXY");
}

// 25 characters, not bytes; a byte outside a well-formed sequence counts as one character, so the
// cut never keeps more than 4 bytes a character.
TEST(CategoryListDisplay, CharacterCut)
{
    std::string accented;
    for (int k = 0; k < 30; ++k)
        accented += "\xC3\xA9";
    EXPECT_EQ(firstChars(accented, 25), accented.substr(0, 50));
    const std::string stray = "a" + std::string(100, '\xA9');
    EXPECT_EQ(firstChars(stray, 25), stray.substr(0, 25));
    EXPECT_EQ(firstChars("\xF0\x9F\x8E\xB9" "bc", 2), "\xF0\x9F\x8E\xB9" "b");
    EXPECT_EQ(firstChars("ab\xE2\x82", 3), "ab\xE2");  // a cut-off sequence: one byte each
    EXPECT_EQ(folderViewEntry(stray).display, stray.substr(0, 25));
}

TEST(CategoryListDisplay, Pieces)
{
    EXPECT_EQ(listPieces(",;a,,b;c;"), (std::vector<std::string_view>{"a", "b", "c"}));
    std::string many;
    for (int k = 0; k < 200; ++k)
        many += "x" + std::to_string(k) + ",";
    const auto pieces = listPieces(many);
    ASSERT_EQ(pieces.size(), 128u);
    EXPECT_EQ(pieces[127], "x127");
}

// Folder names: cut at ","; 25 bytes survive, 26 or more end at 24; a trailing "," empties the
// next slot; slots the text does not reach keep their names; names past slot 127 all land there.
TEST(CategoryListDisplay, FolderNames)
{
    std::array<std::string, kPositions> folders;
    folders.fill("old");
    readFolderNames("A,ABCDEFGHIJKLMNOPQRSTUVWXY,ABCDEFGHIJKLMNOPQRSTUVWXYZ,ABCDEFGHIJKLMNOPQRSTUVWXYZ1234,", folders);
    EXPECT_EQ(folders[0], "A");
    EXPECT_EQ(folders[1], "ABCDEFGHIJKLMNOPQRSTUVWXY");
    EXPECT_EQ(folders[2], "ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_EQ(folders[3], "ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_EQ(folders[4], "");
    EXPECT_EQ(folders[5], "old");

    readFolderNames("", folders);
    EXPECT_EQ(folders[0], "A");

    std::string many;
    for (int k = 0; k < 130; ++k)
        many += (k ? "," : "") + std::string("f") + std::to_string(k);
    readFolderNames(many, folders);
    EXPECT_EQ(folders[126], "f126");
    EXPECT_EQ(folders[127], "f129");
}

} // namespace
