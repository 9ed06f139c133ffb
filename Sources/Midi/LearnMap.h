// The MIDI learn controller map and its file "Controllers.txt": 128 entries tying an internal
// controller number (the one a synth parameter listens to) to an external one (the knob the
// user turned), 0 meaning unassigned.
//
// File: 128 lines "%3d,%3d" + CR LF from the index and the entry (1152 bytes). A reader takes
// each line's number from its fifth character on (at most eight characters, up to the line
// end); entries outside 0-127 load as 0, lines past the 128th are ignored and a shorter file
// leaves the remaining entries as they were.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace learn_map {

inline constexpr int kEntries = 128;
inline constexpr std::size_t kLineBytes = 9;
inline constexpr std::size_t kFileBytes = kEntries * kLineBytes;
inline constexpr const char* kFileName = "Controllers.txt";

using Map = std::array<int32_t, kEntries>;
using FileText = std::array<char, kFileBytes>;

// The file's bytes for a map; entries outside 0-127 are written as 0.
void format(const Map& map, FileText& text);

// Reads the lines of a file's bytes into map (see above).
void parse(std::string_view bytes, Map& map);

// Where the map lives, formed once at graph start. With AutoPath on, the host's full path for
// "Controllers.txt"; else base folder + "Quorvane/" + ID + "/Controllers.txt", the base folder being
// the PathMac text expanded as one shell word (given with its trailing "/"). No file is read or
// written without a path.
struct Location {
    std::optional<std::string> path;
    std::string quorvaneFolder;  // base folder + "Quorvane"; empty with AutoPath on
    std::string productFolder;   // quorvaneFolder + "/" + ID
};
Location locate(std::optional<std::string> hostPath, bool autoPath, std::wstring_view idPin, std::wstring_view pathMacPin);

// The map from the file: all 0 when it cannot be read.
void load(const Location& where, Map& map);

// Writes the map through a temporary file and a rename, creating the product folder first
// (without AutoPath); failures are ignored.
void save(const Location& where, const Map& map);

} // namespace learn_map
