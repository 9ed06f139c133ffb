// A module bundle loaded from disk: the shared library, its MP_GetFactory entry and the factory
// it hands out. The factory lives as long as the Bundle object.
#pragma once

#include "mpapi.h"

#include <filesystem>
#include <memory>
#include <string>

namespace tav_host {

class Bundle {
public:
    // [load time] Opens the library and gets its factory. Returns null and sets error on failure
    // (missing file, missing entry, factory refused); never throws.
    static std::unique_ptr<Bundle> load(const std::filesystem::path& path, std::string& error);

    // Releases the factory, then closes the library. Every module object must be gone by then.
    ~Bundle();
    Bundle(const Bundle&) = delete;
    Bundle& operator=(const Bundle&) = delete;

    // The factory; owned by the Bundle. factory2() is null when the bundle only answers the
    // older interface.
    mpapi::IMpFactory* factory() const { return factory_; }
    mpapi::IMpFactory2* factory2() const { return factory2_; }

private:
    Bundle() = default;
    void* library_ = nullptr;
    mpapi::IMpFactory* factory_ = nullptr;
    mpapi::IMpFactory2* factory2_ = nullptr;
};

} // namespace tav_host
