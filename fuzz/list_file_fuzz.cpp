// List.txt: the reader on any bytes; the names it gives, written by the writer, come back as the
// same line; and any line the writer takes whole comes back whole.
#include "FuzzSupport.h"
#include "PresetStore/ListFileExchange.h"

using namespace presetbank;
using fuzzsupport::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto& scratch = fuzzsupport::Scratch::instance();
    const std::string& folder = scratch.folder();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    scratch.put(listfile::kListFileName, data, size);
    const auto line = listfile::readListFile(folder);
    if (line) {
        check(line->size() <= listfile::kMaxListLineBytes, "line within the limit");
        check(line->find('\n') == std::string::npos, "one line");
        NameTable names;
        ReadList(*line, names);
        const std::string text = SaveList(names);
        check(listfile::writeListFile(folder, text), "List.txt written");
        check(listfile::readListFile(folder) == text, "list comes back");
    }
    if (input.size() <= listfile::kMaxListLineBytes && input.find('\n') == std::string_view::npos &&
        (input.empty() || input.back() != '\r')) {
        check(listfile::writeListFile(folder, input), "List.txt written");
        check(listfile::readListFile(folder) == input, "line comes back");
    }
    return 0;
}
