// Saves a rename cannot or must not make land in place: into a folder that takes no new file of
// the user's (a read-only library), over a file with further hard links or of another user. The
// file keeps its inode, owner, mode and links, and gets the new bytes whole; a kill mid-write
// loses nothing, as the next start finishes the copy written first, and only into that very
// file, never through anything another user planted. A save that fails anyway is logged with the
// file's name and the cause.
#include "WriteTarget.h"

#include "Log.h"
#include "StaleTemporaries.h"
#include "TextFiles.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/fs.h>
#include <optional>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A folder that takes no new name from this process while the object lives, as a library the
// user may not write does. A user other than root is stopped by the folder's mode; root passes
// any mode, so for root the folder is made immutable, which stops root as well and, like the
// mode, still lets the files in it be written. cause is what making a file there answers.
class ClosedFolder {
public:
    explicit ClosedFolder(const fs::path& folder) : folder_(folder)
    {
        if (::geteuid() != 0) {
            closed_ = ::chmod(folder.c_str(), 0555) == 0;
            cause_ = EACCES;
            return;
        }
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            closed_ = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0)
            ::close(fd);
        cause_ = EPERM;
    }
    ~ClosedFolder()
    {
        if (!closed_)
            return;
        if (::geteuid() != 0) {
            ::chmod(folder_.c_str(), 0755);
            return;
        }
        const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        if (fd >= 0)
            ::close(fd);
    }
    ClosedFolder(const ClosedFolder&) = delete;
    ClosedFolder& operator=(const ClosedFolder&) = delete;

    bool closed() const { return closed_; }
    int cause() const { return cause_; }

private:
    fs::path folder_;
    bool closed_ = false;
    int cause_ = 0;
};

// An environment variable set for the life of the object, restored after.
class Setting {
public:
    Setting(const char* name, const std::string& value) : name_(name)
    {
        if (const char* before = std::getenv(name))
            previous_ = before;
        ::setenv(name, value.c_str(), 1);
    }
    ~Setting()
    {
        if (previous_)
            ::setenv(name_, previous_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    Setting(const Setting&) = delete;
    Setting& operator=(const Setting&) = delete;

private:
    const char* name_;
    std::optional<std::string> previous_;
};

std::vector<std::string> logged;

class WriteTargetTest : public ::testing::Test {
protected:
    WriteTargetTest()
    {
        fs::create_directories(library_);
        fs::create_directories(shared_);
        fs::create_directories(state_);
        logged.clear();
        platform::setLogSink([](const char* line, void*) { logged.emplace_back(line); }, nullptr);
    }
    ~WriteTargetTest() override { platform::setLogSink(nullptr, nullptr); }

    static void write(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }
    static std::string read(const fs::path& file)
    {
        std::ostringstream bytes;
        bytes << std::ifstream(file, std::ios::binary).rdbuf();
        return bytes.str();
    }
    static struct stat status(const fs::path& file)
    {
        struct stat found {};
        EXPECT_EQ(::lstat(file.c_str(), &found), 0) << file;
        return found;
    }
    static std::vector<std::string> names(const fs::path& folder)
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }
    fs::path copies() const { return shared_ / (".tavrin-copies-" + std::to_string(::geteuid())); }
    static std::string line(const char* what, const fs::path& file, int cause)
    {
        return std::string("TAVRIN: ") + what + " \"" + platform::shownName(file.native()) + "\": " + std::strerror(cause);
    }

    test_support::TemporaryFolder temporary_{"tavrin-write-target"};
    const fs::path library_ = temporary_.path() / "Presets";
    const fs::path shared_ = temporary_.path() / "shared";
    const fs::path state_ = temporary_.path() / "state";
    Setting sharedSetting_{"TAVRIN_SHARED_FOLDER", shared_.string()};
    Setting stateSetting_{"XDG_STATE_HOME", state_.string()};
};

// A read-only library: the user may write the preset but not its folder. The save lands in the
// file itself and leaves no copy behind; a new file there cannot be made and says so.
TEST_F(WriteTargetTest, ASaveIntoAFolderThatTakesNoNewFileLandsInTheFile)
{
    const fs::path preset = library_ / "Pad.tavpreset";
    write(preset, "old content, longer than the new");
    ASSERT_EQ(::chmod(preset.c_str(), 0640), 0);
    const struct stat before = status(preset);
    ClosedFolder closed(library_);
    if (!closed.closed())
        GTEST_SKIP() << "this file system cannot close a folder to root";

    EXPECT_TRUE(platform::writeFileAtomically(preset, "new"));
    EXPECT_EQ(read(preset), "new");
    const struct stat after = status(preset);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(names(library_), std::vector<std::string>{"Pad.tavpreset"});
    EXPECT_EQ(names(copies()), std::vector<std::string>{});
    EXPECT_EQ(logged, std::vector<std::string>{});

    const fs::path fresh = library_ / "New\n\"Pad\".tavpreset";
    EXPECT_FALSE(platform::writeFileAtomically(fresh, "new"));
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_EQ(logged, std::vector<std::string>{line("cannot save", fresh, closed.cause())});
    EXPECT_NE(logged.at(0).find("New\\x0A\\x22Pad\\x22.tavpreset"), std::string::npos) << logged.at(0);
}

// Every hard link of a preset sees the new bytes, and a file of another user (in a folder where
// the saver may write it) stays theirs, with its inode and mode.
TEST_F(WriteTargetTest, LinksOwnerAndInodeAreKept)
{
    const fs::path preset = library_ / "Linked.tavpreset", other = temporary_.path() / "Linked again.tavpreset";
    write(preset, "old");
    fs::create_hard_link(preset, other);
    EXPECT_TRUE(platform::writeFileAtomically(preset, "new bytes"));
    EXPECT_EQ(read(other), "new bytes");
    EXPECT_EQ(status(preset).st_ino, status(other).st_ino);
    EXPECT_EQ(status(preset).st_nlink, 2u);

    if (::geteuid() != 0)
        return;  // only root can give a file to another user
    const fs::path theirs = library_ / "Theirs.tavpreset";
    write(theirs, "theirs");
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(theirs.c_str(), 0666), 0);
    const struct stat before = status(theirs);
    EXPECT_TRUE(platform::writeFileAtomically(theirs, "edited"));
    EXPECT_EQ(read(theirs), "edited");
    const struct stat after = status(theirs);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_uid, 65534u);
    EXPECT_EQ(after.st_gid, 65534u);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(names(copies()), std::vector<std::string>{});
    EXPECT_EQ(logged, std::vector<std::string>{});
}

// Killed while writing the file in place: the file is half new, the copy complete; the next start
// writes the copy into the file before its first read, and removes it. While its writer lives, nobody else's start
// takes the copy. The file's name may hold any byte.
TEST_F(WriteTargetTest, AKillMidWriteIsFinishedAtTheNextStart)
{
    const fs::path preset = library_ / "Cut\n%41 \"off\".tavpreset";
    write(preset, "old");
    fs::create_hard_link(preset, library_ / "second name");
    const struct stat before = status(preset);
    const std::string content(100000, 'n');

    // In this process: a start meanwhile leaves the live copy alone.
    static std::size_t finishedMeanwhile;
    finishedMeanwhile = 99;
    platform::write_testing::setBeforeWriteInPlace([](const fs::path&) { finishedMeanwhile = platform::finishCutOffCopies(); });
    EXPECT_TRUE(platform::writeFileAtomically(preset, "whole"));
    EXPECT_EQ(finishedMeanwhile, 0u);
    EXPECT_EQ(read(preset), "whole");

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::write_testing::setBeforeWriteInPlace([](const fs::path& file) {
            const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
            const ssize_t half = ::write(fd, "nnnn", 4);
            (void)half;
            ::raise(SIGKILL);
        });
        platform::writeFileAtomically(preset, content);
        ::_exit(0);
    }
    platform::write_testing::setBeforeWriteInPlace(nullptr);
    int exit = 0;
    ASSERT_EQ(::waitpid(child, &exit, 0), child);
    ASSERT_TRUE(WIFSIGNALED(exit) && WTERMSIG(exit) == SIGKILL);
    ASSERT_EQ(read(preset), "nnnne");
    ASSERT_EQ(names(copies()).size(), 1u);
    EXPECT_TRUE(platform::isCopyName(names(copies())[0]));

    logged.clear();
    platform::forgetCutOffCopiesFinished();  // a new start: its first read finishes the copy
    EXPECT_EQ(platform::readFile(preset), content);
    EXPECT_EQ(read(library_ / "second name"), content);
    EXPECT_EQ(status(preset).st_ino, before.st_ino);
    EXPECT_EQ(names(copies()), std::vector<std::string>{});
    EXPECT_EQ(logged, std::vector<std::string>{"TAVRIN: finished the cut-off save of \"" + platform::shownName(preset.native()) + "\""});
    EXPECT_EQ(platform::finishCutOffCopies(), 0u);
}

// The copy folder in the shared folder is never one another user planted (a link, a folder open
// to others): copies then go to the user's state folder. A copy is written only into the very
// file it was made for, never through a link, and a copy that is a link is not read.
TEST_F(WriteTargetTest, CopiesGoNowhereAnotherUserPlanted)
{
    const fs::path trap = temporary_.path() / "trap";
    fs::create_directories(trap);
    fs::create_directory_symlink(trap, copies());
    const fs::path preset = library_ / "Pad.tavpreset";
    write(preset, "old");
    fs::create_hard_link(preset, library_ / "Pad again.tavpreset");
    std::filesystem::path where;
    const int fd = platform::openCopyFolder(where);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(where, state_ / "tavrin-copies");
    EXPECT_TRUE(platform::writeFileAtomically(preset, "new"));
    EXPECT_EQ(read(preset), "new");
    fs::remove(copies());
    fs::create_directory(copies());
    fs::permissions(copies(), fs::perms::all);
    where.clear();
    const int open = platform::openCopyFolder(where);
    ASSERT_GE(open, 0);
    ::close(open);
    EXPECT_EQ(where, state_ / "tavrin-copies");
    fs::remove(copies());

    // Cut-off copies that must not be written: for a file replaced since, a malformed one, and a
    // link planted under a copy's name.
    platform::FileIdentity old;
    {
        const int file = ::open(preset.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_TRUE(platform::identifyFile(file, old));
        ::close(file);
    }
    write(library_ / "replacement", "replaced");
    fs::rename(library_ / "replacement", preset);
    fs::create_directories(copies());
    fs::permissions(copies(), fs::perms::owner_all);
    write(copies() / ".tavrin-copy.Replaced", platform::copyRecordHead(preset, old) + "stale");
    write(copies() / ".tavrin-copy.Garbled1", "TAVRIN copy 1\nfile=Pad\nid=1 2 0 0\n\nstale");
    write(trap / "victim", "victim");
    fs::create_symlink(trap / "victim", copies() / ".tavrin-copy.Planted1");
    logged.clear();
    EXPECT_EQ(platform::finishCutOffCopies(), 0u);
    std::sort(logged.begin(), logged.end());
    EXPECT_EQ(read(preset), "replaced");
    EXPECT_EQ(read(trap / "victim"), "victim");
    EXPECT_EQ(names(copies()), std::vector<std::string>{".tavrin-copy.Planted1"});
    EXPECT_EQ(logged, (std::vector<std::string>{"TAVRIN: an unreadable copy of a save was removed",
                                                "TAVRIN: dropped the cut-off save of \"" + preset.string() + "\": another file is there now"}));
}

// A copy's record names its file whatever bytes the name holds, and nothing but a whole,
// well-formed record is taken.
TEST_F(WriteTargetTest, CopyRecordsNameAnyFileAndNothingElse)
{
    const platform::FileIdentity identity{12, 345, -6, 999999999};
    for (const std::string& name : {std::string("/a/Pad.tavpreset"), std::string("/x/\n\nid=1 2 0 0\n\n%41\xff\x01 ~.t"),
                                   "/" + std::string(4000, '%')}) {
        const std::string head = platform::copyRecordHead(name, identity);
        const auto record = platform::parseCopyRecord(head + "content");
        ASSERT_TRUE(record) << head;
        EXPECT_EQ(record->file, fs::path(name));
        EXPECT_EQ(record->identity, identity);
        EXPECT_EQ(record->contentOffset, head.size());
        EXPECT_FALSE(platform::parseCopyRecord(head.substr(0, head.size() - 1)));
    }
    for (const char* bad : {"", "TAVRIN copy 1\nfile=a\nid=1 2 0 0\n\n", "TAVRIN copy 1\nfile=/a%4\nid=1 2 0 0\n\n",
                            "TAVRIN copy 1\nfile=/a b\nid=1 2 0 0\n\n", "TAVRIN copy 1\nfile=/a\nid=1 2 0\n\n",
                            "TAVRIN copy 1\nfile=/a\nid=1  2 0 0\n\n", "TAVRIN copy 1\nfile=/a\nid=1 2 0 0 \n\n",
                            "TAVRIN copy 1\nfile=/a\nid=1 2 0 1000000000\n\n", "TAVRIN copy 1\nfile=/a\nid=1 99999999999999999999 0 0\n\n",
                            "TAVRIN copy 1\nfile=/a%00\nid=1 2 0 0\n\n", "TAVRIN copy 2\nfile=/a\nid=1 2 0 0\n\n",
                            "TAVRIN copy 1\nfile=/a\nid=1 2 0 0\nx\n"})
        EXPECT_FALSE(platform::parseCopyRecord(bad)) << bad;
}

} // namespace
