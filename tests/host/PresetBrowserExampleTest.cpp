// The category browser example run by the patch runner with the built bundle: the library it
// saves for itself, then the road of one preset request from a click on a row of the list view
// to the parameter links. An end-to-end test named after the example patch it runs.
#include "Patch.h"
#include "PatchRunSupport.h"
#include "PresetStore/ControllerDump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kExample =
    fs::path(TAVRIN_SOURCE_DIR) / "examples" / "preset-browser.json";

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::vector<std::string> linesFrom(const std::vector<std::string>& all, const std::string& first, const std::string& until)
{
    std::vector<std::string> out;
    bool in = false;
    for (const std::string& line : all) {
        in = in || line.rfind(first, 0) == 0;
        if (in && line.rfind(until, 0) == 0)
            break;
        if (in)
            out.push_back(line);
    }
    return out;
}

bool hasLine(const std::vector<std::string>& all, const std::string& line)
{
    return std::find(all.begin(), all.end(), line) != all.end();
}

using patch_run::fileText;

// The dump lines the manager sends for a block holding these three link values, the rest zero.
std::vector<std::string> dumpLines(const std::string& stamp, float slot0, float slot1, float slot2)
{
    float slots[PresetBlock::kSlots] = {};
    slots[0] = slot0;
    slots[1] = slot1;
    slots[2] = slot2;
    std::array<controller_dump::Message, controller_dump::kMessages> dump;
    controller_dump::computeDump(slots, dump);
    std::vector<std::string> out;
    for (const auto& m : dump) {
        char bytes[16];
        std::snprintf(bytes, sizeof bytes, "%02X %02X %02X", m[0], m[1], m[2]);
        out.push_back(stamp + "  mgr.dsp pin 1  midi " + bytes);
    }
    return out;
}

// The run is tavrin-run's: an offline render, compared block for block, whatever mode the other
// tests run in. The bundle reads the mode when it is loaded, as under the runner.
class PresetBrowserExampleTest : public patch_run::PatchRunTest {
protected:
    PresetBrowserExampleTest() : PatchRunTest("tavrin-browser", "") {}

    void SetUp() override
    {
        const char* mode = std::getenv("TAVRIN_OFFLINE");
        const std::string was = mode ? mode : "";
        ::setenv("TAVRIN_OFFLINE", "1", 1);
        PatchRunTest::SetUp();
        if (mode)
            ::setenv("TAVRIN_OFFLINE", was.c_str(), 1);
        else
            ::unsetenv("TAVRIN_OFFLINE");
    }
};

// The library is made by the run itself: two sounds set on the links are saved under typed names
// through the save panel into "2_SAVED", each save's [C0 00 00] carried back once, and the
// refresh 0.3 s after the last save lists both. A click on row 2 then writes PresetNumber 1, the
// selection goes out as [C0 01 00]; carried back, "Warm Pad" loads: the dump of its values, entry
// 1 reported, the echo, row 2 highlighted, and the links pass its values on two polls later.
TEST_F(PresetBrowserExampleTest, ARowClickLoadsASavedPresetIntoTheLinks)
{
    std::string error;
    const auto patch = tav_host::loadPatch(kExample, error);
    ASSERT_TRUE(patch) << error;
    std::ostringstream out, err;
    ASSERT_EQ(tav_host::runPatch(*patch, bundle_->factory(), {}, out, err), 0) << err.str();
    const std::vector<std::string> all = lines(out.str());

    // The library made by the run.
    const std::string saved = "${sharedFolder}/Quorvane/TAVRIN TWO/Presetbase/2_SAVED";
    EXPECT_TRUE(hasLine(all, "0.052000 s  dialog  save panel in \"" + saved + "\" suggesting \"Warm Pad\" -> \"" + saved +
                                 "/Warm Pad\""));
    const std::string path = saved + "/Warm Pad.tavpreset";
    const std::size_t pathSize = path.size() - std::string("${sharedFolder}").size() + shared_.string().size() + 1;
    EXPECT_TRUE(hasLine(all, "0.052000 s  mgr  message gui->dsp id 136 size " + std::to_string(pathSize) + "  text \"" +
                                 path + "\""));
    EXPECT_TRUE(hasLine(all, "0.052000 s  mgr.dsp pin 1  midi C0 00 00"));
    EXPECT_TRUE(hasLine(all, "0.152000 s  dialog  save panel in \"" + saved + "\" suggesting \"Bright Lead\" -> \"" + saved +
                                 "/Bright Lead\""));
    EXPECT_TRUE(hasLine(all, "0.700000 s  written  " + saved + "/Warm Pad.tavpreset  3868 bytes"));
    EXPECT_TRUE(hasLine(all, "0.700000 s  written  " + saved + "/Bright Lead.tavpreset  3868 bytes"));
    const std::string file = fileText(shared_ / "Quorvane" / "TAVRIN TWO" / "Presetbase" / "2_SAVED" / "Warm Pad.tavpreset");
    EXPECT_EQ(file.substr(0, 73), ",                Warm Pad;\r\n,  0.2500000;\r\n,  0.5000000;\r\n,  3.5000000;\r\n");
    // The saves' program changes are carried back and load nothing.
    EXPECT_EQ(linesFrom(all, "0.060000 s", "0.100000 s"), std::vector<std::string>{"0.060000 s  mgr.dsp pin 0 <- midi C0 00 00"});
    EXPECT_EQ(linesFrom(all, "0.450667 s", "0.600000 s"),
              (std::vector<std::string>{
                  "0.450667 s  mgr  message dsp->gui id 300 size 0",
                  "0.450667 s  mgr  message dsp->gui id 280 size 770  text \"2_SAVED,empty,empty,empty,empty,empty,empty,"
                  "empty,empty,empty,empty,empty,empty,\" ...",
                  "0.450667 s  mgr  message dsp->gui id 130 size 0",
                  "0.450667 s  mgr  message dsp->gui id 129 size 777  text \"Bright Lead,Warm Pad,empty,empty,empty,empty,"
                  "empty,empty,empty,empty,empty,empty\" ...",
                  "0.452000 s  mgr.gui pin 16  value \"2_SAVED\"",
                  "0.452000 s  view.gui pin 6  value \"Bright Lead\"",
                  "0.452000 s  view.gui pin 10  value \"Warm Pad\"",
              }));

    // The road, every line of it.
    std::vector<std::string> road = {
        "0.600000 s  view.gui pin 12 <- true",
        "0.600000 s  view.gui pin 5  value true",
        "0.604000 s  view.gui pin 12 <- false",
        "0.604000 s  view.gui pin 0  value 1",
        "0.604000 s  view.gui pin 7  value false",
        "0.604000 s  view.gui pin 11  value false",
        "0.604000 s  view.gui pin 15  value false",
        "0.604000 s  view.gui pin 11  value true",
        "0.604000 s  view.gui pin 5  value false",
        "0.604000 s  mgr  message gui->dsp id 1 size 0",
        "0.604000 s  mgr.gui pin 2  value \"Warm Pad\"",
        "0.604000 s  mgr.gui pin 13  value \"Warm Pad\"",
        "0.604000 s  mgr.gui pin 17  value 1",
        "0.604000 s  mgr.dsp pin 1  midi C0 01 00",
        "0.608000 s  mgr.dsp pin 0 <- midi C0 01 00",
    };
    const std::vector<std::string> dump = dumpLines("0.608000 s", 0.25f, 0.5f, 3.5f);
    road.insert(road.end(), dump.begin(), dump.end());
    road.insert(road.end(), {
                                "0.608000 s  mgr  message dsp->gui id 1 size 0",
                                "0.608000 s  mgr.dsp pin 1  midi C0 01 00",
                                "0.628000 s  link0.dsp pin 1  value 0.25",
                                "0.628000 s  link0.dsp pin 4  value 0.25",
                                "0.628000 s  link1.dsp pin 1  value 0.5",
                                "0.628000 s  link1.dsp pin 4  value 0.5",
                                "0.628000 s  link2  message dsp->gui id 0 size 10  text \"d3.500000\"",
                                "0.629333 s  link2.gui pin 0  value 3.5",
                            });
    EXPECT_EQ(linesFrom(all, "0.600000 s", "0.700000 s"), road);
}

} // namespace
