// The two files through which the halves of the list-file manager talk: "List.txt" (the 128 names
// as one numbered list line) and "Path.txt" (the path chosen in the last file panel), both in the
// manager folder. Both halves form the folder and read and write the files through these
// functions, so they always meet on the same bytes.
#pragma once

#include "PresetStore/PresetBank.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace list_file {

inline constexpr const char* kListFileName = "List.txt";
inline constexpr const char* kPathFileName = "Path.txt";

// Longest path a manager keeps (its path buffers hold 1024 bytes with the terminator).
inline constexpr std::size_t kMaxPathBytes = 1023;
// Longest chosen path Path.txt carries: the path and its CR LF fill at most 1024 bytes.
inline constexpr std::size_t kMaxChosenPathBytes = 1022;
// Longest part of the List.txt line a reader looks at.
inline constexpr std::size_t kMaxListLineBytes = 3999;

// The manager folder: base + "Quorvane/" + ID text + "/". The base is the expanded PathMac pin
// while AutoPath is off, and the folder that holds the host's resolved "Preset.txt" while it is
// on, so that nothing is ever written relative to the process's working folder.
struct ManagerFolder {
    std::string base;  // "Quorvane" follows it directly (PathMac is given with its trailing "/")
    std::string id;    // ID text: one folder name
    std::string path;  // base + "Quorvane/" + id + "/"
};

// The manager folder of a manager's startup settings (preset_bank::startupBankPath, formed at
// graph start or initialize; autoPath as it was then). Nothing when there is none: the ID is
// refused, AutoPath is off and PathMac gave no base folder, AutoPath is on and the host gave no
// absolute path for "Preset.txt", or the folder plus a file name would not fit a path buffer.
// Without a manager folder a half reads and writes neither List.txt nor Path.txt.
std::optional<ManagerFolder> managerFolder(const preset_bank::StartupPath& start, bool autoPath);

// Creates base + "Quorvane" and then base + "Quorvane/" + ID text with mode 0777; failures (an
// existing folder) are ignored: a missing folder shows as a failed write.
void createManagerFolders(const ManagerFolder& folder);

// List.txt bytes: the numbered list text followed by CR LF.
std::string listFileBytes(std::string_view listText);

// Replaces folder + "List.txt" with listText + CR LF (temporary file, then rename). false when
// it could not be written.
bool writeListFile(std::string_view folder, std::string_view listText);

// The first line of folder + "List.txt" without its line end (the LF and a CR before it), at most
// 3999 bytes of it (a UTF-8 character that would be split is left out; 8-bit text that is not
// UTF-8 is cut at 3999 bytes exactly). Nothing when the file
// cannot be opened or has no line; an empty first line is returned as an empty text.
std::optional<std::string> readListFile(std::string_view folder);
// What readListFile gives for a List.txt holding fileBytes.
std::optional<std::string> listLine(std::string_view fileBytes);

// Whether chosenPath can be the one line of Path.txt: at most 1022 bytes, no CR, LF or NUL.
bool fitsPathFile(std::string_view chosenPath);

// Replaces folder + "Path.txt" with chosenPath + CR LF (CR LF alone for an empty path). A path
// longer than 1022 bytes or holding CR, LF or NUL (it could not be read back as the one line it
// must be) is refused: the file then gets CR LF alone, as for a cancelled panel, so that no older
// choice is left in it, and false is returned; callers send no file command after false. false
// also when the write failed: until a later write succeeds readPathFile in this process then finds
// the file unreadable, so a command sent before the writer learnt of the failure does nothing
// rather than act on an older choice.
bool writePathFile(std::string_view folder, std::string_view chosenPath);

// What the reader of Path.txt found.
struct PathFileRead {
    enum class Status {
        Unreadable,  // missing or unreadable, or its first line is refused: path emptied, invalid
        NoLine,      // the file is empty: the received path stays as it was
        Path,        // path holds the first line less its CR; valid (it may be empty)
    };
    Status status = Status::Unreadable;
    std::string path;
};

// Reads folder + "Path.txt". The line's last byte is dropped only when it is the CR of the line
// end; Unreadable too while this process's last write of it failed. What writePathFile refuses
// to write is refused here rather than cut: a first line of more
// than 1022 bytes without its CR, or one holding another CR or a NUL byte: Unreadable.
PathFileRead readPathFile(std::string_view folder);

} // namespace list_file
