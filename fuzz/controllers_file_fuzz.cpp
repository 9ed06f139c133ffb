// "Controllers.txt" from arbitrary bytes: the reader must take anything, every entry it leaves is
// a controller number 0-127, and the map written back reads back the same.
#include "Midi/LearnMap.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    learn_map::Map map{};
    learn_map::parse(std::string_view(reinterpret_cast<const char*>(data), size), map);
    for (int32_t v : map)
        if (v < 0 || v >= learn_map::kEntries)
            std::abort();
    learn_map::FileText text;
    learn_map::format(map, text);
    learn_map::Map again{};
    again.fill(-1);
    learn_map::parse(std::string_view(text.data(), text.size()), again);
    if (again != map)
        std::abort();
    return 0;
}
