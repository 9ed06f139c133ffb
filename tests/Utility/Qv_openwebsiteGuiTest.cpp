// The web link opener: what reaches the opener, and how the platform opener runs it.
#include "Opener.h"
#include "framework/HostTestSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

using namespace tav_host;
using test_support::add;

namespace {

class RecordingOpener final : public platform::Opener {
public:
    bool open(std::string_view target) override
    {
        targets.emplace_back(target);
        return true;
    }
    std::vector<std::string> targets;
};

class OpenWebsite : public test_support::InterfaceHostTest {
protected:
    OpenWebsite() { platform::setOpener(&opener); }
    ~OpenWebsite() override { platform::setOpener(nullptr); }
    RecordingOpener opener;
};

TEST_F(OpenWebsite, OpensOnceAtTheRelease)
{
    const std::size_t m = add(host, "QV_OpenWebsite");
    host.start();
    transmitsAfter(m, 0, boolValue(false));  // a first false after construction opens nothing
    EXPECT_TRUE(opener.targets.empty());
    transmitsAfter(m, 1, textValue("https://example.org/a b?x=1&y='2'\"|;$(id)`"));
    transmitsAfter(m, 0, boolValue(true));
    transmitsAfter(m, 0, boolValue(true));
    transmitsAfter(m, 1, textValue("/tmp/My Presets/read me.txt"));  // the text current at the release counts
    EXPECT_TRUE(opener.targets.empty());
    transmitsAfter(m, 0, boolValue(false));
    const auto expanded = host.callsOf(CallKind::ExpandFileName, m);
    ASSERT_EQ(expanded.size(), 1u);
    EXPECT_EQ(expanded[0].size, 1024);
    EXPECT_EQ(expanded[0].text, "/tmp/My Presets/read me.txt");
    transmitsAfter(m, 0, boolValue(false));
    EXPECT_EQ(opener.targets, std::vector<std::string>{"/tmp/My Presets/read me.txt"});
}

// Texts an opener would misread are not handed to it: empty, an option, control characters.
TEST_F(OpenWebsite, RefusesTextsAnOpenerWouldMisread)
{
    const std::size_t m = add(host, "QV_OpenWebsite");
    host.start();
    for (const char* text : {"", "-n https://example.org", "/tmp/a\nb", "/tmp/\x1b[2J"}) {
        transmitsAfter(m, 1, textValue(std::string_view(text)));
        transmitsAfter(m, 0, boolValue(true));
        transmitsAfter(m, 0, boolValue(false));
    }
    transmitsAfter(m, 1, textValue("/" + std::string(2000, 'x')));  // longer than the name buffer
    transmitsAfter(m, 0, boolValue(true));
    transmitsAfter(m, 0, boolValue(false));
    EXPECT_TRUE(opener.targets.empty());

    // The byte form must end within its 1024 bytes: 1023 bytes open, 1024 would be cut short.
    std::string name = "/";
    for (int i = 0; i < 511; ++i)
        name += "\xC3\xA9";
    for (const std::string& text : {name, "/a" + name.substr(1)}) {
        transmitsAfter(m, 1, textValue(text));
        transmitsAfter(m, 0, boolValue(true));
        transmitsAfter(m, 0, boolValue(false));
    }
    EXPECT_EQ(opener.targets, std::vector<std::string>{name});
}

// Line-breaking characters beyond ASCII are refused like the other controls; their neighbours pass.
TEST_F(OpenWebsite, RefusesC1ControlsAndLineSeparators)
{
    const std::size_t m = add(host, "QV_OpenWebsite");
    host.start();
    for (const char* text : {"/tmp/a\u0080b", "/tmp/a\u0085b", "/tmp/\u009b2J", "/tmp/a\u009fb", "https://x.org/\u2028",
                             "https://x.org/\u2029a", "/tmp/\u00a0\u00ff\u2027\u202a"}) {
        transmitsAfter(m, 1, textValue(std::string_view(text)));
        transmitsAfter(m, 0, boolValue(true));
        transmitsAfter(m, 0, boolValue(false));
    }
    EXPECT_EQ(opener.targets, std::vector<std::string>{"/tmp/\u00a0\u00ff\u2027\u202a"});
}

// The platform's opener is looked up in PATH's absolute entries only: an "xdg-open" planted in the
// host's current folder (an empty or relative entry) never runs, nor one that is no executable file.
TEST_F(OpenWebsite, RunsThePlatformOpenerFromAbsolutePathEntriesOnly)
{
    namespace fs = std::filesystem;
    const test_support::TemporarySharedFolder folder;
    const fs::path record = folder.path() / "record.txt";
    const auto script = [&](const fs::path& file, const std::string& tag, fs::perms perms) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "#!/bin/sh\nprintf '%s %s\\n' '" << tag << "' \"$1\" >> '" << record.string() << "'\n";
        fs::permissions(file, perms);
    };
    const fs::path cwd = folder.path() / "cwd";
    script(cwd / "xdg-open", "current", fs::perms::owner_all);
    script(cwd / "rel" / "xdg-open", "relative", fs::perms::owner_all);
    script(folder.path() / "plain" / "xdg-open", "plain", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directories(folder.path() / "dir" / "xdg-open");
    script(folder.path() / "abs" / "xdg-open", "absolute", fs::perms::owner_all);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    const fs::path oldCwd = fs::current_path();
    fs::current_path(cwd);
    platform::setOpener(nullptr);
    const std::size_t m = add(host, "QV_OpenWebsite");
    host.start();
    const auto click = [&](const std::string& path, const std::string& text) {
        ::setenv("PATH", path.c_str(), 1);
        transmitsAfter(m, 1, textValue(text));
        transmitsAfter(m, 0, boolValue(true));
        transmitsAfter(m, 0, boolValue(false));
    };
    const std::string plain = (folder.path() / "plain").string(), dir = (folder.path() / "dir").string();
    click(":.:rel:" + plain + ":" + dir + "/:" + (folder.path() / "abs").string(), "https://example.org/1");
    click(":.:rel::" + plain + ":" + dir, "https://example.org/2");
    click("", "https://example.org/3");
    ::setenv("PATH", oldPath.c_str(), 1);
    fs::current_path(oldCwd);
    std::ifstream in(record);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "absolute https://example.org/1\n");
}

// The real opener runs the command directly with one argument and none of the host's descriptors.
TEST(CommandOpener, PassesOneArgumentWithoutAShellOrTheHostsFiles)
{
    const test_support::TemporarySharedFolder folder;
    const auto script = folder.path() / "recorder";
    const auto record = folder.path() / "record.txt";
    {
        std::ofstream out(script);
        out << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > '" << record.string() << "'\nls /proc/$$/fd >> '"
            << record.string() << "'\n";
    }
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const int held = ::open((folder.path() / "held-open").c_str(), O_CREAT | O_WRONLY, 0600);  // the host's
    ASSERT_GE(held, 3);

    const std::string argument = "https://example.org/?a=1&b=2 'q' \"w\" $(touch /tmp/x) `id` ; | >";
    platform::CommandOpener opener(script.string());
    ASSERT_TRUE(opener.open(argument));
    std::ifstream in(record);
    std::stringstream text;
    text << in.rdbuf();
    ::close(held);
    // The count, the argument unchanged, then the descriptors the recorder's shell holds.
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "1");
    EXPECT_EQ(lines[1], argument);
    EXPECT_EQ(std::count(lines.begin() + 2, lines.end(), std::to_string(held)), 0);
    EXPECT_FALSE(platform::CommandOpener("/nonexistent/opener").open("x"));
}

} // namespace
