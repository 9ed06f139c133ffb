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
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace learn_map {

inline constexpr int kEntries = 128;
inline constexpr std::size_t kLineBytes = 9;
inline constexpr std::size_t kFileBytes = kEntries * kLineBytes;
inline constexpr const char* kFileName = "Controllers.txt";
inline constexpr std::size_t kPathBytes = 1024;  // a path with its terminator

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
bool sameFile(const Target& a, const Target& b);

// What the writer thread calls to put a snapshot on disk: save, unless replaced (nullptr puts
// save back). [any thread, while no writer is writing] A test replaces it to hold the writer back.
using SaveFunction = bool (*)(const Location& where, const Map& map);
void setSaveFunction(SaveFunction function) noexcept;

// Writes the file on a thread of its own, so that the audio thread never formats, allocates or
// touches the disk. post() copies the map and its target into one of three preallocated slots and
// wakes the writer with an atomic notify; snapshots posted faster than the disk takes them replace
// each other, so the file always ends up holding the last one posted. Until the writer has
// written the last one posted, that map (not the file) is what the file holds; after a failed
// write it stays so, and the next post tries the disk again.
class FileWriter {
public:
    FileWriter() = default;
    // [host thread, after the last process] Stops the thread once it has written what was
    // pending and joins it; a snapshot still pending (no thread ever ran) is written here.
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // [open] Starts the writer thread unless it runs; false when it cannot (snapshots then wait
    // for the destructor).
    bool start() noexcept;
    // [audio thread] Hands over a copy of map for target: no lock, no allocation, no system call
    // beyond the notify.
    void post(const Map& map, const Target& target) noexcept;
    // [audio thread] True, with the map, when the last map posted for target is not on disk (not
    // yet, or its write failed): a reader of the file would find an older map. No lock, no allocation, no system call.
    bool pendingFor(const Target& target, Map& map) const noexcept;

private:
    struct Snapshot {
        Map map{};
        Target target{};
        uint32_t sequence = 0;  // the post that made it
    };
    static constexpr uint8_t kFresh = 4;  // in shared_: the slot holds a snapshot not yet written

    void run() noexcept;
    void wake() noexcept;
    // Writes the latest posted snapshot if one is waiting.
    void writePending() noexcept;

    std::array<Snapshot, 3> slots_{};
    uint8_t posting_ = 0;                // the audio thread's slot
    std::atomic<uint8_t> shared_{1};     // the slot passed between the two, with kFresh
    uint8_t writing_ = 2;                // the writer's slot
    std::atomic<uint32_t> signal_{0};    // bumped at every post and at stop; the writer waits on it
    std::atomic<bool> stop_{false};
    Snapshot latest_{};                  // the audio thread's copy of its last post
    std::atomic<uint32_t> written_{0};   // sequence of the last snapshot the writer finished
    std::thread thread_;
};

} // namespace learn_map
