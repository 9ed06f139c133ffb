// The preset file readers (LoadPreset, LoadName) on any bytes; whatever they read, written by
// SavePreset and read again, gives the same name and values.
#include "FuzzSupport.h"
#include "PresetStore/PresetBank.h"

#include <cstring>

using namespace preset_bank;
using fuzz_support::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto& scratch = fuzz_support::Scratch::instance();
    const std::string path = scratch.put("in.tavpreset", data, size);
    NameTable names;
    PresetValues values{};
    LoadName(path, names, 9);
    if (!LoadPreset(path, names, 3, values))
        return 0;
    bool comesBack = true;
    for (float value : values) {
        check(std::isfinite(value), "preset values are finite");
        comesBack = comesBack && fuzz_support::printsWithin20Digits(value);
    }
    if (!comesBack)
        return 0;
    // The file as written holds the values' texts: reading it gives the floats nearest them, and
    // writing those again gives the same file.
    // Written as SavePreset writes it, without its flush to disk, which would dominate each run.
    const std::string text = presetFileText(names.view(3), values);
    const std::string written = scratch.put("out.tavpreset", reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    NameTable readNames;
    PresetValues read{};
    check(LoadPreset(written, readNames, 3, read), "written preset read");
    check(readNames.view(3) == names.view(3), "name comes back");
    check(presetFileText(readNames.view(3), read) == text, "preset file is stable");
    // A name the reader took is one LoadName takes from the first 28 bytes as well.
    if (names.view(3).size() <= 24) {
        check(LoadName(written, readNames, 5), "name read");
        check(readNames.view(5) == names.view(3), "LoadName agrees");
    }
    return 0;
}
