// The bank readers on any bytes, in one of their two conversions; what they read, written as
// SaveBank writes it and read again, gives the same names and values.
#pragma once

#include "Common/NumberText.h"
#include "FuzzSupport.h"
#include "PresetStore/PresetBank.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace fuzz_support {

inline int fuzzBank(const std::uint8_t* data, std::size_t size, preset_bank::FieldConversion conversion)
{
    using namespace preset_bank;
    const auto& scratch = Scratch::instance();
    const std::string path = scratch.put("in.tavbank", data, size);
    NameTable names;
    LoadNames(path, names);
    static auto bank = std::make_unique<BankMemory>();
    static auto read = std::make_unique<BankMemory>();
    bank->clear();
    if (!LoadBank(path, names, *bank, conversion))
        return 0;
    int lastRow = -1;  // rows after it hold only +0, as a cleared bank does
    for (int p = 0; p < kPresets; ++p)
        for (int k = 0; k < kSlots; ++k) {
            const float value = bank->preset(p)[k];
            check(std::isfinite(value), "bank values are finite");
            if (!printsWithin20Digits(value))
                return 0;
            if (value != 0.0f || std::signbit(value))
                lastRow = std::max(lastRow, k);
        }
    // The file SaveBank writes, cut after the last row that holds anything (reading a whole bank
    // file under the sanitizers would make each run slow): read into a cleared bank it must give
    // the same names, and values that are written as the same text: save, load, save writes the
    // same file.
    std::string text = bankFileText(names, *bank);
    std::size_t end = 0;
    for (int line = 0; line < lastRow + 2; ++line)
        end = text.find('\n', end) + 1;
    text.resize(end);
    const std::string written = scratch.put("out.tavbank", reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    NameTable readNames;
    read->clear();
    check(LoadBank(written, readNames, *read, conversion), "written bank read");
    for (int p = 0; p < kPresets; ++p)
        check(readNames.view(p) == names.view(p), "names come back");
    // Rows after lastRow are +0 in both banks; the rows up to it print as they were written.
    std::string was, now;
    for (int k = 0; k <= lastRow; ++k)
        for (int p = 0; p < kPresets; ++p) {
            was.clear();
            now.clear();
            number_text::appendFixed(was, static_cast<double>(bank->get(p, k)), 11, 7);
            number_text::appendFixed(now, static_cast<double>(read->get(p, k)), 11, 7);
            check(was == now, "bank file is stable");
        }
    const std::size_t rest = static_cast<std::size_t>(kSlots - lastRow - 1) * sizeof(float);
    for (int p = 0; p < kPresets; ++p)
        check(std::memcmp(&read->preset(p)[lastRow + 1], &bank->preset(p)[lastRow + 1], rest) == 0, "untouched rows stay");
    return 0;
}

} // namespace fuzz_support
