// The category library's name rules on the library's own examples: index entries, re-tagging
// and favourite renames, names made safe for file names, entries that stay inside the library,
// the directory lister's path order, and folders too big to list at once.
#include "CategoryBrowser/PresetLibrary.h"
#include "PrescatTestSupport.h"
#include "framework/HostTestSupport.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
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

// Renames: category before favourite, category 0 drops the tag, the favourite toggles. A name
// of tags only keeps a one-space stem (a listed name, not the hidden ".tavpreset"), and a
// numbered (factory) preset keeps its number prefix whole through every rename.
TEST(PresetLibrary, Renames)
{
    EXPECT_EQ(favouriteToggledName(" #fav.tavpreset"), " .tavpreset");
    EXPECT_EQ(favouriteToggledName(" .tavpreset"), " #fav.tavpreset");
    EXPECT_EQ(retaggedName(" #ar.tavpreset", 0), " .tavpreset");
    EXPECT_EQ(retaggedName(" .tavpreset", 1), " #ar.tavpreset");
    EXPECT_EQ(retaggedName(" #ar #fav.tavpreset", 0), " #fav.tavpreset");
    EXPECT_EQ(retaggedName("  .tavpreset", 0), "  .tavpreset");
    EXPECT_EQ(retaggedName("Name #fav.tavpreset", 12), "Name #pa #fav.tavpreset");
    EXPECT_EQ(retaggedName("Name #pa #fav.tavpreset", 0), "Name #fav.tavpreset");
    EXPECT_EQ(retaggedName("Name #ba #le.tavpreset", 17), "Name #sw.tavpreset");
    EXPECT_EQ(favouriteToggledName("Name #pa #fav.tavpreset"), "Name #pa.tavpreset");
    EXPECT_EQ(favouriteToggledName("Name #pa.tavpreset"), "Name #pa #fav.tavpreset");
    // A factory preset stays one: a tag that follows the number prefix shares its space, and the
    // space stays when the tag comes off; a prefix with a stem after it keeps its own.
    EXPECT_EQ(favouriteToggledName("#001 #fav.tavpreset"), "#001 .tavpreset");
    EXPECT_EQ(favouriteToggledName("#001 .tavpreset"), "#001 #fav.tavpreset");
    EXPECT_EQ(retaggedName("#001 #pa.tavpreset", 0), "#001 .tavpreset");
    EXPECT_EQ(retaggedName("#001 .tavpreset", 2), "#001 #ba.tavpreset");
    EXPECT_EQ(retaggedName("#001 #pa #fav.tavpreset", 0), "#001 #fav.tavpreset");
    EXPECT_EQ(retaggedName("#001 #pa #fav.tavpreset", 17), "#001 #sw #fav.tavpreset");
    EXPECT_EQ(retaggedName("#001 #party.tavpreset", 0), "#001 #party.tavpreset");
    EXPECT_EQ(retaggedName("#001 #fav #pa #fav.tavpreset", 0), "#001 #fav.tavpreset");
    EXPECT_EQ(favouriteToggledName("#001  #fav.tavpreset"), "#001 .tavpreset");  // written spaced before
    EXPECT_EQ(favouriteToggledName("Bank #012 #fav.tavpreset"), "Bank #012 .tavpreset");
    EXPECT_EQ(retaggedName("#001 Name #pa.tavpreset", 0), "#001 Name.tavpreset");
    EXPECT_EQ(retaggedName("#001#pa.tavpreset", 0), "#001#pa.tavpreset");
    for (const char* name : {"#001 #fav.tavpreset", "#001 #pa.tavpreset", "#001 #pa #fav.tavpreset", "#128  #fav.tavpreset",
                             "x #099 #sw #fav.tavpreset", "#001 #party #fav.tavpreset"})
        for (int category = 0; category < kCategories; ++category) {
            const std::string retagged = retaggedName(name, category), toggled = favouriteToggledName(name);
            EXPECT_TRUE(hasNumberPrefix(retagged)) << name << " " << category << " " << retagged;
            EXPECT_TRUE(hasNumberPrefix(toggled)) << name << " " << toggled;
            EXPECT_TRUE(hasNumberPrefix(favouriteToggledName(retagged))) << name << " " << category;
            EXPECT_TRUE(hasNumberPrefix(retaggedName(toggled, category))) << name << " " << category;
        }
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

// Tags are whole words: their own space before them, a space or the end after. A word of the
// user's that starts like a tag stays through every rename, whatever stands around it: repeated
// tags, a name of tags, double spaces, bytes that are not UTF-8, a long name.
TEST(PresetLibrary, TagsAreWholeWords)
{
    EXPECT_EQ(retaggedName("Mix #array.tavpreset", 3), "Mix #array #br.tavpreset");
    EXPECT_EQ(retaggedName("Mix #array #ar.tavpreset", 3), "Mix #array #br.tavpreset");
    EXPECT_EQ(favouriteToggledName("#001 #favourite.tavpreset"), "#001 #favourite #fav.tavpreset");
    EXPECT_EQ(favouriteToggledName("#001 #favourite #fav.tavpreset"), "#001 #favourite.tavpreset");
    EXPECT_EQ(retaggedName("Pad #favs #pa.tavpreset", 1), "Pad #favs #ar.tavpreset");  // #favs is no favourite
    EXPECT_EQ(retaggedName("A #pa #pa #fav #fav.tavpreset", 12), "A #pa #fav.tavpreset");
    EXPECT_EQ(retaggedName(" #pa Name #pa.tavpreset", 0), " Name.tavpreset");
    EXPECT_EQ(retaggedName("#pa Name.tavpreset", 1), "#pa Name #ar.tavpreset");  // no space of its own
    EXPECT_EQ(retaggedName("A  #pa  B.tavpreset", 0), "A   B.tavpreset");
    EXPECT_EQ(retaggedName("A #pa#fav #pa,b.tavpreset", 0), "A #pa#fav #pa,b.tavpreset");
    EXPECT_EQ(retaggedName("\xff #pa\xfe #pa.tavpreset", 1), "\xff #pa\xfe #ar.tavpreset");
    EXPECT_EQ(favouriteToggledName("A #fav\x80.tavpreset"), "A #fav\x80 #fav.tavpreset");
    EXPECT_EQ(retaggedName("#001 #fav #sw.tavpreset", 0), "#001 #fav.tavpreset");
    std::string words, tags;
    for (int k = 0; k < 40; ++k) {
        words += " #pax";
        tags += " #pa";
    }
    EXPECT_EQ(retaggedName("L" + words + tags + ".tavpreset", 2), "L" + words + " #ba.tavpreset");
    EXPECT_EQ(retaggedName(words + ".tavpreset", 0), words + ".tavpreset");

    EXPECT_TRUE(hasCategoryTag("Presets/Mix #ar", 1));
    EXPECT_TRUE(hasCategoryTag("Pads #pa/Mix", 12));  // a folder's name ends at "/"
    EXPECT_FALSE(hasCategoryTag("Presets/Mix #array", 1));
    EXPECT_FALSE(hasAnyCategoryTag("Mix #array #favourite #pa,x"));
    EXPECT_TRUE(hasAnyCategoryTag("Mix #array #sw #favourite"));
    EXPECT_EQ(findTag("A #favs #fav #fav", kFavouriteTag), 7u);
    EXPECT_EQ(withoutTags("A #fav #pa #favs", kCategoryTags | kFavouriteTags), "A #favs");
    EXPECT_EQ(entryOf("Presets/Mix #array #ar #fav.tavpreset"), "Mix #array #fav,,Presets/Mix #array #ar #fav");
}

// A file is its device, inode and birth: a file removed and another written under its name is
// another file, whether or not it got the old inode number; a change of its status (a chmod, a
// rename) leaves it the same file. Where the file system keeps no birth time, the last status
// change tells files apart instead.
TEST(PresetLibrary, FileIdentity)
{
    test_support::TemporaryFolder folder("tavrin-identity");
    const auto pad = folder.path() / "Pad.tavpreset";
    std::ofstream(pad) << "old";
    const FileIdentity old = identify(pad.string());
    ASSERT_TRUE(old.known);
    EXPECT_EQ(identify(pad.string()), old);
    ::chmod(pad.c_str(), 0600);
    if (old.born) {
        EXPECT_EQ(identify(pad.string()), old);
    }
    const bool reused = prescat_test::replaceFile(pad, "new");
    EXPECT_NE(identify(pad.string()), old) << (reused ? "the inode number came back" : "a new inode number");
    EXPECT_FALSE(identify((folder.path() / "none").string()).known);
    EXPECT_FALSE(identify("").known);
    EXPECT_FALSE(identify(std::string_view("Pad\0x", 5)).known);

    struct statx a {};
    a.stx_mask = STATX_BASIC_STATS | STATX_BTIME;
    a.stx_ino = 7;
    a.stx_btime = {100, 5, 0};
    a.stx_ctime = {200, 0, 0};
    struct statx b = a;
    b.stx_ctime.tv_sec = 300;
    EXPECT_EQ(identityOf(a), identityOf(b));
    b.stx_btime.tv_nsec = 6;  // born later within the same second
    EXPECT_NE(identityOf(a), identityOf(b));
    a.stx_mask = STATX_BASIC_STATS;
    b = a;
    EXPECT_EQ(identityOf(a), identityOf(b));
    b.stx_ctime.tv_nsec = 1;
    EXPECT_NE(identityOf(a), identityOf(b));
}

// Path order: a folder's files come after the folder's name and before a longer sibling name;
// bytes compare unsigned, so digits, capitals, lower case, then 8-bit names. The same when each
// folder is listed two entries at a time.
TEST(PresetLibrary, ListerWalksInPathOrder)
{
    test_support::TemporarySharedFolder shared;
    const auto root = shared.path();
    for (const char* file : {"a b", "a/z", "a/b/c", "B", "\xc3\xa9", "1"}) {
        std::filesystem::create_directories((root / file).parent_path());
        std::ofstream(root / file) << "";
    }
    DirectoryLister lister;
    const auto any = [](std::string_view, DirectoryLister::Kind) { return true; };
    for (uint32_t wanted : {16384u, 2u}) {
        std::vector<std::string> seen;
        EXPECT_TRUE(lister.walk(root.c_str(), wanted, any, [&](std::string_view path, DirectoryLister::Kind) {
            seen.emplace_back(path);
            return true;
        }));
        EXPECT_EQ(seen, (std::vector<std::string>{"1", "B", "a/b/c", "a/z", "a b", "\xc3\xa9"})) << wanted;
    }
    EXPECT_FALSE(lister.walk((root / "missing").c_str(), 16384, any, any));

    // In any order: the same files, each once; a walk stopped early says so.
    std::vector<std::string> seen;
    EXPECT_TRUE(lister.walkAnyOrder(root.c_str(), any, [&](std::string_view path, DirectoryLister::Kind) {
        seen.emplace_back(path);
        return true;
    }));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "B", "a b", "a/b/c", "a/z", "\xc3\xa9"}));
    int visits = 0;
    EXPECT_FALSE(lister.walkAnyOrder(root.c_str(), any, [&](std::string_view, DirectoryLister::Kind) { return ++visits < 3; }));
    EXPECT_EQ(visits, 3);
    EXPECT_FALSE(lister.walkAnyOrder((root / "missing").c_str(), any, any));
}

// Empty files folder/name(i) for i in 0..count-1, made in a scrambled order as links to a few
// empty files in spare (a link is far quicker to make than a file, and a file takes at most
// 65,000 links).
template <class Name>
void emptyFiles(const std::filesystem::path& spare, const std::filesystem::path& folder, int count, Name&& name)
{
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(spare);
    for (int k = 0; k < count; ++k) {
        const std::string source = (spare / (folder.filename().string() + std::to_string(k / 50000))).string();
        if (k % 50000 == 0)
            ::close(::open(source.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
        const int i = static_cast<int>((static_cast<long long>(k) * 7919) % count);
        ASSERT_EQ(::link(source.c_str(), (folder / name(i)).c_str()), 0) << name(i);
    }
}

std::string formatted(const char* format, int i, const std::string& tail = "")
{
    char text[32];
    std::snprintf(text, sizeof text, format, i);
    return text + tail;
}

class BigLibrary : public prescat_test::PrescatTest {};
namespace fs = std::filesystem;

// Folders beyond what one listing holds (70,000 names; 40,000 names of over 200 bytes): the
// folder table holds the root's folders, the folder view shows the 128 smallest names of the whole folder in byte order (names too long for
// a list slot left out), time order the 128 oldest, and the index takes the first 16,384 files of
// the whole tree in path order, then sorts them.
TEST_F(BigLibrary, BigFoldersListTheirFirstEntriesInOrder)
{
    folder("3_SEARCH");
    const fs::path spare = shared_.path() / "spare";
    emptyFiles(spare, root_ / "Big", 70000, [](int i) { return formatted("n%05d", i, ".tavpreset"); });
    for (int i = 0; i < 128; ++i) {  // written long ago, one second apart
        const std::string file = (root_ / "Big" / formatted("t%03d", i, ".tavpreset")).string();
        manager_test::writeBytes(file, "");
        const timespec times[2] = {{1000000000 + i, 0}, {1000000000 + i, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    }
    const std::string longTail(200, 'x');
    const std::string shownTail(80, 'y');
    emptyFiles(spare, root_ / "A_Long", 40000, [&](int i) { return formatted("L%05d", i, longTail + ".tavpreset"); });
    emptyFiles(spare, root_ / "A_Long", 200, [&](int i) { return formatted("M%03d", i, shownTail + ".tavpreset"); });
    const std::string rootTail(235, 'z');
    emptyFiles(spare / "root", root_, 40000, [&](int i) { return formatted("R%05d", i, rootTail + ".tavpreset"); });
    start();
    post(kInterfaceStarted);
    std::string folders;
    for (const auto& [id, text] : posted())
        if (id == kFolderList)
            folders = text;
    EXPECT_EQ(folders, prescat_test::listOf({"3_SEARCH", "A_Long", "Big"}));

    const auto names = [](const char* format, const std::string& tail = "") {
        std::vector<std::string> out;
        for (int i = 0; i < 128; ++i)
            out.push_back(formatted(format, i, tail));
        return out;
    };
    post(kFolderBase + 2);  // "Big"
    EXPECT_EQ(lastList(), names("n%05d"));
    clear();
    post(kTimeOrderOn);
    EXPECT_EQ(lastList(), names("t%03d"));
    post(kTimeOrderOff);
    clear();
    post(kFolderBase + 1);  // "A_Long"
    EXPECT_EQ(lastList(), names("M%03d", shownTail));

    post(kFolderBase + 0);  // "3_SEARCH": A_Long/M000..M199 (the L names make no entry), Big/n00000..
    programChange(0);
    runSeconds(0.8);
    std::vector<std::string> results = lastList();
    ASSERT_EQ(results.size(), 128u);
    results.resize(103);
    for (int p = 1; p < 160; ++p) {
        clear();
        post(kNextArrowRow);
        const auto list = lastList();
        ASSERT_EQ(list.size(), 128u) << "page " << p;
        ASSERT_EQ(list[kNextArrowRow], ">>") << "page " << p;
        results.insert(results.end(), list.begin() + 1, list.begin() + kNextArrowRow);
    }
    ASSERT_EQ(results.size(), 16321u);
    for (int i = 0; i < 16321; ++i)
        ASSERT_EQ(results[static_cast<std::size_t>(i)], i < 200 ? formatted("A_Long/M%03d", i, shownTail) : formatted("Big/n%05d", i - 200))
            << "result " << i;
}

} // namespace
