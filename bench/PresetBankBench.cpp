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
    presetbank::NameTable names;
    std::unique_ptr<presetbank::BankMemory> bank = std::make_unique<presetbank::BankMemory>();
    FactoryTables() { factorybank::layInto(names, *bank); }
};

void BM_BankFileText(benchmark::State& state)
{
    FactoryTables tables;
    for (auto _ : state)
        benchmark::DoNotOptimize(presetbank::bankFileText(tables.names, *tables.bank));
    state.SetBytesProcessed(state.iterations() * 397187);
}
BENCHMARK(BM_BankFileText);

void BM_SaveBank(benchmark::State& state)
{
    const testsupport::TemporaryFolder folder("tavrin-bench");
    FactoryTables tables;
    const std::string path = (folder.path() / "bench.tavbank").string();
    for (auto _ : state)
        benchmark::DoNotOptimize(presetbank::SaveBank(path, tables.names, *tables.bank));
    state.SetBytesProcessed(state.iterations() * 397187);
}
BENCHMARK(BM_SaveBank);

void BM_LoadBank(benchmark::State& state)
{
    const testsupport::TemporaryFolder folder("tavrin-bench");
    FactoryTables tables;
    const std::string path = (folder.path() / "bench.tavbank").string();
    presetbank::SaveBank(path, tables.names, *tables.bank);
    const auto conversion = state.range(0) == 0 ? presetbank::FieldConversion::Decimal : presetbank::FieldConversion::Atof;
    presetbank::NameTable names;
    auto bank = std::make_unique<presetbank::BankMemory>();
    for (auto _ : state)
        benchmark::DoNotOptimize(presetbank::LoadBank(path, names, *bank, conversion));
    state.SetLabel(state.range(0) == 0 ? "decimal field" : "atof");
    state.SetBytesProcessed(state.iterations() * 397187);
}
BENCHMARK(BM_LoadBank)->Arg(0)->Arg(1);

void BM_PresetFileRoundTrip(benchmark::State& state)
{
    const testsupport::TemporaryFolder folder("tavrin-bench");
    FactoryTables tables;
    const std::string path = (folder.path() / "bench.tavpreset").string();
    presetbank::PresetValues values{};
    for (auto _ : state) {
        presetbank::SavePreset(path, tables.names.view(3), tables.bank->preset(3));
        benchmark::DoNotOptimize(presetbank::LoadPreset(path, tables.names, 3, values));
    }
    state.SetBytesProcessed(state.iterations() * 3868 * 2);
}
BENCHMARK(BM_PresetFileRoundTrip);

} // namespace
