#include "MpFactory.h"

#include <cstdlib>
#include <cwchar>
#include <new>

namespace {

// Deletes the factory when the bundle is unloaded.
struct factory_deleter_helper {
    ~factory_deleter_helper() { delete Factory(); }
};

factory_deleter_helper grim_reaper;

constexpr int kCompilerVersion = 1002;

} // namespace

int32_t MpFactory::queryInterface(const mpapi::MpGuid& iid, void** object)
{
    if (!object)
        return mpapi::MP_RESULT_FAIL;
    if (iid == mpapi::MP_IID_UNKNOWN || iid == mpapi::MP_IID_FACTORY || iid == mpapi::MP_IID_FACTORY2) {
        *object = static_cast<mpapi::IMpFactory2*>(this);
        addRef();
        return mpapi::MP_RESULT_OK;
    }
    *object = nullptr;
    return mpapi::MP_RESULT_UNSUPPORTED;
}

int32_t MpFactory::addRef() { return 1; }

int32_t MpFactory::release() { return 1; }

int32_t MpFactory::create(const wchar_t* identifier, int32_t type, mpapi::IMpUnknown*& object)
{
    object = nullptr;
    if (!identifier)
        return mpapi::MP_RESULT_UNSUPPORTED;
    try {
        const auto entry = registry_.find({type, std::wstring(identifier)});
        if (entry == registry_.end() || !entry->second)
            return mpapi::MP_RESULT_UNSUPPORTED;
        object = entry->second();
        return mpapi::MP_RESULT_OK;
    } catch (...) {
        return mpapi::MP_RESULT_FAIL;
    }
}

int32_t MpFactory::createInstance(const wchar_t* identifier, int32_t type, mpapi::IMpUnknown* host, void** result)
{
    if (!result)
        return mpapi::MP_RESULT_FAIL;
    *result = nullptr;
    mpapi::IMpUnknown* object = nullptr;
    const int32_t created = create(identifier, type, object);
    if (created != mpapi::MP_RESULT_OK || !object)
        return created;

    try {
        if (auto* binding = dynamic_cast<MpHostBinding*>(object))
            binding->bindHost(host);
        else if (auto* legacy = dynamic_cast<mpapi::IMpLegacyInitialization*>(object))
            legacy->setHost(host);
    } catch (...) {
        // A half that cannot work without its host is not handed out half-made.
        object->release();
        return mpapi::MP_RESULT_FAIL;
    }
    *result = object;
    return mpapi::MP_RESULT_OK;
}

int32_t MpFactory::createInstance2(const wchar_t* identifier, int32_t type, void** result)
{
    if (!result)
        return mpapi::MP_RESULT_FAIL;
    *result = nullptr;
    mpapi::IMpUnknown* object = nullptr;
    const int32_t created = create(identifier, type, object);
    *result = object;
    return created;
}

int32_t MpFactory::getSdkInformation(int32_t& version, int32_t maxChars, wchar_t* text)
{
    version = mpapi::MP_SDK_VERSION;
    if (!text || maxChars < 1)
        return mpapi::MP_RESULT_OK;
    wchar_t info[64];
    std::swprintf(info, 64, L"GCC Compiler V%d (Release)", kCompilerVersion);
    const size_t length = std::wcslen(info);
    const size_t kept = length < static_cast<size_t>(maxChars) ? length : static_cast<size_t>(maxChars) - 1;
    std::wmemcpy(text, info, kept);
    text[kept] = L'\0';
    return mpapi::MP_RESULT_OK;
}

int32_t MpFactory::RegisterPlugin(const wchar_t* identifier, int32_t type, MpCreateFunction create)
{
    if (identifier)
        registry_.try_emplace({type, std::wstring(identifier)}, create);
    return mpapi::MP_RESULT_OK;
}

extern "C" {

MpFactory* Factory()
{
    // Created on first use during loading, when only the loader's thread runs.
    static MpFactory* theFactory = nullptr;
    if (!theFactory)
        theFactory = new MpFactory();
    return theFactory;
}

int32_t MP_GetFactory(void** factory)
{
    return Factory()->queryInterface(mpapi::MP_IID_UNKNOWN, factory);
}

int32_t RegisterPlugin(int type, const wchar_t* identifier, MpCreateFunction create)
{
    return Factory()->RegisterPlugin(identifier, type, create);
}

int32_t RegisterPluginXml(const char*)
{
    return mpapi::MP_RESULT_OK;
}

} // extern "C"
