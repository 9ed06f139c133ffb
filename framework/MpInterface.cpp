#include "MpInterface.h"

// --- Pins -----------------------------------------------------------------------------------

namespace mp_detail {
namespace {

// Float and int: a 4-byte value equal bit for bit is no change; otherwise up to 4 bytes are
// copied over the value (a shorter size overwrites only the leading bytes).
template <class T>
bool setWord(T& value, int size, const void* data)
{
    static_assert(sizeof(T) == 4);
    if (size <= 0 || !data)
        return true;  // nothing to copy, reported like any other size than 4
    if (size == 4 && std::memcmp(&value, data, 4) == 0)
        return false;
    std::memcpy(&value, data, size < 4 ? size : 4);
    return true;
}

} // namespace

bool setGuiValue(float& value, int size, const void* data) { return setWord(value, size, data); }

bool setGuiValue(int32_t& value, int size, const void* data) { return setWord(value, size, data); }

bool setGuiValue(bool& value, int size, const void* data)
{
    if (size <= 0 || !data)
        return true;  // no byte to store, reported like any other size than 1
    if (size == 4) {
        // A 4-byte bool always reports a change, even with the same truth value.
        int32_t word;
        std::memcpy(&word, data, 4);
        value = word != 0;
        return true;
    }
    // One byte is compared as stored: a 2 onto true is a change, as the host sent other bytes.
    const unsigned char byte = *static_cast<const unsigned char*>(data);
    if (size == 1 && byte == static_cast<unsigned char>(value))
        return false;
    value = byte != 0;
    return true;
}

bool setGuiValue(std::wstring& value, int size, const void* data)
{
    const size_t characters = size > 0 && data ? static_cast<size_t>(size) / sizeof(wchar_t) : 0;
    const size_t bytes = characters * sizeof(wchar_t);
    if (static_cast<size_t>(size > 0 ? size : 0) == value.size() * sizeof(wchar_t) &&
        (bytes == 0 || std::memcmp(value.data(), data, bytes) == 0))
        return false;
    value.resize(characters);
    if (bytes)
        std::memcpy(value.data(), data, bytes);
    return true;
}

} // namespace mp_detail

const std::string& StringGuiPin::operator=(const std::string& utf8Text)
{
    *this = utf8::toWide(utf8Text);
    return utf8Text;
}

StringGuiPin::operator std::string() const
{
    return utf8::fromWide(value);
}

// --- GuiPinOwner ----------------------------------------------------------------------------

int32_t GuiPinOwner::setPin(int32_t pinId, int32_t voice, int32_t size, const void* data)
{
    MpGuiPinBase* pin = getPin(pinId);
    if (!pin)
        return mpapi::MP_RESULT_FAIL;
    pin->set(voice, size, data);
    return mpapi::MP_RESULT_OK;
}

int32_t GuiPinOwner::notifyPin(int32_t pinId, int32_t voice)
{
    MpGuiPinBase* pin = getPin(pinId);
    if (!pin)
        return mpapi::MP_RESULT_FAIL;
    if (pin->callback)
        (*pin->callback)(voice);
    return mpapi::MP_RESULT_OK;
}

int32_t GuiPinOwner::setPin2(int32_t pinId, int32_t voice, int32_t size, const void* data)
{
    MpGuiPinBase* pin = getPin(pinId);
    if (!pin)
        return mpapi::MP_RESULT_FAIL;
    if (pin->set(voice, size, data) && pin->callback)
        (*pin->callback)(voice);
    return mpapi::MP_RESULT_OK;
}

void GuiPinOwner::bindPin(int32_t index, MpGuiPinBase& pin, IGuiPinCallbackImpl* callback)
{
    delete pin.callback;
    pin.id = index;
    pin.owner = this;
    pin.callback = callback;
    addPin(index, pin);
}

void GuiPinOwner::addPin(int32_t id, MpGuiPinBase& pin)
{
    guiPins.try_emplace(id, &pin);
}

MpGuiPinBase* GuiPinOwner::getPin(int32_t id) const
{
    const auto found = guiPins.find(id);
    return found == guiPins.end() ? nullptr : found->second;
}

// --- MpGuiBase_base -------------------------------------------------------------------------

MpGuiBase_base::MpGuiBase_base(mpapi::IMpUnknown*) {}

MpGuiBase_base::~MpGuiBase_base()
{
    guiPins.clear();
    // The reference queryInterface took in setHost is given back, so host references balance.
    if (host)
        host->release();
}

int32_t MpGuiBase_base::queryInterface(const mpapi::MpGuid& iid, void** object)
{
    if (!object)
        return mpapi::MP_RESULT_FAIL;
    *object = nullptr;
    if (iid == mpapi::MP_IID_UNKNOWN || iid == mpapi::MP_IID_GUI_PLUGIN)
        *object = static_cast<mpapi::IMpUserInterface*>(this);
    else if (iid == mpapi::MP_IID_LEGACY_INITIALIZATION)
        *object = static_cast<mpapi::IMpLegacyInitialization*>(this);
    else
        return mpapi::MP_RESULT_UNSUPPORTED;
    static_cast<mpapi::IMpUserInterface*>(this)->addRef();
    return mpapi::MP_RESULT_OK;
}

int32_t MpGuiBase_base::addRef()
{
    return ++baseRefCount;
}

int32_t MpGuiBase_base::release()
{
    const int32_t count = --baseRefCount;
    if (count == 0)
        delete this;
    return count;
}

int32_t MpGuiBase_base::initialize() noexcept
{
    return mpapi::MP_RESULT_OK;
}

int32_t MpGuiBase_base::setPin(int32_t pinId, int32_t voice, int32_t size, void* data)
{
    try {
        return GuiPinOwner::setPin(pinId, voice, size, data);
    } catch (...) {
        return mpapi::MP_RESULT_FAIL;  // a text too large to hold
    }
}

int32_t MpGuiBase_base::notifyPin(int32_t pinId, int32_t voice)
{
    try {
        return GuiPinOwner::notifyPin(pinId, voice);
    } catch (...) {
        // A handler's failure (such as text without a UTF-8 form) stays inside the bundle.
        return mpapi::MP_RESULT_FAIL;
    }
}

int32_t MpGuiBase_base::receiveMessageFromAudio(int32_t, int32_t, void*) noexcept
{
    return mpapi::MP_RESULT_OK;
}

int32_t MpGuiBase_base::onCreateContextMenu()
{
    return mpapi::MP_RESULT_OK;
}

int32_t MpGuiBase_base::onContextMenu(int32_t)
{
    return mpapi::MP_RESULT_OK;
}

int32_t MpGuiBase_base::bindHost(mpapi::IMpUnknown* newHost)
{
    if (host)
        host->release();
    host = nullptr;
    const int32_t result = newHost ? newHost->queryInterface(mpapi::MP_IID_UI_HOST, reinterpret_cast<void**>(&host))
                                   : mpapi::MP_RESULT_FAIL;
    if (!host)
        throw "host Interfaces not supported";
    return result;
}

int32_t MpGuiBase_base::setHost(mpapi::IMpUnknown* newHost)
{
    try {
        return bindHost(newHost);
    } catch (...) {
        return mpapi::MP_RESULT_FAIL;
    }
}

int32_t MpGuiBase_base::pinTransmit(int32_t pinId, int32_t size, const void* data, int32_t voice)
{
    return host ? host->transmitPin(pinId, size, data, voice) : mpapi::MP_RESULT_FAIL;
}

// --- MpGuiBase ------------------------------------------------------------------------------

int32_t MpGuiBase::addRef()
{
    return ++refCount;
}

int32_t MpGuiBase::release()
{
    const int32_t count = --refCount;
    if (count == 0)
        delete this;
    return count;
}

// --- MpGuiBase2 -----------------------------------------------------------------------------

MpGuiBase2::~MpGuiBase2()
{
    guiPins.clear();
    if (host)
        host->release();
}

int32_t MpGuiBase2::queryInterface(const mpapi::MpGuid& iid, void** object)
{
    if (!object)
        return mpapi::MP_RESULT_FAIL;
    *object = nullptr;
    if (!(iid == mpapi::MP_IID_UNKNOWN || iid == mpapi::MP_IID_GUI_PLUGIN2 || iid == mpapi::MP_IID_GUI_PLUGIN2B))
        return mpapi::MP_RESULT_UNSUPPORTED;
    *object = static_cast<mpapi::IMpUserInterface2B*>(this);
    addRef();
    return mpapi::MP_RESULT_OK;
}

int32_t MpGuiBase2::setHost(mpapi::IMpUnknown* newHost)
{
    if (host)
        host->release();
    host = nullptr;
    if (newHost)
        newHost->queryInterface(mpapi::MP_IID_UI_HOST2, reinterpret_cast<void**>(&host));
    return host ? mpapi::MP_RESULT_OK : mpapi::MP_RESULT_UNSUPPORTED;
}

int32_t MpGuiBase2::initialize() noexcept
{
    return mpapi::MP_RESULT_OK;
}

int32_t MpGuiBase2::setPin(int32_t pinId, int32_t voice, int32_t size, const void* data)
{
    try {
        return GuiPinOwner::setPin(pinId, voice, size, data);
    } catch (...) {
        return mpapi::MP_RESULT_FAIL;
    }
}

int32_t MpGuiBase2::notifyPin(int32_t pinId, int32_t voice)
{
    try {
        return GuiPinOwner::notifyPin(pinId, voice);
    } catch (...) {
        return mpapi::MP_RESULT_FAIL;
    }
}

int32_t MpGuiBase2::receiveMessageFromAudio(int32_t, int32_t, const void*) noexcept
{
    return mpapi::MP_RESULT_FAIL;
}

int32_t MpGuiBase2::populateContextMenu(float, float, mpapi::IMpUnknown*) { return mpapi::MP_RESULT_FAIL; }

int32_t MpGuiBase2::onContextMenu(int32_t) { return mpapi::MP_RESULT_FAIL; }

int32_t MpGuiBase2::getToolTip(float, float, mpapi::IMpUnknown*) { return mpapi::MP_RESULT_FAIL; }

int32_t MpGuiBase2::pinTransmit(int32_t pinId, int32_t size, const void* data, int32_t voice)
{
    return host ? host->transmitPin(pinId, size, data, voice) : mpapi::MP_RESULT_FAIL;
}
