#include "Bundle.h"

#include <dlfcn.h>

namespace tav_host {

std::unique_ptr<Bundle> Bundle::load(const std::filesystem::path& path, std::string& error)
{
    std::unique_ptr<Bundle> bundle(new Bundle());
    bundle->library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!bundle->library_) {
        const char* why = dlerror();
        error = "cannot load bundle " + path.string() + ": " + (why ? why : "unknown error");
        return nullptr;
    }
    using GetFactory = int32_t (*)(void**);
    auto entry = reinterpret_cast<GetFactory>(dlsym(bundle->library_, "MP_GetFactory"));
    if (!entry) {
        error = "bundle " + path.string() + " has no MP_GetFactory";
        return nullptr;
    }
    void* raw = nullptr;
    const int32_t r = entry(&raw);
    if (r != mpapi::MP_RESULT_OK || !raw) {
        error = "MP_GetFactory returned " + std::to_string(r) + (raw ? "" : " and no factory");
        return nullptr;
    }
    // The entry hands out one reference; keep one through the newest interface answered and
    // give the entry's reference back.
    auto* unknown = static_cast<mpapi::IMpUnknown*>(raw);
    void* f2 = nullptr;
    if (unknown->queryInterface(mpapi::MP_IID_FACTORY2, &f2) == mpapi::MP_RESULT_OK && f2) {
        bundle->factory2_ = static_cast<mpapi::IMpFactory2*>(f2);
        bundle->factory_ = bundle->factory2_;
    } else {
        void* f1 = nullptr;
        if (unknown->queryInterface(mpapi::MP_IID_FACTORY, &f1) != mpapi::MP_RESULT_OK || !f1) {
            unknown->release();
            error = "the bundle's factory answers neither factory interface";
            return nullptr;
        }
        bundle->factory_ = static_cast<mpapi::IMpFactory*>(f1);
    }
    unknown->release();
    return bundle;
}

Bundle::~Bundle()
{
    if (factory_)
        factory_->release();
    if (library_)
        dlclose(library_);
}

} // namespace tav_host
