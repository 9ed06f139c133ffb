// The list-file manager's and the interface halves' bank reader (atof-like fields).
#include "BankFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fuzz_support::fuzzBank(data, size, preset_bank::FieldConversion::Atof);
}
