// Our temporary files, made in one place with one kind of name, and the clearing away of those our
// own writes leave behind when the process is killed mid-way (a file written aside before its
// rename, a trash info file written aside before it is linked into place). Nothing else removes
// them, so the next write in the same folder does.
//
// Our temporaries are named ".tavrin-tmp." and eight letters or digits, a name no user or other
// program would choose, and the sweep takes only that name: a library folder holds the user's and
// other programs' files as well (".tavistock", ".tavconfig"), and none of them is ever touched.
// Earlier versions named their temporaries ".tav" and six letters; such debris is left where it
// is, as a file of the user's could be named so too.
//
// Only what is surely ours and surely abandoned goes: a name of exactly that form, a regular file
// (never a link, which is not followed either), owned by the user running the process, last
// modified more than an hour ago (a younger one may belong to a write that is still running in
// another process). A folder is looked through at most once every ten minutes by one process,
// whatever path names it, so a write into a folder of tens of thousands of presets costs one
// listing now and then, not one per write.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string_view>
#include <sys/types.h>

namespace platform {

inline constexpr std::chrono::seconds kStaleTemporaryAge{3600};
inline constexpr std::chrono::seconds kSweepInterval{600};

inline constexpr std::string_view kTemporaryMarker = ".tavrin-tmp.";
inline constexpr std::size_t kTemporaryLetters = 8;

// True for a name of our temporaries: the marker, then exactly eight of A-Z, a-z and 0-9.
bool isTemporaryName(std::string_view name);

// [any thread] Creates a new file of a temporary name in folder (the current folder when empty),
// open for writing, closed on exec, never through a link, with mode (less the umask). Its fd, and
// its path in made; -1 with errno set when none can be made.
int createTemporary(const std::filesystem::path& folder, mode_t mode, std::filesystem::path& made);

// Asked, during a sweep, about a further name of an abandoned temporary (a hard link made from it
// in the same folder, so a file we made ourselves): true to remove that name as well. folderFd is
// the open folder, name the entry's name in it.
using OtherNameRule = std::function<bool(int folderFd, const char* name)>;

// [any thread] Removes the abandoned temporaries from folder (see above), unless this process
// looked through the folder less than ten minutes ago. Other names of one of them stay unless
// alsoRemove says otherwise. Returns how many names were removed. Lists the folder and does file
// I/O; takes a lock only to look up the folder.
std::size_t sweepStaleTemporaries(const std::filesystem::path& folder, const OtherNameRule& alsoRemove = {});

// [any thread] Forgets which folders were looked through, so the next write sweeps again. Tests
// use it.
void forgetSweptFolders();

} // namespace platform
