// The base of every interface half: host hand-over, reference count, the pin owner with its map,
// typed interface pins and the callbacks that bind a pin to its handler. Everything here runs on
// the host's GUI thread.
//
// A value from the host is stored by setPin and acted on at the following notifyPin, which runs
// the pin's handler whether or not the value changed. A value module code assigns goes to the
// host at once, only when it differs, and never runs the module's own handler.
#pragma once

#include "MpFactory.h"
#include "MpRawValue.h"
#include "Utf8.h"

#include <cstring>
#include <map>
#include <string>

using MpUserInterfaceHost = mpapi::IMpUserInterfaceHost;

// --- Callbacks ------------------------------------------------------------------------------

class IGuiPinCallbackImpl {
public:
    virtual ~IGuiPinCallbackImpl() = default;
    virtual void operator()(int voice) = 0;
};

// A handler without arguments; the voice is dropped.
template <class I>
class IGuiPinCallback : public IGuiPinCallbackImpl {
public:
    using Handler = void (I::*)();
    IGuiPinCallback(I* object, Handler handler) : object_(object), handler_(handler) {}
    void operator()(int) override { (object_->*handler_)(); }

private:
    I* object_;
    Handler handler_;
};

// A handler taking the voice.
template <class I>
class IGuiPinCallbackIndexed : public IGuiPinCallbackImpl {
public:
    using Handler = void (I::*)(int);
    IGuiPinCallbackIndexed(I* object, Handler handler) : object_(object), handler_(handler) {}
    void operator()(int voice) override { (object_->*handler_)(voice); }

private:
    I* object_;
    Handler handler_;
};

// --- Pins -----------------------------------------------------------------------------------

class GuiPinOwner;

class MpGuiPinBase {
public:
    MpGuiPinBase() = default;
    MpGuiPinBase(const MpGuiPinBase&) = delete;
    MpGuiPinBase& operator=(const MpGuiPinBase&) = delete;

    virtual ~MpGuiPinBase() { delete callback; }
    // [GUI thread] Stores a value from the host (voice ignored); true when it changed. Never
    // transmits, never calls the callback.
    virtual bool set(int voice, int size, const void* data) = 0;
    virtual int getDatatype() const = 0;

    int32_t getId() const { return id; }

    int32_t id = -1;
    GuiPinOwner* owner = nullptr;
    IGuiPinCallbackImpl* callback = nullptr;  // owned
};

class GuiPinOwner {
public:
    // [GUI thread] Sends a pin's raw value to the host; the host's answer.
    virtual int32_t pinTransmit(int32_t pinId, int32_t size, const void* data, int32_t voice) = 0;

    // [GUI thread] Stores a host value in the pin; MP_RESULT_FAIL for an unknown pin, else
    // MP_RESULT_OK.
    int32_t setPin(int32_t pinId, int32_t voice, int32_t size, const void* data);
    // [GUI thread] Runs the pin's callback, if any; MP_RESULT_FAIL for an unknown pin, else
    // MP_RESULT_OK.
    int32_t notifyPin(int32_t pinId, int32_t voice);
    // [GUI thread] setPin, then the callback only when the value changed.
    int32_t setPin2(int32_t pinId, int32_t voice, int32_t size, const void* data);
    // [constructor] Maps id -> pin unless the id is present (the first pin stays).
    void addPin(int32_t id, MpGuiPinBase& pin);
    MpGuiPinBase* getPin(int32_t id) const;

protected:
    ~GuiPinOwner() = default;

    // [constructor] Maps pin under index with callback (owned; null for none), replacing the
    // callback the pin had.
    void bindPin(int32_t index, MpGuiPinBase& pin, IGuiPinCallbackImpl* callback);

    std::map<int32_t, MpGuiPinBase*> guiPins;
};

// Pin registration of an interface base: Derived is the base class, I the interface whose member
// functions are the handlers.
template <class Derived, class I>
class GuiPinRegistry : public GuiPinOwner {
public:
    using Handler = void (I::*)();
    using IndexedHandler = void (I::*)(int);

    // [constructor] Registers a pin under index with its handler (or none).
    void initializePin(int index, MpGuiPinBase& pin, Handler handler)
    {
        bindPin(index, pin, handler ? new IGuiPinCallback<I>(self(), handler) : nullptr);
    }
    void initializePin(int index, MpGuiPinBase& pin, IndexedHandler handler)
    {
        bindPin(index, pin, handler ? new IGuiPinCallbackIndexed<I>(self(), handler) : nullptr);
    }
    void initializePin(int index, MpGuiPinBase& pin) { bindPin(index, pin, nullptr); }
    template <class Module>
    void initializePin(int index, MpGuiPinBase& pin, void (Module::*handler)())
    {
        initializePin(index, pin, static_cast<Handler>(handler));
    }
    template <class Module>
    void initializePin(int index, MpGuiPinBase& pin, void (Module::*handler)(int))
    {
        initializePin(index, pin, static_cast<IndexedHandler>(handler));
    }

protected:
    ~GuiPinRegistry() = default;

private:
    I* self() { return static_cast<I*>(static_cast<Derived*>(this)); }
};

namespace mp_detail {

template <class T> T initialGuiValue() { return T{}; }
// A fresh text pin holds one zero character, so the first assignment of an empty text is sent.
template <> inline std::wstring initialGuiValue<std::wstring>() { return std::wstring(1, L'\0'); }

template <class T> constexpr int guiDatatype();
template <> constexpr int guiDatatype<float>() { return mpapi::MP_DATATYPE_FLOAT; }
template <> constexpr int guiDatatype<int32_t>() { return mpapi::MP_DATATYPE_INT; }
template <> constexpr int guiDatatype<bool>() { return mpapi::MP_DATATYPE_BOOL; }
template <> constexpr int guiDatatype<std::wstring>() { return mpapi::MP_DATATYPE_TEXT; }

// Host value change tests, by value type.
bool setGuiValue(float& value, int size, const void* data);
bool setGuiValue(int32_t& value, int size, const void* data);
bool setGuiValue(bool& value, int size, const void* data);
bool setGuiValue(std::wstring& value, int size, const void* data);

} // namespace mp_detail

template <class T>
class MpGuiPin : public MpGuiPinBase {
public:
    using Handler = void (mpapi::IMpUserInterface::*)();

    bool set(int, int size, const void* data) override { return mp_detail::setGuiValue(value, size, data); }
    int getDatatype() const override { return mp_detail::guiDatatype<T>(); }
    virtual int rawSize() const { return mp_detail::rawSizeOf(value); }
    virtual const void* rawData() const { return mp_detail::rawDataOf(value); }
    virtual Handler getDefaultEventHandler() { return nullptr; }

    // [GUI thread] Stores v and transmits it (voice 0) when it differs from the held value:
    // floats by floating-point equality (0.0 == -0.0, a NaN always differs), text by length and
    // characters.
    const T& operator=(const T& v)
    {
        if (!(v == value)) {
            value = v;
            if (owner)
                owner->pinTransmit(id, rawSize(), rawData(), 0);
        }
        return value;
    }
    const T& operator=(const MpGuiPin<T>& other) { return *this = other.value; }

    const T& getValue() const { return value; }
    operator const T&() const { return value; }

    T value = mp_detail::initialGuiValue<T>();
};

// A text pin with UTF-8 conversions. Text that has no UTF-8 form throws std::range_error.
class StringGuiPin : public MpGuiPin<std::wstring> {
public:
    const std::wstring& operator=(const std::wstring& v)
    {
        MpGuiPin<std::wstring>::operator=(v);
        return v;
    }
    const std::string& operator=(const std::string& utf8Text);
    operator std::string() const;
};

// --- Module bases ---------------------------------------------------------------------------

class MpGuiBase_base : public mpapi::IMpUserInterface,
                       public IoldSchoolInitialisation,
                       public mpapi::IMpLegacyInitialization,
                       public GuiPinRegistry<MpGuiBase_base, mpapi::IMpUserInterface>,
                       public MpHostBinding {
public:
    explicit MpGuiBase_base(mpapi::IMpUnknown* unused = nullptr);
    MpGuiBase_base(const MpGuiBase_base&) = delete;
    MpGuiBase_base& operator=(const MpGuiBase_base&) = delete;

    // [any thread] MP_IID_UNKNOWN and MP_IID_GUI_PLUGIN give the object, MP_IID_LEGACY_INITIALIZATION
    // its hand-over part; a match takes a reference.
    int32_t queryInterface(const mpapi::MpGuid& iid, void** object) override;
    int32_t addRef() override;
    int32_t release() override;
    // [GUI thread] After setHost; modules send first messages or read files here. Must not throw.
    int32_t initialize() noexcept override;
    int32_t setPin(int32_t pinId, int32_t voice, int32_t size, void* data) override;
    int32_t notifyPin(int32_t pinId, int32_t voice) override;
    // [GUI thread] A message from the processing half; must not throw.
    int32_t receiveMessageFromAudio(int32_t id, int32_t size, void* data) noexcept override;
    int32_t onCreateContextMenu() override;
    int32_t onContextMenu(int32_t selection) override;
    virtual ~MpGuiBase_base();
    // [GUI thread, first] Obtains MpUserInterfaceHost; MP_RESULT_FAIL when the host offers none.
    int32_t setHost(mpapi::IMpUnknown* host) override;
    int32_t pinTransmit(int32_t pinId, int32_t size, const void* data, int32_t voice) override;
    // Throws "host Interfaces not supported" when the host offers no MpUserInterfaceHost.
    int32_t bindHost(mpapi::IMpUnknown* host) override;

    MpUserInterfaceHost* getHost() const { return host; }

    MpUserInterfaceHost* host = nullptr;

protected:
    int32_t baseRefCount = 1;
};

// The base interface modules derive from; it keeps the module's own reference count.
class MpGuiBase : public MpGuiBase_base {
public:
    int32_t addRef() override;
    int32_t release() override;

protected:
    int32_t refCount = 1;
};

// A base for interface halves of the newer interface; the derived class supplies addRef and
// release.
class MpGuiBase2 : public mpapi::IMpUserInterface2B, public GuiPinRegistry<MpGuiBase2, mpapi::IMpUserInterface2> {
public:
    MpGuiBase2() = default;
    MpGuiBase2(const MpGuiBase2&) = delete;
    MpGuiBase2& operator=(const MpGuiBase2&) = delete;

    // MP_IID_UNKNOWN, MP_IID_GUI_PLUGIN2 and MP_IID_GUI_PLUGIN2B.
    int32_t queryInterface(const mpapi::MpGuid& iid, void** object) override;
    // [GUI thread, first] Obtains the newer host; MP_RESULT_OK, or MP_RESULT_UNSUPPORTED when the
    // host offers none.
    int32_t setHost(mpapi::IMpUnknown* host) override;
    // Module overrides of initialize and receiveMessageFromAudio must not throw.
    int32_t initialize() noexcept override;
    int32_t setPin(int32_t pinId, int32_t voice, int32_t size, const void* data) override;
    int32_t receiveMessageFromAudio(int32_t id, int32_t size, const void* data) noexcept override;
    int32_t populateContextMenu(float x, float y, mpapi::IMpUnknown* menu) override;
    int32_t onContextMenu(int32_t selection) override;
    int32_t getToolTip(float x, float y, mpapi::IMpUnknown* text) override;
    int32_t notifyPin(int32_t pinId, int32_t voice) override;
    virtual ~MpGuiBase2();
    int32_t pinTransmit(int32_t pinId, int32_t size, const void* data, int32_t voice) override;

    mpapi::IMpUserInterfaceHost2* host = nullptr;
};
