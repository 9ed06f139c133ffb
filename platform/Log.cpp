#include "Log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace platform {

namespace {

LogSink currentSink = nullptr;
void* currentContext = nullptr;

} // namespace

void logLine(const char* format, ...)
{
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (written < 0)
        return;
    std::size_t length = std::strlen(line);
    if (currentSink)
        currentSink(line, currentContext);
    // One write per line, so that lines of several threads do not interleave mid-line.
    char withBreak[sizeof line + 1];
    std::memcpy(withBreak, line, length);
    withBreak[length++] = '\n';
    const ssize_t ignored = ::write(STDERR_FILENO, withBreak, length);
    (void)ignored;
}

void setLogSink(LogSink sink, void* context)
{
    currentSink = sink;
    currentContext = context;
}

} // namespace platform
