// Cost of writing and reading a whole bank file (397,187 bytes, 128 x 256 values) and of
// building its text, with both field conversions.
#include "PresetStore/FactoryBank.h"
#include "PresetStore/PresetBank.h"
#include "support/TemporaryFolder.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

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

} // namespace
