// What the patch-runner tests share: the built bundle loaded as the runner loads it, in a fresh
// temporary folder whose shared folder (TAVRIN_SHARED_FOLDER) the bundle's modules use; the folder
// and the variable go again after each test.
#pragma once

#include "Bundle.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

namespace patch_run {

inline std::string fileText(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class PatchRunTest : public ::testing::Test {
protected:
    // prefix: the start of the temporary folder's name; sharedBelow: the shared folder's name
    // inside it, or empty for the folder itself.
    PatchRunTest(const char* prefix, const char* sharedBelow) : prefix_(prefix), sharedBelow_(sharedBelow) {}

    void SetUp() override
    {
        folder_ = temporary_.emplace(prefix_).path();
        shared_ = folder_;
        if (!sharedBelow_.empty()) {
            shared_ = folder_ / sharedBelow_;
            std::filesystem::create_directory(shared_);
        }
        ::setenv("TAVRIN_SHARED_FOLDER", shared_.c_str(), 1);
        std::string error;
        bundle_ = tav_host::Bundle::load(TAVRIN_BUNDLE_PATH, error);
        ASSERT_TRUE(bundle_) << error;
    }
    void TearDown() override
    {
        bundle_.reset();
        ::unsetenv("TAVRIN_SHARED_FOLDER");
        temporary_.reset();
    }

    std::filesystem::path folder_;
    std::filesystem::path shared_;
    std::unique_ptr<tav_host::Bundle> bundle_;

private:
    std::string prefix_;
    std::optional<test_support::TemporaryFolder> temporary_;
    std::string sharedBelow_;
};

} // namespace patch_run
