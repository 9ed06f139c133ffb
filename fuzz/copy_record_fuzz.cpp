// The record at the head of a copy written before a file is written in place: the reader on any
// bytes; a record it takes the writer writes again and it reads back the same, and it never
// names a relative path or one holding a zero byte.
#include "FuzzSupport.h"
#include "StaleTemporaries.h"

using fuzz_support::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto record = platform::parseCopyRecord(input);
    if (!record)
        return 0;
    const std::string& file = record->file.native();
    check(!file.empty() && file.front() == '/' && file.find('\0') == std::string::npos, "absolute path without a zero byte");
    check(record->contentOffset <= size, "content starts inside the bytes");
    const std::string head = platform::copyRecordHead(record->file, record->identity);
    const auto again = platform::parseCopyRecord(head + std::string(input.substr(record->contentOffset)));
    check(again && again->file == record->file && again->identity == record->identity && again->contentOffset == head.size(),
          "record comes back");
    return 0;
}
