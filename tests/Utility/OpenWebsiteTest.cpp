// The web link opener and the layout switcher: what reaches the opener, and the layout copies.
#include "Opener.h"
#include "framework/HostTestSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

using namespace tavhost;
using testsupport::add;

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

class OpenWebsite : public testsupport::InterfaceHostTest {
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

// The real opener runs the command directly with one argument and none of the host's descriptors.
TEST(CommandOpener, PassesOneArgumentWithoutAShellOrTheHostsFiles)
{
    const testsupport::TemporarySharedFolder folder;
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

class GuiSwitcher : public testsupport::InterfaceHostTest {
protected:
    std::filesystem::path layouts() const { return shared.path() / "Quorvane" / "TAVRIN TWO" / "GUI" / "AU"; }
    void write(const std::string& name, const std::string& bytes)
    {
        std::ofstream(layouts() / name, std::ios::binary) << bytes;
    }
    std::string active() const
    {
        std::ifstream in(layouts() / "gui.layout.json", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    testsupport::TemporarySharedFolder shared;
};

TEST_F(GuiSwitcher, CopiesTheChosenLayoutByteForByte)
{
    std::filesystem::create_directories(layouts());
    const std::string names[] = {"gui_553", "gui_622", "gui_200", "gui_100", "gui_855", "gui_200SYN"};
    for (const std::string& name : names)
        write(name + ".layout.json", name + "\r\n\0\xff" + std::string(name.size(), '#'));
    write("gui.layout.json", std::string(4096, 'o'));
    const std::size_t m = add(host, "QV_GuiSwitcher");
    host.start();
    for (int pin = 0; pin < 6; ++pin) {
        transmitsAfter(m, pin, boolValue(true));
        EXPECT_EQ(active(), names[pin] + "\r\n\0\xff" + std::string(names[pin].size(), '#'));
    }
    write("gui_553.layout.json", "changed");
    transmitsAfter(m, 0, boolValue(false));  // false does nothing
    EXPECT_EQ(active().substr(0, 10), "gui_200SYN");
    transmitsAfter(m, 0, boolValue(true));  // true again copies again
    EXPECT_EQ(active(), "changed");
    // A missing source leaves the active layout as it was.
    std::filesystem::remove(layouts() / "gui_622.layout.json");
    transmitsAfter(m, 1, boolValue(true));
    EXPECT_EQ(active(), "changed");
    EXPECT_TRUE(host.callsOf(CallKind::TransmitPin, m).empty());
}

} // namespace
