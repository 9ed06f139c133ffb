// The folder watch tells the file worker which entries changed: each way a file is written,
// replaced, renamed or removed by name, once per poll, under the folder's own spelling; nothing of
// a subfolder's entries; and "lost" whenever it cannot vouch for a folder (gone, moved, replaced,
// never watchable, the kernel's queue overflowed, no inotify at all), until it watches it again.
#include "FolderWatch.h"

#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using platform::FolderWatch;
using Names = std::vector<std::pair<std::string, std::string>>;  // folder as given, name

struct Polled {
    bool whole = false;
    Names names;
};

Polled poll(FolderWatch& watch)
{
    Polled polled;
    polled.whole = watch.poll([&](std::string_view folder, std::string_view name) {
        polled.names.emplace_back(std::string(folder), std::string(name));
    });
    return polled;
}

void write(const fs::path& file, const std::string& text)
{
    std::ofstream(file, std::ios::binary) << text;
}

// One change to the folder and what the next poll must say.
struct Step {
    const char* what;
    std::function<void()> change;
    std::vector<std::string> names;  // in order of name
};

void expectSteps(FolderWatch& watch, const std::string& folder, const std::vector<Step>& steps)
{
    for (const Step& step : steps) {
        step.change();
        Names expected;
        for (const std::string& name : step.names)
            expected.emplace_back(folder, name);
        const Polled polled = poll(watch);
        EXPECT_TRUE(polled.whole) << step.what;
        EXPECT_EQ(polled.names, expected) << step.what;
    }
}

TEST(FolderWatch, ReportsEachChangeOfAnEntryOnceByNameAndNothingOfASubfolder)
{
    test_support::TemporaryFolder root("tavrin-watch");
    const fs::path folder = root.path() / "Bass";
    const fs::path elsewhere = root.path() / "Lead";
    fs::create_directory(folder);
    fs::create_directory(elsewhere);
    write(folder / "old.xml", "old");
    write(elsewhere / "b.xml", "b");

    FolderWatch watch;
    ASSERT_TRUE(watch.started());
    ASSERT_TRUE(watch.add(folder.string()));
    const Polled first = poll(watch);
    EXPECT_TRUE(first.whole);
    EXPECT_TRUE(first.names.empty());

    const auto in = [&](const char* name) { return folder / name; };
    expectSteps(watch, folder.string(), {
        {"created and written: one report", [&] { write(in("a.xml"), "1"); }, {"a.xml"}},
        {"written in place", [&] { write(in("a.xml"), "22"); }, {"a.xml"}},
        {"appended through a descriptor",
         [&] {
             const int fd = ::open(in("a.xml").c_str(), O_WRONLY | O_APPEND);
             ASSERT_EQ(::write(fd, "3", 1), 1);
             ::close(fd);
         },
         {"a.xml"}},
        {"replaced atomically: the temporary and the target",
         [&] {
             write(in(".a.xml.tmp"), "4");
             fs::rename(in(".a.xml.tmp"), in("a.xml"));
         },
         {".a.xml.tmp", "a.xml"}},
        {"mode changed", [&] { fs::permissions(in("a.xml"), fs::perms::owner_read | fs::perms::owner_write); }, {"a.xml"}},
        {"only read: nothing", [&] { std::ifstream(in("a.xml")).get(); }, {}},
        {"renamed away", [&] { fs::rename(in("a.xml"), elsewhere / "a.xml"); }, {"a.xml"}},
        {"renamed in", [&] { fs::rename(elsewhere / "b.xml", in("b.xml")); }, {"b.xml"}},
        {"renamed within: both names", [&] { fs::rename(in("b.xml"), in("c.xml")); }, {"b.xml", "c.xml"}},
        {"removed", [&] { fs::remove(in("c.xml")); }, {"c.xml"}},
        {"several names, each once",
         [&] {
             write(in("y.xml"), "y");
             write(in("x.xml"), "x");
             write(in("y.xml"), "yy");
             fs::remove(in("old.xml"));
         },
         {"old.xml", "x.xml", "y.xml"}},
        {"a subfolder made", [&] { fs::create_directory(in("sub")); }, {"sub"}},
        {"its entries are not ours",
         [&] {
             write(in("sub/d.xml"), "d");
             fs::rename(in("sub/d.xml"), in("sub/e.xml"));
             fs::remove(in("sub/e.xml"));
         },
         {}},
        {"a link made", [&] { fs::create_symlink("x.xml", in("link")); }, {"link"}},
        {"a hard link made: the new name", [&] { fs::create_hard_link(in("x.xml"), in("hard")); }, {"hard"}},
        {"the subfolder renamed", [&] { fs::rename(in("sub"), in("sub2")); }, {"sub", "sub2"}},
        {"changes elsewhere: nothing", [&] { write(elsewhere / "z.xml", "z"); }, {}},
    });
}

// A folder given twice in one spelling is one watch; two spellings of one folder are reported
// under each; two folders under their own.
TEST(FolderWatch, ReportsUnderEachSpellingGivenOnce)
{
    test_support::TemporaryFolder root("tavrin-watch");
    const fs::path folder = root.path() / "Pads";
    const fs::path other = root.path() / "Keys";
    const fs::path link = root.path() / "PadsLink";
    fs::create_directory(folder);
    fs::create_directory(other);
    fs::create_directory_symlink(folder, link);

    FolderWatch watch;
    EXPECT_TRUE(watch.add(folder.string()));
    EXPECT_TRUE(watch.add(folder.string()));
    EXPECT_EQ(watch.folders(), 1u);
    write(folder / "p.xml", "p");
    EXPECT_EQ(poll(watch).names, (Names{{folder.string(), "p.xml"}}));

    EXPECT_TRUE(watch.add(link.string()));
    EXPECT_TRUE(watch.add(other.string()));
    EXPECT_EQ(watch.folders(), 3u);
    write(link / "q.xml", "q");
    write(other / "k.xml", "k");
    const Polled polled = poll(watch);
    EXPECT_TRUE(polled.whole);
    EXPECT_EQ(polled.names, (Names{{folder.string(), "q.xml"}, {link.string(), "q.xml"}, {other.string(), "k.xml"}}));
}

TEST(FolderWatch, ClearStopsEveryWatchAndDropsWhatWasNotPolled)
{
    test_support::TemporaryFolder root("tavrin-watch");
    const fs::path folder = root.path();
    FolderWatch watch;
    ASSERT_TRUE(watch.add(folder.string()));
    write(folder / "before.xml", "b");
    watch.clear();
    EXPECT_EQ(watch.folders(), 0u);
    write(folder / "after.xml", "a");
    Polled polled = poll(watch);
    EXPECT_TRUE(polled.whole);
    EXPECT_TRUE(polled.names.empty());

    ASSERT_TRUE(watch.add(folder.string()));
    write(folder / "again.xml", "a");
    polled = poll(watch);
    EXPECT_TRUE(polled.whole);
    EXPECT_EQ(polled.names, (Names{{folder.string(), "again.xml"}}));
}

// Whenever the path stops leading to the folder watched, every poll says lost until the path
// leads to a folder again, which is then watched; the other folders are still reported meanwhile.
TEST(FolderWatch, ReportsLostWhileAWatchedPathLeadsNowhereOrElsewhere)
{
    test_support::TemporaryFolder root("tavrin-watch");
    const fs::path folder = root.path() / "up" / "Bass";
    const fs::path steady = root.path() / "Steady";
    const fs::path a = root.path() / "A";
    const fs::path b = root.path() / "B";
    const fs::path link = root.path() / "Link";
    for (const fs::path& made : {folder, steady, a, b})
        fs::create_directories(made);
    fs::create_directory_symlink(a, link);

    FolderWatch watch;
    ASSERT_TRUE(watch.add(folder.string()));
    ASSERT_TRUE(watch.add(steady.string()));
    ASSERT_TRUE(watch.add(link.string()));
    const auto expectLostThenWatched = [&](const char* what, const fs::path& where) {
        EXPECT_FALSE(poll(watch).whole) << what;
        write(where / "n.xml", what);
        const Polled back = poll(watch);
        EXPECT_TRUE(back.whole) << what;
        EXPECT_EQ(back.names, (Names{{where.string(), "n.xml"}})) << what;
    };

    fs::remove_all(folder);
    EXPECT_FALSE(poll(watch).whole);
    write(steady / "s.xml", "s");
    const Polled meanwhile = poll(watch);
    EXPECT_FALSE(meanwhile.whole);
    EXPECT_EQ(meanwhile.names, (Names{{steady.string(), "s.xml"}}));
    fs::create_directory(folder);
    expectLostThenWatched("removed, then made again", folder);

    fs::rename(folder, root.path() / "up" / "Moved");
    write(root.path() / "up" / "Moved" / "m.xml", "m");
    const Polled moved = poll(watch);
    EXPECT_FALSE(moved.whole);
    for (const auto& [where, name] : moved.names)
        EXPECT_NE(where, folder.string()) << name;
    EXPECT_FALSE(poll(watch).whole);
    fs::rename(root.path() / "up" / "Moved", folder);
    expectLostThenWatched("moved away, then back", folder);

    fs::rename(root.path() / "up", root.path() / "up2");
    fs::create_directories(folder);
    expectLostThenWatched("the folder above moved and another made in its place", folder);

    fs::rename(folder, root.path() / "Old");
    fs::create_directory(folder);
    expectLostThenWatched("replaced by another folder at once", folder);

    fs::remove(link);
    fs::create_directory_symlink(b, link);
    expectLostThenWatched("a link retargeted", link);

    fs::remove(link);
    EXPECT_FALSE(poll(watch).whole);
    EXPECT_FALSE(poll(watch).whole);
    fs::create_directory_symlink(a, link);
    expectLostThenWatched("a link removed, then made again", link);
}

// A folder the watch cannot take is lost at every poll while the folders beside it still report,
// and is watched from the poll after it becomes a folder.
TEST(FolderWatch, AFolderThatCannotBeWatchedIsLostAtEveryPoll)
{
    test_support::TemporaryFolder root("tavrin-watch");
    const fs::path real = root.path() / "Real";
    fs::create_directory(real);
    write(root.path() / "file", "not a folder");
    const std::string missing = (root.path() / "Missing").string();
    const std::string cases[] = {
        missing,
        (root.path() / "file").string(),
        std::string(),
        real.string() + std::string("\0/x", 3),  // not "Real" cut at the NUL
    };
    for (const std::string& path : cases) {
        FolderWatch watch;
        EXPECT_FALSE(watch.add(path)) << path;
        EXPECT_FALSE(watch.add(path)) << path;
        EXPECT_EQ(watch.folders(), 1u);
        EXPECT_FALSE(poll(watch).whole) << path;
        write(real / "r.xml", "r");
        const Polled polled = poll(watch);
        EXPECT_FALSE(polled.whole) << path;
        EXPECT_TRUE(polled.names.empty()) << path;
    }

    FolderWatch watch;
    EXPECT_FALSE(watch.add(missing));
    EXPECT_TRUE(watch.add(real.string()));
    write(real / "r.xml", "r");
    Polled polled = poll(watch);
    EXPECT_FALSE(polled.whole);
    EXPECT_EQ(polled.names, (Names{{real.string(), "r.xml"}}));
    fs::create_directory(missing);
    EXPECT_FALSE(poll(watch).whole);  // watched from now on; what came before is unknown
    write(fs::path(missing) / "m.xml", "m");
    polled = poll(watch);
    EXPECT_TRUE(polled.whole);
    EXPECT_EQ(polled.names, (Names{{missing, "m.xml"}}));
}

// Without inotify (here: no descriptor left for it) every poll is lost, even with nothing added.
TEST(FolderWatch, AWatchThatCannotStartIsLostAtEveryPoll)
{
    test_support::TemporaryFolder root("tavrin-watch");
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    rlimit none = limit;
    none.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    FolderWatch watch;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);

    EXPECT_FALSE(watch.started());
    EXPECT_FALSE(poll(watch).whole);
    EXPECT_FALSE(watch.add(root.path().string()));
    write(root.path() / "x.xml", "x");
    for (int i = 0; i < 2; ++i) {
        const Polled polled = poll(watch);
        EXPECT_FALSE(polled.whole);
        EXPECT_TRUE(polled.names.empty());
    }
    watch.clear();
    EXPECT_FALSE(poll(watch).whole);
}

// More changes than the kernel queues between two polls: that poll is lost, the next is whole
// again and reports what follows.
TEST(FolderWatch, ReportsLostWhenTheKernelQueueOverflows)
{
    long queued = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queued;
    if (queued <= 0 || queued > 200000)
        GTEST_SKIP() << "the kernel queues " << queued << " events; too many to overflow here";
    test_support::TemporaryFolder root("tavrin-watch");
    const fs::path folder = root.path();
    FolderWatch watch;
    ASSERT_TRUE(watch.add(folder.string()));
    for (long i = 0; i < queued / 2 + 16; ++i) {  // two events each: made, closed after writing
        const int fd = ::open((folder / std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    EXPECT_FALSE(poll(watch).whole);
    Polled polled = poll(watch);
    EXPECT_TRUE(polled.whole);
    EXPECT_TRUE(polled.names.empty());
    write(folder / "after.xml", "a");
    polled = poll(watch);
    EXPECT_TRUE(polled.whole);
    EXPECT_EQ(polled.names, (Names{{folder.string(), "after.xml"}}));
}

// With nothing queued a poll returns at once: the file worker polls between its jobs.
TEST(FolderWatch, PollReturnsAtOnceWithNothingPending)
{
    test_support::TemporaryFolder root("tavrin-watch");
    FolderWatch watch;
    ASSERT_TRUE(watch.add(root.path().string()));
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) {
        const Polled polled = poll(watch);
        ASSERT_TRUE(polled.whole);
        ASSERT_TRUE(polled.names.empty());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

} // namespace
