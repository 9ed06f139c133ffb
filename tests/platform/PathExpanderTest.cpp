// The folder-setting expander: what users write keeps working, every other form is refused as a
// whole, and nothing outside the text changes.
#include "PathExpander.h"

#include "Log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using platform::expandShellWord;

class PathExpanderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("HOME", "/Users/ann", 1);
        ::setenv("TAVRIN_SHARED_FOLDER", "/Users/Shared/Quorvane/", 1);
        ::setenv("TAV_SPACED", "/Volumes/My Disk", 1);
        ::unsetenv("TAV_UNSET");
        ::unsetenv("TAV_SET_ME");
    }
    void TearDown() override
    {
        restore("HOME", home_);
        ::unsetenv("TAV_SPACED");
        restore("TAVRIN_SHARED_FOLDER", shared_);
    }
    static void restore(const char* name, const std::optional<std::string>& value)
    {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    static std::optional<std::string> current(const char* name)
    {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    std::optional<std::string> home_ = current("HOME");
    std::optional<std::string> shared_ = current("TAVRIN_SHARED_FOLDER");
};

// The folder settings users write.
TEST_F(PathExpanderTest, AcceptedForms)
{
    EXPECT_EQ(expandShellWord("~/Presets/"), "/Users/ann/Presets/");
    EXPECT_EQ(expandShellWord("~"), "/Users/ann");
    EXPECT_EQ(expandShellWord("$HOME/Music/"), "/Users/ann/Music/");
    EXPECT_EQ(expandShellWord("${HOME}x/"), "/Users/annx/");
    EXPECT_EQ(expandShellWord("$TAVRIN_SHARED_FOLDER/"), "/Users/Shared/Quorvane//");
    EXPECT_EQ(expandShellWord("'/Volumes/My Disk/'"), "/Volumes/My Disk/");
    EXPECT_EQ(expandShellWord("\"$HOME/My Presets/\""), "/Users/ann/My Presets/");
    EXPECT_EQ(expandShellWord("/Volumes/My\\ Disk/"), "/Volumes/My Disk/");
    EXPECT_EQ(expandShellWord("\"a\\$HOME\\\"\\x\""), "a$HOME\"\\x");
    EXPECT_EQ(expandShellWord("'$HOME `x` $(y)'"), "$HOME `x` $(y)");
    // A variable's value is taken whole, spaces included; an unset one is empty.
    EXPECT_EQ(expandShellWord("$TAV_SPACED/Presets/"), "/Volumes/My Disk/Presets/");
    EXPECT_EQ(expandShellWord("/a$TAV_UNSET/b/"), "/a/b/");
    // Only the first word is kept; leading blanks are not a word.
    EXPECT_EQ(expandShellWord(" \t/one/ /two/"), "/one/");
    // Pattern characters stay plain; a "$" that starts nothing stays itself.
    EXPECT_EQ(expandShellWord("/*/*/?[ab]/"), "/*/*/?[ab]/");
    EXPECT_EQ(expandShellWord("/cost$/a$ b"), "/cost$/a$");
    // "~" only at the start of a word, and not when quoted.
    EXPECT_EQ(expandShellWord("/x/~/"), "/x/~/");
    EXPECT_EQ(expandShellWord("'~'/"), "~/");
    EXPECT_EQ(expandShellWord("~tavrin_no_such_user/x"), "~tavrin_no_such_user/x");
    if (const passwd* root = ::getpwnam("root")) {
        EXPECT_EQ(expandShellWord("~root/x"), std::string(root->pw_dir) + "/x");
    }
}

// Forms that run commands, change or reveal the process, or are not one plain word: refused as a
// whole, also when they stand in a later word.
TEST_F(PathExpanderTest, RefusedForms)
{
    for (const char* text : {"$(touch x)", "$((1+1))", "$[1]", "`id`", "\"`id`\"", "\"$(id)\"",
                             "${W?}", "${X?msg}", "${TAV_SET_ME=/tmp/evil.so}", "${TAV_SET_ME:=x}", "${#H:=$O}", "${LD_PRELOAD=/tmp/evil.so}",
                             "${HOME:-/x}", "${#HOME}", "${}", "${1}", "$0", "$1", "$$", "$?", "$#",
                             "$@", "$*", "$!", "$-", "/ok/ $(id)", "a;b", "a|b", "a&b", "a>b", "(a)",
                             "{a}", "a\nb", "'open", "\"open", "trail\\"}) {
        EXPECT_EQ(expandShellWord(text), std::nullopt) << text;
    }
    EXPECT_EQ(expandShellWord(std::string_view("a\0b", 3)), std::nullopt);
    EXPECT_EQ(std::getenv("TAV_SET_ME"), nullptr);
    // No word, or an empty one.
    EXPECT_EQ(expandShellWord(""), std::nullopt);
    EXPECT_EQ(expandShellWord("   "), std::nullopt);
    EXPECT_EQ(expandShellWord("''"), std::nullopt);
    EXPECT_EQ(expandShellWord("$TAV_UNSET /x/"), std::nullopt);
}

// A folder setting must name an absolute folder once expanded: a relative one would put files
// below whatever folder the host runs in, so it is refused and logged, the setting as given.
TEST_F(PathExpanderTest, FolderSettingsAreAbsoluteFolders)
{
    std::vector<std::string> logged;
    platform::setLogSink([](const char* line, void* lines) { static_cast<std::vector<std::string>*>(lines)->emplace_back(line); },
                         &logged);
    ::setenv("TAV_RELATIVE", "rel/", 1);
    EXPECT_EQ(platform::expandFolderSetting("~/Presets/"), "/Users/ann/Presets/");
    EXPECT_EQ(platform::expandFolderSetting("'/Volumes/My Disk/' x"), "/Volumes/My Disk/");
    EXPECT_TRUE(logged.empty());
    for (const char* text : {"0", "b1", "~tavrin-no-such-user/", "./x/", "$TAV_RELATIVE", "'' /abs/"})
        EXPECT_EQ(platform::expandFolderSetting(text), std::nullopt) << text;
    EXPECT_EQ(logged, (std::vector<std::string>{"PathMac \"0\" is no absolute folder; ignored",
                                                "PathMac \"b1\" is no absolute folder; ignored",
                                                "PathMac \"~tavrin-no-such-user/\" is no absolute folder; ignored",
                                                "PathMac \"./x/\" is no absolute folder; ignored",
                                                "PathMac \"$TAV_RELATIVE\" is no absolute folder; ignored"}));
    logged.clear();
    EXPECT_EQ(platform::expandFolderSetting(""), std::nullopt);  // no setting: nothing to say
    EXPECT_EQ(platform::expandFolderSetting("$(id)"), std::nullopt);
    EXPECT_EQ(platform::expandFolderSetting(std::string(300, 'r')), std::nullopt);
    EXPECT_EQ(logged, (std::vector<std::string>{"PathMac \"" + std::string(200, 'r') + "\" is no absolute folder; ignored"}));
    platform::setLogSink(nullptr, nullptr);
    ::unsetenv("TAV_RELATIVE");
}

// A long text is read in time proportional to its length, and a result longer than any folder
// setting is refused.
TEST_F(PathExpanderTest, LongTexts)
{
    const std::string many(100000, '*');
    EXPECT_EQ(expandShellWord("/" + many), std::nullopt);
    std::string repeated;
    for (int i = 0; i < 5000; ++i)
        repeated += "$TAV_SPACED";
    EXPECT_EQ(expandShellWord(repeated), std::nullopt);
    EXPECT_EQ(expandShellWord(std::string(1000, '*'))->size(), 1000u);
}

} // namespace
