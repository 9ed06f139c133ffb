// The product's one log: a line of text for the developer, never for the user (the user learns
// everything through message boxes and pins). Lines go to the standard error stream, as the
// system log of the product's own system would show them, and to a sink when one is set.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// [any thread] Formats one line printf-style (at most 1023 bytes, cut beyond) and writes it with
// a line break. Allocates nothing; takes no lock. Used for "trashItemAtURL %hhd".
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Where logLine also hands each formatted line (without line break); nullptr: nowhere. The
// context is passed back unchanged and stays the caller's. [any thread, but not while a line is
// being logged] Tests use it to read the lines.
using LogSink = void (*)(const char* line, void* context);
void setLogSink(LogSink sink, void* context);

// A name as a log line shows it: a line break, another control byte, a quote or a backslash as
// \xNN; once that text reaches most bytes, "..." stands for the rest. Allocates.
std::string shownName(std::string_view name, std::size_t most = 512);

// [any thread] Logs `TAVRIN: <what> "<file>"`, then ": " and the cause when error is not 0 (ESTALE
// reads "another file is there now"). Allocates.
void logAboutFile(const char* what, const std::filesystem::path& file, int error = 0);

} // namespace platform
