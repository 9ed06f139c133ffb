// Processing pins: audio buffers, MIDI streams and typed control values of a processing half.
// Pins are members of the module object, registered by index in its constructor; the base routes
// the host's events to them. Everything here runs on the audio thread.
#pragma once

#include "MidiReader.h"
#include "MpRawValue.h"
#include "mpapi.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

class MpPluginBase;

// Handler called for every event addressed to a pin.
using MpPinEventHandler = void (MpPluginBase::*)(const mpapi::MpEvent*);

// The bytes an event carries, bounded: the extra data when present, else the inline bytes of
// parm3/parm4 (at most 8); a negative size reads as empty.
struct MpEventData {
    const unsigned char* bytes;
    int32_t size;
};
MpEventData eventData(const mpapi::MpEvent* event);

class MpPinBase {
public:
    MpPinBase() = default;
    MpPinBase(const MpPinBase&) = delete;
    MpPinBase& operator=(const MpPinBase&) = delete;

    virtual ~MpPinBase() = default;
    // Audio pins keep the buffer; every other pin ignores it.
    virtual void setBuffer(float* buffer) = 0;
    // The three passes over the events of one time stamp (see MpPluginBase).
    virtual void preProcessEvent(const mpapi::MpEvent*) {}
    virtual void processEvent(const mpapi::MpEvent* event);
    virtual void postProcessEvent(const mpapi::MpEvent*) {}
    virtual int32_t getDatatype() const = 0;
    virtual int32_t getDirection() const = 0;
    virtual MpPinEventHandler getDefaultEventHandler() = 0;
    // Graph start: an output announces its current value or streaming state.
    virtual void sendFirstUpdate() = 0;

    // Stores id, owner and handler; an input given no handler takes its class's default.
    void initialize(MpPluginBase* owner, int32_t pinId, MpPinEventHandler eventHandler);
    // Sends a raw value through the host at the position, or at the owner's blockPos when -1.
    void sendPinUpdate(int32_t size, const void* data, int32_t position = -1);
    int32_t getId() const { return id; }

    int32_t id = -1;
    MpPluginBase* plugin = nullptr;
    MpPinEventHandler handler = nullptr;

protected:
    int32_t positionOr(int32_t position) const;
};

class MpAudioPinBase : public MpPinBase {
public:
    void setBuffer(float* buffer) override { this->buffer = buffer; }
    int32_t getDatatype() const override { return mpapi::MP_DATATYPE_AUDIO; }
    MpPinEventHandler getDefaultEventHandler() override { return nullptr; }
    // Audio carries no single value.
    virtual void setValueRaw(int32_t, void*) {}

    // The sample at index, or at the owner's blockPos when index is negative; 0 without a buffer.
    float getValue(int32_t index = -1) const;
    float* getBuffer() const { return buffer; }

    float* buffer = nullptr;
    bool isStreaming = false;
    bool isUpdated = false;
};

class AudioInPin : public MpAudioPinBase {
public:
    // An input counts as updated until its first streaming event has been handled, so a module
    // looking at it in its first onSetPins takes it as new.
    AudioInPin() { isUpdated = true; }

    int32_t getDirection() const override { return mpapi::MP_IN; }
    // Streaming start/stop: records the state and keeps the module awake for at least one sample.
    void preProcessEvent(const mpapi::MpEvent* event) override;
    void postProcessEvent(const mpapi::MpEvent* event) override;
    void sendFirstUpdate() override {}
};

class AudioOutPin : public MpAudioPinBase {
public:
    int32_t getDirection() const override { return mpapi::MP_OUT; }
    void sendFirstUpdate() override { setStreaming(true); }
    // Tells the host whether the output changes every sample from position on (blockPos when
    // -1). Going static loads the sleep counter with one block length, so the module computes
    // one more block before it may sleep. Always reaches the host, even unchanged.
    void setStreaming(bool streaming, int32_t position = -1);
};

class MidiInPin : public MpPinBase {
public:
    // Reads this input's events as whole messages; keeps its running status between events.
    MidiReader reader;

    void setBuffer(float*) override {}
    int32_t getDatatype() const override { return mpapi::MP_DATATYPE_MIDI; }
    int32_t getDirection() const override { return mpapi::MP_IN; }
    MpPinEventHandler getDefaultEventHandler() override;
    void sendFirstUpdate() override {}
};

class MidiOutPin : public MidiInPin {
public:
    int32_t getDirection() const override { return mpapi::MP_OUT; }
    MpPinEventHandler getDefaultEventHandler() override { return nullptr; }
    // Sends the caller's bytes at position (blockPos when -1), every call, nothing stored.
    virtual void send(const unsigned char* bytes, int32_t size, int32_t position = -1);
};

namespace mp_detail {

// Raw value storage of a control pin, by value type.
inline void storeRaw(float& value, int32_t size, const void* data) { if (size > 0 && data) std::memcpy(&value, data, size < 4 ? size : 4); }
inline void storeRaw(int32_t& value, int32_t size, const void* data) { if (size > 0 && data) std::memcpy(&value, data, size < 4 ? size : 4); }
void storeRaw(bool& value, int32_t size, const void* data);
void storeRaw(std::wstring& value, int32_t size, const void* data);

} // namespace mp_detail

// A pin holding one value of type T, sent and received as raw bytes of datatype code Datatype.
template <class T, int32_t Datatype>
class MpControlPinBase : public MpPinBase {
public:
    void setBuffer(float*) override {}
    int32_t getDatatype() const override { return Datatype; }
    MpPinEventHandler getDefaultEventHandler() override { return nullptr; }
    void sendFirstUpdate() override { sendPinUpdate(rawSize(), rawData()); }

    // A pin value event stores the value before any handler of its time stamp runs.
    void preProcessEvent(const mpapi::MpEvent* event) override
    {
        if (event->eventType == mpapi::MP_EVENT_PIN_VALUE) {
            const MpEventData data = eventData(event);
            setValueRaw(data.size, data.bytes);
            isUpdated = true;
        }
    }
    void postProcessEvent(const mpapi::MpEvent* event) override
    {
        if (event->eventType == mpapi::MP_EVENT_PIN_VALUE)
            isUpdated = false;
    }

    // Float and int take at most 4 bytes; bool a 4-byte int or the first byte; text size / 4
    // characters.
    virtual void setValueRaw(int32_t size, const void* data) { mp_detail::storeRaw(value, size, data); }
    virtual void setValueRaw(unsigned long size, const void* data)
    {
        setValueRaw(static_cast<int32_t>(size > 0x7FFFFFFFul ? 0x7FFFFFFFul : size), data);
    }
    virtual int32_t rawSize() const { return mp_detail::rawSizeOf(value); }
    virtual const void* rawData() const { return mp_detail::rawDataOf(value); }

    const T& getValue() const { return value; }
    operator const T&() const { return value; }

    T value{};
    bool isUpdated = false;
};

template <class T, int32_t Direction, int32_t Datatype>
class MpControlPin : public MpControlPinBase<T, Datatype> {
public:
    int32_t getDirection() const override { return Direction; }

    // Stores the value and sends it (at position, blockPos when -1) only when it differs; floats
    // compare as floats, so -0.0 equals 0.0 and a NaN always differs.
    void setValue(const T& v, int32_t position = -1)
    {
        if (v == this->value)
            return;
        this->value = v;
        this->sendPinUpdate(this->rawSize(), this->rawData(), position);
    }
    const T& operator=(const T& v)
    {
        setValue(v);
        return this->value;
    }
    // Copies an input of the same value type, by the same rule.
    const T& operator=(const MpControlPin<T, mpapi::MP_IN, Datatype>& input)
    {
        setValue(input.value);
        return this->value;
    }
};

using FloatInPin = MpControlPin<float, mpapi::MP_IN, mpapi::MP_DATATYPE_FLOAT>;
using FloatOutPin = MpControlPin<float, mpapi::MP_OUT, mpapi::MP_DATATYPE_FLOAT>;
using IntInPin = MpControlPin<int32_t, mpapi::MP_IN, mpapi::MP_DATATYPE_INT>;
using IntOutPin = MpControlPin<int32_t, mpapi::MP_OUT, mpapi::MP_DATATYPE_INT>;
using BoolInPin = MpControlPin<bool, mpapi::MP_IN, mpapi::MP_DATATYPE_BOOL>;

class StringInPin : public MpControlPin<std::wstring, mpapi::MP_IN, mpapi::MP_DATATYPE_TEXT> {
public:
    // Characters a value takes without a heap call on the audio thread: room for them is set
    // aside at open; only a longer text allocates.
    static constexpr std::size_t kReservedCharacters = 4096;

    // [open, which may allocate where process may not] Sets the room aside; when memory is
    // short the text keeps the room it has.
    void reserveRoom() noexcept;
    // The text in UTF-8; characters without a UTF-8 form become U+FFFD. Allocates: not for the
    // audio thread.
    operator std::string() const;
};

// A byte string value (used by no pin).
class MpBlob {
public:
    MpBlob() = default;
    MpBlob(const MpBlob& other) { *this = other; }
    MpBlob& operator=(const MpBlob& other)
    {
        if (this != &other)
            setValueRaw(other.size_, other.data_);
        return *this;
    }
    ~MpBlob() { delete[] data_; }

    // Copies size bytes, reallocating only when the size changes.
    void setValueRaw(int64_t size, const void* data);
    // Replaces the buffer (contents not kept) only when growing, then sets the size.
    void resize(int64_t size);
    int64_t getSize() const { return size_; }
    unsigned char* getData() const { return data_; }
    int compare(const unsigned char* bytes, int64_t size) const;
    bool operator==(const MpBlob& other) const { return compare(other.data_, other.size_) == 0; }
    bool operator!=(const MpBlob& other) const { return !(*this == other); }

private:
    int64_t size_ = 0;
    unsigned char* data_ = nullptr;
};
