// A name of any bytes as one entry of the category browser's list text, and back: the entry holds
// no "," or ";" (so the list keeps its row count), and the interface half reads the name it came
// from, whatever look-alikes or escapes the name held itself. A name cut for room comes back as
// its own beginning.
#include "CategoryBrowser/PresetLibrary.h"
#include "FuzzSupport.h"

#include <string_view>

using fuzz_support::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    char text[4096];
    const std::size_t capacity = size == 0 ? sizeof text : 1 + data[0] % sizeof text;  // room from tight to ample
    std::size_t length = 0;
    prescat::appendShownEntry(text, capacity, length, name);
    check(length < capacity && text[length] == 0, "the entry and its NUL fit");
    const std::string_view entry(text, length);
    check(entry.find_first_of(",;") == std::string_view::npos, "no separator inside an entry");
    const std::string back = prescat::nameFromListEntry(entry);
    check(name.starts_with(back), "the entry reads back as the name or its beginning");
    if (capacity > prescat::shownEntryBytes(size) + 1)
        check(back == name, "an entry with room reads back as the whole name");
    return 0;
}
