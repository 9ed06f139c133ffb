// A message payload between two halves read as text: up to its first NUL, never past its size;
// nothing for a null pointer or a size of 0 or less.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace payload {

inline std::string_view text(int32_t size, const void* data)
{
    if (!data || size <= 0)
        return {};
    const char* text = static_cast<const char*>(data);
    const void* nul = std::memchr(text, 0, static_cast<std::size_t>(size));
    return std::string_view(text, nul ? static_cast<const char*>(nul) - text : static_cast<std::size_t>(size));
}

} // namespace payload
