#include "Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cerrno>
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

std::string shownName(std::string_view name, std::size_t most)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string shown;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (shown.size() >= most)
            return shown + "...";
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte < 0x20 || byte == 0x7F || byte == '"' || byte == '\\') {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 15];
        } else {
            shown += static_cast<char>(byte);
        }
    }
    return shown;
}

void logAboutFile(const char* what, const std::filesystem::path& file, int error)
{
    const std::string shown = shownName(file.native());
    if (error == 0) {
        logLine("TAVRIN: %s \"%s\"", what, shown.c_str());
        return;
    }
    char buffer[128];
    const char* cause = error == ESTALE ? "another file is there now" : ::strerror_r(error, buffer, sizeof buffer);
    logLine("TAVRIN: %s \"%s\": %s", what, shown.c_str(), cause);
}

} // namespace platform
