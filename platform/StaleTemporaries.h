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
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
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
// The same in the open folder folderFd, open for reading too; the new file's name in it in name.
int createTemporaryIn(int folderFd, mode_t mode, std::string& name);

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

// ---- Copies for files written in place ----------------------------------------------------------
//
// A file that a rename cannot replace (its folder takes no new name from the user, it has further
// hard links, or it belongs to another user) is written in place, over its own bytes. So that a
// kill in the middle loses nothing, its new content first goes whole into a copy in a folder of
// the user's own (see openCopyFolder), which is flushed and then given a ready name
// (".tavrin-copy." and eight letters); only then is the file written, flushed, and the copy
// removed. The writer holds a lock on its copy from start to end. A ready copy that nobody holds
// was cut off, and the next start of the bundle (its first file read or write) writes it into its
// file once more and removes it.
//
// A copy starts with its record, a head naming the file it belongs to:
//   "TAVRIN copy 1\n"
//   "file=" the file's path, percent-encoded as a Trash info file's Path (so any bytes of a name,
//           line breaks included, come back exactly) "\n"
//   "id=" device " " inode " " birth seconds " " birth nanoseconds (0 0 unknown), decimal "\n"
//   "\n"
// and the new content follows to the end. A copy is only ever written into the very file it was
// made for (same device, inode and birth time), so a file removed and made anew, or replaced by
// a rename, since the cut is left alone.

inline constexpr std::string_view kCopyMarker = ".tavrin-copy.";

// A file as the file system knows it, whatever path names it; the birth time tells a new file
// from one removed a moment before whose inode number it got again, where it is recorded.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t bornSeconds = 0;
    std::uint32_t bornNanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};
bool identifyFile(int fd, FileIdentity& id);

struct CopyRecord {
    std::filesystem::path file;
    FileIdentity identity;
    std::size_t contentOffset = 0;  // where the content starts in the copy
};

// A path as a Trash info file's "Path=" writes it (Trash.h), which a copy's record uses too:
// bytes other than letters, digits, "-", "_", ".", "~" and "/" as %XX (upper-case hexadecimal).
std::string percentEncodedPath(std::string_view path);

// The head of a copy for file.
std::string copyRecordHead(const std::filesystem::path& file, const FileIdentity& identity);
// The record at the start of a copy's bytes; nothing unless they begin with a complete, well-
// formed head naming an absolute path.
std::optional<CopyRecord> parseCopyRecord(std::string_view bytes);
// Longest head parseCopyRecord takes.
inline constexpr std::size_t kMostCopyHeadBytes = 16384;

// True for a ready copy's name: the copy marker, then eight letters or digits.
bool isCopyName(std::string_view name);

// [any thread] The folder of the user's own that takes copies, open (closed on exec), made when
// missing: ".tavrin-copies-<uid>" in the shared folder (SharedFolder.h), else "tavrin-copies" in
// the user's state folder ($XDG_STATE_HOME, else ~/.local/state). A folder there that is a link,
// another user's, or open to others is never used. Its path in where; -1 with errno set when
// neither can be used.
int openCopyFolder(std::filesystem::path& where);

// [any thread] Writes bytes [from, end) of copyFd over the file at path, when that file is still
// identity, cuts it to their length and flushes it. false with errno set (ESTALE: another file is
// there now); touched tells whether any byte of the file may have changed.
bool copyInto(int copyFd, off_t from, const std::filesystem::path& file, const FileIdentity& identity, bool& touched);

// [any thread] Finishes the cut-off copies of both copy folders (see above): each is written into
// its file and removed; one whose file is gone or another now is removed, one that cannot be
// written now stays for the next start; each is logged. Copies held by a live writer are left
// alone. Returns how many copies were written into their files.
std::size_t finishCutOffCopies();
// [any thread] The same, once per process: the bundle's first file read or write calls it.
void finishCutOffCopiesOnce();
// [any thread] Makes the next finishCutOffCopiesOnce run again, as at a new start. Tests use it.
void forgetCutOffCopiesFinished();

} // namespace platform
