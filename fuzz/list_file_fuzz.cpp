// List.txt: the reader on any bytes; the names it gives, written by the writer, come back as the
// same line; and any line the writer takes whole comes back whole. Names as users give them (a
// List.txt item, or a typed name through the name editing rule, which keeps a CR) keep their bytes
// from List.txt to List.txt and from preset file to preset file.
#include "FuzzSupport.h"
#include "PresetStore/ListFileExchange.h"

using namespace preset_bank;
using fuzz_support::check;

namespace {

// The input cut at NUL bytes, each piece a typed name: slot 0, 1, ... as the pins give them.
NameTable typedNames(std::string_view input)
{
    NameTable names;
    for (int slot = 0; slot < kPresets && !input.empty(); ++slot) {
        const std::size_t end = std::min(input.find('\0'), input.size());
        std::string name(input.substr(0, end));
        applyNameEditingRule(name);
        names.setName(slot, name);
        input.remove_prefix(std::min(end + 1, input.size()));
    }
    return names;
}

// Writing, reading and writing again gives the same bytes, in List.txt and in a preset file.
void checkRoundTrips(const fuzz_support::Scratch& scratch, const NameTable& names)
{
    const std::string text = SaveList(names);
    // The writer's bytes, put without its flush to disk so that the run stays fast.
    const std::string bytes = list_file::listFileBytes(text);
    scratch.put(list_file::kListFileName, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    const auto line = list_file::readListFile(scratch.folder());
    check(line == text, "list comes back");
    NameTable again;
    ReadList(*line, again);
    check(SaveList(again) == text, "names come back from List.txt");

    const PresetValues zero = {};
    const std::string preset = presetFileText(names.view(0), zero);
    const std::string path = scratch.put("p.tavpreset", reinterpret_cast<const std::uint8_t*>(preset.data()), preset.size());
    NameTable read;
    PresetValues values = {};
    check(LoadPreset(path, read, 0, values), "preset file read");
    check(presetFileText(read.view(0), values) == preset, "name comes back from a preset file");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto& scratch = fuzz_support::Scratch::instance();
    const std::string& folder = scratch.folder();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    scratch.put(list_file::kListFileName, data, size);
    const auto line = list_file::readListFile(folder);
    if (line) {
        check(line->size() <= list_file::kMaxListLineBytes, "line within the limit");
        check(line->find('\n') == std::string::npos, "one line");
        NameTable names;
        ReadList(*line, names);
        checkRoundTrips(scratch, names);
    }
    checkRoundTrips(scratch, typedNames(input));
    if (input.size() <= list_file::kMaxListLineBytes && input.find('\n') == std::string_view::npos &&
        (input.empty() || input.back() != '\r')) {
        check(list_file::writeListFile(folder, input), "List.txt written");
        check(list_file::readListFile(folder) == input, "line comes back");
    }
    return 0;
}
