// The two files through which the halves of the list-file manager talk: "List.txt" (the 128 names
// as one numbered list line) and "Path.txt" (the path chosen in the last file panel), both in the
// manager folder base folder + "Quorvane/" + ID + "/". Both halves form the folder and read and
// write the files through these functions, so they always meet on the same bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace listfile {

inline constexpr const char* kListFileName = "List.txt";
inline constexpr const char* kPathFileName = "Path.txt";

// Longest path a manager keeps (its path buffers hold 1024 bytes with the terminator).
inline constexpr std::size_t kMaxPathBytes = 1023;
// Longest chosen path Path.txt carries: the path and its CR LF fill at most 1024 bytes.
inline constexpr std::size_t kMaxChosenPathBytes = 1022;
// Longest part of the List.txt line a reader looks at.
inline constexpr std::size_t kMaxListLineBytes = 3999;
// Longest ID text taken from the pin.
inline constexpr std::size_t kMaxPinTextBytes = 500;

// The ID text as the folder name below "Quorvane/"; nothing when it is longer than 500 bytes or
// holds "/", ".." or a NUL byte (it must name one folder, never climb out of it). An empty ID
// names "Quorvane/" itself, as for the startup bank path.
std::optional<std::string> idText(std::string_view idPinUtf8);

// The manager folder, ending in "/": base folder + "Quorvane/" + ID text + "/", or, while AutoPath
// is true, the folder "Quorvane/" + ID text + "/" relative to the current directory (the base
// folder is then ignored). The base folder is the expanded PathMac pin as the startup bank path
// formed it (presetbank::startupBankPath). Nothing when the ID text is refused, when AutoPath is
// false and there is no base folder (a failed or empty expansion), or when the folder plus a file
// name would not fit a path buffer.
std::optional<std::string> managerFolder(const std::optional<std::string>& base, std::string_view idPinUtf8,
                                         bool autoPath);

// Creates base folder + "Quorvane" and then base folder + "Quorvane/" + ID text with mode 0777
// while AutoPath is false; failures (an existing folder) are ignored. Does nothing while AutoPath
// is true or when managerFolder would give nothing.
void createManagerFolders(const std::optional<std::string>& base, std::string_view idPinUtf8, bool autoPath);

// List.txt bytes: the numbered list text followed by CR LF.
std::string listFileBytes(std::string_view listText);

// Replaces folder + "List.txt" with listText + CR LF (temporary file, then rename). false when
// it could not be written.
bool writeListFile(std::string_view folder, std::string_view listText);

// The first line of folder + "List.txt" without its line end (the LF and a CR before it), at most
// 3999 bytes of it (a UTF-8 character that would be split is left out). Nothing when the file
// cannot be opened or has no line; an empty first line is returned as an empty text.
std::optional<std::string> readListFile(std::string_view folder);

// Replaces folder + "Path.txt" with chosenPath + CR LF (CR LF alone for an empty path). A path
// longer than 1022 bytes or holding CR, LF or NUL (it could not be read back as the one line it
// must be) is refused: the file then gets CR LF alone, as for a cancelled panel, so that no older
// choice is left in it, and false is returned; callers send no file command after false. false
// also when the write failed.
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
// end. A first line longer than a path buffer (1023 bytes without its CR) or holding a NUL byte
// is refused rather than cut: Unreadable.
PathFileRead readPathFile(std::string_view folder);

} // namespace listfile
