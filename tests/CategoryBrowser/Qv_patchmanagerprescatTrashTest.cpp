// Deleting presets of the category library: factory (numbered) presets are refused, others go to
// the freedesktop.org Trash where trash-list shows them under their original path and
// trash-restore puts them back; the one log line tells the result; nothing outside the library
// is ever trashed.
#include "CategoryBrowser/PrescatTestSupport.h"
#include "FileWorker.h"
#include "Log.h"
#include "Trash.h"
#include "platform/OddFilesSupport.h"
#include "support/TemporaryFolder.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

using namespace prescat_test;
using namespace prescat;
using manager_test::readBytes;
using manager_test::writeBytes;

namespace {

std::vector<std::string> logged;

void collect(const char* line, void*) { logged.emplace_back(line); }

// Standard output of a fixed command line.
std::string run(const std::string& command)
{
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

bool haveTrashList() { return std::system("command -v trash-list >/dev/null 2>&1") == 0; }

// The highest folder on the file system of path: where that volume keeps its trash.
fs::path volumeTop(fs::path path)
{
    struct stat here {}, up {};
    ::stat(path.c_str(), &here);
    while (path.has_relative_path() && ::stat(path.parent_path().c_str(), &up) == 0 && up.st_dev == here.st_dev)
        path = path.parent_path();
    return path;
}

// A fresh folder on a file system other than the one of near; nothing when none is writable.
std::optional<fs::path> folderOnAnotherVolume(const fs::path& near)
{
    struct stat here {}, there {};
    ::stat(near.c_str(), &here);
    for (const char* base : {"/dev/shm", "/run/shm", "/var/tmp", "/tmp"}) {
        if (::stat(base, &there) != 0 || there.st_dev == here.st_dev)
            continue;
        if (const auto made = test_support::makeTemporaryFolder("tavrin-test", base))
            return fs::canonical(*made);
    }
    return std::nullopt;
}

// Removes what a test left outside its shared folder, and puts HOME back.
struct Leftovers {
    std::vector<fs::path> paths;
    std::optional<std::string> home = std::getenv("HOME") ? std::optional<std::string>(std::getenv("HOME")) : std::nullopt;
    ~Leftovers()
    {
        std::error_code ignored;
        for (const auto& path : paths)
            fs::remove_all(path, ignored);
        if (home)
            ::setenv("HOME", home->c_str(), 1);
    }
};

const std::string kUid = std::to_string(::getuid());

class PrescatTrash : public PrescatTest {
protected:
    void SetUp() override
    {
        logged.clear();
        platform::setLogSink(collect, nullptr);
    }
    void TearDown() override
    {
        platform::setLogSink(nullptr, nullptr);
        PrescatTest::TearDown();
    }
    fs::path trash_ = shared_.path() / "xdg" / "Trash";
};

TEST_F(PrescatTrash, FactoryPresetsAreRefusedOthersGoToTheTrash)
{
    if (!haveTrashList())
        GTEST_SKIP() << "trash-cli is not installed";
    preset("Presets/#001 Fac.tavpreset");
    preset("Presets/Gone #pa.tavpreset", valuesOf([](int) { return 0.5f; }));
    preset("Presets/Keep.tavpreset");
    const auto gone = root_ / "Presets" / "Gone #pa.tavpreset";
    const std::string goneBytes = readBytes(gone);
    start();
    interfaceStarted();

    programChange(0);  // "#001 Fac" loads
    clear();
    post(kDeletePreset);
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(500)}));
    EXPECT_TRUE(fs::exists(root_ / "Presets" / "#001 Fac.tavpreset"));
    EXPECT_TRUE(logged.empty());

    programChange(1);
    clear();
    post(kDeletePreset);
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(131), {129, listOf({"#001 Fac", "Keep"})}}));
    EXPECT_EQ(logged, (std::vector<std::string>{"trashItemAtURL 1"}));
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_EQ(readBytes(trash_ / "files" / "Gone #pa.tavpreset"), goneBytes);
    const std::string info = readBytes(trash_ / "info" / "Gone #pa.tavpreset.trashinfo");
    EXPECT_EQ(info.substr(0, info.find("DeletionDate=")),
              "[Trash Info]\nPath=" + platform::trashInfoPathText(gone.string()) + "\n");
    EXPECT_NE(platform::trashInfoPathText(gone.string()).find("Gone%20%23pa.tavpreset"), std::string::npos);
    EXPECT_NE(run("trash-list 2>/dev/null").find(" " + gone.string() + "\n"), std::string::npos);

    // A second preset of the same name gets a name of its own in the Trash.
    writeBytes(gone, "second");
    post(kFolderBase + 0);
    programChange(1);
    post(kDeletePreset);
    EXPECT_EQ(readBytes(trash_ / "files" / "Gone #pa.2.tavpreset"), "second");
    EXPECT_TRUE(fs::exists(trash_ / "info" / "Gone #pa.2.tavpreset.trashinfo"));

    // Restorable by the desktop's tools: the newest first in trash-restore's list is either.
    run("echo 0 | trash-restore '" + (root_ / "Presets").string() + "' >/dev/null 2>&1");
    EXPECT_TRUE(fs::exists(gone));

    // No file: nothing moved, and the log says so.
    logged.clear();
    programChange(7);
    post(kDeletePreset);
    EXPECT_EQ(logged, (std::vector<std::string>{"trashItemAtURL 0"}));
}

// A folder of the library that is a link to a folder elsewhere is listed and loads, but its
// files are not the library's to delete.
TEST_F(PrescatTrash, NothingOutsideTheLibraryIsTrashed)
{
    const auto outside = shared_.path() / "outside";
    writeBytes(outside / "Victim.tavpreset", "x");
    fs::create_directories(root_);
    fs::create_directory_symlink(outside, root_ / "Linked");
    start();
    post(kInterfaceStarted);
    EXPECT_EQ(lastList(), split(listOf({"Victim"})));
    programChange(0);
    post(kDeletePreset);
    EXPECT_EQ(logged, (std::vector<std::string>{"trashItemAtURL 0"}));
    EXPECT_TRUE(fs::exists(outside / "Victim.tavpreset"));
}

// A preset that is a symbolic link is listed, loads, takes the favourite mark and goes to the
// Trash as the link itself: its target, inside or outside the library, stays as it is.
TEST_F(PrescatTrash, ALinkedPresetIsRenamedAndTrashedItselfNeverItsTarget)
{
    const auto outside = shared_.path() / "outside" / "Target.tavpreset";
    writeBytes(outside, "outside");
    preset("Presets/Inside.tavpreset");
    fs::create_symlink(outside, root_ / "Presets" / "Linked.tavpreset");
    fs::create_symlink("Inside.tavpreset", root_ / "Presets" / "Near.tavpreset");
    start();
    post(kInterfaceStarted);
    EXPECT_EQ(lastList(), split(listOf({"Inside", "Linked", "Near"})));
    for (const std::string link : {"Linked", "Near"}) {
        SCOPED_TRACE(link);
        const auto tagged = root_ / "Presets" / (link + " #fav.tavpreset");
        programChange(1);
        post(kToggleFavourite);
        EXPECT_TRUE(fs::is_symlink(tagged));
        programChange(1);
        clear();
        post(kDeletePreset);
        EXPECT_FALSE(fs::exists(fs::symlink_status(tagged)));
        EXPECT_TRUE(fs::is_symlink(trash_ / "files" / (link + " #fav.tavpreset")));
    }
    EXPECT_EQ(logged, (std::vector<std::string>{"trashItemAtURL 1", "trashItemAtURL 1"}));
    EXPECT_EQ(readBytes(outside), "outside");
    EXPECT_TRUE(fs::is_regular_file(root_ / "Presets" / "Inside.tavpreset"));
    EXPECT_EQ(lastList(), split(listOf({"Inside"})));
}

// A library linked onto another volume: the preset goes to that volume's trash under its real
// path, as trash-list shows it, and no trash is made inside the library.
TEST_F(PrescatTrash, ALibraryLinkedOntoAnotherVolumeUsesThatVolumesTrash)
{
    const auto other = folderOnAnotherVolume(shared_.path());
    if (!other)
        GTEST_SKIP() << "no second writable file system";
    const std::string name = other->filename().string() + " #pa.tavpreset";  // unique in a shared trash
    const fs::path real = *other / "Presetbase", top = volumeTop(*other), trash = top / (".Trash-" + kUid);
    const Leftovers leftovers{{*other, trash / "files" / name, trash / "info" / (name + ".trashinfo")}};
    fs::create_directories(real);
    fs::create_directories(root_.parent_path());
    fs::create_directory_symlink(real, root_);
    preset("Presets/Keep.tavpreset");
    writeBytes(real / "Presets" / name, "linked");
    start();
    interfaceStarted();
    programChange(1);
    clear();
    post(kDeletePreset);
    EXPECT_EQ(posted(), (std::vector<Posted>{bare(131), {129, listOf({"Keep"})}}));
    EXPECT_EQ(logged, (std::vector<std::string>{"trashItemAtURL 1"}));
    EXPECT_EQ(readBytes(trash / "files" / name), "linked");
    const std::string info = readBytes(trash / "info" / (name + ".trashinfo"));
    const fs::path original = real / "Presets" / name;
    EXPECT_EQ(info.substr(0, info.find("DeletionDate=")),
              "[Trash Info]\nPath=" + platform::trashInfoPathText(original.lexically_relative(top).string()) + "\n");
    EXPECT_FALSE(fs::exists(real / (".Trash-" + kUid)));
    EXPECT_FALSE(fs::exists(real / "Presets" / (".Trash-" + kUid)));
    if (haveTrashList()) {
        EXPECT_NE(run("trash-list 2>/dev/null").find(" " + original.string() + "\n"), std::string::npos);
    }
}

// A preset on the home volume goes to the home trash or nowhere: with a link or a plain file in
// the home trash's place, or no home at all, it stays where it is, the log says 0, and no trash
// is made at the volume's top.
TEST_F(PrescatTrash, AHomeVolumePresetGoesToTheHomeTrashOrNowhere)
{
    const std::string name = shared_.path().filename().string() + ".tavpreset";
    const fs::path file = root_ / "Presets" / name, topTrash = volumeTop(shared_.path()) / (".Trash-" + kUid);
    const fs::path elsewhere = shared_.path() / "elsewhere", home = shared_.path() / "home";
    const fs::path homeTrash = home / ".local" / "share" / "Trash";
    const auto other = folderOnAnotherVolume(shared_.path());
    Leftovers leftovers{{topTrash / "files" / name, topTrash / "info" / (name + ".trashinfo")}};
    if (other)
        leftovers.paths.push_back(*other);
    preset("Presets/Keep.tavpreset");
    preset("Presets/" + name);
    for (const fs::path& folder : {elsewhere, other.value_or(elsewhere)}) {
        fs::create_directories(folder / "files");
        fs::create_directories(folder / "info");
    }
    fs::create_directories(trash_.parent_path());
    fs::create_directories(homeTrash.parent_path());
    start();
    interfaceStarted();
    const auto refused = [&](const char* what) {
        logged.clear();
        programChange(1);
        post(kDeletePreset);
        EXPECT_EQ(logged, (std::vector<std::string>{"trashItemAtURL 0"})) << what;
        EXPECT_TRUE(fs::exists(file)) << what;
        EXPECT_FALSE(fs::exists(topTrash / "files" / name)) << what;
    };
    fs::create_directory_symlink(elsewhere, trash_);
    refused("a link to a folder of the same volume");
    fs::remove(trash_);
    if (other) {
        fs::create_directory_symlink(*other, trash_);
        refused("a link onto another volume");
        fs::remove(trash_);
    }
    writeBytes(trash_, "");
    refused("a plain file");
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", home.c_str(), 1);
    fs::create_directory_symlink(elsewhere, homeTrash);
    refused("a link at ~/.local/share/Trash");
    ::unsetenv("HOME");
    refused("no home");
    EXPECT_TRUE(fs::is_empty(elsewhere / "files"));
    EXPECT_TRUE(fs::is_empty(other.value_or(elsewhere) / "files"));

    // A real folder there takes it.
    ::setenv("HOME", home.c_str(), 1);
    fs::remove(homeTrash);
    logged.clear();
    programChange(1);
    post(kDeletePreset);
    EXPECT_EQ(logged, (std::vector<std::string>{"trashItemAtURL 1"}));
    EXPECT_TRUE(fs::exists(homeTrash / "files" / name));
}

// A delete killed part-way (here at its first write to a file) leaves no info file behind, so no
// incomplete one, only the text it was writing aside under a name trash-list does not read; the
// next delete completes, and removes that text once it is an hour old (a younger one may be
// another process's delete under way).
TEST_F(PrescatTrash, AKilledDeleteLeavesNoIncompleteInfoFile)
{
    // The delete is killed in a forked copy of the process, which has no file worker thread:
    // the module works offline there.
    const bool wasOffline = file_worker::offline();
    file_worker::setOffline(true);
    struct Restore {
        bool mode;
        ~Restore() { file_worker::setOffline(mode); }
    } restore{wasOffline};
    preset("Presets/Gone.tavpreset");
    preset("Presets/Keep.tavpreset");
    start();
    interfaceStarted();
    programChange(0);
    const auto infoFiles = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(trash_ / "info"))
            if (entry.path().extension() == ".trashinfo")
                names.push_back(entry.path().filename().string());
        return names;
    };
    ASSERT_TRUE(odd_files::killedMidWrite([&] { post(kDeletePreset); }));
    EXPECT_TRUE(fs::exists(root_ / "Presets" / "Gone.tavpreset"));
    EXPECT_EQ(infoFiles(), std::vector<std::string>{});
    EXPECT_EQ(std::distance(fs::directory_iterator(trash_ / "info"), fs::directory_iterator()), 1);  // written aside
    if (haveTrashList()) {
        EXPECT_EQ(run("trash-list 2>&1").find("Parse Error: " + trash_.string()), std::string::npos);
    }

    const fs::path aside = fs::directory_iterator(trash_ / "info")->path();
    const timespec hourAgo{std::time(nullptr) - 3601, 0}, times[2] = {hourAgo, hourAgo};
    ASSERT_EQ(::utimensat(AT_FDCWD, aside.c_str(), times, 0), 0);
    writeBytes(trash_ / "info" / ".pending-Young1", "being written");
    post(kDeletePreset);
    EXPECT_EQ(logged, (std::vector<std::string>{"trashItemAtURL 1"}));
    EXPECT_EQ(infoFiles(), std::vector<std::string>{"Gone.tavpreset.trashinfo"});
    EXPECT_FALSE(fs::exists(aside));
    EXPECT_TRUE(fs::exists(trash_ / "info" / ".pending-Young1"));
    const std::string info = readBytes(trash_ / "info" / "Gone.tavpreset.trashinfo");
    EXPECT_EQ(info.substr(0, info.find("DeletionDate=")),
              "[Trash Info]\nPath=" + platform::trashInfoPathText((root_ / "Presets" / "Gone.tavpreset").string()) + "\n");
}

// Delete, favourite and tagging trust the file, not the path: after the file loaded was renamed
// away and a new one written at its path by another process, or replaced by another manager on
// the same library, they change nothing and answer nothing, as with nothing selected.
TEST_F(PrescatTrash, ActionsActOnlyOnTheFileLoaded)
{
    preset("Presets/Keep.tavpreset");
    preset("Presets/Other.tavpreset", valuesOf([](int) { return 0.25f; }));
    const auto other = root_ / "Presets" / "Other.tavpreset";
    start(true);
    interfaceStarted();
    postTo(second_, kInterfaceStarted);

    // Another process: the file loaded is renamed away, a new one written where it was.
    programChange(1);
    fs::rename(other, root_ / "Presets" / "Zold.tavpreset");
    preset("Presets/Other.tavpreset", valuesOf([](int) { return 0.5f; }));
    const std::string newer = readBytes(other);
    clear();
    for (int id : {kDeletePreset, kToggleFavourite})
        post(id);
    EXPECT_TRUE(posted().empty());
    EXPECT_TRUE(midiOut().empty());
    EXPECT_TRUE(logged.empty());
    EXPECT_EQ(readBytes(other), newer);
    EXPECT_TRUE(fs::exists(root_ / "Presets" / "Zold.tavpreset"));

    // The second manager trashes the file both loaded and saves a new one of that name; the
    // first one's list is stale and its Delete finds another file at the path.
    post(kFolderBase + 0);
    programChange(1);
    postTo(second_, kFolderBase + 0);
    host_->queueMidi(second_, 0, pc(1));
    host_->runBlock(64);
    settle();
    postTo(second_, kDeletePreset);
    EXPECT_EQ(logged, (std::vector<std::string>{"trashItemAtURL 1"}));
    EXPECT_FALSE(fs::exists(other));
    postTo(second_, kPath, other.string());
    postTo(second_, kSavePreset);
    const std::string saved = readBytes(other);
    clear();
    post(kDeletePreset);
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(readBytes(other), saved);
    EXPECT_EQ(logged.size(), 1u);

    // Loaded again, it is the file loaded: the delete goes through.
    programChange(1);
    clear();
    post(kDeletePreset);
    EXPECT_FALSE(fs::exists(other));
    EXPECT_EQ(logged, (std::vector<std::string>{"trashItemAtURL 1", "trashItemAtURL 1"}));
    EXPECT_EQ(lastList(), split(listOf({"Keep", "Zold"})));
}

// Another program removes the file loaded and writes a new one of its name, which ext4 gives the
// old inode number at once: tag, delete and favourite find another file, change nothing and
// answer nothing. Loaded again, it is the file loaded.
TEST_F(PrescatTrash, AFileWrittenAnewUnderTheLoadedNameIsAnotherFile)
{
    folder("3_SEARCH");
    preset("Presets/Pad.tavpreset");
    const auto pad = root_ / "Presets" / "Pad.tavpreset";
    start();
    interfaceStarted();
    // Tagged in EDIT mode in the result view.
    post(kFolderBase + 0);
    programChange(0);
    runSeconds(0.8);
    post(105);
    runSeconds(0.5);
    post(0);
    programChange(0);
    bool reused = replaceFile(pad, "new");
    post(122);
    clear();
    programChange(108);
    EXPECT_EQ(readBytes(pad), "new") << (reused ? "the inode number came back" : "a new inode number");
    EXPECT_FALSE(fs::exists(root_ / "Presets" / "Pad #pa.tavpreset"));
    EXPECT_TRUE(midiOut().empty());  // no echo of a tag given

    post(kFolderBase + 1);
    programChange(0);
    reused = replaceFile(pad, "newer");
    clear();
    for (int id : {kDeletePreset, kToggleFavourite})
        post(id);
    EXPECT_TRUE(posted().empty());
    EXPECT_TRUE(midiOut().empty());
    EXPECT_TRUE(logged.empty());
    EXPECT_EQ(readBytes(pad), "newer") << (reused ? "the inode number came back" : "a new inode number");

    post(kFolderBase + 1);
    programChange(0);
    post(kToggleFavourite);
    EXPECT_EQ(readBytes(root_ / "Presets" / "Pad #fav.tavpreset"), "newer");
}

// A file system that gives every file inode number 1, as one that hands a removed file's number
// to the next file at once, with the times the test sets: born at `born`, status changed at
// `changed`; with keepsBirth false it keeps no birth time.
class ReusingFileSystem {
public:
    static inline std::atomic<int64_t> born{1};
    static inline std::atomic<int64_t> changed{1};
    static inline std::atomic<bool> keepsBirth{true};

    ReusingFileSystem()
    {
        born = changed = 1;
        keepsBirth = true;
        prescat::setStatusReaderForTests(&status);
    }
    ~ReusingFileSystem() { prescat::setStatusReaderForTests(nullptr); }
    ReusingFileSystem(const ReusingFileSystem&) = delete;
    ReusingFileSystem& operator=(const ReusingFileSystem&) = delete;

private:
    static int status(const char* path, struct statx& out)
    {
        struct stat info {};
        if (::lstat(path, &info) != 0)
            return -1;
        out = {};
        out.stx_mask = STATX_BASIC_STATS | (keepsBirth ? STATX_BTIME : 0u);
        out.stx_ino = 1;
        out.stx_btime.tv_sec = born;
        out.stx_ctime.tv_sec = changed;
        return 0;
    }
};

// Where inode numbers come back at once, the birth tells the file loaded from the one written in
// its place, and a change of status (a chmod, a write in place) leaves it the file loaded. Where
// no birth time is kept, the status change tells them apart: then any change of status makes it
// another file, and only a file loaded again is acted on.
TEST_F(PrescatTrash, WhereInodeNumbersComeBackTheBirthTellsFilesApart)
{
    preset("Presets/Pad.tavpreset");
    const auto pad = root_ / "Presets" / "Pad.tavpreset";
    ReusingFileSystem fileSystem;
    start();
    interfaceStarted();
    programChange(0);
    ReusingFileSystem::born = 2;
    fs::remove(pad);
    writeBytes(pad, "new");
    clear();
    for (int id : {kDeletePreset, kToggleFavourite})
        post(id);
    EXPECT_TRUE(posted().empty());
    EXPECT_TRUE(logged.empty());
    EXPECT_EQ(readBytes(pad), "new");

    post(kFolderBase + 0);
    programChange(0);
    ReusingFileSystem::changed = 2;
    post(kToggleFavourite);
    const auto favourite = root_ / "Presets" / "Pad #fav.tavpreset";
    EXPECT_EQ(readBytes(favourite), "new");

    ReusingFileSystem::keepsBirth = false;
    post(kFolderBase + 0);
    programChange(0);
    ReusingFileSystem::changed = 3;
    post(kDeletePreset);
    EXPECT_TRUE(logged.empty());
    EXPECT_TRUE(fs::exists(favourite));
    post(kFolderBase + 0);
    programChange(0);
    post(kDeletePreset);
    EXPECT_EQ(logged, (std::vector<std::string>{"trashItemAtURL 1"}));
    EXPECT_FALSE(fs::exists(favourite));
}

} // namespace
