#include "Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace platform {

namespace {

// Atomic so that a line logged on a worker thread reads them whole; setLogSink's contract keeps
// the two in step.
std::atomic<LogSink> currentSink{nullptr};
std::atomic<void*> currentContext{nullptr};

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
    if (const LogSink sink = currentSink.load(std::memory_order_acquire))
        sink(line, currentContext.load(std::memory_order_acquire));
    // One write per line, so that lines of several threads do not interleave mid-line.
    char withBreak[sizeof line + 1];
    std::memcpy(withBreak, line, length);
    withBreak[length++] = '\n';
    const ssize_t ignored = ::write(STDERR_FILENO, withBreak, length);
    (void)ignored;
}

void setLogSink(LogSink sink, void* context)
{
    currentContext.store(context, std::memory_order_release);
    currentSink.store(sink, std::memory_order_release);
}

} // namespace platform
