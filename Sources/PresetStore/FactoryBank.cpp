#include "FactoryBank.h"

namespace factorybank {

namespace {
#include "FactoryBankData.inc"
} // namespace

const char* name(int p) { return kFactoryNames[presetbank::BankMemory::clampPreset(p)]; }

const float (&values(int p))[kValues] { return kFactoryValues[presetbank::BankMemory::clampPreset(p)]; }

void layNamesInto(presetbank::NameTable& names)
{
    for (int p = 0; p < kPresets; ++p)
        names.setName(p, kFactoryNames[p]);
}

void layInto(presetbank::NameTable& names, presetbank::BankMemory& bank)
{
    layNamesInto(names);
    bank.clear();
    for (int p = 0; p < kPresets; ++p) {
        float* target = bank.preset(p);
        for (int k = 0; k < kValues; ++k)
            target[k] = kFactoryValues[p][k];
    }
}

} // namespace factorybank
