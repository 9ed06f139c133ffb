// The numbered list text parser (ReadList) on any bytes; SaveList of what it read, parsed again,
// gives the same names and the same text.
#include "FuzzSupport.h"
#include "PresetStore/PresetBank.h"

using namespace preset_bank;
using fuzz_support::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    NameTable names;
    ReadList(std::string_view(reinterpret_cast<const char*>(data), size), names);
    const std::string text = SaveList(names);
    NameTable again;
    ReadList(text, again);
    for (int p = 0; p < kPresets; ++p)
        check(again.view(p) == names.view(p), "names come back");
    check(SaveList(again) == text, "list text is stable");
    return 0;
}
