// A category manager's processing half under a fresh shared folder with a generated preset
// library, driven through the stand-in host: messages in, program changes in, blocks run, and
// what it posted and sent read back.
#pragma once

#include "CategoryBrowser/LibraryWork.h"
#include "CategoryBrowser/PrescatMessages.h"
#include "CategoryBrowser/PresetLibrary.h"
#include "PresetStore/ControllerDump.h"
#include "PresetStore/ManagerTestSupport.h"
#include "support/Settle.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace prescat_test {

namespace fs = std::filesystem;
using tav_host::Bytes;
using Values = std::array<float, 256>;

// One message to the interface half: id and payload text (without its NUL).
using Posted = std::pair<int, std::string>;

inline Posted bare(int id) { return {id, ""}; }

// Values with slot k = value(k).
template <class Value>
Values valuesOf(Value value)
{
    Values v{};
    for (int k = 0; k < 256; ++k)
        v[k] = value(k);
    return v;
}

// 128 list entries joined by ",": the given ones first, "empty" after.
inline std::string listOf(const std::vector<std::string>& first)
{
    std::string text;
    for (int i = 0; i < 128; ++i)
        text += (i ? "," : "") + (i < static_cast<int>(first.size()) ? first[static_cast<std::size_t>(i)] : std::string("empty"));
    return text;
}

// A name as the list texts show it: "," and ";" as their look-alikes U+201A and U+037E.
inline std::string shownInList(std::string name)
{
    for (std::size_t at; (at = name.find(',')) != std::string::npos;)
        name.replace(at, 1, "\xE2\x80\x9A");
    for (std::size_t at; (at = name.find(';')) != std::string::npos;)
        name.replace(at, 1, "\xCD\xBE");
    return name;
}

// The entries of a list text.
inline std::vector<std::string> split(const std::string& text)
{
    std::vector<std::string> out(1);
    for (char c : text) {
        if (c == ',')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

// Another program removes the file at path and writes a new one of its name, as it would some
// time after the first one was born. A file system's clock moves in ticks (milliseconds on some
// kernels) and two files born within one tick look born at once, so it first waits (spinning on
// the clock, which always moves on) for the tick after the old file's. true when the new file got
// the old one's inode number, as ext4 gives it at once.
inline bool replaceFile(const fs::path& path, const std::string& bytes)
{
    const prescat::FileIdentity old = prescat::identify(path.string());
    timespec now{};
    do
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    while (now.tv_sec < old.seconds || (now.tv_sec == old.seconds && now.tv_nsec <= static_cast<long>(old.nanoseconds)));
    fs::remove(path);
    manager_test::writeBytes(path, bytes);
    return prescat::identify(path.string()).inode == old.inode;
}

// Real time: returns once the category managers' folder watches have read changed presets again
// count times since refreshes was before (offline nothing is read ahead: at once). false when
// they did not within 20 s.
inline bool readAheadRefreshed(uint64_t before, uint64_t count = 1)
{
    if (file_worker::offline())
        return true;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (prescat::readAheadRefreshes.load(std::memory_order_acquire) < before + count)
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        else
            std::this_thread::yield();
    return true;
}

// ---- A category manager in a host of the caller's (for sessions with other modules) ----------

// A library of the category manager under root, with fixed file times (oldest first in the
// order written), and a bank file to import at bankFile. Folders in list order: "2_SAVED" (two
// saves), "3_FAVOURITES", "3_SEARCH", "Bank" (one numbered preset), "Many" (110 presets, two of
// three tagged PADS), "Presets" ("Lead One #le", "Pad Two #pa #fav", "Bass Three #ba", "Plain").
// Preset values: slot 0 a value of its folder (Presets 0.02-0.05 by file, Many 0.06, Bank 0.07,
// 2_SAVED 0.08 and 0.09), slot k > 0 0.01 x (k % 50). many: fewer presets in "Many" for
// sessions that need no second result page (each file costs its inode).
inline void writeSessionLibrary(const fs::path& root, const fs::path& bankFile, int many = 110)
{
    int second = 0;
    const auto timed = [&](const std::string& relative, float slot0) {
        const std::string stem = relative.substr(relative.rfind('/') + 1, relative.size() - relative.rfind('/') - 11);
        manager_test::writeBytes(root / relative, manager_test::presetText(stem, valuesOf([&](int k) {
                                                                              return k == 0 ? slot0 : 0.01f * static_cast<float>(k % 50);
                                                                          })));
        fs::last_write_time(root / relative, fs::file_time_type::clock::now() - std::chrono::hours(100) + std::chrono::seconds(++second));
    };
    timed("Presets/Lead One #le.tavpreset", 0.02f);
    timed("Presets/Pad Two #pa #fav.tavpreset", 0.03f);
    timed("Presets/Bass Three #ba.tavpreset", 0.04f);
    timed("Presets/Plain.tavpreset", 0.05f);
    for (int i = 1; i <= many; ++i)
        timed("Many/Sound " + std::to_string(1000 + i) + (i % 3 ? " #pa" : "") + ".tavpreset", 0.06f);
    timed("Bank/#001 Factory.tavpreset", 0.07f);
    timed("2_SAVED/Old Save.tavpreset", 0.08f);
    timed("2_SAVED/Older Save.tavpreset", 0.09f);
    fs::create_directories(root / "3_SEARCH");
    fs::create_directories(root / "3_FAVOURITES");
    manager_test::writeBytes(bankFile, manager_test::bankText(manager_test::numberedNames("Imp "), [](int p, int k) {
                                 return 0.001f * static_cast<float>(p + k);
                             }));
}

// One category manager added to a host: the inputs a session gives it and what it sent. The
// library root is "Quorvane/TAVRIN TWO/Presetbase" below the host's shared folder (XDG_DATA_HOME
// and the shared folder as PrescatTest sets them); add it before the host starts.
struct PrescatRig {
    tav_host::Host* host = nullptr;
    std::size_t instance = 0;
    fs::path root;

    static PrescatRig add(tav_host::Host& host, const fs::path& sharedFolder)
    {
        return {&host, test_support::add(host, "QV_PatchManagerPrescat"), sharedFolder / "Quorvane" / "TAVRIN TWO" / "Presetbase"};
    }

    void message(int id) const { host->postToDsp(instance, id, {}); }
    void message(int id, const std::string& text) const
    {
        tav_host::Bytes b(text.begin(), text.end());
        b.push_back(0);
        host->postToDsp(instance, id, b);
    }
    void programChange(int n) const { host->queueMidi(instance, 0, {0xC0, static_cast<uint8_t>(n), 0}); }
    std::string path(const std::string& relative) const { return (root / relative).string(); }

    // Messages to the interface half, in order (payload text without its NUL).
    std::vector<Posted> posted() const
    {
        std::vector<Posted> out;
        for (const auto& call : host->callsOf(tav_host::CallKind::PostMessageToGui, instance)) {
            std::string text(call.data.begin(), call.data.end());
            if (!text.empty() && text.back() == '\0')
                text.pop_back();
            out.emplace_back(call.pin, text);
        }
        return out;
    }
    std::vector<tav_host::Bytes> midi() const { return manager_test::midiSent(*host, instance, 1); }

    // One random input of a session over writeSessionLibrary's library (clicks, program changes,
    // folders and views, commands, pages, search text, saves with their paths, favourites,
    // deletes, time order while nothing is saved), drawn with next(n) in 0 .. n-1. Returns false
    // when the draw was none of these (the caller runs blocks, turns knobs, ...).
    template <class Next>
    bool randomInput(Next&& next, int& saves) const
    {
        switch (next(10)) {
        case 0:
        case 1: message(static_cast<int>(next(12))); return true;
        case 2:
        case 3: programChange(static_cast<int>(next(12))); return true;
        case 4: message(prescat::kFolderBase + static_cast<int>(next(6))); return true;
        case 5:
            message(prescat::kPath, path((next(2) ? "Presets/Saved " : "2_SAVED/Saved ") + std::to_string(saves++ % 3)));
            message(prescat::kSavePreset);
            return true;
        case 6: message(next(2) ? prescat::kToggleFavourite : prescat::kDeletePreset); return true;
        case 7: {
            const int rows[] = {prescat::kNextArrowRow, prescat::kPrevArrowRow, 104, 105, 107, 108, prescat::kCategoryRow + 8, prescat::kCategoryRow + 12};
            const int row = rows[next(8)];
            message(row);
            if (next(2))
                programChange(row);
            return true;
        }
        case 8: message(prescat::kSearchText, next(2) ? "sound 10" : "a"); return true;
        default:
            if (saves == 0)
                message(next(2) ? prescat::kTimeOrderOn : prescat::kTimeOrderOff);
            return saves == 0;
        }
    }
};

class PrescatTest : public ::testing::Test {
protected:
    PrescatTest() { ::setenv("XDG_DATA_HOME", (shared_.path() / "xdg").c_str(), 1); }
    ~PrescatTest() override { ::unsetenv("XDG_DATA_HOME"); }

    void TearDown() override
    {
        if (host_) {
            host_->shutdown();
            EXPECT_TRUE(host_->faults().empty()) << host_->faults().front();
        }
    }

    // A preset file below the library root.
    void preset(const std::string& relative, const Values& values = Values{}, const std::string& name = "x")
    {
        manager_test::writeBytes(root_ / relative, manager_test::presetText(name, values));
    }
    void folder(const std::string& relative) { fs::create_directories(root_ / relative); }

    // Creates the module (after the library is in place: construction restores from backup) and
    // a probe on the shared preset block, and starts the host.
    // second: a second manager on the same library and block (second_), as two instances of the
    // product on one machine.
    void start(bool second = false)
    {
        host_ = std::make_unique<tav_host::Host>(&factory_, test_support::config64());
        mgr_ = test_support::add(*host_, "QV_PatchManagerPrescat");
        if (second)
            second_ = test_support::add(*host_, "QV_PatchManagerPrescat");
        probe_ = test_support::add(*host_, "TEST_BlockProbe");
        host_->start();
        host_->runBlock(64);
        settle();
        host_->clearCalls();
    }

    PresetBlock& block() { return factory_.probe->block; }
    Values blockValues()
    {
        Values v{};
        for (int k = 0; k < 256; ++k)
            v[k] = block().get(k);
        return v;
    }

    void post(int id, const std::string& text) { postTo(mgr_, id, text); }
    void postTo(std::size_t manager, int id, const std::string& text)
    {
        Bytes b(text.begin(), text.end());
        b.push_back(0);
        host_->postToDsp(manager, id, b);
        settle();
    }
    void postTo(std::size_t manager, int id)
    {
        host_->postToDsp(manager, id, {});
        settle();
    }
    void post(int id)
    {
        host_->postToDsp(mgr_, id, {});
        settle();
    }
    // Real time: blocks until every file job asked for has run and its answers are out (unless a
    // test paces the worker itself).
    void settle()
    {
        if (settles_)
            test_support::settle(*host_);
    }
    // The interface half starting, then cleared.
    void interfaceStarted()
    {
        post(prescat::kInterfaceStarted);
        host_->clearCalls();
    }

    void programChange(Bytes bytes)
    {
        host_->queueMidi(mgr_, 0, std::move(bytes));
        host_->runBlock(64);
        settle();
    }
    void programChange(int n) { programChange(Bytes{0xC0, static_cast<uint8_t>(n), 0}); }

    void runSeconds(double seconds)
    {
        for (int i = 0; i < static_cast<int>(seconds * 48000.0 / 64.0 + 0.5); ++i)
            host_->runBlock(64);
        settle();
    }

    std::vector<Posted> posted() const
    {
        std::vector<Posted> out;
        for (const auto& call : host_->callsOf(tav_host::CallKind::PostMessageToGui, mgr_)) {
            std::string text(call.data.begin(), call.data.end());
            if (!text.empty()) {
                EXPECT_EQ(text.back(), '\0') << "message " << call.pin;
                text.pop_back();
            }
            out.emplace_back(call.pin, text);
        }
        return out;
    }
    std::vector<int> postedIds() const
    {
        std::vector<int> ids;
        for (const auto& p : posted())
            ids.push_back(p.first);
        return ids;
    }
    // The last list text (message 129) posted since the last clear.
    std::vector<std::string> lastList() const
    {
        std::vector<std::string> list;
        for (const auto& p : posted())
            if (p.first == prescat::kList)
                list = split(p.second);
        return list;
    }
    std::vector<Bytes> midiOut() const { return manager_test::midiSent(*host_, mgr_, 1); }
    void clear() { host_->clearCalls(); }

    static Bytes pc(int n) { return Bytes{0xC0, static_cast<uint8_t>(n), 0}; }

    // The controller dump of values.
    static std::vector<Bytes> dumpOf(const Values& values)
    {
        float slots[256];
        std::copy(values.begin(), values.end(), slots);
        std::array<controller_dump::Message, controller_dump::kMessages> dump;
        controller_dump::computeDump(slots, dump);
        std::vector<Bytes> out;
        for (const auto& m : dump)
            out.emplace_back(m.begin(), m.end());
        return out;
    }

    test_support::TemporarySharedFolder shared_;
    fs::path root_ = shared_.path() / "Quorvane" / "TAVRIN TWO" / "Presetbase";
    manager_test::OneSideFactory factory_{mpapi::MP_TYPE_AUDIO};
    std::unique_ptr<tav_host::Host> host_;
    std::size_t mgr_ = 0;
    std::size_t probe_ = 0;
    std::size_t second_ = 0;
    bool settles_ = true;
};

} // namespace prescat_test
