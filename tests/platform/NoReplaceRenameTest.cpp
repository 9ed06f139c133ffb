// A rename that never replaces, also where the file system has no such rename: the new name is
// a new link, and the old name goes only while it still holds the file renamed, so a file another
// program put there meanwhile stays.
#include "NoReplaceRename.h"

#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

void write(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }
std::string read(const fs::path& file)
{
    std::ostringstream bytes;
    bytes << std::ifstream(file, std::ios::binary).rdbuf();
    return bytes.str();
}

class NoReplaceRenameTest : public ::testing::TestWithParam<bool> {
protected:
    NoReplaceRenameTest() { platform::rename_testing::pretendNoNoReplace(GetParam()); }
    ~NoReplaceRenameTest() override { platform::rename_testing::pretendNoNoReplace(false); }

    test_support::TemporaryFolder temporary_{"tavrin-rename"};
    const fs::path folder_ = temporary_.path();
};

// Files and links get the new name, never over a taken one; a folder does where the kernel
// renames it without replacing.
TEST_P(NoReplaceRenameTest, RenamesNeverOverATakenName)
{
    write(folder_ / "A", "a");
    write(folder_ / "Taken", "taken");
    EXPECT_FALSE(platform::renameNoReplace(folder_ / "A", folder_ / "Taken"));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(read(folder_ / "A"), "a");
    EXPECT_EQ(read(folder_ / "Taken"), "taken");

    EXPECT_TRUE(platform::renameNoReplace(folder_ / "A", folder_ / "B"));
    EXPECT_FALSE(fs::exists(folder_ / "A"));
    EXPECT_EQ(read(folder_ / "B"), "a");
    EXPECT_EQ(fs::hard_link_count(folder_ / "B"), 1u);

    fs::create_symlink("B", folder_ / "Link");
    EXPECT_TRUE(platform::renameNoReplace(folder_ / "Link", folder_ / "Link2"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder_ / "Link")));
    EXPECT_TRUE(fs::is_symlink(folder_ / "Link2"));
    EXPECT_EQ(read(folder_ / "B"), "a");

    fs::create_directory(folder_ / "Folder");
    EXPECT_EQ(platform::renameNoReplace(folder_ / "Folder", folder_ / "Folder2"), !GetParam());
}

// The old name held another file by the time it was to go (another program saved a new file
// there): that file stays, and ours has its new name.
TEST_P(NoReplaceRenameTest, AFileThatReplacedOursStays)
{
    static fs::path from;
    from = folder_ / "Pad";
    write(from, "ours");
    platform::rename_testing::pretendNoNoReplace(GetParam(), [] {
        write(from.string() + ".new", "theirs");
        fs::rename(from.string() + ".new", from);
    });
    const bool renamed = platform::renameNoReplace(from, folder_ / "Pad #fav");
    platform::rename_testing::pretendNoNoReplace(GetParam());
    ASSERT_TRUE(renamed);
    EXPECT_EQ(read(folder_ / "Pad #fav"), "ours");
    if (GetParam()) {
        EXPECT_EQ(read(from), "theirs");
    }
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutTheKernelsOwn, NoReplaceRenameTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "LinkThenUnlink" : "Renameat2"; });

} // namespace
