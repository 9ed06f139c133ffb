// Where the learn map's file lives, and reading and writing it there.
#include "Midi/LearnMap.h"

#include "PresetStore/PresetBank.h"
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
    const auto id = presetbank::idText(idPin);
    const auto base = presetbank::baseFolderText(pathMacPin);
    if (!id || !base)
        return where;
    where.quorvaneFolder = *base + "Quorvane";
    where.productFolder = where.quorvaneFolder + "/" + *id;
    std::string path = where.productFolder + "/" + kFileName;
    if (path.size() < kPathBytes)
        where.path = std::move(path);
    return where;
}

void load(const Location& where, Map& map)
{
    const auto bytes = where.path ? platform::readFile(*where.path) : std::nullopt;
    if (!bytes) {
        map.fill(0);
        return;
    }
    parse(*bytes, map);
}

void save(const Location& where, const Map& map)
{
    if (!where.path)
        return;
    if (!where.quorvaneFolder.empty()) {
        ::mkdir(where.quorvaneFolder.c_str(), 0777);
        ::mkdir(where.productFolder.c_str(), 0777);
    }
    FileText text;
    format(map, text);
    platform::writeFileAtomically(*where.path, std::string_view(text.data(), text.size()));
}

} // namespace learn_map
