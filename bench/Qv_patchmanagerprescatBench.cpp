// Cost of the category manager's list work on generated libraries of 100, 10,000 and 100,000
// preset files (1,000 files a folder at most, categories and favourites spread over them), and on
// one folder of 70,000 (more than one listing of the folder holds at once):
// - a full rescan of the library into the index, with its filtering and first page;
// - a folder view: the first 128 names of a folder of 1,000 or 70,000 files;
// - each filter mode over the index (category, favourite, search text, EDIT mode, all);
// - a page turn on the stored results (with its heap allocations: none);
// - a program change in a folder view: preset file read, migration, 114-message dump (with its
//   heap allocations: none);
// - `find` over the same tree in the same run, so a rescan reads as a ratio to a plain walk.
// These run offline (the file work inside the call that asks for it), so they measure the work.
// In real time (the file worker doing the work):
// - entering the search view: the worst single audio-thread call (message, block) from the view
//   switch to its first result page, the time from the request to the list, and a plain readdir
//   walk of the same library for the ratio; heap allocations on the audio thread;
// - a program change in a folder view, loaded from the list's read-ahead: the worst call;
// - the block that replays a burst held while a list was owed (saves, clicks, program changes);
// each headlined by the worst audio-thread call and the 99.9th percentile, with blocks that ask
// nothing of the worker as the control.
// Counters give the size of the work (files, results) so results compare across machines.
//
// The module runs on a host of this file at 4 Hz with blocks of 4 samples, so each of its delays
// (0.3 to 0.8 s) expires in the next block: one iteration is one request and its expiry.
#include "AllocationCounter.h"
#include "BenchHost.h"
#include "BlockBudget.h"
#include "FileWorker.h"
#include "mpapi.h"
#include "support/TemporaryFolder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kBlock = 4;
constexpr float kRate = 4.0f;
const char* const kTags[] = {"", " #ar", " #ba", " #le", " #pa", " #st", " #sw"};

struct Library {
    fs::path shared;
    fs::path root;
    int files = 0;
    int folders = 0;  // bank folders; "3_SEARCH" comes first, "Plain" last
};

constexpr int kBigFolder = 70000;

// Made on first use and removed at exit (the path itself outlives every static destructor).
const fs::path& benchFolder()
{
    static const fs::path* folder = [] {
        static test_support::TemporaryFolder* made = new test_support::TemporaryFolder("tavrin-bench");
        std::atexit([] { delete made; });
        return new fs::path(made->path());
    }();
    return *folder;
}

std::string presetText(float value)
{
    std::string text = ",                   Sound;\r\n";
    char line[32];
    for (int k = 0; k < 256; ++k) {
        std::snprintf(line, sizeof line, ",%11.7f;\r\n", static_cast<double>(k == 0 ? 0.05f : value));
        text += line;
    }
    return text;
}

// A library of n preset files, made once per size; n = kBigFolder puts them all in one folder.
const Library& library(int n)
{
    static std::map<int, Library> made;
    auto it = made.find(n);
    if (it != made.end())
        return it->second;
    Library lib;
    lib.shared = benchFolder() / std::to_string(n);
    lib.root = lib.shared / "Quorvane" / "TAVRIN TWO" / "Presetbase";
    lib.files = n;
    const int perFolder = n == kBigFolder ? n : std::min(n, 1000);
    lib.folders = (n + perFolder - 1) / perFolder;
    fs::create_directories(lib.root / "3_SEARCH");
    // Empty preset files are links to a few empty files (quick to make; at most 65,000 links each).
    const fs::path spare = lib.shared / "spare";
    fs::create_directories(spare);
    for (int i = 0; i < n; ++i) {
        char folder[32];
        std::snprintf(folder, sizeof folder, "Bank %03d", i / perFolder);
        if (i % perFolder == 0)
            fs::create_directories(lib.root / folder);
        char name[96];
        std::snprintf(name, sizeof name, "Preset %06d%s%s.tavpreset", static_cast<int>((i * 7919LL) % n), kTags[i % 7],
                      i % 5 == 0 ? " #fav" : "");
        const fs::path source = spare / std::to_string(i / 50000);
        if (i % 50000 == 0)
            std::ofstream(source) << "";
        ::link(source.c_str(), (lib.root / folder / name).c_str());
    }
    fs::create_directories(lib.root / "Plain");
    for (int i = 0; i < 128; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Sound %03d.tavpreset", i);
        std::ofstream(lib.root / "Plain" / name, std::ios::binary) << presetText(0.001f * static_cast<float>(i));
    }
    return made.emplace(n, lib).first->second;
}

// One category manager on a library, its interface half started.
mpapi::MpEvent programChange(int n);

// Counts the lists the module posts.
class ListenHost : public bench::BenchHost {
public:
    using BenchHost::BenchHost;
    int32_t postMessageToGui(int32_t id, int32_t size, const void* data) override
    {
        lists += id == 129 ? 1 : 0;
        return BenchHost::postMessageToGui(id, size, data);
    }
    long lists = 0;
};

struct Manager {
    ListenHost host{kBlock, kRate};
    mpapi::IMpPlugin* plugin = nullptr;
    std::vector<float> buffer = std::vector<float>(kBlock);

    // Offline unless realTime: the file work then runs on the worker.
    explicit Manager(const Library& lib, bool realTime = false)
    {
        file_worker::setOffline(!realTime);
        ::setenv("TAVRIN_SHARED_FOLDER", lib.shared.c_str(), 1);
        plugin = bench::openProcessingHalf(host, L"QV_PatchManagerPrescat", buffer.data(), 7);
        mpapi::MpEvent start{};
        start.eventType = mpapi::MP_EVENT_GRAPH_START;
        plugin->process(kBlock, &start);
        message(134);
        settle();
    }
    ~Manager()
    {
        plugin->release();
        file_worker::setOffline(true);
    }

    // Real time: blocks until the worker has done everything asked and its results are applied.
    void settle()
    {
        for (int i = 0; i < 4; ++i) {
            file_worker::waitUntilIdle();
            block();
        }
    }

    void message(int id, const char* text = nullptr)
    {
        plugin->receiveMessageFromGui(id, text ? static_cast<int32_t>(std::strlen(text) + 1) : 0,
                                      const_cast<char*>(text));
    }
    void block(mpapi::MpEvent* events = nullptr) { plugin->process(kBlock, events); }
    void blocks(int n)
    {
        for (int i = 0; i < n; ++i)
            block();
    }
    // The "3_SEARCH" view built (its first rescan done), its program change returned.
    void openSearchView()
    {
        message(200);
        mpapi::MpEvent change = programChange(0);
        block(&change);
        blocks(3);
    }
};

mpapi::MpEvent programChange(int n)
{
    mpapi::MpEvent e{};
    e.eventType = mpapi::MP_EVENT_MIDI;
    e.parm2 = 3;
    const unsigned char bytes[4] = {0xC0, static_cast<unsigned char>(n), 0, 0};
    std::memcpy(&e.parm3, bytes, 4);
    return e;
}

void sizeCounters(benchmark::State& state, const Library& lib)
{
    state.counters["files"] = lib.files;
}

// A rescan of the whole library, then its filtering and first page (a favourite toggle of the
// preset selected and loaded from row 1 marks the index stale; its rebuild expires in the next
// block).
void BM_PrescatRescan(benchmark::State& state)
{
    const Library& lib = library(static_cast<int>(state.range(0)));
    Manager manager(lib);
    manager.openSearchView();
    const bench::AllocationsPerIteration allocations;
    for (auto _ : state) {
        state.PauseTiming();
        manager.message(1);
        mpapi::MpEvent change = programChange(1);
        manager.block(&change);
        state.ResumeTiming();
        manager.message(500);
        bench::CountAllocations counting;
        manager.blocks(1);
    }
    allocations.report(state, "allocs_per_rescan");
    sizeCounters(state, lib);
    state.SetItemsProcessed(state.iterations() * std::min(lib.files, 16384));
}

// A folder view of the first bank folder (1,000 files, or all 70,000 in one folder): its 128
// smallest names and the list text.
void BM_PrescatFolderView(benchmark::State& state)
{
    const Library& lib = library(static_cast<int>(state.range(0)));
    Manager manager(lib);
    const bench::AllocationsPerIteration allocations;
    for (auto _ : state) {
        bench::CountAllocations counting;
        manager.message(201);  // "Bank 000"
    }
    allocations.report(state, "allocs_per_view");
    state.counters["folder_files"] = lib.files / lib.folders;
    state.SetItemsProcessed(state.iterations() * (lib.files / lib.folders));
}

// `find` listing the same tree's preset files, as a separate process, for the ratio.
void BM_PrescatFindWalk(benchmark::State& state)
{
    const Library& lib = library(static_cast<int>(state.range(0)));
    const std::string root = lib.root.string();
    for (auto _ : state) {
        pid_t pid = 0;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        const char* argv[] = {"find", root.c_str(), "-name", "*.tavpreset", nullptr};
        if (posix_spawnp(&pid, "find", &actions, nullptr, const_cast<char**>(argv), environ) == 0) {
            int status = 0;
            ::waitpid(pid, &status, 0);
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    sizeCounters(state, lib);
    state.SetItemsProcessed(state.iterations() * lib.files);
}

// One filter mode over the stored index: the command row (or search text) and its rebuild.
void filterBenchmark(benchmark::State& state, int row, const char* search)
{
    const Library& lib = library(static_cast<int>(state.range(0)));
    Manager manager(lib);
    manager.openSearchView();
    const bench::AllocationsPerIteration allocations;
    for (auto _ : state) {
        if (search)
            manager.message(505, search);
        else
            manager.message(row);
        bench::CountAllocations counting;
        manager.blocks(1);
    }
    // Allocations of the filtering block itself (the message compiles the search text).
    allocations.report(state, "allocs_per_filter");
    sizeCounters(state, lib);
    state.SetItemsProcessed(state.iterations() * std::min(lib.files, 16384));
}

void BM_PrescatFilterAll(benchmark::State& state) { filterBenchmark(state, 110, nullptr); }
void BM_PrescatFilterCategory(benchmark::State& state) { filterBenchmark(state, 114 + 8, nullptr); }  // PADS
void BM_PrescatFilterFavourite(benchmark::State& state) { filterBenchmark(state, 108, nullptr); }
void BM_PrescatFilterEdit(benchmark::State& state) { filterBenchmark(state, 105, nullptr); }
void BM_PrescatFilterSearch(benchmark::State& state) { filterBenchmark(state, 0, "preset 0*4[0-9]+ #(pa|le)"); }
// A search text made to be slow for a backtracking matcher: linear here.
void BM_PrescatFilterHostileSearch(benchmark::State& state) { filterBenchmark(state, 0, "(a*)*(b+)+$|(x+x+)+y"); }

// A page turn on the stored results: forward while ">>" shows, then back to page 0.
void BM_PrescatPageTurn(benchmark::State& state)
{
    const Library& lib = library(static_cast<int>(state.range(0)));
    Manager manager(lib);
    manager.openSearchView();
    const int pages = std::min(lib.files, 16384) <= 103 ? 0 : (std::min(lib.files, 16384) - 104) / 102 + 1;
    int page = 0;
    bool forward = true;
    const bench::AllocationsPerIteration allocations;
    for (auto _ : state) {
        bench::CountAllocations counting;
        if (pages == 0) {
            manager.message(5);  // a plain selection: nothing to turn
            continue;
        }
        if (forward) {
            manager.message(103);
            forward = ++page < pages;
        } else {
            manager.message(0);
            forward = --page == 0;
        }
    }
    allocations.report(state, "allocs_per_turn");
    sizeCounters(state, lib);
}

// A program change in the folder view of "Plain": preset file, migration, dump and echo.
void BM_PrescatProgramChangeWithDump(benchmark::State& state)
{
    const Library& lib = library(static_cast<int>(state.range(0)));
    Manager manager(lib);
    manager.message(200 + lib.folders + 1);  // "Plain"
    long n = 0;
    const bench::AllocationsPerIteration allocations;
    for (auto _ : state) {
        mpapi::MpEvent change = programChange(static_cast<int>(n++ % 128));
        bench::CountAllocations counting;
        manager.block(&change);
    }
    allocations.report(state, "allocs_per_change");
    sizeCounters(state, lib);
    state.counters["midi_per_change"] = bench::perBlock(static_cast<double>(manager.host.pinValues));
}

// A plain readdir walk of the tree below the folder open as folderFd, counting its preset files:
// the floor for any rescan.
int readdirWalk(int folderFd)
{
    DIR* dir = ::fdopendir(folderFd);
    if (!dir)
        return 0;
    int files = 0;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        if (name == "." || name == "..")
            continue;
        if (e->d_type == DT_DIR) {
            const int child = ::openat(::dirfd(dir), e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (child >= 0)
                files += readdirWalk(child);
        } else if (name.size() > 10 && name.substr(name.size() - 10) == ".tavpreset") {
            ++files;
        }
    }
    ::closedir(dir);
    return files;
}

double secondsOf(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Times audio-thread calls made at most one per 50 us, as a host makes them: a thread doing
// nothing but calls would meet every interrupt and preemption of the machine inside some call
// and report it as the module's. Keeps every call's time (room set aside first); returns it.
class PacedCalls {
public:
    PacedCalls() { seconds_.reserve(1 << 20); }
    template <class Call>
    double operator()(Call&& call)
    {
        while (std::chrono::steady_clock::now() < next_) {
        }
        const auto start = std::chrono::steady_clock::now();
        next_ = start + std::chrono::microseconds(50);
        call();
        const double seconds = secondsOf(std::chrono::steady_clock::now() - start);
        if (seconds_.size() < seconds_.capacity())
            seconds_.push_back(seconds);
        return seconds;
    }

    // The headline: the worst call and the 99.9th percentile, under prefix + "worst_us" and
    // prefix + "p999_us".
    void report(benchmark::State& state, const std::string& prefix = "")
    {
        if (seconds_.empty())
            return;
        std::vector<double> sorted = seconds_;
        std::sort(sorted.begin(), sorted.end());
        state.counters[prefix + "worst_us"] = sorted.back() * 1e6;
        state.counters[prefix + "p999_us"] = sorted[std::min(sorted.size() - 1, sorted.size() * 999 / 1000)] * 1e6;
    }

private:
    std::vector<double> seconds_;
    std::chrono::steady_clock::time_point next_ = std::chrono::steady_clock::now();
};

// The control: blocks of the same manager that ask nothing and have nothing to pick up, timed
// the same way, so the machine's own noise reads beside the module's worst call. (The worker is
// held: the look for changed presets it was asked for stays owed, so no block asks another.)
void reportControl(benchmark::State& state, Manager& manager, int calls)
{
    manager.settle();
    manager.block();
    file_worker::hold();
    manager.block();
    PacedCalls control;
    for (int i = 0; i < calls; ++i)
        control([&] { manager.block(); });
    file_worker::release();
    manager.settle();
    control.report(state, "control_");
}

// Entering "3_SEARCH" in real time on a fresh manager (so the whole library is indexed): the view
// switch, its returning program change and the blocks until the first result page is posted.
// Each audio-thread call is timed (worst_call_us), the calls paced at most one per 50 us; list_ms
// is the time from the block whose timer asks for the rebuild to the block that posts the list
// (so to within 50 us), walk_ms a plain readdir walk of the same tree, list_to_walk their ratio.
// A second pass counts the heap allocations of the same calls with the worker idle and held
// around each (allocs_audio_thread).
void BM_PrescatSearchViewRealTime(benchmark::State& state)
{
    const Library& lib = library(static_cast<int>(state.range(0)));
    using Clock = std::chrono::steady_clock;
    double listSeconds = 0.0;
    double walkSeconds = 0.0;
    PacedCalls timed;
    for (auto _ : state) {
        state.PauseTiming();
        auto manager = std::make_unique<Manager>(lib, true);
        state.ResumeTiming();
        const long lists = manager->host.lists;
        timed([&] { manager->message(200); });
        mpapi::MpEvent change = programChange(0);
        const auto asked = Clock::now();  // the rebuild delay expires in this block
        timed([&] { manager->block(&change); });
        while (manager->host.lists == lists)
            timed([&] { manager->block(); });
        listSeconds += secondsOf(Clock::now() - asked);
        state.PauseTiming();
        const auto walkStart = Clock::now();
        benchmark::DoNotOptimize(readdirWalk(::open(lib.root.c_str(), O_RDONLY | O_DIRECTORY)));
        walkSeconds += secondsOf(Clock::now() - walkStart);
        manager.reset();
        state.ResumeTiming();
    }
    // Allocations of the same audio-thread calls; the worker idle and held while each runs.
    Manager manager(lib, true);
    const auto counted = [](auto&& call) {
        file_worker::waitUntilIdle();
        file_worker::hold();
        {
            bench::CountAllocations counting;
            call();
        }
        file_worker::release();
    };
    const std::int64_t before = bench::allocationCount();
    const long lists = manager.host.lists;
    counted([&] { manager.message(200); });
    mpapi::MpEvent change = programChange(0);
    counted([&] { manager.block(&change); });
    for (int i = 0; i < 1000 && manager.host.lists == lists; ++i)
        counted([&] { manager.block(); });
    state.counters["allocs_audio_thread"] = static_cast<double>(bench::allocationCount() - before);
    const double n = static_cast<double>(state.iterations());
    timed.report(state);
    reportControl(state, manager, 2000);
    state.counters["list_ms"] = listSeconds / n * 1e3;
    state.counters["walk_ms"] = walkSeconds / n * 1e3;
    state.counters["list_to_walk"] = walkSeconds > 0 ? listSeconds / walkSeconds : 0.0;
    sizeCounters(state, lib);
}

// A program change in the folder view of "Plain" in real time: the block it arrives in asks the
// worker, which loads the preset from the list's read-ahead; the worst such block (the calls
// paced as a host makes them), with the answers of the change before it settled.
void BM_PrescatProgramChangeRealTime(benchmark::State& state)
{
    const Library& lib = library(static_cast<int>(state.range(0)));
    Manager manager(lib, true);
    manager.message(200 + lib.folders + 1);  // "Plain"
    manager.settle();
    long n = 0;
    const bench::AllocationsPerIteration allocations;
    PacedCalls timed;
    for (auto _ : state) {
        mpapi::MpEvent change = programChange(static_cast<int>(n++ % 128));
        state.SetIterationTime(timed([&] {
            bench::CountAllocations counting;  // the audio side only asks and settles
            manager.block(&change);
        }));
    }
    allocations.report(state, "allocs_per_change");
    timed.report(state);
    reportControl(state, manager, 5000);
    sizeCounters(state, lib);
}

// The block that settles what was owed while a folder's list was owed and the disk did not
// answer: a save with its path, 40 clicks with their program changes (each loaded by the worker
// from the new list's read-ahead, with its dump), a second save. The worst such block and its
// 99.9th percentile over the iterations; the control as above.
void BM_PrescatOwedBurstRealTime(benchmark::State& state)
{
    const Library& lib = library(static_cast<int>(state.range(0)));
    Manager manager(lib, true);
    manager.message(200 + lib.folders + 1);  // "Plain"
    manager.settle();
    const std::string saved = (lib.root / "Plain" / "Held save.tavpreset").string();
    PacedCalls timed;
    for (auto _ : state) {
        file_worker::waitUntilIdle();
        file_worker::hold();
        manager.message(200 + lib.folders + 1);
        manager.message(136, saved.c_str());
        manager.message(129);
        for (int i = 0; i < 40; ++i) {
            manager.message(i);
            mpapi::MpEvent change = programChange(i);
            manager.block(&change);
        }
        manager.message(136, saved.c_str());
        manager.message(129);
        file_worker::release();
        file_worker::waitUntilIdle();
        state.SetIterationTime(timed([&] { manager.block(); }));
        manager.settle();
    }
    timed.report(state);
    reportControl(state, manager, 2000);
    sizeCounters(state, lib);
    fs::remove(saved);  // the library stays as the other benchmarks expect it
}

} // namespace

BENCHMARK(BM_PrescatSearchViewRealTime)->Arg(10000)->Arg(100000)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PrescatProgramChangeRealTime)->Arg(10000)->Iterations(5000)->Unit(benchmark::kMicrosecond)->UseManualTime();
BENCHMARK(BM_PrescatOwedBurstRealTime)->Arg(10000)->Iterations(200)->Unit(benchmark::kMicrosecond)->UseManualTime();
BENCHMARK(BM_PrescatFindWalk)->Arg(100)->Arg(10000)->Arg(100000)->Arg(kBigFolder)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PrescatRescan)->Arg(100)->Arg(10000)->Arg(100000)->Arg(kBigFolder)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PrescatFolderView)->Arg(10000)->Arg(kBigFolder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrescatFilterAll)->Arg(100)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrescatFilterCategory)->Arg(100)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrescatFilterFavourite)->Arg(100)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrescatFilterEdit)->Arg(100)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrescatFilterSearch)->Arg(100)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrescatFilterHostileSearch)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrescatPageTurn)->Arg(100)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PrescatProgramChangeWithDump)->Arg(100)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
