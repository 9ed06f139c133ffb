// Clearing away the temporary files our own writes leave behind when the process is killed
// mid-way (a file written aside before its rename, a trash info file written aside before it is
// linked into place). Nothing else removes them, so the next write in the same folder does.
//
// Only what is surely ours and surely abandoned goes: a name of exactly the writer's pattern, a
// regular file (never a link, which is not followed either), owned by the user running the
// process, last modified more than an hour ago (a younger one may belong to a write that is still
// running in another process). A folder is looked through at most once every ten minutes by one
// process, so a write into a folder of tens of thousands of presets costs one listing now and
// then, not one per write.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string_view>

namespace platform {

inline constexpr std::chrono::seconds kStaleTemporaryAge{3600};
inline constexpr std::chrono::seconds kSweepInterval{600};

// A temporary name: prefix, then exactly `letters` characters of A-Z, a-z and 0-9 (as mkstemp
// and AtomicWriter make them).
struct TemporaryPattern {
    std::string_view prefix;
    std::size_t letters;
    bool matches(std::string_view name) const;
};

// [any thread] Removes the abandoned temporaries of pattern from folder (see above), unless this
// process looked through the folder less than ten minutes ago; `spared` is one name of the
// pattern that is never removed (a file of ours that happens to fit it), or empty. Returns how
// many were removed. Lists the folder and does file I/O; takes a lock only to look up the folder.
std::size_t sweepStaleTemporaries(const std::filesystem::path& folder, const TemporaryPattern& pattern,
                                  std::string_view spared = {});

// [any thread] Forgets which folders were looked through, so the next write sweeps again. Tests
// use it.
void forgetSweptFolders();

} // namespace platform
