// File services the preset modules share: whole-file writes that never leave a half-written
// file, and (PathExpander.h) the expansion of a folder text like a shell word.
#pragma once

#include "PathExpander.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Writes bytes to a temporary file beside target and renames it over target, so that a crash or
// a full disk leaves either the old file or the new one, never a mix. A symlinked target keeps its
// link: the file it names is replaced in that file's folder. false when any step fails (the
// target is then untouched and the temporary file removed) and for a target that is not a
// regular file (a folder, a pipe, a device), which is never replaced.
bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes);

// The whole file, or nothing when it cannot be opened or read.
std::optional<std::string> readFile(const std::filesystem::path& file);

} // namespace platform
