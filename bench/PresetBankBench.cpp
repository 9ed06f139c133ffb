// Cost of writing and reading a whole bank file (397,187 bytes, 128 x 256 values) and of
// building its text, with both field conversions. Then the list managers in real-time mode: the
// worst single audio-thread call of a bank load, a bank save and a graph start, whose file work
// runs on the file worker, with the allocations those calls make (must be 0).
#include "AllocationCounter.h"
#include "BenchHost.h"
#include "FileWorker.h"
#include "PresetStore/FactoryBank.h"
#include "PresetStore/ListManagerMessages.h"
#include "PresetStore/PresetBank.h"
#include "support/TemporaryFolder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
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

    // One audio-thread call, timed while the worker is held (so that allocations counted are this
    // thread's); the worst so far is kept.
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
        worst_ = std::max(worst_, took.count());
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

    void report(benchmark::State& state)
    {
        state.counters["worst_call_us"] = worst_ * 1e6;
        state.counters["worst_call_budget_percent"] = 100.0 * worst_ / kBlockSeconds;
        state.counters["audio_allocs"] = static_cast<double>(allocations_);
    }
    void startMeasuring() { worst_ = 0.0; allocations_ = 0; }
    const std::string& bankPath() const { return bank_; }

    bench::BenchHost host{kBlock, kSampleRate};
    mpapi::IMpPlugin* plugin = nullptr;

private:
    const bool wasOffline_ = file_worker::offline();
    test_support::TemporaryFolder folder_{"tavrin-bench"};
    std::vector<float> buffer_ = std::vector<float>(kBlock);
    std::string bank_;
    double worst_ = 0.0;  // seconds
    std::int64_t allocations_ = 0;
};

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
BENCHMARK(BM_ListManagerBankLoadWorstCall)->Arg(0)->Arg(1)->Iterations(30);

void BM_ListManagerBankSaveWorstCall(benchmark::State& state) { bankCommand(state, list_message::kSaveBank); }
BENCHMARK(BM_ListManagerBankSaveWorstCall)->Arg(0)->Arg(1)->Iterations(30);

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
BENCHMARK(BM_ListManagerGraphStartWorstCall)->Arg(0)->Arg(1)->Iterations(30);

} // namespace
