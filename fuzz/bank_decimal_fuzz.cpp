// The list-pipe and category managers' bank reader (decimal field).
#include "BankFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fuzz_support::fuzzBank(data, size, preset_bank::FieldConversion::Decimal);
}
