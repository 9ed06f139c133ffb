// Whole-file writes of the modules' own files: a symlink keeps its link while the file it names is
// replaced; a folder, a pipe or a device is never replaced by a regular file; a link planted at a
// fixed name by another user is not followed; names of any legal length are written, and a failed
// write is never taken for a done one. Reads take regular files only, at once, and no more than
// asked.
#include "TextFiles.h"

#include "PresetStore/PresetBank.h"
#include "StaleTemporaries.h"
#include "platform/OddFilesSupport.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

class TextFilesTest : public ::testing::Test {
protected:
    std::size_t entries(const fs::path& folder) const
    {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }
    static fs::perms permissions(const fs::path& file) { return fs::status(file).permissions() & fs::perms::all; }
    std::vector<std::string> names() const
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder_))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }
    // Sets the times of path (not of a link's target) to seconds ago.
    static void age(const fs::path& path, long seconds)
    {
        const timespec then{std::time(nullptr) - seconds, 0};
        const timespec times[2] = {then, then};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
    }

    test_support::TemporaryFolder temporary_{"tavrin-textfiles"};
    const fs::path folder_ = temporary_.path();
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

// A name of 255 bytes, the most a file system allows, is written and read back: the temporary
// file's own name is short. A new file takes 0666 less the umask, a replaced one keeps its mode.
TEST_F(TextFilesTest, LongNamesAndModes)
{
    const fs::path longest = folder_ / (std::string(245, 'n') + ".tavpreset");
    ASSERT_EQ(longest.filename().native().size(), 255u);
    ASSERT_TRUE(platform::writeFileAtomically(longest, "bytes"));
    EXPECT_EQ(platform::readFile(longest), "bytes");
    preset_bank::PresetValues values{};
    values[0] = 0.5f;
    ASSERT_TRUE(preset_bank::SavePreset(longest.native(), "Long", values));
    preset_bank::NameTable names;
    preset_bank::PresetValues loaded{};
    ASSERT_TRUE(preset_bank::LoadPreset(longest.native(), names, 3, loaded));
    EXPECT_EQ(names.view(3), "Long");
    EXPECT_EQ(loaded[0], 0.5f);

    const mode_t previous = ::umask(027);
    const bool made = platform::writeFileAtomically(folder_ / "new.txt", "x");
    ::chmod(longest.c_str(), 0604);
    const bool replaced = platform::writeFileAtomically(longest, "y");
    ::umask(previous);
    ASSERT_TRUE(made && replaced);
    EXPECT_EQ(permissions(folder_ / "new.txt"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(permissions(longest), fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    EXPECT_EQ(entries(folder_), 2u);
}

// A write that fails part way (a file size limit here) or cannot start (no folder) says false,
// keeps the old file whole and leaves no temporary file.
TEST_F(TextFilesTest, FailedWriteKeepsTheOldFile)
{
    ASSERT_TRUE(platform::writeFileAtomically(folder_ / "kept.txt", "old"));
    rlimit limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{1000, limit.rlim_max};
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = platform::writeFileAtomically(folder_ / "kept.txt", std::string(5000, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_EQ(platform::readFile(folder_ / "kept.txt"), "old");
    EXPECT_EQ(entries(folder_), 1u);
    EXPECT_FALSE(platform::writeFileAtomically(folder_ / "none" / "a.txt", "x"));
    EXPECT_FALSE(preset_bank::SavePreset((folder_ / "none" / "a.tavpreset").native(), "A", preset_bank::PresetValues{}));
    EXPECT_EQ(entries(folder_), 1u);
}

// At a fixed name a link is followed, to write or to read, only when it belongs to the user
// running the process, each link of a chain alike; a link the user chose in a panel
// (LinkTrust::Any) is followed whoever owns it.
TEST_F(TextFilesTest, FixedNamesFollowOnlyOwnLinks)
{
    ASSERT_TRUE(platform::writeFileAtomically(folder_ / "target.txt", "old"));
    fs::create_symlink("target.txt", folder_ / "foreign");
    fs::create_symlink("foreign", folder_ / "own");
    if (!odd_files::giveAway(folder_ / "foreign"))
        GTEST_SKIP() << "cannot give a link to another user here";
    std::string error;
    EXPECT_FALSE(platform::resolveWriteTarget(folder_ / "own", error, platform::LinkTrust::OwnOnly));
    EXPECT_EQ(error, (folder_ / "foreign").string() + " is a link of another user");
    EXPECT_FALSE(platform::writeFileAtomically(folder_ / "own", "new", platform::LinkTrust::OwnOnly));
    EXPECT_FALSE(platform::writeFileAtomically(folder_ / "foreign", "new", platform::LinkTrust::OwnOnly));
    EXPECT_EQ(platform::readFile(folder_ / "target.txt"), "old");
    EXPECT_TRUE(platform::writeFileAtomically(folder_ / "own", "chosen"));
    EXPECT_EQ(platform::readFile(folder_ / "target.txt"), "chosen");
    EXPECT_EQ(platform::readFile(folder_ / "own", 100, platform::LinkTrust::OwnOnly), std::nullopt);
    EXPECT_EQ(platform::readFileStart(folder_ / "own", 100, platform::LinkTrust::OwnOnly), std::nullopt);
    EXPECT_EQ(platform::readFile(folder_ / "own"), "chosen");
    odd_files::takeBack(folder_ / "foreign");
    EXPECT_EQ(platform::readFile(folder_ / "own", 100, platform::LinkTrust::OwnOnly), "chosen");
    EXPECT_TRUE(platform::writeFileAtomically(folder_ / "own", "own", platform::LinkTrust::OwnOnly));
    EXPECT_EQ(platform::readFile(folder_ / "target.txt"), "own");
    EXPECT_TRUE(fs::is_symlink(folder_ / "own") && fs::is_symlink(folder_ / "foreign"));
    EXPECT_EQ(entries(folder_), 3u);
}

// Only regular files are read, without waiting: a pipe, a link onto an
// endless device and a folder read as nothing. A limit gives the start of a file, or, for a whole
// read, nothing when the file is longer.
TEST_F(TextFilesTest, ReadsOnlyRegularFilesAndNoMoreThanAsked)
{
    odd_files::makePipe(folder_ / "pipe");
    odd_files::linkToZero(folder_ / "zero");
    std::optional<std::string> pipe, zero, dir;
    EXPECT_TRUE(odd_files::returnsAtOnce([&] {
        pipe = platform::readFile(folder_ / "pipe");
        zero = platform::readFileStart(folder_ / "zero", 10);
        dir = platform::readFile(folder_);
    }, {folder_ / "pipe"}));
    EXPECT_EQ(pipe, std::nullopt);
    EXPECT_EQ(zero, std::nullopt);
    EXPECT_EQ(dir, std::nullopt);
    EXPECT_TRUE(fs::is_fifo(folder_ / "pipe"));

    ASSERT_TRUE(platform::writeFileAtomically(folder_ / "four", "abcd"));
    EXPECT_EQ(platform::readFile(folder_ / "four", 4), "abcd");
    EXPECT_EQ(platform::readFile(folder_ / "four", 3), std::nullopt);
    EXPECT_EQ(platform::readFileStart(folder_ / "four", 3), "abc");
    EXPECT_EQ(platform::readFileStart(folder_ / "four", 9), "abcd");
    EXPECT_EQ(platform::readFile(folder_ / "missing"), std::nullopt);
}

// A write killed part way leaves its temporary file beside the target, under a name of ours that
// no one else would choose; the next write into that folder removes it once it is an hour old,
// and nothing else. A library folder holds other programs' and the user's files too, so names
// that only look alike stay (".tavistock", ".tavconfig", debris of earlier versions named ".tav"
// and six letters, our marker with too few, too many or other characters), and of our exact name
// a younger file (a write still running elsewhere), a folder, a link (nor what it names), a pipe
// and another user's file stay too.
TEST_F(TextFilesTest, AKilledWriteLeavesNoTemporaryForLongAndTouchesNothingElse)
{
    platform::forgetSweptFolders();  // a folder removed by an earlier test may have had this one's inode
    std::ofstream(folder_ / "kept.txt") << "old";
    ASSERT_TRUE(odd_files::killedMidWrite([&] { platform::writeFileAtomically(folder_ / "kept.txt", "new"); }));
    const std::vector<std::string> afterKill = names();
    ASSERT_EQ(afterKill.size(), 2u);
    const std::string left = afterKill[0];
    EXPECT_EQ(left.substr(0, 12), ".tavrin-tmp.");
    ASSERT_TRUE(platform::isTemporaryName(left)) << left;
    EXPECT_EQ(platform::readFile(folder_ / "kept.txt"), "old");

    constexpr long kOld = 3601, kYoung = 3540;
    const std::vector<std::string> alike = {
        ".tavistock", ".tavPRESET", ".tavconfig", ".tavAbc123", ".tavpreset", ".tavrin-tmp.Abc1234", ".tavrin-tmp.Abc123456",
        ".tavrin-tmp.Abc-1234", ".tavrin-tmp.Abc 1234", ".tavrin-tmp.Ab.c1234", ".tavrin-tmp.Ab\xC3\xA9" "1234",
        ".tavrin-tmpXAbcd1234", ".TAVRIN-TMP.Abcd1234", "x.tavrin-tmp.Abcd1234", ".tavrin-tmp.Abcd1234~"};
    for (const auto& name : alike)
        std::ofstream(folder_ / name) << name;
    std::ofstream(folder_ / ".tavrin-tmp.Stale001") << "an older kill's";
    std::ofstream(folder_ / ".tavrin-tmp.Young001") << "still being written";
    fs::create_directory(folder_ / ".tavrin-tmp.Folder01");
    std::ofstream(folder_ / ".tavrin-tmp.Folder01" / "inside") << "x";
    std::ofstream(folder_ / "victim") << "named by a link";
    fs::create_symlink("victim", folder_ / ".tavrin-tmp.Linked01");
    odd_files::makePipe(folder_ / ".tavrin-tmp.Piped001");
    std::ofstream(folder_ / ".tavrin-tmp.Others01") << "another user's";
    if (!odd_files::giveAway(folder_ / ".tavrin-tmp.Others01"))
        fs::remove(folder_ / ".tavrin-tmp.Others01");  // not root: no other user's file to make
    for (const auto& entry : fs::directory_iterator(folder_))
        age(entry.path(), kOld);
    age(folder_ / ".tavrin-tmp.Young001", kYoung);
    std::vector<std::string> expected = names();
    for (const std::string& gone : {left, std::string(".tavrin-tmp.Stale001")})
        expected.erase(std::find(expected.begin(), expected.end(), gone));

    ASSERT_TRUE(platform::writeFileAtomically(folder_ / "kept.txt", "new"));
    EXPECT_EQ(names(), expected);
    EXPECT_EQ(platform::readFile(folder_ / "kept.txt"), "new");
    for (const auto& name : alike)
        EXPECT_EQ(platform::readFile(folder_ / name), name);
    EXPECT_EQ(platform::readFile(folder_ / "victim"), "named by a link");
    EXPECT_EQ(platform::readFile(folder_ / ".tavrin-tmp.Folder01" / "inside"), "x");
    EXPECT_TRUE(fs::is_symlink(folder_ / ".tavrin-tmp.Linked01"));
    EXPECT_TRUE(fs::is_fifo(folder_ / ".tavrin-tmp.Piped001"));
}

// One process looks through a folder once per ten minutes, whatever it writes there meanwhile
// and whatever path names the folder ("dir/.", a link to it); another folder has its own turn.
TEST_F(TextFilesTest, AFolderIsLookedThroughOncePerTenMinutesUnderEveryPath)
{
    platform::forgetSweptFolders();
    const fs::path sub = folder_ / "sub";
    fs::create_directory(sub);
    fs::create_directory_symlink(folder_, sub / "up");
    ASSERT_TRUE(platform::writeFileAtomically(folder_ / "a.txt", "looked through now"));
    const auto leftByAKill = [&](const fs::path& in) {
        std::ofstream(in / ".tavrin-tmp.Again001") << "left by another kill";
        age(in / ".tavrin-tmp.Again001", 3601);
    };
    leftByAKill(folder_);
    leftByAKill(sub);
    for (const fs::path& file : {folder_ / "b.txt", folder_ / "." / "c.txt", folder_ / "sub" / ".." / "d.txt",
                                 sub / "up" / "e.txt", sub / "up" / "." / "f.txt"}) {
        ASSERT_TRUE(platform::writeFileAtomically(file, "x")) << file;
        EXPECT_TRUE(fs::exists(folder_ / ".tavrin-tmp.Again001")) << file;
    }
    ASSERT_TRUE(platform::writeFileAtomically(sub / "g.txt", "x"));
    EXPECT_FALSE(fs::exists(sub / ".tavrin-tmp.Again001"));
    platform::forgetSweptFolders();  // as a process started later
    ASSERT_TRUE(platform::writeFileAtomically(sub / "up" / "." / "h.txt", "y"));
    EXPECT_FALSE(fs::exists(folder_ / ".tavrin-tmp.Again001"));
}

} // namespace
