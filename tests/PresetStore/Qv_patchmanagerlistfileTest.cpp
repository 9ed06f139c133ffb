// The list-file manager's processing half driven through the stand-in host: the startup bank and
// the busy gate, selection by message, List.txt and Path.txt as its interface
// half writes and reads them, the preset and bank file commands, and the folders it refuses.
// The shared preset block is watched through a small probe module that opens the same block.
#include "PresetStore/ManagerTestSupport.h"
#include "support/Settle.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace manager_test;

namespace {

using namespace tav_host;

enum Pin { kMidiIn, kMidiOut, kId, kAutoPath, kPathPc, kPathMac, kBusyGate };

using Bank = std::vector<std::array<float, 256>>;

// Values that print exactly with 7 decimals and differ from preset to preset.
float bankValue(int preset, int slot) { return static_cast<float>(preset) * 0.5f + static_cast<float>(slot) * 0.25f; }

Bank numberedBank()
{
    Bank bank(128);
    for (int p = 0; p < 128; ++p)
        for (int k = 0; k < 256; ++k)
            bank[p][k] = bankValue(p, k);
    return bank;
}

std::string bankText(const Names& names, const Bank& bank)
{
    return manager_test::bankText(names, [&](int p, int k) { return bank[p][k]; });
}

struct ManagerSetup {
    std::string id = "TAVRIN ONE";
    bool autoPath = false;
    std::string pathMac{};                // empty: the test's base folder with its trailing "/"
    std::optional<fs::path> hostFolder{}; // where the host resolves file names; default hostfiles
    bool bothHalves = false;              // else the processing half and the block probe
};

class ListfileManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(base_);
        fs::create_directories(root_ / "cwd");
        fs::create_directories(root_ / "hostfiles");
        previousCwd_ = fs::current_path();
        fs::current_path(root_ / "cwd");  // anything written relative to it shows up here
    }
    void TearDown() override
    {
        stop();
        fs::current_path(previousCwd_);
    }

    // The manager (with the probe, or with its interface half), pins set, host started at 1000 Hz
    // (no block run yet). Both halves' pins name the same manager folder.
    void start(const ManagerSetup& setup = {})
    {
        stop();
        factory_ = std::make_unique<OneSideFactory>(mpapi::MP_TYPE_AUDIO);
        HostConfig config;
        config.sampleRate = 1000.0f;
        config.fileFolder = setup.hostFolder.value_or(root_ / "hostfiles");
        host_ = std::make_unique<Host>(setup.bothHalves ? test_support::factory() : factory_.get(), config);
        if (!setup.bothHalves)
            test_support::add(*host_, "TEST_BlockProbe");
        manager_ = test_support::add(*host_, "QV_PatchManagerListfile", test_support::withGuiPins(14));
        const std::string pathMac = setup.pathMac.empty() ? base_ : setup.pathMac;
        host_->setInitialValue(manager_, Side::Dsp, kId, textValue(setup.id));
        host_->setInitialValue(manager_, Side::Dsp, kAutoPath, boolValue(setup.autoPath));
        host_->setInitialValue(manager_, Side::Dsp, kPathMac, textValue(pathMac));
        if (setup.bothHalves) {
            host_->setInitialValue(manager_, Side::Gui, manager_test::kId, textValue(setup.id));
            host_->setInitialValue(manager_, Side::Gui, manager_test::kAutoPath, boolValue(setup.autoPath));
            host_->setInitialValue(manager_, Side::Gui, manager_test::kPathMac, textValue(pathMac));
        }
        host_->start();
    }
    // Releases the modules; the host saw no fault.
    void stop()
    {
        if (!host_)
            return;
        host_->shutdown();
        EXPECT_TRUE(host_->faults().empty()) << host_->faults().front();
        host_.reset();
    }

    void run(int blocks)
    {
        for (int b = 0; b < blocks; ++b)
            ASSERT_TRUE(host_->runBlock(64));
    }

    // A message from the interface half: an id without payload; then blocks until what it asked
    // of the disk is done.
    void message(int id)
    {
        host_->postToDsp(manager_, id, {});
        settle();
    }
    void settle()
    {
        host_->drain();
        test_support::settle(*host_);
        host_->drain();
    }

    fs::path folder() const { return fs::path(base_) / "Quorvane" / "TAVRIN ONE"; }
    fs::path startupBank() const { return folder() / "Presetbase" / "DEFAULTBANK.tavbank"; }
    void writePathFile(const std::string& bytes) { writeBytes(folder() / "Path.txt", bytes); }

    float live(int slot) const { return factory_->probe->block.get(slot); }
    void setLive(int slot, float v) { factory_->probe->block.set(slot, v); }
    std::array<float, 256> liveAll() const
    {
        std::array<float, 256> values{};
        for (int k = 0; k < 256; ++k)
            values[k] = live(k);
        return values;
    }
    // The value bank[preset][slot] as a select message shows it in the live preset.
    float stored(int preset, int slot)
    {
        message(preset);
        return live(slot);
    }

    // The names as this half publishes them in List.txt (message 134).
    std::string publishedList()
    {
        message(list_message::kInterfaceStarted);
        return readBytes(folder() / "List.txt");
    }

    // Every message to the interface half is a bare id.
    std::vector<int> messagesToGui() const { return idsToGui(*host_, manager_, true); }
    std::vector<Bytes> midiOut() const { return midiSent(*host_, manager_, kMidiOut); }

    std::vector<float> gate() const
    {
        const auto span = host_->buffer(manager_, kBusyGate);
        return std::vector<float>(span.begin(), span.end());
    }

    test_support::TemporarySharedFolder shared_;
    fs::path root_ = shared_.path();
    std::string base_ = (root_ / "base").string() + "/";
    fs::path previousCwd_;
    std::unique_ptr<OneSideFactory> factory_;
    std::unique_ptr<Host> host_;
    std::size_t manager_ = 0;
};

const std::vector<float> kHigh(64, 1.0f);
const std::vector<float> kLow(64, 0.0f);

// Graph start reads the startup bank (every row from column 0) and holds the busy gate at 1.0 for
// one second of samples, whole blocks; the live preset is stored into the current slot once, at
// the end of the first second only.
TEST_F(ListfileManagerTest, StartupBankAndBusyGate)
{
    writeBytes(startupBank(), bankText(numberedNames("Pad "), numberedBank()));
    start();  // 1000 Hz: 1000 samples = 15 blocks of 64 and part of the 16th
    run(1);
    EXPECT_EQ(gate(), kHigh);
    setLive(5, 0.75f);
    run(15);
    EXPECT_EQ(gate(), kHigh);
    run(1);
    EXPECT_EQ(gate(), kLow);

    setLive(5, 0.1f);
    message(0);
    EXPECT_EQ(live(5), 0.75f);  // the snapshot, taken from the live preset into preset 0
    EXPECT_EQ(live(6), 0.0f);
    message(127);
    EXPECT_EQ(liveAll(), numberedBank()[127]);
    EXPECT_EQ(publishedList(), listText(numberedNames("Pad ")) + "\r\n");

    // A second graph start reads the bank again and runs the gate again, without a snapshot.
    host_->queueRawEvents(manager_, {{.eventType = mpapi::MP_EVENT_GRAPH_START}});
    run(1);
    EXPECT_EQ(gate(), kHigh);
    setLive(5, 0.9f);
    run(15);
    EXPECT_EQ(gate(), kHigh);
    run(1);
    EXPECT_EQ(gate(), kLow);
    EXPECT_EQ(stored(127, 5), bankValue(127, 5));  // preset 127 was current: no snapshot into it
    EXPECT_EQ(stored(0, 5), bankValue(0, 5));
}

// Without a startup bank the bank stays zero and the names as constructed; the gate runs anyway.
// A piece that runs before the first graph start takes the one snapshot at once.
TEST_F(ListfileManagerTest, SnapshotBeforeGraphStartAndMissingStartupBank)
{
    start();
    setLive(2, 0.3f);
    host_->queueRawEvents(manager_, {{.parm1 = kAutoPath, .parm2 = 1}});  // AutoPath false
    run(1);
    EXPECT_EQ(gate(), kLow);
    setLive(2, 0.8f);
    run(1);  // graph start
    EXPECT_EQ(gate(), kHigh);
    run(16);
    EXPECT_EQ(gate(), kLow);
    EXPECT_EQ(stored(0, 2), 0.3f);
    EXPECT_EQ(stored(1, 2), 0.0f);
    EXPECT_EQ(publishedList(), listText(constructorNames()) + "\r\n");
}

// Select messages copy the preset into the live block and echo [C0 p 00] without telling the
// interface half (program changes, which do, are tested with the other manager's in
// ListManagerTest.cpp). Ids outside the table do nothing.
TEST_F(ListfileManagerTest, SelectionByMessage)
{
    writeBytes(startupBank(), bankText(numberedNames("Pad "), numberedBank()));
    start();
    run(1);
    host_->clearCalls();

    message(7);
    EXPECT_EQ(liveAll(), numberedBank()[7]);
    EXPECT_EQ(midiOut(), (std::vector<Bytes>{{0xC0, 0x07, 0x00}}));
    EXPECT_TRUE(messagesToGui().empty());

    host_->clearCalls();
    for (int id : {-1, 136, 257, 258, 1000, INT_MIN, INT_MAX})
        message(id);
    EXPECT_EQ(liveAll(), numberedBank()[7]);
    EXPECT_TRUE(midiOut().empty());
    EXPECT_TRUE(messagesToGui().empty());

    // A payload, which no message of this module has, is ignored and the id still acts.
    host_->postToDsp(manager_, 4, Bytes{'x', 'y'});
    settle();
    EXPECT_EQ(liveAll(), numberedBank()[4]);
}

// Message 134 publishes the names as one numbered line in List.txt and tells the current preset
// (130 + p) before "read it" (129); message 133 takes the names back from List.txt by the list
// rules; a file written and read back changes nothing.
TEST_F(ListfileManagerTest, ListTxtBothWays)
{
    start();
    run(1);
    host_->clearCalls();
    message(list_message::kInterfaceStarted);
    const std::string published = readBytes(folder() / "List.txt");
    EXPECT_EQ(published.size(), 1283u);
    EXPECT_EQ(published, listText(constructorNames()) + "\r\n");
    EXPECT_EQ(messagesToGui(), (std::vector<int>{list_message::kCurrentPresetBase + 0, list_message::kListText}));
    host_->clearCalls();
    message(5);
    message(list_message::kInterfaceStarted);
    EXPECT_EQ(messagesToGui(), (std::vector<int>{list_message::kCurrentPresetBase + 5, list_message::kListText}));

    writeBytes(folder() / "List.txt", "  1:Alpha,  2:Be:ta,  3:,  4:" + std::string(30, 'x') + ",\r\n");
    message(list_message::kNameList);
    Names expected = namesWith({{0, "Alpha"}, {1, "Be:ta"}, {2, ""}, {3, std::string(24, 'x')}, {4, ""}});
    EXPECT_EQ(publishedList(), listText(expected) + "\r\n");

    // Read back what was written: name 128 does not take the CR.
    message(list_message::kNameList);
    EXPECT_EQ(publishedList(), listText(expected) + "\r\n");

    // Missing file, empty first line, line without CR, a line far longer than any list: only what
    // the first line holds counts.
    fs::remove(folder() / "List.txt");
    message(list_message::kNameList);
    writeBytes(folder() / "List.txt", "\r\n  1:Never");
    message(list_message::kNameList);
    EXPECT_EQ(publishedList(), listText(expected) + "\r\n");
    writeBytes(folder() / "List.txt", "  1:One");
    message(list_message::kNameList);
    expected[0] = "One";
    EXPECT_EQ(publishedList(), listText(expected) + "\r\n");
    writeBytes(folder() / "List.txt", "  1:z" + std::string(20000, ',') + "\r\n");
    message(list_message::kNameList);
    expected.assign(128, "");
    expected[0] = "z";
    EXPECT_EQ(publishedList(), listText(expected) + "\r\n");
}

// Messages 128 and 129 take the chosen file from Path.txt: 128 loads the preset file into the
// live preset and the current name and stores the live preset into the current slot; 129 takes
// the name the interface half wrote into the file and rewrites the file from the live preset.
TEST_F(ListfileManagerTest, PresetFileCommands)
{
    writeBytes(startupBank(), bankText(numberedNames("Pad "), numberedBank()));
    start();
    run(1);
    message(2);

    std::array<float, 256> values{};
    for (int k = 0; k < 256; ++k)
        values[k] = static_cast<float>(k) * 0.5f - 10.0f;
    const fs::path a = root_ / "files" / "a.tavpreset";
    writeBytes(a, presetText("Lead One", values));
    writePathFile(a.string() + "\r\n");
    message(list_message::kLoadPreset);
    EXPECT_EQ(liveAll(), values);
    message(0);
    message(2);
    EXPECT_EQ(liveAll(), values);
    Names names = numberedNames("Pad ");
    names[2] = "Lead One";
    EXPECT_EQ(publishedList(), listText(names) + "\r\n");

    // Only CR LF: an empty, valid path opens nothing, but the live preset is still stored.
    writePathFile("\r\n");
    setLive(0, 42.0f);
    message(list_message::kLoadPreset);
    EXPECT_EQ(stored(0, 0), 0.0f);
    EXPECT_EQ(stored(2, 0), 42.0f);

    // Path.txt missing, a path longer than its writer writes, or one holding a NUL or a CR before
    // its line end: nothing at all happens.
    fs::remove(folder() / "Path.txt");
    setLive(0, 7.0f);
    message(list_message::kLoadPreset);
    writePathFile("/" + std::string(1100, 'p') + "\r\n");
    message(list_message::kLoadPreset);
    writePathFile(a.string() + std::string(1, '\0') + "x\r\n");
    message(list_message::kLoadPreset);
    writePathFile("/" + std::string(1022, 'p') + "\r\n");
    message(list_message::kLoadPreset);
    writePathFile(a.string() + "\r\r\n");
    message(list_message::kLoadPreset);
    EXPECT_EQ(stored(0, 0), 0.0f);
    EXPECT_EQ(stored(2, 0), 42.0f);

    // A line ended by LF alone still names the whole file.
    writePathFile(a.string() + "\n");
    message(list_message::kLoadPreset);
    EXPECT_EQ(liveAll(), values);

    // Save: the interface half wrote the file with the new name; it is rewritten from the block.
    const fs::path b = root_ / "files" / "b.tavpreset";
    writeBytes(b, presetText("New Name", {}));
    writePathFile(b.string() + "\r\n");
    setLive(1, 0.017f);
    setLive(2, -4.0f);
    message(list_message::kSavePreset);
    const std::string saved = readBytes(b);
    EXPECT_EQ(saved, presetText("New Name", liveAll()));
    names[2] = "New Name";
    EXPECT_EQ(publishedList(), listText(names) + "\r\n");

    // A file the interface half did not write keeps the name and is written all the same.
    const fs::path c = root_ / "files" / "c.tavpreset";
    writePathFile(c.string() + "\r\n");
    message(2);
    message(list_message::kSavePreset);
    EXPECT_EQ(readBytes(c), presetText("New Name", liveAll()));

    // A relative path never writes into the current folder.
    writePathFile("rel.tavpreset\r\n");
    message(list_message::kSavePreset);
    EXPECT_TRUE(fs::is_empty(root_ / "cwd"));
}

// Message 131 loads the bank file from Path.txt (values with atof, every row from column 0) and
// selects preset 0 with message 0 and [C0 00 00]; 132 takes the names the interface half wrote
// and rewrites the file from the bank memory. An unreadable bank changes nothing.
TEST_F(ListfileManagerTest, BankFileCommands)
{
    start();
    run(1);
    message(9);
    host_->clearCalls();

    const fs::path x = root_ / "files" / "x.tavbank";
    std::string bank = bankText(numberedNames("Pad "), numberedBank());
    bank += ",1,2,3;\r\n,4;\r\n";  // after row 255: ignored
    writeBytes(x, bank);
    writePathFile(x.string() + "\r\n");
    message(list_message::kLoadBank);
    EXPECT_EQ(messagesToGui(), std::vector<int>{0});
    EXPECT_EQ(midiOut(), (std::vector<Bytes>{{0xC0, 0x00, 0x00}}));
    EXPECT_EQ(liveAll(), numberedBank()[0]);
    message(127);
    EXPECT_EQ(liveAll(), numberedBank()[127]);
    EXPECT_EQ(publishedList(), listText(numberedNames("Pad ")) + "\r\n");

    host_->clearCalls();
    writePathFile((root_ / "files" / "missing.tavbank").string() + "\r\n");
    message(list_message::kLoadBank);
    EXPECT_TRUE(messagesToGui().empty());
    EXPECT_TRUE(midiOut().empty());
    EXPECT_EQ(liveAll(), numberedBank()[127]);

    // Save: only the names line of the interface half's file is read, then the file is rewritten.
    const fs::path y = root_ / "files" / "y.tavbank";
    writeBytes(y, manager_test::bankText(numberedNames("N")).substr(0, 3203) + ",9,9;\r\n");
    writePathFile(y.string() + "\r\n");
    setLive(0, 3.5f);
    message(list_message::kFixPreset);  // the live preset into preset 127
    message(list_message::kSaveBank);
    Bank expected = numberedBank();
    expected[127][0] = 3.5f;
    const std::string saved = readBytes(y);
    EXPECT_EQ(saved, bankText(numberedNames("N"), expected));
    EXPECT_EQ(publishedList(), listText(numberedNames("N")) + "\r\n");

    // A Path.txt without any line leaves the last received path in use.
    writePathFile("");
    host_->clearCalls();
    message(list_message::kLoadBank);
    EXPECT_EQ(messagesToGui(), std::vector<int>{0});
    EXPECT_EQ(stored(127, 0), 3.5f);

    // Only CR LF: the empty path opens nothing, so a bank load or save changes nothing.
    writePathFile("\r\n");
    host_->clearCalls();
    message(list_message::kLoadBank);
    message(list_message::kSaveBank);
    EXPECT_TRUE(messagesToGui().empty());
    EXPECT_TRUE(midiOut().empty());
    EXPECT_TRUE(fs::is_empty(root_ / "cwd"));
}

// 130 stores the live preset into the current slot each time; 135 only the first time.
TEST_F(ListfileManagerTest, FixPresetAndFixOnce)
{
    start();
    run(1);
    message(3);
    setLive(1, 0.5f);
    message(list_message::kFixPreset);
    EXPECT_EQ(stored(4, 1), 0.0f);
    EXPECT_EQ(stored(3, 1), 0.5f);
    setLive(1, 0.6f);
    message(list_message::kStopWaiting);
    setLive(1, 0.7f);
    message(list_message::kStopWaiting);
    EXPECT_EQ(stored(4, 1), 0.0f);
    EXPECT_EQ(stored(3, 1), 0.6f);
}

// AutoPath: the host resolves "Preset.txt" as the startup bank, and the manager folder is
// "Quorvane/<ID>/" in the folder that holds it: message 134 creates both levels there and writes
// List.txt, the file commands read Path.txt there, and nothing lands below the working folder. A
// host that gives no absolute path leaves no manager folder: 134 is answered and writes nothing.
TEST_F(ListfileManagerTest, AutoPathUsesTheFolderOfTheHostPresetFile)
{
    const fs::path hostFiles = root_ / "hostfiles";
    writeBytes(hostFiles / "Preset.txt", bankText(numberedNames("Host "), numberedBank()));
    ManagerSetup setup{.autoPath = true, .pathMac = "/nowhere/"};
    start(setup);
    run(1);
    message(1);
    EXPECT_EQ(liveAll(), numberedBank()[1]);
    host_->clearCalls();
    message(list_message::kInterfaceStarted);
    EXPECT_EQ(messagesToGui(), (std::vector<int>{list_message::kCurrentPresetBase + 1, list_message::kListText}));
    const fs::path hostManager = hostFiles / "Quorvane" / "TAVRIN ONE";
    EXPECT_EQ(readBytes(hostManager / "List.txt"), listText(numberedNames("Host ")) + "\r\n");
    EXPECT_TRUE(fs::is_empty(root_ / "cwd"));
    EXPECT_FALSE(fs::exists(fs::path(base_) / "Quorvane"));

    const fs::path bank = root_ / "files" / "b.tavbank";
    writeBytes(bank, bankText(numberedNames("File "), numberedBank()));
    writeBytes(hostManager / "Path.txt", bank.string() + "\r\n");
    host_->clearCalls();
    message(list_message::kLoadBank);
    EXPECT_EQ(messagesToGui(), std::vector<int>{0});
    message(list_message::kInterfaceStarted);
    EXPECT_EQ(readBytes(hostManager / "List.txt"), listText(numberedNames("File ")) + "\r\n");

    setup.hostFolder = fs::path();
    start(setup);
    run(1);
    host_->clearCalls();
    message(list_message::kInterfaceStarted);
    EXPECT_EQ(messagesToGui(), (std::vector<int>{list_message::kCurrentPresetBase + 0, list_message::kListText}));
    EXPECT_TRUE(fs::is_empty(root_ / "cwd"));
}

// A PathMac that expands to nothing (or would run a command), an ID that leaves its folder, and
// messages before the first graph start: the messages are still answered, but no folder or file is
// made anywhere and no command is run.
TEST_F(ListfileManagerTest, RefusedFoldersDoNoFileWork)
{
    const std::string pwned = (root_ / "pwned").string();
    const std::string id = "TAVRIN ONE";
    const std::vector<std::pair<std::string, std::string>> refused = {
        {id, "\"\""},
        {id, "$(touch " + pwned + ")/"},
        {id, "`touch " + pwned + "`/"},
        {id, base_ + std::string(600, 'l') + "/"},
        {"../up", ""},
        {"a/b", ""},
    };
    for (const auto& [refusedId, refusedPathMac] : refused) {
        SCOPED_TRACE(refusedId + " " + refusedPathMac.substr(0, 40));
        start({.id = refusedId, .pathMac = refusedPathMac});
        message(list_message::kInterfaceStarted);  // before the first graph start
        run(1);
        settle();
        host_->clearCalls();
        message(list_message::kInterfaceStarted);
        writeBytes(root_ / "files" / "p.tavpreset", presetText("P", {}));
        message(list_message::kLoadPreset);
        EXPECT_EQ(messagesToGui(), (std::vector<int>{list_message::kCurrentPresetBase + 0, list_message::kListText}));
        stop();
        EXPECT_TRUE(fs::is_empty(root_ / "cwd"));
        EXPECT_TRUE(fs::is_empty(base_));
        EXPECT_FALSE(fs::exists(pwned));
        EXPECT_FALSE(fs::exists(root_ / "Quorvane"));
    }
}

// Both halves through the bundle's own factory, started as a host starts them: the interface
// half's 134 arrives before the first graph start and is answered at it, after the startup bank
// read, so the interface half shows the startup bank's names. Then a typed name reaches this half
// through List.txt and 133, and a picked slot is selected and echoed. With AutoPath on, both
// halves meet in the folder of the host's "Preset.txt".
TEST_F(ListfileManagerTest, BothHalvesStartAndMeetOnTheSameFiles)
{
    for (const bool autoPath : {false, true}) {
        SCOPED_TRACE(autoPath ? "AutoPath" : "PathMac");
        const fs::path managerFolder = autoPath ? root_ / "hostfiles" / "Quorvane" / "TAVRIN ONE" : folder();
        const Names names = numberedNames(autoPath ? "Host " : "Pad ");
        writeBytes(autoPath ? root_ / "hostfiles" / "Preset.txt" : startupBank(), bankText(names, numberedBank()));
        start({.autoPath = autoPath, .bothHalves = true});
        const auto shownList = [&] { return last(textsOf(*host_, manager_, kPresetList)); };
        EXPECT_FALSE(fs::exists(managerFolder / "List.txt"));
        EXPECT_TRUE(shownList().empty() || shownList() == listText(constructorNames()));

        run(1);
        settle();
        EXPECT_EQ(readBytes(managerFolder / "List.txt"), listText(names) + "\r\n");
        EXPECT_EQ(shownList(), listText(names));
        EXPECT_EQ(last(textsOf(*host_, manager_, kPresetName)), names[0]);

        // A name typed into the interface half comes here through List.txt and message 133.
        ASSERT_TRUE(host_->guiSetPin(manager_, kPresetName, tav_host::textValue("My:Pad")));
        settle();
        Names renamed = names;
        renamed[0] = "My Pad";
        fs::remove(managerFolder / "List.txt");
        host_->postToDsp(manager_, list_message::kInterfaceStarted, {});
        settle();
        EXPECT_EQ(readBytes(managerFolder / "List.txt"), listText(renamed) + "\r\n");

        // A slot picked in the interface half is selected here and echoed as a program change.
        host_->clearCalls();
        ASSERT_TRUE(host_->guiSetPin(manager_, kPresetNumber, tav_host::intValue(5)));
        run(1);
        settle();
        EXPECT_EQ(midiOut(), (std::vector<Bytes>{{0xC0, 0x05, 0x00}}));

        stop();
        EXPECT_TRUE(fs::is_empty(root_ / "cwd"));
    }
}

// Names come back byte for byte: a CR that the name editing keeps travels from the interface
// half's List.txt through this half into its own List.txt unchanged, and a 25-byte name with
// leading spaces from List.txt is written to bank and preset files as the readers give it back,
// so writing, reading and writing again gives the same bytes.
TEST_F(ListfileManagerTest, NamesComeBackByteForByte)
{
    start({.bothHalves = true});
    run(1);
    settle();
    ASSERT_TRUE(host_->guiSetPin(manager_, kPresetName, tav_host::textValue("Pad\rTwo")));
    settle();
    const std::string fromInterface = readBytes(folder() / "List.txt");
    ASSERT_EQ(fromInterface.substr(0, 12), "  1:Pad\rTwo,");
    fs::remove(folder() / "List.txt");
    host_->postToDsp(manager_, list_message::kInterfaceStarted, {});
    settle();
    EXPECT_EQ(readBytes(folder() / "List.txt"), fromInterface);

    const std::string name = "abcdefghijklmnopqrstuvw";  // 23 bytes after two spaces
    writeBytes(folder() / "List.txt", "  1:  " + name + "\r\n");
    host_->postToDsp(manager_, list_message::kNameList, {});
    settle();
    const fs::path bank = root_ / "files" / "b.tavbank";
    const fs::path preset = root_ / "files" / "p.tavpreset";
    fs::create_directories(root_ / "files");
    for (const auto& [file, command] : {std::pair{bank, list_message::kSaveBank}, std::pair{preset, list_message::kSavePreset}}) {
        writePathFile(file.string() + "\r\n");
        host_->postToDsp(manager_, command, {});
        settle();
        const std::string first = readBytes(file);
        EXPECT_EQ(first.substr(0, 26), ", " + name + (command == list_message::kSaveBank ? "," : ";"));
        host_->postToDsp(manager_, command, {});  // reads the name back first, then writes again
        settle();
        EXPECT_TRUE(readBytes(file) == first) << file;
    }
}

} // namespace
