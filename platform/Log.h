// The product's one log: a line of text for the developer, never for the user (the user learns
// everything through message boxes and pins). Lines go to the standard error stream, as the
// system log of the product's own system would show them, and to a sink when one is set.
#pragma once

namespace platform {

// [any thread] Formats one line printf-style (at most 1023 bytes, cut beyond) and writes it with
// a line break. Allocates nothing; takes no lock. Used for "trashItemAtURL %hhd".
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Where logLine also hands each formatted line (without line break); nullptr: nowhere. The
// context is passed back unchanged and stays the caller's. [any thread, but not while a line is
// being logged] Tests use it to read the lines.
using LogSink = void (*)(const char* line, void* context);
void setLogSink(LogSink sink, void* context);

} // namespace platform
