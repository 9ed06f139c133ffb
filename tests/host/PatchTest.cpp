// The patch runner with the built bundle loaded as a host loads it: the example patches, the
// dialog answers and requests that cross into the bundle through files, the folders of a run and
// the patch keys of dialog answers.
#include "Bundle.h"
#include "Patch.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const fs::path kExamples = fs::path(__FILE__).parent_path().parent_path().parent_path() / "examples";

std::string fileText(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool hasLine(const std::string& out, const std::string& line)
{
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

std::size_t count(const std::string& out, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = out.find(part); at != std::string::npos; at = out.find(part, at + 1))
        ++n;
    return n;
}

class PatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "tavrin-patch-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        shared_ = folder_ / "shared";
        fs::create_directory(shared_);
        ::setenv("TAVRIN_SHARED_FOLDER", shared_.c_str(), 1);
        ::unsetenv("TAVRIN_DIALOG_ANSWERS");
        ::unsetenv("TAVRIN_DIALOG_LOG");
        std::string error;
        bundle_ = tavhost::Bundle::load(TAVRIN_BUNDLE_PATH, error);
        ASSERT_TRUE(bundle_) << error;
    }
    void TearDown() override
    {
        bundle_.reset();
        ::unsetenv("TAVRIN_SHARED_FOLDER");
        fs::remove_all(folder_);
    }

    // Runs a patch; the exit code goes to status, problems to errors.
    std::string run(const tavhost::Patch& patch, int& status)
    {
        std::ostringstream out, err;
        status = tavhost::runPatch(patch, bundle_->factory(), {}, out, err);
        errors_ = err.str();
        return out.str();
    }

    tavhost::Patch load(const std::string& name)
    {
        std::string error;
        auto patch = tavhost::loadPatch(kExamples / name, error);
        EXPECT_TRUE(patch) << error;
        return patch ? *patch : tavhost::Patch{};
    }

    fs::path folder_;
    fs::path shared_;
    std::string errors_;
    std::unique_ptr<tavhost::Bundle> bundle_;
};

// One preset request from program change to parameter values, then a save through the save
// panel: the factory bank arrives one second after start; program change 5 is answered by the
// 114-controller dump and [C0 05 00] at once, and the links pass slots 0, 2 and 3 on after two
// polls (slot 1 holds 0 in preset 5 and stays silent); the scripted panel answer saves preset 5
// under its name into the shared folder, and the run lists the 3868-byte file.
TEST_F(PatchTest, PresetRequestExampleRunsTheWholeRoad)
{
    int status = -1;
    const std::string out = run(load("preset-request.json"), status);
    ASSERT_EQ(status, 0) << errors_;

    EXPECT_TRUE(hasLine(out, "0.998667 s  mgr  message dsp->gui id 260 size 0"));
    EXPECT_TRUE(hasLine(out, "1.000000 s  mgr.gui pin 2  value \"Analog Choir 2\""));
    EXPECT_TRUE(hasLine(out, "1.008000 s  mgr.dsp pin 0 <- midi C0 05 00"));
    EXPECT_EQ(count(out, "1.008000 s  mgr.dsp pin 1  midi B0 "), 114u);
    EXPECT_TRUE(hasLine(out, "1.008000 s  mgr.dsp pin 1  midi C0 05 00"));
    EXPECT_TRUE(hasLine(out, "1.009333 s  mgr.gui pin 2  value \"Frozen Sweep Mono\""));
    EXPECT_TRUE(hasLine(out, "1.022667 s  link0.dsp pin 1  value 0.06"));
    EXPECT_TRUE(hasLine(out, "1.022667 s  link0.dsp pin 4  value 0.06"));
    EXPECT_TRUE(hasLine(out, "1.022667 s  link2.dsp pin 1  value -3.08"));
    EXPECT_TRUE(hasLine(out, "1.022667 s  link3  message dsp->gui id 0 size 10  text \"d9.930000\""));
    EXPECT_TRUE(hasLine(out, "1.024000 s  link3.gui pin 0  value 9.93"));
    EXPECT_EQ(count(out, "link1.dsp pin 1"), 1u); // only the first update at start

    const std::string preset = "${sharedFolder}/Quorvane/TAVRIN ONE/Presetbase/Presets/My Preset.tavpreset";
    EXPECT_TRUE(hasLine(out, "1.100000 s  dialog answer <- panel \"" + preset + "\""));
    EXPECT_TRUE(hasLine(out, "1.104000 s  dialog  save panel in \"${sharedFolder}/Quorvane/TAVRIN ONE/Presetbase/Presets\" "
                             "suggesting \"Frozen Sweep Mono\" (.tavpreset) -> \"" + preset + "\""));
    EXPECT_NE(out.find("  mgr  message gui->dsp id 136 size " + std::to_string(shared_.string().size() + 60) + "  text \"" +
                       preset + "\"\n"),
              std::string::npos);
    EXPECT_TRUE(hasLine(out, "1.200000 s  written  " + preset + "  3868 bytes"));
    // The run's temporary folders never show, so the output is the same on every run.
    EXPECT_EQ(out.find(shared_.string()), std::string::npos);
    EXPECT_EQ(out.find("/tmp"), std::string::npos);
    // The list text is hidden; its message shows as text.
    EXPECT_EQ(out.find("mgr.gui pin 1 "), std::string::npos);

    // The file carries the edited name and the running values of preset 5.
    const fs::path file = shared_ / "Quorvane" / "TAVRIN ONE" / "Presetbase" / "Presets" / "My Preset.tavpreset";
    const std::string text = fileText(file);
    ASSERT_EQ(text.size(), 3868u);
    EXPECT_EQ(text.substr(0, 28), ",       Frozen Sweep Mono;\r\n");
    EXPECT_EQ(text.substr(28, 45), ",  0.0600000;\r\n,  0.0000000;\r\n, -3.0799999;\r\n");

    // The same run again with "Replace" scripted for the question the existing file raises: the
    // file is written again.
    tavhost::Patch replace = load("preset-request.json");
    tavhost::ScriptAction alternate;
    alternate.kind = tavhost::ScriptAction::Alert;
    alternate.at = 52800;
    alternate.alternate = true;
    replace.script.insert(replace.script.end() - 2, alternate);
    const std::string replaced = run(replace, status);
    ASSERT_EQ(status, 0) << errors_;
    EXPECT_TRUE(hasLine(replaced, "1.100000 s  dialog answer <- alert alternate"));
    EXPECT_NE(replaced.find("[No] [Replace] -> \"Replace\""), std::string::npos);
    EXPECT_TRUE(hasLine(replaced, "1.200000 s  written  " + preset + "  3868 bytes"));

    // The run gives the environment back as it was.
    EXPECT_EQ(std::getenv("TAVRIN_SHARED_FOLDER"), shared_.string());
    EXPECT_EQ(std::getenv("TAVRIN_DIALOG_ANSWERS"), nullptr);
    EXPECT_EQ(std::getenv("TAVRIN_DIALOG_LOG"), nullptr);
}

// The audio example: script inputs, processing outputs, interface pins and sleep as before; no
// dialog and no file.
TEST_F(PatchTest, AudioMathExampleRuns)
{
    int status = -1;
    const std::string out = run(load("audio-math.json"), status);
    ASSERT_EQ(status, 0) << errors_;
    EXPECT_TRUE(hasLine(out, "0.001000 s  passer.dsp pin 0 <- value 0.5"));
    EXPECT_TRUE(hasLine(out, "0.001000 s  passer.dsp pin 1  value 0.5"));
    EXPECT_TRUE(hasLine(out, "0.001333 s  turner.gui pin 1  value 0.5"));
    EXPECT_TRUE(hasLine(out, "0.002667 s  turner.gui pin 3  value 0.125"));
    EXPECT_TRUE(hasLine(out, "0.004500 s  pow.dsp pin 1  streaming off"));
    EXPECT_EQ(out.find("dialog"), std::string::npos);
    EXPECT_EQ(out.find("written"), std::string::npos);
}

// A patch's own shared folder wins over the variable and is made when missing; without either, a
// temporary one is used and removed.
TEST_F(PatchTest, FoldersOfARun)
{
    nlohmann::json j = nlohmann::json::parse(fileText(kExamples / "preset-request.json"));
    const fs::path own = folder_ / "own";
    j["sharedFolder"] = own.string();
    j["fileFolder"] = (folder_ / "files").string();
    std::string error;
    auto patch = tavhost::parsePatch(j, error);
    ASSERT_TRUE(patch) << error;
    int status = -1;
    std::string out = run(*patch, status);
    ASSERT_EQ(status, 0) << errors_;
    EXPECT_TRUE(fs::exists(own / "Quorvane" / "TAVRIN ONE" / "Presetbase" / "Presets" / "My Preset.tavpreset"));
    EXPECT_FALSE(fs::exists(shared_ / "Quorvane"));
    EXPECT_NE(out.find("written  ${sharedFolder}/Quorvane/"), std::string::npos);

    ::unsetenv("TAVRIN_SHARED_FOLDER");
    out = run(load("preset-request.json"), status);
    ASSERT_EQ(status, 0) << errors_;
    EXPECT_NE(out.find("written  ${sharedFolder}/Quorvane/TAVRIN ONE/Presetbase/Presets/My Preset.tavpreset  3868 bytes"),
              std::string::npos);
    EXPECT_EQ(std::getenv("TAVRIN_SHARED_FOLDER"), nullptr);
}

// Dialog answers in a patch: a panel takes a path (absolute or under a folder placeholder) or a
// cancel, an alert one of its two buttons; neither takes a target, and a mistake names its key.
TEST_F(PatchTest, DialogAnswerKeysAreChecked)
{
    auto error = [](const std::string& action) {
        nlohmann::json j = {{"length", 64},
                            {"modules", nlohmann::json::array()},
                            {"script", nlohmann::json::array({nlohmann::json::parse(action)})}};
        std::string message;
        return tavhost::parsePatch(j, message) ? std::string("accepted") : message;
    };
    EXPECT_EQ(error(R"({"at": 0, "action": "panel", "path": "/a b/c.tavpreset"})"), "accepted");
    EXPECT_EQ(error(R"({"at": 0, "action": "panel", "path": "${fileFolder}/x"})"), "accepted");
    EXPECT_EQ(error(R"({"at": 0, "action": "panel", "cancel": true})"), "accepted");
    EXPECT_EQ(error(R"({"at": 0, "action": "alert", "button": "alternate"})"), "accepted");
    EXPECT_EQ(error(R"({"at": 0, "action": "panel", "path": "x/c"})"),
              "script[0].path: \"x/c\" must be absolute or start with ${fileFolder} or ${sharedFolder}");
    EXPECT_EQ(error(R"({"at": 0, "action": "panel", "path": "${home}/c"})"),
              "script[0].path: \"${home}/c\": the placeholders are ${fileFolder} and ${sharedFolder}");
    EXPECT_EQ(error(R"({"at": 0, "action": "panel", "path": "/a\nb"})"), "script[0].path: must be one line without NUL");
    EXPECT_EQ(error(R"({"at": 0, "action": "panel", "path": "/a", "cancel": true})"),
              "script[0]: a panel answer is \"path\" or \"cancel\": true");
    EXPECT_EQ(error(R"({"at": 0, "action": "panel"})"), "script[0]: a panel answer is \"path\" or \"cancel\": true");
    EXPECT_EQ(error(R"({"at": 0, "action": "alert", "button": "yes"})"),
              "script[0].button: must be \"default\" or \"alternate\"");
    EXPECT_EQ(error(R"({"at": 0, "action": "alert", "target": "m.gui", "button": "default"})"),
              "script[0].target: a dialog answer goes to no module");
    EXPECT_EQ(error(R"({"at": 0, "action": "alert", "button": "default", "path": "/x"})"),
              "script[0]: unknown key \"path\"");
}

} // namespace
