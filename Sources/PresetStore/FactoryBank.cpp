#include "FactoryBank.h"

namespace factory_bank {

namespace {
#include "FactoryBankData.inc"
} // namespace

const char* name(int p) { return kFactoryNames[preset_bank::BankMemory::clampPreset(p)]; }

const float (&values(int p))[kValues] { return kFactoryValues[preset_bank::BankMemory::clampPreset(p)]; }

void layNamesInto(preset_bank::NameTable& names)
{
    for (int p = 0; p < kPresets; ++p)
        names.setName(p, kFactoryNames[p]);
}

void layInto(preset_bank::NameTable& names, preset_bank::BankMemory& bank)
{
    layNamesInto(names);
    bank.clear();
    for (int p = 0; p < kPresets; ++p) {
        float* target = bank.preset(p);
        for (int k = 0; k < kValues; ++k)
            target[k] = kFactoryValues[p][k];
    }
}

} // namespace factory_bank
