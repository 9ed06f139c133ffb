// The dialog layer as the preset managers use it: scripted answers, the record and log of
// requests, the extension rule of save panels and the replace question.
#include "Dialogs.h"
#include "TextFiles.h"
#include "platform/OddFilesSupport.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using platform::AlertAnswer;
using platform::ScriptedDialogs;

// Every test logs its requests: the log line carries each field a request records.
class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ScriptedDialogs::instance().reset();
        ::unsetenv(platform::kAnswersVariable);
        ::setenv(platform::kLogVariable, (folder_ / "log.txt").c_str(), 1);
    }
    void TearDown() override
    {
        platform::setFilePanels(nullptr);
        platform::setAlerts(nullptr);
        ScriptedDialogs::instance().reset();
        ::unsetenv(platform::kAnswersVariable);
        ::unsetenv(platform::kLogVariable);
    }

    std::string contents(const fs::path& file) { return platform::readFile(file).value_or("<missing>"); }
    // The log since the last call.
    std::string logged()
    {
        const std::string all = contents(folder_ / "log.txt");
        const std::string fresh = all.substr(std::min(seen_, all.size()));
        seen_ = all.size();
        return fresh;
    }

    test_support::TemporaryFolder temporary_{"tavrin-dialogs"};
    const fs::path folder_ = temporary_.path();
    std::size_t seen_ = 0;
};

const char* const kReplaceText = "A file with the same name already exists.\nDo you want to replace it?";
const char* const kReplaceLine =
    "alert \"Save\": \"A file with the same name already exists.\\nDo you want to replace it?\" [No] [Replace] -> ";

// Panels take queued answers in order and cancel once the queue is empty; a typed name gets the
// save panel's extension once. Confirmations take queued answers and answer the default button
// once the queue is empty; notices show one button and take no answer. Every request is logged
// as one line with its folder, name, type, texts, buttons and answer; quotes, line breaks and
// bytes that are not UTF-8 are escaped. Without the variable nothing more is logged.
TEST_F(DialogsTest, RequestsAnswerFromTheQueueAndAreLoggedAsOneLine)
{
    auto& dialogs = ScriptedDialogs::instance();
    dialogs.pushPanelAnswer(fs::path("/a/B\xC3\xA9nd.tavbank"));
    dialogs.pushPanelCancel();
    dialogs.pushPanelAnswer(fs::path("/a/Pad"));
    dialogs.pushPanelAnswer(fs::path("/a/three.tavpreset"));
    dialogs.pushPanelAnswer(fs::path("/a/four.txt"));
    dialogs.pushAlertAnswer(AlertAnswer::Alternate);

    EXPECT_EQ(platform::filePanels().chooseFileToOpen("/s/Banks", "tavbank"), fs::path("/a/B\xC3\xA9nd.tavbank"));
    EXPECT_EQ(platform::filePanels().chooseFileToOpen("/s/Banks", "tavbank"), std::nullopt);
    EXPECT_EQ(platform::filePanels().chooseFileToSave("/s/Presets", "Say \"hi\"", "tavpreset"), fs::path("/a/Pad.tavpreset"));
    EXPECT_EQ(platform::filePanels().chooseFileToSave("/s/Presets", "", "tavpreset"), fs::path("/a/three.tavpreset"));
    EXPECT_EQ(platform::filePanels().chooseFileToSave("/s", "x", ""), fs::path("/a/four.txt"));
    EXPECT_EQ(dialogs.pendingPanelAnswers(), 0u);
    EXPECT_EQ(platform::filePanels().chooseFileToSave("/s", "", ""), std::nullopt);
    EXPECT_EQ(platform::filePanels().chooseFileToOpen("/s", ""), std::nullopt);
    platform::alerts().notice("Removal denied", "Can't delete a factory Preset!");
    EXPECT_EQ(platform::alerts().confirm("Save", kReplaceText, "No", "Replace"), AlertAnswer::Alternate);
    // Unanswered: no choice, whatever the default button says.
    EXPECT_EQ(platform::alerts().confirm("Delete", "Gone\x01 \xFF?", "Yes", "No"), AlertAnswer::Failed);

    EXPECT_EQ(logged(), "open panel in \"/s/Banks\" for .tavbank -> \"/a/B\xC3\xA9nd.tavbank\"\n"
                        "open panel in \"/s/Banks\" for .tavbank -> cancel\n"
                        "save panel in \"/s/Presets\" suggesting \"Say \\\"hi\\\"\" (.tavpreset) -> \"/a/Pad.tavpreset\"\n"
                        "save panel in \"/s/Presets\" (.tavpreset) -> \"/a/three.tavpreset\"\n"
                        "save panel in \"/s\" suggesting \"x\" -> \"/a/four.txt\"\n"
                        "save panel in \"/s\" -> cancel\n"
                        "open panel in \"/s\" for any file -> cancel\n"
                        "notice \"Removal denied\": \"Can't delete a factory Preset!\" [OK]\n" +
                            std::string(kReplaceLine) + "\"Replace\"\n" +
                            "alert \"Delete\": \"Gone\\x01 \\xFF?\" [Yes] [No] -> no answer\n");
    ASSERT_EQ(dialogs.requests().size(), 10u);
    EXPECT_EQ(dialogs.requests()[2].suggestedName, "Say \"hi\"");

    dialogs.reset();
    EXPECT_TRUE(dialogs.requests().empty());
    ::unsetenv(platform::kLogVariable);
    platform::alerts().notice("t", "m");
    EXPECT_EQ(logged(), "");
}

// Saving over an existing file asks first: "No" shows the panel again, "Replace" keeps the path,
// a new name asks nothing, and a cancel or an exhausted script ends without a path.
TEST_F(DialogsTest, SaveAsksBeforeReplacingAnExistingFile)
{
    auto& dialogs = ScriptedDialogs::instance();
    ASSERT_TRUE(platform::writeFileAtomically(folder_ / "Old.tavpreset", "x"));
    const std::string old = "\"" + (folder_ / "Old.tavpreset").string() + "\"";

    dialogs.pushPanelAnswer(folder_ / "Old");
    dialogs.pushAlertAnswer(AlertAnswer::Default);
    dialogs.pushPanelAnswer(folder_ / "Old.tavpreset");
    dialogs.pushAlertAnswer(AlertAnswer::Alternate);
    EXPECT_EQ(platform::chooseFileToSaveAskingReplace("/start", "Old", "tavpreset"), folder_ / "Old.tavpreset");
    const std::string panel = "save panel in \"/start\" suggesting \"Old\" (.tavpreset) -> " + old + "\n";
    EXPECT_EQ(logged(), panel + kReplaceLine + "\"No\"\n" + panel + kReplaceLine + "\"Replace\"\n");

    dialogs.pushPanelAnswer(folder_ / "New");
    EXPECT_EQ(platform::chooseFileToSaveAskingReplace("/start", "", "tavpreset"), folder_ / "New.tavpreset");
    EXPECT_EQ(logged(), "save panel in \"/start\" (.tavpreset) -> \"" + (folder_ / "New.tavpreset").string() + "\"\n");

    // An existing folder counts as existing for a save without a type.
    fs::create_directory(folder_ / "Bank");
    dialogs.pushPanelAnswer(folder_ / "Bank");
    dialogs.pushAlertAnswer(AlertAnswer::Default);
    dialogs.pushPanelCancel();
    EXPECT_EQ(platform::chooseFileToSaveAskingReplace("/start", "Bank", ""), std::nullopt);
    EXPECT_EQ(logged(), "save panel in \"/start\" suggesting \"Bank\" -> \"" + (folder_ / "Bank").string() + "\"\n" +
                            kReplaceLine + "\"No\"\nsave panel in \"/start\" suggesting \"Bank\" -> cancel\n");

    // With nothing scripted the question counts as "No" and the next panel cancels.
    dialogs.pushPanelAnswer(folder_ / "Old.tavpreset");
    EXPECT_EQ(platform::chooseFileToSaveAskingReplace("/start", "", "tavpreset"), std::nullopt);
    EXPECT_EQ(logged(), "save panel in \"/start\" (.tavpreset) -> " + old + "\n" + kReplaceLine +
                            "no answer\nsave panel in \"/start\" (.tavpreset) -> cancel\n");
}

// Another implementation can take over both services and give them back.
TEST_F(DialogsTest, CurrentImplementationCanBeReplaced)
{
    struct Fixed final : platform::FilePanels, platform::Alerts {
        std::optional<fs::path> chooseFileToOpen(const fs::path&, std::string_view) override { return "/fixed/open"; }
        std::optional<fs::path> chooseFileToSave(const fs::path&, std::string_view, std::string_view) override
        {
            return "/fixed/save";
        }
        AlertAnswer confirm(std::string_view, std::string_view, std::string_view, std::string_view) override
        {
            return AlertAnswer::Alternate;
        }
        void notice(std::string_view, std::string_view, std::string_view) override { ++notices; }
        int notices = 0;
    } fixed;

    platform::setFilePanels(&fixed);
    platform::setAlerts(&fixed);
    EXPECT_EQ(platform::filePanels().chooseFileToOpen("/x", "tavbank"), fs::path("/fixed/open"));
    EXPECT_EQ(platform::chooseFileToSaveAskingReplace("/x", "n", "tavbank"), fs::path("/fixed/save.tavbank"));
    platform::alerts().notice("t", "m");
    EXPECT_EQ(fixed.notices, 1);
    EXPECT_TRUE(ScriptedDialogs::instance().requests().empty());

    platform::setFilePanels(nullptr);
    platform::setAlerts(nullptr);
    EXPECT_EQ(platform::filePanels().chooseFileToOpen("/x", "tavbank"), std::nullopt);
    EXPECT_EQ(platform::alerts().confirm("t", "m", "a", "b"), AlertAnswer::Failed);
    EXPECT_EQ(ScriptedDialogs::instance().requests().size(), 2u);
}

// With the in-memory queue empty, answers come from the answers file: a panel takes the first
// panel line and a box the first alert line, each line used once and the rest kept; malformed
// lines are dropped; a CR before the line end is ignored. Queued answers still come first.
TEST_F(DialogsTest, AnswersComeFromTheAnswersFileWhenTheQueueIsEmpty)
{
    auto& dialogs = ScriptedDialogs::instance();
    const fs::path answers = folder_ / "answers.txt";
    ASSERT_TRUE(platform::writeFileAtomically(answers, "alert alternate\n"
                                                       "panel\n"
                                                       "panel /x/one.tavbank\n"
                                                       "panel relative/two\n"
                                                       "alert maybe\n"
                                                       "panel cancel\r\n"
                                                       "panel /x/My Preset\r\n"
                                                       "alert default"));
    ::setenv(platform::kAnswersVariable, answers.c_str(), 1);

    dialogs.pushPanelAnswer(fs::path("/queued"));
    EXPECT_EQ(platform::filePanels().chooseFileToOpen("/start", "tavbank"), fs::path("/queued"));
    EXPECT_EQ(contents(answers).substr(0, 16), "alert alternate\n");

    EXPECT_EQ(platform::filePanels().chooseFileToOpen("/start", "tavbank"), fs::path("/x/one.tavbank"));
    EXPECT_EQ(contents(answers), "alert alternate\npanel cancel\npanel /x/My Preset\nalert default\n");
    EXPECT_EQ(platform::filePanels().chooseFileToSave("/start", "n", "tavpreset"), std::nullopt);
    EXPECT_EQ(platform::alerts().confirm("t", "m", "No", "Replace"), AlertAnswer::Alternate);
    EXPECT_EQ(platform::filePanels().chooseFileToSave("/start", "n", "tavpreset"), fs::path("/x/My Preset.tavpreset"));
    EXPECT_EQ(contents(answers), "alert default\n");
    platform::alerts().notice("t", "m");
    EXPECT_EQ(contents(answers), "alert default\n");
    EXPECT_EQ(platform::filePanels().chooseFileToOpen("/start", ""), std::nullopt);
    EXPECT_EQ(platform::alerts().confirm("t", "m", "No", "Replace"), AlertAnswer::Default);
    EXPECT_EQ(contents(answers), "");
    EXPECT_EQ(platform::alerts().confirm("t", "m", "No", "Replace"), AlertAnswer::Failed);

    // The replace question of a save runs through the same file.
    ASSERT_TRUE(platform::writeFileAtomically(folder_ / "Old.tavpreset", "x"));
    ASSERT_TRUE(platform::writeFileAtomically(answers, "panel " + (folder_ / "Old").string() + "\nalert alternate\n"));
    EXPECT_EQ(platform::chooseFileToSaveAskingReplace("/start", "Old", "tavpreset"), folder_ / "Old.tavpreset");
    EXPECT_EQ(contents(answers), "");

    // A missing answers file gives no answer and is not created.
    ::setenv(platform::kAnswersVariable, (folder_ / "none" / "answers.txt").c_str(), 1);
    EXPECT_EQ(platform::filePanels().chooseFileToOpen("/start", "tavbank"), std::nullopt);
    EXPECT_FALSE(fs::exists(folder_ / "none"));
}

// The replace question looks at the chosen name's status and opens nothing: a pipe there is
// asked about at once, like a link that names nothing. A pipe as the answers file or the log
// gives no answer and takes no line, and is left a pipe.
TEST_F(DialogsTest, PipesAndDevicesAreNeverWaitedOn)
{
    auto& dialogs = ScriptedDialogs::instance();
    odd_files::makePipe(folder_ / "Pipe.tavpreset");
    fs::create_symlink("nowhere", folder_ / "Dangling.tavpreset");
    dialogs.pushPanelAnswer(folder_ / "Pipe");
    dialogs.pushAlertAnswer(AlertAnswer::Alternate);
    dialogs.pushPanelAnswer(folder_ / "Dangling");
    dialogs.pushAlertAnswer(AlertAnswer::Alternate);
    std::optional<fs::path> pipe, dangling;
    EXPECT_TRUE(odd_files::returnsAtOnce([&] {
        pipe = platform::chooseFileToSaveAskingReplace("/start", "", "tavpreset");
        dangling = platform::chooseFileToSaveAskingReplace("/start", "", "tavpreset");
    }, {folder_ / "Pipe.tavpreset"}));
    EXPECT_EQ(pipe, folder_ / "Pipe.tavpreset");
    EXPECT_EQ(dangling, folder_ / "Dangling.tavpreset");
    EXPECT_EQ(dialogs.pendingAlertAnswers(), 0u);

    odd_files::makePipe(folder_ / "answers");
    odd_files::makePipe(folder_ / "log.txt");
    ::setenv(platform::kAnswersVariable, (folder_ / "answers").c_str(), 1);
    std::optional<fs::path> opened = fs::path("/unset");
    EXPECT_TRUE(odd_files::returnsAtOnce([&] { opened = platform::filePanels().chooseFileToOpen("/start", ""); },
                                            {folder_ / "answers", folder_ / "log.txt"}));
    EXPECT_EQ(opened, std::nullopt);
    EXPECT_TRUE(fs::is_fifo(folder_ / "answers") && fs::is_fifo(folder_ / "log.txt"));
}

} // namespace
