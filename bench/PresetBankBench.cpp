// Cost of writing and reading a whole bank file (397,187 bytes, 128 x 256 values) and of
// building its text, with both field conversions. Then the list managers in real-time mode, as
// the worst audio-thread call and the 99.9th percentile (the mean only for comparison) of: a bank
// load (the bank read is fetched into a spare buffer and swapped in, not copied), a bank save (the
// worker writes its own copy of the bank: the call snapshots nothing), a graph start, the block
// that picks up a bank load and everything that became a job behind it; and, as the control,
// calls that hand the worker nothing. The allocations those calls make must be 0.
#include "AllocationCounter.h"
#include "BenchHost.h"
#include "FileWorker.h"
#include "PresetStore/FactoryBank.h"
#include "PresetStore/ListManagerMessages.h"
#include "PresetStore/PresetBank.h"
#include "RoutingBench.h"
#include "support/TemporaryFolder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct FactoryTables {
    preset_bank::NameTable names;
    std::unique_ptr<preset_bank::BankMemory> bank = std::make_unique<preset_bank::BankMemory>();
    FactoryTables() { factory_bank::layInto(names, *bank); }
};

void BM_BankFileText(benchmark::State& state)
{
    FactoryTables tables;
    for (auto _ : state)
        benchmark::DoNotOptimize(preset_bank::bankFileText(tables.names, *tables.bank));
    state.SetBytesProcessed(state.iterations() * 397187);
}
BENCHMARK(BM_BankFileText);

void BM_SaveBank(benchmark::State& state)
{
    const test_support::TemporaryFolder folder("tavrin-bench");
    FactoryTables tables;
    const std::string path = (folder.path() / "bench.tavbank").string();
    for (auto _ : state)
        benchmark::DoNotOptimize(preset_bank::SaveBank(path, tables.names, *tables.bank));
    state.SetBytesProcessed(state.iterations() * 397187);
}
BENCHMARK(BM_SaveBank);

void BM_LoadBank(benchmark::State& state)
{
    const test_support::TemporaryFolder folder("tavrin-bench");
    FactoryTables tables;
    const std::string path = (folder.path() / "bench.tavbank").string();
    preset_bank::SaveBank(path, tables.names, *tables.bank);
    const auto conversion = state.range(0) == 0 ? preset_bank::FieldConversion::Decimal : preset_bank::FieldConversion::Atof;
    preset_bank::NameTable names;
    auto bank = std::make_unique<preset_bank::BankMemory>();
    for (auto _ : state)
        benchmark::DoNotOptimize(preset_bank::LoadBank(path, names, *bank, conversion));
    state.SetLabel(state.range(0) == 0 ? "decimal field" : "atof");
    state.SetBytesProcessed(state.iterations() * 397187);
}
BENCHMARK(BM_LoadBank)->Arg(0)->Arg(1);

void BM_PresetFileRoundTrip(benchmark::State& state)
{
    const test_support::TemporaryFolder folder("tavrin-bench");
    FactoryTables tables;
    const std::string path = (folder.path() / "bench.tavpreset").string();
    preset_bank::PresetValues values{};
    for (auto _ : state) {
        preset_bank::SavePreset(path, tables.names.view(3), tables.bank->preset(3));
        benchmark::DoNotOptimize(preset_bank::LoadPreset(path, tables.names, 3, values));
    }
    state.SetBytesProcessed(state.iterations() * 3868 * 2);
}
BENCHMARK(BM_PresetFileRoundTrip);

// ---- The list managers in real-time mode ----------------------------------------------------

constexpr float kSampleRate = 48000.0f;
constexpr int kBlock = 32;
constexpr double kBlockSeconds = double(kBlock) / kSampleRate;

// A pin value event carrying a text (4 bytes a character).
struct TextEvent {
    std::wstring text;
    mpapi::MpEvent event{};
    TextEvent(int pin, std::wstring value) : text(std::move(value))
    {
        event.eventType = mpapi::MP_EVENT_PIN_VALUE;
        event.parm1 = pin;
        event.parm2 = static_cast<int32_t>(text.size() * 4);
        event.extraData = reinterpret_cast<char*>(text.data());
    }
};

// A list manager's processing half in real-time mode under a folder of its own: ID "TAVRIN ONE",
// PathMac the folder, a factory bank as the startup bank and as "bank.tavbank", Path.txt naming
// it. Started: graph start, the interface half's 134, its work done.
class RealTimeManager {
public:
    explicit RealTimeManager(const wchar_t* identifier)
    {
        file_worker::setOffline(false);
        FactoryTables tables;
        const std::filesystem::path manager = folder_.path() / "Quorvane" / "TAVRIN ONE";
        std::filesystem::create_directories(manager / "Presetbase");
        preset_bank::SaveBank((manager / "Presetbase" / "DEFAULTBANK.tavbank").string(), tables.names, *tables.bank);
        bank_ = (folder_.path() / "bank.tavbank").string();
        preset_bank::SaveBank(bank_, tables.names, *tables.bank);
        std::ofstream(manager / "Path.txt", std::ios::binary) << bank_ << "\r\n";

        plugin = bench::openProcessingHalf(host, identifier, buffer_.data(), 7);
        TextEvent id(2, L"TAVRIN ONE");
        TextEvent pathMac(5, folder_.path().wstring() + L"/");
        id.event.next = &pathMac.event;
        plugin->process(kBlock, &id.event);
        plugin->receiveMessageFromGui(list_message::kInterfaceStarted, 0, nullptr);
        graphStart();
        settle();
    }
    ~RealTimeManager()
    {
        plugin->release();
        file_worker::setOffline(wasOffline_);
    }

    // One audio-thread call, timed; its duration is kept (room set aside, so keeping it does not
    // allocate). The worker is held around it so that allocations counted are this thread's.
    template <class Call>
    void audioCall(Call&& call)
    {
        file_worker::hold();
        const auto allocationsBefore = bench::allocationCount();
        std::chrono::steady_clock::time_point start;
        {
            bench::CountAllocations counting;
            start = std::chrono::steady_clock::now();
            call();
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        allocations_ += bench::allocationCount() - allocationsBefore;
        if (measuring_)
            calls_.push_back(took.count());
        file_worker::release();
    }
    // A message with a text payload (its NUL included), or none.
    void message(int32_t id, std::string text = {})
    {
        const int32_t size = text.empty() ? 0 : static_cast<int32_t>(text.size() + 1);
        void* data = text.empty() ? nullptr : text.data();
        audioCall([&] { plugin->receiveMessageFromGui(id, size, data); });
    }
    void block(mpapi::MpEvent* events = nullptr) { audioCall([&] { plugin->process(kBlock, events); }); }
    void graphStart()
    {
        mpapi::MpEvent start{};
        start.eventType = mpapi::MP_EVENT_GRAPH_START;
        block(&start);
    }
    // The worker finishes; the next block applies what it did.
    void settle()
    {
        file_worker::waitUntilIdle();
        block();
    }

    // The worst call and the 99.9th percentile headline; the mean is for comparison only.
    void report(benchmark::State& state)
    {
        std::vector<double> sorted = calls_;
        std::sort(sorted.begin(), sorted.end());
        const double worst = sorted.empty() ? 0.0 : sorted.back();
        const double p999 = sorted.empty() ? 0.0 : sorted[std::min(sorted.size() - 1, sorted.size() * 999 / 1000)];
        double sum = 0.0;
        for (double call : sorted)
            sum += call;
        state.counters["worst_us"] = worst * 1e6;
        state.counters["p999_us"] = p999 * 1e6;
        state.counters["mean_us"] = sorted.empty() ? 0.0 : sum / static_cast<double>(sorted.size()) * 1e6;
        state.counters["calls"] = static_cast<double>(sorted.size());
        state.counters["worst_budget_percent"] = 100.0 * worst / kBlockSeconds;
        state.counters["audio_allocs"] = static_cast<double>(allocations_);
    }
    void startMeasuring()
    {
        calls_.clear();
        calls_.reserve(1 << 20);
        measuring_ = true;
        allocations_ = 0;
    }
    const std::string& bankPath() const { return bank_; }

    bench::BenchHost host{kBlock, kSampleRate};
    mpapi::IMpPlugin* plugin = nullptr;

private:
    const bool wasOffline_ = file_worker::offline();
    test_support::TemporaryFolder folder_{"tavrin-bench"};
    std::vector<float> buffer_ = std::vector<float>(kBlock);
    std::string bank_;
    std::vector<double> calls_;  // seconds, each measured audio-thread call
    bool measuring_ = false;
    std::int64_t allocations_ = 0;
};

// A two-byte message on the MIDI input (pin 0) at block position 0.
mpapi::MpEvent midi(unsigned char status, unsigned char data)
{
    const unsigned char bytes[2] = {status, data};
    return routing_bench::midiEvent(0, 0, bytes, 2);
}

const wchar_t* managerOf(const benchmark::State& state)
{
    return state.range(0) == 0 ? L"QV_PatchManagerListfile" : L"QV_PatchManagerListpipe";
}

// A bank file command: its messages (the list-pipe manager's path first), then the block that
// applies the result (a loaded bank: copied in, preset 0 selected and announced).
void bankCommand(benchmark::State& state, int32_t command)
{
    RealTimeManager manager(managerOf(state));
    manager.startMeasuring();
    for (auto _ : state) {
        if (state.range(0) == 1)
            manager.message(list_message::kPath, manager.bankPath());
        manager.message(command);
        manager.settle();
    }
    manager.report(state);
    state.SetLabel(state.range(0) == 0 ? "list-file" : "list-pipe");
}

void BM_ListManagerBankLoadWorstCall(benchmark::State& state) { bankCommand(state, list_message::kLoadBank); }
BENCHMARK(BM_ListManagerBankLoadWorstCall)->Arg(0)->Arg(1)->Iterations(300);

void BM_ListManagerBankSaveWorstCall(benchmark::State& state) { bankCommand(state, list_message::kSaveBank); }
BENCHMARK(BM_ListManagerBankSaveWorstCall)->Arg(0)->Arg(1)->Iterations(300);

// A graph start: the list-file manager reads its startup bank (and the list-pipe manager only
// starts its countdown), then the block that applies it.
void BM_ListManagerGraphStartWorstCall(benchmark::State& state)
{
    RealTimeManager manager(managerOf(state));
    manager.startMeasuring();
    for (auto _ : state) {
        manager.graphStart();
        manager.settle();
    }
    manager.report(state);
    state.SetLabel(state.range(0) == 0 ? "list-file" : "list-pipe");
}
BENCHMARK(BM_ListManagerGraphStartWorstCall)->Arg(0)->Arg(1)->Iterations(300);

// The control: calls that hand the worker nothing (program changes and selects answered at once,
// the block written at their place, blocks with nothing to do).
void BM_ListManagerNoFileWorkControl(benchmark::State& state)
{
    RealTimeManager manager(managerOf(state));
    manager.startMeasuring();
    int preset = 0;
    for (auto _ : state) {
        mpapi::MpEvent change = midi(0xC0, static_cast<unsigned char>(preset++ % 128));
        manager.block(&change);
        manager.message(preset % 128);
        manager.block();
    }
    manager.report(state);
    state.SetLabel(state.range(0) == 0 ? "list-file" : "list-pipe");
}
BENCHMARK(BM_ListManagerNoFileWorkControl)->Arg(0)->Arg(1)->Iterations(3000);

// The block that picks up a bank load and what became jobs behind it while it was owed: 48 program
// changes (each selected by the worker), a store, a bank save and a name list (list-pipe) or
// List.txt read (list-file). It applies them all, sends their answers in order (48 controller
// dumps for the list-pipe manager) and asks for the bank read: the worst audio-thread call.
void BM_ListManagerOwedResultsSettle(benchmark::State& state)
{
    RealTimeManager manager(managerOf(state));
    const bool pipe = state.range(0) == 1;
    std::string list = preset_bank::SaveList(preset_bank::NameTable());
    std::string path = manager.bankPath();
    manager.startMeasuring();
    std::vector<double> settles;
    for (auto _ : state) {
        file_worker::hold();
        if (pipe)
            manager.plugin->receiveMessageFromGui(list_message::kPath, static_cast<int32_t>(path.size() + 1), path.data());
        manager.plugin->receiveMessageFromGui(list_message::kLoadBank, 0, nullptr);
        file_worker::release();
        std::vector<mpapi::MpEvent> changes(48);
        for (std::size_t i = 0; i < changes.size(); ++i) {
            changes[i] = midi(0xC0, static_cast<unsigned char>(i));
            changes[i].next = i + 1 < changes.size() ? &changes[i + 1] : nullptr;
        }
        file_worker::hold();  // the bank load stays owed while the inputs come
        manager.plugin->process(kBlock, changes.data());
        manager.plugin->receiveMessageFromGui(list_message::kFixPreset, 0, nullptr);
        manager.plugin->receiveMessageFromGui(list_message::kSaveBank, 0, nullptr);
        manager.plugin->receiveMessageFromGui(list_message::kNameList, pipe ? static_cast<int32_t>(list.size() + 1) : 0,
                                              pipe ? list.data() : nullptr);
        file_worker::release();
        file_worker::waitUntilIdle();
        const auto start = std::chrono::steady_clock::now();
        manager.plugin->process(kBlock, nullptr);  // applies the bank and the rest, answers in order
        settles.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        manager.settle();
    }
    manager.report(state);
    std::sort(settles.begin(), settles.end());
    state.counters["settle_block_worst_us"] = settles.back() * 1e6;
    state.counters["settle_block_median_us"] = settles[settles.size() / 2] * 1e6;
    state.SetLabel(pipe ? "list-pipe" : "list-file");
}
BENCHMARK(BM_ListManagerOwedResultsSettle)->Arg(0)->Arg(1)->Iterations(200);

} // namespace
