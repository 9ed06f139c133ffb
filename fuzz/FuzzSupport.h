// Helpers the fuzz targets share: a private scratch folder for the readers that take a file, and
// a check that stops the run with a message libFuzzer records as a crash.
#pragma once

#include "support/TemporaryFolder.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

namespace fuzz_support {

// Aborts with what failed: a broken round trip is a finding like a crash.
inline void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// One scratch folder per process, removed at exit; its path ends in "/".
class Scratch {
public:
    static Scratch& instance()
    {
        static Scratch scratch;
        return scratch;
    }
    const std::string& folder() const { return folder_; }
    std::string file(std::string_view name) const { return folder_ + std::string(name); }

    // Replaces the scratch file name with the bytes.
    std::string put(std::string_view name, const std::uint8_t* data, std::size_t size) const
    {
        const std::string path = file(name);
        std::FILE* stream = std::fopen(path.c_str(), "wb");
        check(stream != nullptr, "scratch file opens");
        check(size == 0 || std::fwrite(data, 1, size, stream) == size, "scratch file written");
        std::fclose(stream);
        return path;
    }

private:
    Scratch() = default;

    test_support::TemporaryFolder temporary_{"tavrin-fuzz"};
    std::string folder_ = temporary_.path().string() + "/";
};

// Values this large print with more than 20 digits, of which the readers take 20: such a value
// does not come back, by design. Every smaller one must.
inline bool printsWithin20Digits(float value) { return std::fabs(value) < 1e19f; }

} // namespace fuzz_support
