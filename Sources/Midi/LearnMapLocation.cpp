// Where the learn map's file lives, and reading and writing it there.
#include "Midi/LearnMap.h"

#include "Common/PinText.h"
#include "TextFiles.h"

#include <sys/stat.h>

namespace learn_map {

Location locate(std::optional<std::string> hostPath, bool autoPath, std::wstring_view idPin, std::wstring_view pathMacPin)
{
    Location where;
    if (autoPath) {
        where.path = std::move(hostPath);
        return where;
    }
    const auto id = pin_text::idText(idPin);
    const auto base = pin_text::baseFolderText(pathMacPin);
    if (!id || !base)
        return where;
    where.quorvaneFolder = *base + "Quorvane";
    where.productFolder = where.quorvaneFolder + "/" + *id;
    std::string path = where.productFolder + "/" + kFileName;
    if (path.size() < kPathBytes)
        where.path = std::move(path);
    return where;
}

namespace {

// The most of a "Controllers.txt" that is read: 128 lines as written take 1152 bytes; the rest is
// room for hand-edited lines, and what lies beyond is past the 128th line anyway. Anything but a
// regular file (the map is read on the audio thread, which must never wait on a pipe) or a file
// reached through another user's link reads as none.
constexpr std::size_t kMostMapFileBytes = 64 * 1024;

} // namespace

void load(const Location& where, Map& map)
{
    const auto bytes = where.path ? platform::readFileStart(*where.path, kMostMapFileBytes, platform::LinkTrust::OwnOnly) : std::nullopt;
    if (!bytes) {
        map.fill(0);
        return;
    }
    parse(*bytes, map);
}

bool save(const Location& where, const Map& map)
{
    if (!where.path)
        return false;
    if (!where.quorvaneFolder.empty()) {
        ::mkdir(where.quorvaneFolder.c_str(), 0777);
        ::mkdir(where.productFolder.c_str(), 0777);
    }
    FileText text;
    format(map, text);
    // A link at this fixed name is followed only when it is the user's own.
    return platform::writeFileAtomically(*where.path, std::string_view(text.data(), text.size()),
                                         platform::LinkTrust::OwnOnly);
}

} // namespace learn_map
