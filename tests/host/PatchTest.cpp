// The patch runner with the built bundle loaded as a host loads it: the example patches, the
// dialog answers and requests that cross into the bundle through files, the folders of a run, the
// patch keys of dialog answers, and the runner's refusals, WAV targets and signals as a user meets
// them through tavrin-run.
#include "FileWorker.h"
#include "Patch.h"
#include "PatchRunSupport.h"
#include "WavWriter.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const fs::path kExamples = fs::path(TAVRIN_SOURCE_DIR) / "examples";

using patch_run::fileText;

bool hasLine(const std::string& out, const std::string& line)
{
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

// Without its times ("1.008000 s  "): in real time the preset managers' answers that come from the
// file worker fall on whatever block the worker answers in, and only their order is fixed.
std::string untimed(const std::string& text)
{
    std::string out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t time = line.find(" s  ");
        const bool timed = time != std::string::npos && time > 0 && line.find_first_not_of("0123456789.") == time;
        out += (timed ? line.substr(time + 4) : line) + "\n";
    }
    return out;
}

// The line at its time offline; in real time anywhere.
bool hasEvent(const std::string& out, const std::string& line)
{
    return file_worker::offline() ? hasLine(out, line) : hasLine(untimed(out), untimed(line).substr(0, untimed(line).size() - 1));
}

std::size_t count(const std::string& out, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = out.find(part); at != std::string::npos; at = out.find(part, at + 1))
        ++n;
    return n;
}

class PatchTest : public patch_run::PatchRunTest {
protected:
    PatchTest() : PatchRunTest("tavrin-patch", "shared") {}

    // No dialog script of an earlier test answers this one's dialogs.
    void SetUp() override
    {
        ::unsetenv("TAVRIN_DIALOG_ANSWERS");
        ::unsetenv("TAVRIN_DIALOG_LOG");
        PatchRunTest::SetUp();
    }

    // Runs a patch; the exit code goes to status, problems to errors.
    std::string run(const tav_host::Patch& patch, int& status)
    {
        std::ostringstream out, err;
        status = tav_host::runPatch(patch, bundle_->factory(), {}, out, err);
        errors_ = err.str();
        return out.str();
    }

    tav_host::Patch load(const std::string& name)
    {
        std::string error;
        auto patch = tav_host::loadPatch(kExamples / name, error);
        EXPECT_TRUE(patch) << error;
        return patch ? *patch : tav_host::Patch{};
    }

    // Runs tavrin-run with args (paths without spaces); its output and errors go to out and err.
    int tool(const std::string& args, std::string& out, std::string& err)
    {
        const std::string command = std::string(TAVRIN_RUN_PATH) + " " + args + " >" + (folder_ / "out").string() + " 2>" +
                                    (folder_ / "err").string() + " </dev/null";
        const int status = std::system(command.c_str());
        out = fileText(folder_ / "out");
        err = fileText(folder_ / "err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path write(const std::string& name, const std::string& text)
    {
        std::ofstream(folder_ / name, std::ios::binary) << text;
        return folder_ / name;
    }

    std::string errors_;
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

    EXPECT_TRUE(hasEvent(out, "0.998667 s  mgr  message dsp->gui id 260 size 0"));
    EXPECT_TRUE(hasEvent(out, "1.000000 s  mgr.gui pin 2  value \"Analog Choir 2\""));
    EXPECT_TRUE(hasEvent(out, "1.008000 s  mgr.dsp pin 0 <- midi C0 05 00"));
    EXPECT_EQ(count(file_worker::offline() ? out : untimed(out), file_worker::offline() ? "1.008000 s  mgr.dsp pin 1  midi B0 " : "mgr.dsp pin 1  midi B0 "), 114u);
    EXPECT_TRUE(hasEvent(out, "1.008000 s  mgr.dsp pin 1  midi C0 05 00"));
    EXPECT_TRUE(hasEvent(out, "1.009333 s  mgr.gui pin 2  value \"Frozen Sweep Mono\""));
    EXPECT_TRUE(hasEvent(out, "1.022667 s  link0.dsp pin 1  value 0.06"));
    EXPECT_TRUE(hasEvent(out, "1.022667 s  link0.dsp pin 4  value 0.06"));
    EXPECT_TRUE(hasEvent(out, "1.022667 s  link2.dsp pin 1  value -3.08"));
    EXPECT_TRUE(hasEvent(out, "1.022667 s  link3  message dsp->gui id 0 size 10  text \"d9.930000\""));
    EXPECT_TRUE(hasEvent(out, "1.024000 s  link3.gui pin 0  value 9.93"));
    EXPECT_EQ(count(out, "link1.dsp pin 1"), 1u); // only the first update at start

    const std::string preset = "${sharedFolder}/Quorvane/TAVRIN ONE/Presetbase/Presets/My Preset.tavpreset";
    EXPECT_TRUE(hasLine(out, "1.100000 s  dialog answer <- panel \"" + preset + "\""));
    // The name the panel suggests is the one the interface half shows at 1.1 s: in real time, with
    // the blocks run faster than audio, the worker's answer to the program change may come later.
    const std::string suggesting = file_worker::offline() ? "suggesting \"Frozen Sweep Mono\" " : "suggesting ";
    EXPECT_NE(out.find("1.104000 s  dialog  save panel in \"${sharedFolder}/Quorvane/TAVRIN ONE/Presetbase/Presets\" " + suggesting),
              std::string::npos);
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
    if (file_worker::offline()) {
        ASSERT_EQ(text.size(), 3868u);
        EXPECT_EQ(text.substr(0, 28), ",       Frozen Sweep Mono;\r\n");
    }
    EXPECT_NE(text.find(";\r\n,  0.0600000;\r\n,  0.0000000;\r\n, -3.0799999;\r\n"), std::string::npos);

    // The same run again with "Replace" scripted for the question the existing file raises: the
    // file is written again.
    tav_host::Patch replace = load("preset-request.json");
    tav_host::ScriptAction alternate;
    alternate.kind = tav_host::ScriptAction::Alert;
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

// With print.notes the arpeggiator example names its notes; other MIDI keeps its bytes alone.
TEST_F(PatchTest, ArpeggiatorExamplePrintsNoteLines)
{
    int status = -1;
    const std::string out = run(load("arpeggiator.json"), status);
    ASSERT_EQ(status, 0) << errors_;
    EXPECT_TRUE(hasLine(out, "0.000000 s  arp.dsp pin 0 <- midi 90 3C 64  note on C4 100"));
    EXPECT_TRUE(hasLine(out, "0.001000 s  arp.dsp pin 1  midi 90 3C 64  note on C4 100"));
    EXPECT_TRUE(hasLine(out, "0.002000 s  arp.dsp pin 1  midi 80 3C 40  note off C4"));
    EXPECT_EQ(tav_host::describeNote({0x90, 0x00, 0x00}), "note off C-1");
    EXPECT_EQ(tav_host::describeNote({0x9F, 0x7F, 0x01}), "note on G9 1");
    EXPECT_EQ(tav_host::describeNote({0xB0, 0x07, 0x50}), "");
    EXPECT_EQ(tav_host::describeNote({0x90, 0x3C}), "");
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
    auto patch = tav_host::parsePatch(j, error);
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
        return tav_host::parsePatch(j, message) ? std::string("accepted") : message;
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

// A constant 0.25 fed to a module's input and recorded from that input: exact samples.
const char* const kQuarter = R"({"length": 3, "blockLength": 2,
  "modules": [{"name": "pow", "id": "QV_Pow2x"}],
  "inputs": [{"pin": "pow.dsp.0", "signal": "constant", "value": 0.25}],
  "outputs": [{"pin": "pow.dsp.0"}]})";
const std::string kQuarterSample("\0\0\x80\x3E", 4);

// Bad input ends with a message and exit 2 (1 for a target that cannot be written), never with an
// exception: a folder or a pipe as the patch, a syntax error with its line and column, --wav for a patch
// without outputs (before anything runs) and a folder as the WAV target. A good run starts with
// the legend, naming where the audio goes.
TEST_F(PatchTest, RunnerRefusesBadInputWithAMessage)
{
    std::string out, err;
    EXPECT_EQ(tool(folder_.string(), out, err), 2);
    EXPECT_EQ(err, "tavrin-run: " + folder_.string() + " is a folder, not a patch file\n");
    const fs::path fifo = folder_ / "patch.fifo";  // no writer: opening it must not wait
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(tool(fifo.string(), out, err), 2);
    EXPECT_EQ(err, "tavrin-run: " + fifo.string() + " is not a regular file, not a patch file\n");

    const fs::path bad = write("bad.json", "{\"length\": 64,\n  \"modules\": [x]}");
    EXPECT_EQ(tool(bad.string(), out, err), 2);
    EXPECT_EQ(err.substr(0, err.find(" - ")), "tavrin-run: " + bad.string() + ":2:15: not valid JSON: syntax error while parsing value");

    const fs::path silent = write("silent.json", R"({"length": "1000s", "modules": [{"name": "pow", "id": "QV_Pow2x"}]})");
    EXPECT_EQ(tool(silent.string() + " --wav " + (folder_ / "x.wav").string(), out, err), 2);
    EXPECT_EQ(err, "--wav: the patch has no outputs\ntavrin-run: " + silent.string() + " failed\n");
    EXPECT_EQ(out, "");

    const fs::path quarter = write("quarter.json", kQuarter);
    EXPECT_EQ(tool(quarter.string() + " --wav " + shared_.string(), out, err), 1);
    EXPECT_EQ(err.substr(0, err.find('\n')), "--wav: cannot write " + shared_.string() + ": " + shared_.string() + " is a folder");

    EXPECT_EQ(tool(quarter.string() + " --wav " + (folder_ / "q.wav").string(), out, err), 0) << err;
    EXPECT_EQ(out.substr(0, out.find("0.000000 s")),
              "# One line per event, in time order: <time> s  <module>.<half> pin <n>  <what>\n"
              "#   half: dsp (processing) or gui (interface); \"<-\": sent in by the patch's script,\n"
              "#   other lines: sent by the modules; ${fileFolder}, ${sharedFolder}: the run's folders.\n"
              "# audio: " + (folder_ / "q.wav").string() + ": 1 channel: pow.dsp.0 (48000 Hz, 32-bit float)\n");
}

// Numbers out of range for their field, misspelt module names under print, interface pins beyond
// guiPins and pins the module refuses are errors rather than silently wrong runs.
TEST_F(PatchTest, OutOfRangeAndUnknownPinsAreRefused)
{
    auto error = [](const std::string& patch) {
        std::string message;
        return tav_host::parsePatch(nlohmann::json::parse(patch), message) ? std::string("accepted") : message;
    };
    const std::string pow = R"("modules": [{"name": "pow", "id": "QV_Pow2x", "guiPins": 2)";
    EXPECT_EQ(error(R"({"length": 18446744073709551615, "modules": []})"), "patch.length: is too large");
    EXPECT_EQ(error("{\"length\": 1, " + pow + R"(, "init": {"dsp.0": {"float": 1e300}}}]})"),
              "modules[0].init.dsp.0: float must be a number within +-3.4e38");
    EXPECT_EQ(error("{\"length\": 1, " + pow + R"(, "init": {"dsp.0": {"int": 18446744073709551615}}}]})"),
              "modules[0].init.dsp.0: int must be a 32-bit integer");
    EXPECT_EQ(error("{\"length\": 1, " + pow + R"(, "init": {"gui.2": {"int": 1}}}]})"),
              "modules[0].init.gui.2: \"pow.gui.2\" is beyond the module's 2 interface pins (\"guiPins\")");
    EXPECT_EQ(error("{\"length\": 1, " + pow + R"(}], "inputs": [{"pin": "pow.dsp.0", "signal": "sine", "freq": 1, "amp": 1e39}]})"),
              "inputs[0].amp: must be a finite number within +-3.4e38");
    EXPECT_EQ(error("{\"length\": 1, " + pow + R"(}], "script": [{"at": 0, "action": "gui", "target": "pow.gui.5", "value": {"int": 1}}]})"),
              "script[0].target: \"pow.gui.5\" is beyond the module's 2 interface pins (\"guiPins\")");
    EXPECT_EQ(error("{\"length\": 1, " + pow + R"(}], "script": [{"at": 0, "action": "message", "target": "pow.gui", "id": 4294967296}]})"),
              "script[0]: message needs an integer \"id\"");
    EXPECT_EQ(error("{\"length\": 1, " + pow + R"(}], "print": {"modules": ["pwo"]}})"),
              "patch.print.modules: no module named \"pwo\"");
    EXPECT_EQ(error("{\"length\": 1, " + pow + R"(}], "print": {"modules": ["pow"]}})"), "accepted");

    nlohmann::json j = nlohmann::json::parse(kQuarter);
    j["outputs"].push_back({{"pin", "pow.dsp.7"}});
    std::string message;
    const auto patch = tav_host::parsePatch(j, message);
    ASSERT_TRUE(patch) << message;
    int status = -1;
    EXPECT_EQ(run(*patch, status), "");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(errors_, "output pow.dsp.7: module \"pow\" has no such pin (setBuffer refused it)\n");
}

// --wav through a symlink replaces the file it names and keeps the link; a pipe is written in
// place (a reader gets header and samples), "-" is standard output with the events on standard
// error.
TEST_F(PatchTest, WavTargetsKeepWhatTheyAre)
{
    const std::string expected = tav_host::wavHeader(1, 3, 48000) + kQuarterSample + kQuarterSample + kQuarterSample;
    const fs::path quarter = write("quarter.json", kQuarter);
    fs::create_directory(folder_ / "real");
    write("real/q.wav", "old");
    fs::create_symlink("real/q.wav", folder_ / "link.wav");
    std::string out, err;
    ASSERT_EQ(tool(quarter.string() + " --wav " + (folder_ / "link.wav").string(), out, err), 0) << err;
    EXPECT_TRUE(fs::is_symlink(folder_ / "link.wav"));
    EXPECT_EQ(fileText(folder_ / "real" / "q.wav"), expected);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "real"), fs::directory_iterator()), 1);

    const fs::path pipe = folder_ / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::string heard;
    std::thread reader([&] { heard = fileText(pipe); });
    const int status = tool(quarter.string() + " --wav " + pipe.string(), out, err);
    // A run that never opened the pipe leaves the reader waiting: a writer of our own ends that.
    if (const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0)
        ::close(fd);
    reader.join();
    ASSERT_EQ(status, 0) << err;
    EXPECT_EQ(heard, expected);
    EXPECT_TRUE(fs::is_fifo(pipe));

    ASSERT_EQ(tool(quarter.string() + " --wav -", out, err), 0) << err;
    EXPECT_EQ(out, expected);
    EXPECT_NE(err.find("# audio: standard output: 1 channel: pow.dsp.0"), std::string::npos);
    EXPECT_NE(err.find("0.000042 s  pow.dsp  sleep"), std::string::npos);
}

// SIGTERM ends a long run between blocks: its temporary folder and its unfinished WAV are
// removed, and the process ends by the signal.
TEST_F(PatchTest, SignalRemovesTheRunsTemporaryFiles)
{
    const fs::path patch = write("long.json", R"({"length": "10000s", "modules": [{"name": "pow", "id": "QV_Pow2x"}],
        "inputs": [{"pin": "pow.dsp.0", "signal": "sine", "freq": 1000}], "outputs": [{"pin": "pow.dsp.1"}]})");
    const fs::path temp = folder_ / "tmp";
    fs::create_directory(temp);
    fs::create_directory(folder_ / "wav");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv("TMPDIR", temp.c_str(), 1);
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        ::execl(TAVRIN_RUN_PATH, TAVRIN_RUN_PATH, patch.c_str(), "--wav", (folder_ / "wav" / "long.wav").c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Wait for the run to be under way: its temporary folder made and its WAV growing.
    for (int i = 0; i < 500 && (fs::is_empty(temp) || fs::is_empty(folder_ / "wav")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(fs::is_empty(temp));
    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_TRUE(fs::is_empty(temp));
    EXPECT_TRUE(fs::is_empty(folder_ / "wav"));
}

} // namespace
