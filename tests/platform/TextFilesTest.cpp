// Whole-file writes of the modules' own files: a symlink keeps its link while the file it names is
// replaced; a folder, a pipe or a device is never replaced by a regular file.
#include "TextFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class TextFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "tavrin-textfiles-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path folder_;
};

// A symlink to a file in another folder stays a link; the file it names gets the bytes and keeps
// its permissions; a dangling link makes the file it names; nothing is left behind.
TEST_F(TextFilesTest, SymlinkKeepsItsLink)
{
    fs::create_directory(folder_ / "real");
    ASSERT_TRUE(platform::writeFileAtomically(folder_ / "real" / "a.txt", "old"));
    ::chmod((folder_ / "real" / "a.txt").c_str(), 0640);
    fs::create_symlink("real/a.txt", folder_ / "a.txt");
    fs::create_symlink(folder_ / "a.txt", folder_ / "twice.txt");

    ASSERT_TRUE(platform::writeFileAtomically(folder_ / "twice.txt", "new"));
    EXPECT_TRUE(fs::is_symlink(folder_ / "twice.txt"));
    EXPECT_TRUE(fs::is_symlink(folder_ / "a.txt"));
    EXPECT_EQ(platform::readFile(folder_ / "real" / "a.txt"), "new");
    EXPECT_EQ(fs::status(folder_ / "real" / "a.txt").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    fs::create_symlink("real/b.txt", folder_ / "dangling.txt");
    ASSERT_TRUE(platform::writeFileAtomically(folder_ / "dangling.txt", "made"));
    EXPECT_TRUE(fs::is_symlink(folder_ / "dangling.txt"));
    EXPECT_EQ(platform::readFile(folder_ / "real" / "b.txt"), "made");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "real"), fs::directory_iterator()), 2);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 4);
}

// A pipe, a device, a folder, a link to a folder and a link loop are refused and stay as they were.
TEST_F(TextFilesTest, NonRegularTargetIsNeverReplaced)
{
    ASSERT_EQ(::mkfifo((folder_ / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(platform::writeFileAtomically(folder_ / "pipe", "x"));
    EXPECT_TRUE(fs::is_fifo(folder_ / "pipe"));

    fs::create_symlink("/dev/null", folder_ / "null");
    EXPECT_FALSE(platform::writeFileAtomically(folder_ / "null", "x"));
    EXPECT_TRUE(fs::is_symlink(folder_ / "null"));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    fs::create_directory(folder_ / "dir");
    fs::create_symlink("dir", folder_ / "dirlink");
    EXPECT_FALSE(platform::writeFileAtomically(folder_ / "dir", "x"));
    EXPECT_FALSE(platform::writeFileAtomically(folder_ / "dirlink", "x"));
    EXPECT_TRUE(fs::is_directory(folder_ / "dir"));
    EXPECT_TRUE(fs::is_empty(folder_ / "dir"));

    fs::create_symlink("loop", folder_ / "loop");
    EXPECT_FALSE(platform::writeFileAtomically(folder_ / "loop", "x"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 5);
}

} // namespace
