// Deleting presets of the category library: factory (numbered) presets are refused, others go to
// the freedesktop.org Trash where trash-list shows them under their original path and
// trash-restore puts them back; the one log line tells the result; nothing outside the library
// is ever trashed.
#include "CategoryBrowser/PrescatTestSupport.h"
#include "Log.h"
#include "Trash.h"

#include <cstdio>
#include <cstdlib>

using namespace prescattest;
using namespace prescat;
using managertest::readBytes;
using managertest::writeBytes;

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
    if (std::system("command -v trash-list >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "trash-cli is not installed";
    preset("Presets/#001 Fac.tavpreset");
    preset("Presets/Gone #pa.tavpreset", valuesOf([](int) { return 0.5f; }));
    preset("Presets/Keep.tavpreset");
    const auto gone = root_ / "Presets" / "Gone #pa.tavpreset";
    const std::string goneBytes = readBytes(gone);
    start();
    interfaceStarted();

    post(kDeletePreset);  // entry 0: "#001 Fac"
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

} // namespace
