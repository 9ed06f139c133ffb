// Text from pins and from the host made fit for names, IDs and paths: UTF-8 cut without splitting
// a character, the ID that names a product folder, the base folder of the PathMac pin and a path
// the host fills in. Every subsystem that takes a name or a folder from a pin uses these, so a
// text is cut or refused the same way everywhere.
//
// Nothing here is shared or locked. The conversions allocate: the file worker and the interface
// halves call them; a processing half only takes its pins into FileSettings, which allocates
// nothing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace pin_text {

inline constexpr std::size_t kIdBytes = 500;  // ID text, PathMac text, host path text
inline constexpr std::size_t kBaseFolderBytes = 2048;

// Cuts text to at most maxBytes bytes without splitting a UTF-8 character: when the cut would
// fall inside a well-formed multi-byte sequence, the whole sequence goes. Other bytes (8-bit
// text that is not UTF-8) are cut at maxBytes exactly.
std::string_view cutAtCharBoundary(std::string_view text, std::size_t maxBytes);

// A pin's wide text as UTF-8, cut to at most maxBytes bytes at a character boundary (names from
// pins: maxBytes = slot bytes - 1). Characters that have no UTF-8 form become U+FFFD.
std::string pinTextCut(std::wstring_view text, std::size_t maxBytes);

// A pin's wide text as UTF-8 when it has at most maxBytes bytes; nothing when it is longer (paths
// and IDs are refused rather than cut into another file's name) or holds a NUL.
std::optional<std::string> pinTextWithin(std::wstring_view text, std::size_t maxBytes);

// An ID text fit for building folders: no "/", no "..", no NUL, at most 500 bytes. An empty ID is
// allowed (it names the folder "Quorvane/" itself).
bool isFolderSafeId(std::string_view id);

// The ID pin as the ID text: UTF-8, at most 500 bytes; nothing when longer or not folder-safe.
std::optional<std::string> idText(std::wstring_view idPin);

// The base folder text: the PathMac pin as UTF-8 (at most 500 bytes, else refused), expanded as
// one shell word by platform::expandFolderSetting ("~", $NAME, ${NAME}, quotes and escapes only),
// its first word. Nothing when refused, when the expansion fails, yields no word or an empty one
// or a relative path (logged), or when the result has 2048 bytes or more: the caller then does
// no file operation on a path built from it.
std::optional<std::string> baseFolderText(std::wstring_view pathMac);

// Converts a host-filled wide buffer (terminated within its size) to UTF-8 within maxBytes.
std::optional<std::string> hostPathText(const wchar_t* buffer, std::size_t bufferChars, std::size_t maxBytes);

// The file settings of a graph start, taken on the audio thread without allocating, for the file
// worker to form a module's paths from: the ID and PathMac pins (one character more than the path
// rules take, so that a longer text is refused as the whole text would be) and, with AutoPath on,
// the host's full path for the module's file.
struct FileSettings {
    static constexpr std::size_t kChars = kIdBytes + 1;

    bool autoPath = false;
    wchar_t id[kChars] = {};
    std::size_t idLength = 0;
    wchar_t pathMac[kChars] = {};
    std::size_t pathMacLength = 0;
    wchar_t hostPath[kChars] = {};  // as the host filled it, terminated within; empty without AutoPath

    // [audio thread] Takes the pins, and asks host (with AutoPath on) for fileName's full path.
    template <class Host>
    void take(Host* host, const wchar_t* fileName, bool autoPathPin, std::wstring_view idPin, std::wstring_view pathMacPin)
    {
        autoPath = autoPathPin;
        idLength = idPin.copy(id, kChars);
        pathMacLength = pathMacPin.copy(pathMac, kChars);
        std::fill(std::begin(hostPath), std::end(hostPath), L'\0');
        if (autoPath && host)
            host->expandFileName(fileName, static_cast<int32_t>(kIdBytes), hostPath);
    }

    std::wstring_view idPin() const { return {id, idLength}; }
    std::wstring_view pathMacPin() const { return {pathMac, pathMacLength}; }
    // The host's path as UTF-8; nothing without AutoPath, or when the host gave none.
    std::optional<std::string> hostFilePath() const
    {
        return autoPath ? hostPathText(hostPath, kChars, kIdBytes) : std::nullopt;
    }
};

} // namespace pin_text
