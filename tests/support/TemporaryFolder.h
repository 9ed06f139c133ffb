// A fresh folder of one test, benchmark or fuzz target's own below the temporary folder (TMPDIR),
// removed with everything in it when the object goes.
#pragma once

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <stdlib.h>

namespace test_support {

// A new folder prefix + "-" + six random characters in base, made by this call alone (mode 0700);
// nothing when none could be made.
inline std::optional<std::filesystem::path> makeTemporaryFolder(std::string_view prefix, const std::filesystem::path& base)
{
    std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return std::nullopt;
    return std::filesystem::path(pattern);
}

class TemporaryFolder {
public:
    // Throws when no folder can be made, which fails the test or stops the benchmark or fuzz run:
    // nothing of theirs would work without it.
    explicit TemporaryFolder(std::string_view prefix)
    {
        auto made = makeTemporaryFolder(prefix, std::filesystem::temp_directory_path());
        if (!made)
            throw std::system_error(errno, std::generic_category(), "cannot make a temporary folder");
        path_ = std::move(*made);
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace test_support
