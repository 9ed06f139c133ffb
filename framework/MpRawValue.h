// Raw (byte) form of pin values shared by processing and interface pins: float and int 4 bytes,
// bool 1 byte, text 4 bytes per character without terminator.
#pragma once

#include <cstdint>
#include <string>

namespace mp_detail {

template <class T> int32_t rawSizeOf(const T&) { return sizeof(T); }
inline int32_t rawSizeOf(const std::wstring& value) { return static_cast<int32_t>(value.size() * sizeof(wchar_t)); }
template <class T> const void* rawDataOf(const T& value) { return &value; }
inline const void* rawDataOf(const std::wstring& value) { return value.data(); }

} // namespace mp_detail
