// Expansion of a folder setting (the PathMac pin of the file-using modules) the way a shell
// reads one word, limited to what users write in a folder setting. Our own small reader: it starts
// no process, writes nothing, never changes the environment and never looks at the file system
// beyond the user database for "~name", so a hostile text can neither crash nor steer the host.
//
// Accepted, outside quotes:
//   "~" or "~name" at the start of a word (up to the first "/"): the home folder ($HOME, else the
//   user database), or that user's home folder;
//   "$NAME" and "${NAME}" (NAME = letter or "_", then letters, digits, "_"): the environment
//   variable, read only; unset gives empty. Its value is taken whole (never split into words);
//   '...' (everything literal), "..." ($NAME, ${NAME} and \$ \` \" \\ inside), "\" escapes;
//   "*", "?" and "[" are plain characters; unquoted spaces and tabs separate words.
// Refused as a whole (nothing is expanded, callers do no file operation): "$(", "$((", "$[",
// backquotes, any other "${...}" form ("${X=...}", "${X?...}", "${#X}", "${X:-...}"), special
// and positional parameters ("$0", "$1", "$$", "$?", "$#", "$@", "$*", "$!", "$-"), unquoted
// "|&;<>(){}" and line ends, a quote without its end, a trailing "\", a NUL byte.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Longest result: a longer expansion is refused rather than cut into another folder's name.
inline constexpr std::size_t kMaxExpandedWordBytes = 65536;

// [any thread] Expands text like one shell word by the rules above and keeps the first word of
// the result. Nothing when the text is refused, yields no word or yields an empty one: callers
// then do no file operation. Time and memory grow with the text's length and the lengths of the
// variables it names.
std::optional<std::string> expandShellWord(std::string_view text);

// [any thread] The base folder a folder setting names: expandShellWord's word, when it is an
// absolute path. A setting that expands to a relative path ("0", "b1", "~x" for a user x who does
// not exist) would put folders and files below whatever folder the host runs in, so it is refused
// like one that does not expand, and logged once per call (platform/Log.h). Nothing when refused.
std::optional<std::string> expandFolderSetting(std::string_view text);

} // namespace platform
