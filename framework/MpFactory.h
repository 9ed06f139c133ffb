// The bundle's module registry and its exported entry points. Every module source file registers
// its class once at load; the host then creates objects by (type, identifier).
#pragma once

#include "mpapi.h"

#include <map>
#include <string>
#include <type_traits>
#include <utility>

#define MP_EXPORT __attribute__((visibility("default")))

// Create function of one module class: a new object with one reference, owned by the caller, as
// its primary interface.
using MpCreateFunction = mpapi::IMpUnknown* (*)();

// Host hand-over inside the bundle. The factory binds a new object's host through this, so that a
// refusal can reach it as an exception, while the host-facing setHost entries never throw.
class MpHostBinding {
public:
    // [load time / any thread] Obtains the host's interfaces; throws when the object cannot work
    // without them. Returns the host's answer.
    virtual int32_t bindHost(mpapi::IMpUnknown* host) = 0;

protected:
    ~MpHostBinding() = default;
};

class MpFactory : public mpapi::IMpFactory2 {
public:
    // [any thread] MP_IID_UNKNOWN, MP_IID_FACTORY and MP_IID_FACTORY2 give the factory itself.
    int32_t queryInterface(const mpapi::MpGuid& iid, void** object) override;
    // [any thread] The factory is not reference counted: both return 1.
    int32_t addRef() override;
    int32_t release() override;
    // [any thread] MP_RESULT_OK created, MP_RESULT_FAIL the module failed to construct or refused
    // the host, MP_RESULT_UNSUPPORTED nothing registered under (type, identifier). *object is null
    // unless MP_RESULT_OK is returned.
    int32_t createInstance(const wchar_t* identifier, int32_t type, mpapi::IMpUnknown* host, void** object) override;
    // [any thread] MP_SDK_VERSION and the compiler text, cut to maxChars (terminator included).
    int32_t getSdkInformation(int32_t& version, int32_t maxChars, wchar_t* text) override;
    // [any thread] As createInstance without the host hand-over.
    int32_t createInstance2(const wchar_t* identifier, int32_t type, void** object) override;
    virtual ~MpFactory() = default;

    // [load time] Adds (type, identifier) -> create unless the key is present (the first stays).
    // Returns 0.
    int32_t RegisterPlugin(const wchar_t* identifier, int32_t type, MpCreateFunction create);

    using Registry = std::map<std::pair<int32_t, std::wstring>, MpCreateFunction>;
    // [any thread, after loading] Every registered (type, identifier), for tools that walk the
    // bundle's modules.
    const Registry& registrations() const { return registry_; }

private:
    // Creates the object of a key; MP_RESULT_UNSUPPORTED unknown key, MP_RESULT_FAIL the create
    // function threw.
    int32_t create(const wchar_t* identifier, int32_t type, mpapi::IMpUnknown*& object);

    Registry registry_;
};

extern "C" {
// [load time, then any thread] Hands out the factory through queryInterface(MP_IID_UNKNOWN).
MP_EXPORT int32_t MP_GetFactory(void** factory);
// [load time] Registers a module class; always 0.
MP_EXPORT int32_t RegisterPlugin(int type, const wchar_t* identifier, MpCreateFunction create);
// [load time] Accepted for compatibility and ignored; always 0.
MP_EXPORT int32_t RegisterPluginXml(const char* xml);
// The bundle's single factory, created on first use.
MP_EXPORT MpFactory* Factory();
}

class MpPluginBase;
class MpGuiBase2;

namespace mp_detail {

// The create function every module class shares: construct, hand out the primary interface.
template <class Module>
mpapi::IMpUnknown* createModule()
{
    if constexpr (std::is_base_of_v<MpPluginBase, Module>)
        return static_cast<mpapi::IMpPlugin*>(new Module());
    else if constexpr (std::is_base_of_v<MpGuiBase2, Module>)
        return static_cast<mpapi::IMpUserInterface2B*>(new Module());
    else
        return static_cast<mpapi::IMpUserInterface*>(new Module());
}

template <class Module>
constexpr int32_t moduleType()
{
    return std::is_base_of_v<MpPluginBase, Module> ? mpapi::MP_TYPE_AUDIO : mpapi::MP_TYPE_GUI;
}

} // namespace mp_detail

// One line at the end of each module file: registers the class under its identifier at load.
#define MP_REGISTER_MODULE(Class, identifier)                                                   \
    namespace {                                                                                 \
    [[maybe_unused]] const int32_t registered_##Class =                                         \
        RegisterPlugin(mp_detail::moduleType<Class>(), identifier, &mp_detail::createModule<Class>); \
    }
