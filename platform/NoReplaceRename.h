// A rename that never replaces a file at the new name, also where the file system has no such
// rename of its own.
#pragma once

#include <filesystem>

namespace platform {

// [any thread] Gives the file, folder or symbolic link at from (the link itself) the name to,
// unless to exists. false with errno set when nothing was renamed (EEXIST: to is taken).
//
// Where the kernel or file system has no no-replace rename, a file gets a new link at to (which
// refuses a taken name) and loses from, but only while from still holds that same file: another
// program may have put a file of its own there meanwhile, and that one stays. A folder cannot be
// renamed so and is refused.
bool renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

namespace rename_testing {
// For tests: while set, the no-replace rename answers as where it does not exist (EINVAL), and
// betweenLinkAndUnlink runs after the new link is made and before the old name goes.
// [not while a rename runs]
void pretendNoNoReplace(bool pretend, void (*betweenLinkAndUnlink)() = nullptr);
} // namespace rename_testing

} // namespace platform
