// What a delete killed part-way leaves in the Trash is cleared by a later delete into it once it is
// an hour old, and only that: its text written aside, and the info file it had placed for an item
// it never moved, which would otherwise stay in trash-list for good and push the next delete of
// that name to "name.2". Other programs' info files stay, whatever they look like.
#include "Trash.h"

#include "StaleTemporaries.h"
#include "platform/OddFilesSupport.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

class TrashTest : public ::testing::Test {
protected:
    TrashTest()
    {
        ::setenv("XDG_DATA_HOME", (temporary_.path() / "xdg").c_str(), 1);
        fs::create_directories(trash_ / "files");
        fs::create_directories(trash_ / "info");
        fs::create_directories(library_);
        platform::forgetSweptFolders();  // a folder removed by an earlier test may have had this one's inode
    }
    ~TrashTest() override { ::unsetenv("XDG_DATA_HOME"); }

    static void write(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }
    static std::string read(const fs::path& file)
    {
        std::ostringstream bytes;
        bytes << std::ifstream(file, std::ios::binary).rdbuf();
        return bytes.str();
    }
    // Sets the times of path to seconds ago.
    static void age(const fs::path& path, long seconds)
    {
        const timespec then{std::time(nullptr) - seconds, 0};
        const timespec times[2] = {then, then};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
    }
    std::vector<std::string> names(const fs::path& folder) const
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }
    std::string infoText(const std::string& preset) const
    {
        return "[Trash Info]\nPath=" + platform::trashInfoPathText((library_ / preset).string()) + "\nDeletionDate=";
    }
    // What a delete killed after placing its info file leaves: the text aside and, linked to it,
    // the info file of name.
    void placedAside(const std::string& aside, const std::string& name, long secondsAgo)
    {
        write(trash_ / "info" / aside, infoText(name) + "2026-01-02T03:04:05\n");
        fs::create_hard_link(trash_ / "info" / aside, trash_ / "info" / (name + ".trashinfo"));
        age(trash_ / "info" / aside, secondsAgo);
    }

    test_support::TemporaryFolder temporary_{"tavrin-trash"};
    const fs::path trash_ = temporary_.path() / "xdg" / "Trash";
    const fs::path library_ = temporary_.path() / "Presets";
};

TEST_F(TrashTest, AKilledDeleteLeavesNothingOfItsOwnForLongAndTouchesNothingElse)
{
    constexpr long kOld = 3601, kYoung = 3540;
    write(library_ / "D001.tavpreset", "first");
    ASSERT_TRUE(odd_files::killedMidWrite([&] { platform::moveToTrash(library_ / "D001.tavpreset"); }));
    const std::vector<std::string> afterKill = names(trash_ / "info");
    ASSERT_EQ(afterKill.size(), 1u);
    EXPECT_TRUE(platform::isTemporaryName(afterKill[0])) << afterKill[0];
    age(trash_ / "info" / afterKill[0], kOld);

    // Killed between placing the info file and moving the item; then killed after the move.
    placedAside(".tavrin-tmp.Orphan01", "D001.tavpreset", kOld);
    placedAside(".tavrin-tmp.Placed01", "Moved.tavpreset", kOld);
    write(trash_ / "files" / "Moved.tavpreset", "moved");
    // A delete under way in another process.
    placedAside(".tavrin-tmp.Young001", "Young.tavpreset", kYoung);
    // Other programs' info files with no item, alone or linked to a name not of ours, and a
    // file of another name linked to our abandoned text: none of it is ours to judge.
    write(trash_ / "info" / "Other.tavpreset.trashinfo", infoText("Other.tavpreset") + "2026-01-02T03:04:05\n");
    age(trash_ / "info" / "Other.tavpreset.trashinfo", kOld);
    write(trash_ / "info" / ".tavrin-tmp.Linked1", "not of ours");
    fs::create_hard_link(trash_ / "info" / ".tavrin-tmp.Linked1", trash_ / "info" / "Linked.tavpreset.trashinfo");
    age(trash_ / "info" / ".tavrin-tmp.Linked1", kOld);
    write(trash_ / "info" / ".tavrin-tmp.Noted001", "linked under another name");
    fs::create_hard_link(trash_ / "info" / ".tavrin-tmp.Noted001", trash_ / "info" / "notes.txt");
    age(trash_ / "info" / ".tavrin-tmp.Noted001", kOld);

    write(library_ / "D001.tavpreset", "second");
    ASSERT_TRUE(platform::moveToTrash(library_ / "D001.tavpreset"));
    EXPECT_EQ(names(trash_ / "files"), (std::vector<std::string>{"D001.tavpreset", "Moved.tavpreset"}));
    EXPECT_EQ(read(trash_ / "files" / "D001.tavpreset"), "second");
    EXPECT_EQ(names(trash_ / "info"),
              (std::vector<std::string>{".tavrin-tmp.Linked1", ".tavrin-tmp.Young001", "D001.tavpreset.trashinfo",
                                        "Linked.tavpreset.trashinfo", "Moved.tavpreset.trashinfo",
                                        "Other.tavpreset.trashinfo", "Young.tavpreset.trashinfo", "notes.txt"}));
    const std::string info = read(trash_ / "info" / "D001.tavpreset.trashinfo");
    EXPECT_EQ(info.substr(0, info.find("DeletionDate=") + 13), infoText("D001.tavpreset"));
    EXPECT_NE(info, infoText("D001.tavpreset") + "2026-01-02T03:04:05\n");
    EXPECT_EQ(read(trash_ / "info" / "Moved.tavpreset.trashinfo"), infoText("Moved.tavpreset") + "2026-01-02T03:04:05\n");
    EXPECT_EQ(read(trash_ / "info" / "notes.txt"), "linked under another name");
}

// A delete paused for over an hour between placing its info file and moving the item (a stopped
// host, a suspended laptop) finds that another instance's delete took the entry for an abandoned
// one: it places it again, so the item is never in the Trash without its original path.
TEST_F(TrashTest, ADeletePausedOverAnHourPlacesItsEntryAgain)
{
    static decltype(this) test;
    static int pauses;
    test = this;
    pauses = 0;
    platform::trash_testing::setAfterInfoPlaced([](const fs::path& infoFile) {
        if (pauses++ > 0)
            return;  // the other instance's own delete, and the placing again, go on at once
        test->age(infoFile, 3601);  // the info file and its text aside are one file
        platform::forgetSweptFolders();
        ASSERT_TRUE(platform::moveToTrash(test->library_ / "Other.tavpreset"));
        ASSERT_FALSE(fs::exists(infoFile));
    });
    write(library_ / "Paused.tavpreset", "paused");
    write(library_ / "Other.tavpreset", "other");
    const bool moved = platform::moveToTrash(library_ / "Paused.tavpreset");
    platform::trash_testing::setAfterInfoPlaced(nullptr);
    ASSERT_TRUE(moved);
    EXPECT_EQ(pauses, 3);
    EXPECT_EQ(names(trash_ / "files"), (std::vector<std::string>{"Other.tavpreset", "Paused.tavpreset"}));
    EXPECT_EQ(names(trash_ / "info"), (std::vector<std::string>{"Other.tavpreset.trashinfo", "Paused.tavpreset.trashinfo"}));
    const std::string info = read(trash_ / "info" / "Paused.tavpreset.trashinfo");
    EXPECT_EQ(info.substr(0, info.find("DeletionDate=") + 13), infoText("Paused.tavpreset"));
    EXPECT_EQ(read(trash_ / "files" / "Paused.tavpreset"), "paused");
}

} // namespace
