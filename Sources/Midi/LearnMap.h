// The MIDI learn controller map and its file "Controllers.txt": 128 entries tying an internal
// controller number (the one a synth parameter listens to) to an external one (the knob the
// user turned), 0 meaning unassigned.
//
// File: 128 lines "%3d,%3d" + CR LF from the index and the entry (1152 bytes). A reader takes
// each line's number from its fifth character on (at most eight characters, up to the line
// end); entries outside 0-127 load as 0, lines past the 128th are ignored and a shorter file
// leaves the remaining entries as they were.
#pragma once

#include "Common/PinText.h"
#include "FileWorker.h"

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
inline constexpr const wchar_t* kFileNameWide = L"Controllers.txt";  // as the host is asked for it
inline constexpr std::size_t kPathBytes = 1024;  // a path with its terminator

using Map = std::array<int32_t, kEntries>;
using FileText = std::array<char, kFileBytes>;

// The file's bytes for a map; entries outside 0-127 are written as 0.
void format(const Map& map, FileText& text);

// Reads the lines of a file's bytes into map (see above).
void parse(std::string_view bytes, Map& map);

// Where the map lives, formed by the worker for each graph start. With AutoPath on, the host's full path for
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
// (without AutoPath). false when it was not written (no path, or the write failed).
bool save(const Location& where, const Map& map);

// A Location in a form that copies without allocating: the path, and the lengths of the two
// folders it starts with (0 when none is to be created). No file at all when pathLength is 0.
struct Target {
    std::array<char, kPathBytes> path{};
    uint16_t pathLength = 0;
    uint16_t quorvaneLength = 0;
    uint16_t productLength = 0;
};
Target targetOf(const Location& where);
Location locationOf(const Target& target);

// What a learn-map job calls to put a map on disk: save, unless replaced (nullptr puts save
// back). [any thread, while no learn-map job runs] A test replaces it to hold writes back or make
// them fail.
using SaveFunction = bool (*)(const Location& where, const Map& map);
void setSaveFunction(SaveFunction function) noexcept;

// A change the buttons make to the map: clear it all, store a learnt pair, or take a pair back
// (the entry becomes 0 only while it still holds that external number).
struct Edit {
    enum Kind : uint8_t { kClear, kStore, kUnlearn };
    Kind kind = kClear;
    uint8_t internal = 0;  // 0-127
    uint8_t external = 0;  // 0-127
};
void apply(const Edit& edit, Map& map) noexcept;

// The edits a module makes, in order, for its jobs: a ring the audio side writes and the worker
// reads up to the count a job hands it. The audio side writes over an edit only once a job that
// applied it came back.
inline constexpr std::size_t kEditLog = 4096;
using EditLog = std::array<Edit, kEditLog>;

// The file work of the learn map, done by the bundle's file worker. The worker keeps, for the
// whole bundle, every map stored and not yet on disk (not yet written, or its write failed), per
// file, in fixed room for 16 files that nothing tears down: a graph start anywhere loads the
// newest map of its file, pending or written, and a failed write is tried again at every later
// learn-map job and at the final flush. (A 17th file whose write fails while 16 others wait is
// logged as not written.)
//
// A module's jobs go to the worker the moment their input arrives (a graph start's read, the
// block's edits), and the worker resolves them against the module's map as it knows it, in the
// order they were asked for: an edit made while a read is out is stored on the map that read
// gives, before any later read of that file, without the audio side waiting to hand it over.

// The map of one module as its jobs leave it, and where it is stored. [worker; inside submit
// offline] Only that module's jobs touch it, one at a time, in order.
struct KnownMap {
    Map map{};
    Target target;
    const EditLog* edits = nullptr;  // the module's ring of edits
    uint32_t applied = 0;            // edits of the ring applied to map
};

// Reads the map a graph start loads, with the request taken when the graph start came. The worker
// forms the path, leaves in map the newest map of that file (a short file changes only the entries
// it has lines for, of the map as the module's earlier jobs left it) and makes it the module's map.
class LoadJob final : public file_worker::Job {
public:
    using Request = pin_text::FileSettings;  // with the host's path of "Controllers.txt"
    Request request;
    KnownMap* known = nullptr;
    Map map{};  // the result

    void run() noexcept override;  // [worker; inside submit offline]
};

// A block's edits, as the buttons made them: the ring's edits up to upTo applied to the module's
// map, which becomes its file's newest map at once and is written.
class EditJob final : public file_worker::Job {
public:
    uint32_t upTo = 0;  // the count of edits the ring held when the job was submitted
    KnownMap* known = nullptr;

    void run() noexcept override;  // [worker; inside submit offline]
};

// Tries again every write that failed; run when the last learn module goes.
class FlushJob final : public file_worker::Job {
public:
    void run() noexcept override;
};

} // namespace learn_map
