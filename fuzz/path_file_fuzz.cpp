// Path.txt: the reader on any bytes; a path it accepts the writer writes and it reads back
// unchanged, and a path the writer takes comes back unchanged.
#include "FuzzSupport.h"
#include "PresetStore/ListFileExchange.h"

using fuzz_support::check;
using list_file::PathFileRead;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto& scratch = fuzz_support::Scratch::instance();
    const std::string& folder = scratch.folder();
    scratch.put(list_file::kPathFileName, data, size);
    const PathFileRead read = list_file::readPathFile(folder);
    if (read.status == PathFileRead::Status::Path) {
        check(list_file::writePathFile(folder, read.path), "writer takes what the reader accepted");
        const PathFileRead again = list_file::readPathFile(folder);
        check(again.status == PathFileRead::Status::Path && again.path == read.path, "path comes back");
    }
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (list_file::writePathFile(folder, input)) {
        const PathFileRead again = list_file::readPathFile(folder);
        check(again.status == PathFileRead::Status::Path && again.path == input, "written path comes back");
    } else {
        check(list_file::readPathFile(folder).path.empty(), "a refused path leaves no choice");
    }
    return 0;
}
