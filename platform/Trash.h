// Moving files to the desktop's Trash in the freedesktop.org Trash layout, so that a file manager
// (or trash-list / trash-restore) shows the item under its original path and can put it back.
//
// A trash folder holds "files/" (the trashed items, under names unique in that trash) and "info/"
// (one "<name>.trashinfo" per item: "[Trash Info]", "Path=" with the original path
// percent-encoded, "DeletionDate=" in local time). The info file is written aside and linked into
// place under a name no other info file has, which reserves the name, before the item is renamed
// into "files/"; so an info file is never seen incomplete, even after a kill. What a killed
// delete left is removed by a later delete into the same trash once it is an hour old
// (StaleTemporaries.h): the text aside (a temporary of ours in "info/"), and an info file it had
// linked into place for an item that never reached "files/", which is known by being that same
// file. On a file system without hard links (FAT) the info file is renamed into place instead,
// and one left so by a kill stays.
// The trash is chosen by the item's real location (its folder with every link resolved), and
// that location is the recorded path:
// - An item on the home volume (the file system of $XDG_DATA_HOME) goes to the home trash,
//   $XDG_DATA_HOME/Trash (default ~/.local/share/Trash), or nowhere; Path is absolute.
// - Another item goes to its volume's trash: $topdir/.Trash/$uid when the administrator made
//   $topdir/.Trash (a real folder with the sticky bit), else $topdir/.Trash-$uid (created 0700);
//   Path is relative to $topdir.
// - Nothing is ever copied: when no trash on the item's own file system can be used, or no home
//   trash is known, the item stays where it is and the call reports false.
//
// Implemented here rather than with GIO's g_file_trash: loading GIO's virtual file system inside a
// host process may start its worker and D-Bus threads (the bundle starts none), and GIO fixes the
// trash location from the environment once per process, which a plug-in cannot rely on.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

// [any thread] Moves the file, folder or symbolic link at item (the link itself, not its target)
// into the Trash. true when it was moved; false, with the item untouched, when it does not exist,
// has no name, or no trash can take it. Allocates; does file I/O.
bool moveToTrash(const std::filesystem::path& item);

// The home trash folder from the environment ($XDG_DATA_HOME/Trash when XDG_DATA_HOME is set to
// an absolute path, else $HOME/.local/share/Trash); nothing without either.
std::optional<std::filesystem::path> homeTrash();

// A path as the "Path=" key writes it: bytes other than letters, digits, "-", "_", ".", "~" and
// "/" as %XX (upper-case hexadecimal).
std::string trashInfoPathText(const std::string& path);

namespace trash_testing {
// For tests: called with the info file's path after it is placed and before the item is moved
// (a test lets an hour pass there, and another delete's cleanup run); nullptr for none.
// [not while a delete runs]
void setAfterInfoPlaced(void (*hook)(const std::filesystem::path& infoFile));
} // namespace trash_testing

} // namespace platform
