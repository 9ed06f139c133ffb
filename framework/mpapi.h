// The module API between the host and the bundle: interface identifiers, the event record and the
// COM-style interfaces, slot for slot as a host sees them.
//
// Rules that keep the tables stable (g++, Itanium C++ ABI):
// - Interfaces are plain structs of pure virtual functions; none has a virtual destructor, which
//   would take two slots and move every later one.
// - Slots count from 0 in declaration order; derived interfaces append after their base.
// - Every operation that crosses the boundary returns an int32 result code and never throws.
//
// Contracts of every method, the hosts' included:
// - Thread: [audio thread] the host's processing thread, [GUI thread] its user-interface thread,
//   [any thread] whichever thread calls, [never called] a reserved slot. A processing half is
//   called on the audio thread only, and one call at a time; an interface half likewise on the
//   GUI thread. The two halves meet only through host calls; no method takes a lock.
// - State: when in an object's life the call may come (after setHost, after open, ...).
// - Ownership: memory passed in a call stays its caller's and is valid only during the call,
//   unless the method says otherwise. References follow COM: an interface handed out by
//   queryInterface or createInstance carries one reference the receiver releases.
// - Results: MP_RESULT_OK, or the named failure codes below; never an exception.
#pragma once

#include <cstdint>
#include <cstring>

namespace mpapi {

// The SDK version this bundle implements, reported by IMpFactory::getSdkInformation.
inline constexpr int32_t MP_SDK_VERSION = 30800;

// Result codes (MpResult).
enum MpResult : int32_t {
    MP_RESULT_OK = 0,
    MP_RESULT_FAIL = -1,
    MP_RESULT_UNSUPPORTED = -2,
};

// Event types (MpEventType).
enum MpEventType : int32_t {
    MP_EVENT_PIN_VALUE = 100,
    MP_EVENT_STREAMING_START = 101,
    MP_EVENT_STREAMING_STOP = 102,
    MP_EVENT_MIDI = 103,
    MP_EVENT_GRAPH_START = 104,
};

// Pin datatype codes (PinDatatype).
enum PinDatatype : int32_t {
    MP_DATATYPE_TEXT = 1,
    MP_DATATYPE_MIDI = 2,
    MP_DATATYPE_BOOL = 4,
    MP_DATATYPE_AUDIO = 5,
    MP_DATATYPE_FLOAT = 6,
    MP_DATATYPE_INT = 8,
};

// Pin direction (PinDirection).
enum PinDirection : int32_t {
    MP_IN = 0,
    MP_OUT = 1,
};

// Module type (MpModuleType): which half of a module the factory creates.
enum MpModuleType : int32_t {
    MP_TYPE_AUDIO = 0,
    MP_TYPE_GUI = 1,
};

// 16-byte interface identifier, compared over all 16 bytes.
struct MpGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    unsigned char data4[8];
};

inline bool operator==(const MpGuid& a, const MpGuid& b)
{
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

// One event of a block. Events arrive as a list in ascending time order. Up to 8 bytes of data
// are held inline in parm3 and parm4; longer data lives at extraData (used whenever not null).
struct MpEvent {
    int32_t timeDelta;  // sample offset in the block
    int32_t eventType;  // MpEventType
    int32_t parm1;      // pin id
    int32_t parm2;      // data size in bytes
    int32_t parm3;      // inline data, bytes 0..3
    int32_t parm4;      // inline data, bytes 4..7
    char* extraData;    // owned by the host, valid during the call
    MpEvent* next;      // null for the last event
};

// Published identifiers of the module API.
inline constexpr MpGuid MP_IID_UNKNOWN = {0x00000000, 0x0000, 0xC000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr MpGuid MP_IID_FACTORY = {0x9A7904B7, 0x7F7F, 0x4D61, {0xB5, 0x58, 0xC1, 0xA6, 0x69, 0x5B, 0xB6, 0x38}};
inline constexpr MpGuid MP_IID_FACTORY2 = {0x91C3D2EE, 0xC701, 0x4F35, {0x91, 0xA6, 0x09, 0x4D, 0xC7, 0xE0, 0x59, 0x76}};
inline constexpr MpGuid MP_IID_HOST = {0x4F1B532F, 0x3C46, 0x4927, {0xA4, 0x98, 0x61, 0x48, 0x67, 0x42, 0x5B, 0xE7}};
inline constexpr MpGuid MP_IID_PROCESSOR_HOST = {0x87CCD426, 0x71D7, 0x414E, {0xA9, 0xA6, 0x5A, 0xDC, 0xA8, 0x1C, 0x74, 0x20}};
inline constexpr MpGuid MP_IID_UI_HOST = {0x174F9DDC, 0x1850, 0x40DB, {0xBA, 0xF0, 0xE0, 0xB4, 0x1D, 0x07, 0x96, 0x45}};

// Identifiers this bundle fixed itself, for interfaces whose published identifier we do not have.
// Stable: hosts written against this bundle compare them byte for byte.
inline constexpr MpGuid MP_IID_PLUGIN = {0x5A7C0B01, 0x7A31, 0x4E6B, {0x9D, 0x10, 0x54, 0x41, 0x56, 0x52, 0x49, 0x01}};
inline constexpr MpGuid MP_IID_PLUGIN2 = {0x5A7C0B02, 0x7A31, 0x4E6B, {0x9D, 0x10, 0x54, 0x41, 0x56, 0x52, 0x49, 0x02}};
inline constexpr MpGuid MP_IID_LEGACY_INITIALIZATION = {0x5A7C0B03, 0x7A31, 0x4E6B, {0x9D, 0x10, 0x54, 0x41, 0x56, 0x52, 0x49, 0x03}};
inline constexpr MpGuid MP_IID_GUI_PLUGIN = {0x5A7C0B04, 0x7A31, 0x4E6B, {0x9D, 0x10, 0x54, 0x41, 0x56, 0x52, 0x49, 0x04}};
inline constexpr MpGuid MP_IID_GUI_PLUGIN2 = {0x5A7C0B05, 0x7A31, 0x4E6B, {0x9D, 0x10, 0x54, 0x41, 0x56, 0x52, 0x49, 0x05}};
inline constexpr MpGuid MP_IID_GUI_PLUGIN2B = {0x5A7C0B06, 0x7A31, 0x4E6B, {0x9D, 0x10, 0x54, 0x41, 0x56, 0x52, 0x49, 0x06}};
inline constexpr MpGuid MP_IID_UI_HOST2 = {0x5A7C0B07, 0x7A31, 0x4E6B, {0x9D, 0x10, 0x54, 0x41, 0x56, 0x52, 0x49, 0x07}};

// Slots 0-2 of every interface.
struct IMpUnknown {
    // [any thread, any state] On a match stores the interface in *object, takes a reference (the
    // caller's to release) and returns MP_RESULT_OK; else stores null and returns
    // MP_RESULT_UNSUPPORTED. MP_RESULT_FAIL when object is null.
    virtual int32_t queryInterface(const MpGuid& iid, void** object) = 0;
    // [any thread, any state] Return the new reference count. The count is not atomic: one
    // object's references are taken and given back on one thread at a time. Releasing the last
    // reference deletes the object; nothing of it may be used afterwards.
    virtual int32_t addRef() = 0;
    // [any thread, any state] As addRef, giving one reference back.
    virtual int32_t release() = 0;
};

// The bundle's factory: one for the bundle's lifetime, never deleted through release (addRef and
// release answer 1). Its registry is complete once loading ends and never changes afterwards.
// Slots: 3 createInstance, 4 getSdkInformation.
struct IMpFactory : IMpUnknown {
    // [any thread, after loading] Creates the module half (identifier: wide text, the caller's;
    // type: MpModuleType) with one reference, owned by the caller, and hands it the host (the
    // module takes references of its own on the host's interfaces and gives them back when
    // released; the host object must outlive them). MP_RESULT_OK on success, MP_RESULT_FAIL
    // when creation failed or object is null, MP_RESULT_UNSUPPORTED when nothing is registered
    // under the key. *object is null on failure.
    virtual int32_t createInstance(const wchar_t* identifier, int32_t type, IMpUnknown* host, void** object) = 0;
    // [any thread, any state] Writes MP_SDK_VERSION and a compiler text of at most maxChars
    // characters, terminator included, into the caller's buffer. MP_RESULT_OK.
    virtual int32_t getSdkInformation(int32_t& version, int32_t maxChars, wchar_t* text) = 0;
};

// Slot 5 createInstance2.
struct IMpFactory2 : IMpFactory {
    // [any thread, after loading] As createInstance, without handing over a host: the host
    // calls setHost on the object before anything else.
    virtual int32_t createInstance2(const wchar_t* identifier, int32_t type, void** object) = 0;
};

// The processing half as the host calls it. Slots: 3 open, 4 setBuffer, 5 process,
// 6 receiveMessageFromGui.
struct IMpPlugin : IMpUnknown {
    // [audio thread, once, after the host was handed over, before setBuffer and process] The
    // module reads the sample rate and block length here. MP_RESULT_OK.
    virtual int32_t open() = 0;
    // [audio thread, after open, before the first process] Hands the buffer of a pin: at least
    // block-length floats, owned by the host and valid until the object is released (or the pin
    // gets another buffer). MP_RESULT_OK, MP_RESULT_FAIL for a pin the module does not have.
    virtual int32_t setBuffer(int32_t pinId, float* buffer) = 0;
    // [audio thread, after open] Computes count samples (1 to the block length). events: a list
    // linked by next, sorted by time, owned by the host and valid during the call, as is every
    // event's extraData. Allocates nothing and takes no lock.
    virtual void process(int32_t count, MpEvent* events) = 0;
    // [audio thread, after open, between process calls, never during one] A message from the
    // interface half: id chosen by the module family, size bytes at data (the caller's, valid
    // during the call). MP_RESULT_OK.
    virtual int32_t receiveMessageFromGui(int32_t id, int32_t size, void* data) = 0;
};

// Newer processing interface. Slots: 3 setHost, 4 open, 5 setBuffer, 6 process,
// 7 receiveMessageFromGui.
// Each method keeps the contract of its IMpPlugin namesake.
struct IMpPlugin2 : IMpUnknown {
    // [audio thread, once, before open] Hands over the host (see IMpLegacyInitialization).
    virtual int32_t setHost(IMpUnknown* host) = 0;
    // [audio thread, once, after setHost, before setBuffer and process] As IMpPlugin::open.
    virtual int32_t open() = 0;
    // [audio thread, after open, before the first process] As IMpPlugin::setBuffer.
    virtual int32_t setBuffer(int32_t pinId, float* buffer) = 0;
    // [audio thread, after open] As IMpPlugin::process; allocates nothing and takes no lock.
    virtual void process(int32_t count, const MpEvent* events) = 0;
    // [audio thread, after open, between process calls] As IMpPlugin::receiveMessageFromGui.
    virtual int32_t receiveMessageFromGui(int32_t id, int32_t size, const void* data) = 0;
};

// Hands the host to a created object. Slot 3 setHost.
struct IMpLegacyInitialization : IMpUnknown {
    // [the thread of the half's calls, before any other call but queryInterface] The object
    // queries the host's interfaces it needs, keeping one reference each until it is released;
    // host (the caller's) must outlive the object. The host's answer to its own query
    // (MP_RESULT_OK, or MP_RESULT_UNSUPPORTED when it lacks the interface).
    virtual int32_t setHost(IMpUnknown* host) = 0;
};

// The interface half as the host calls it. Slots: 3 initialize, 4 setPin, 5 notifyPin,
// 6 receiveMessageFromAudio, 7 onCreateContextMenu, 8 onContextMenu.
struct IMpUserInterface : IMpUnknown {
    // [GUI thread, once, after setHost and the initial setPin calls] MP_RESULT_OK.
    virtual int32_t initialize() = 0;
    // [GUI thread, after setHost] Stores a value from the host: size bytes at data (the host's,
    // valid during the call; voice is 0). MP_RESULT_OK, MP_RESULT_FAIL for an unknown pin.
    virtual int32_t setPin(int32_t pinId, int32_t voice, int32_t size, void* data) = 0;
    // [GUI thread, after setPin] Runs the pin's handler. MP_RESULT_OK, MP_RESULT_FAIL for an
    // unknown pin.
    virtual int32_t notifyPin(int32_t pinId, int32_t voice) = 0;
    // [GUI thread, after initialize] A message from the processing half; size bytes at data
    // (the caller's, valid during the call). MP_RESULT_OK.
    virtual int32_t receiveMessageFromAudio(int32_t id, int32_t size, void* data) = 0;
    // [GUI thread, after initialize] Context menu hooks; the bundle adds no items.
    // MP_RESULT_OK.
    virtual int32_t onCreateContextMenu() = 0;
    // [GUI thread, after initialize] A menu item was chosen; the bundle has none. MP_RESULT_OK.
    virtual int32_t onContextMenu(int32_t selection) = 0;
};

// The newer interface half. Slots: 3 setHost, 4 initialize, 5 setPin, 6 receiveMessageFromAudio,
// 7 populateContextMenu, 8 onContextMenu, 9 getToolTip.
// Each method keeps the contract of its IMpUserInterface namesake.
struct IMpUserInterface2 : IMpUnknown {
    // [GUI thread, once, first] Hands over the host (see IMpLegacyInitialization).
    virtual int32_t setHost(IMpUnknown* host) = 0;
    // [GUI thread, once, after setHost and the initial setPin calls] As IMpUserInterface::initialize.
    virtual int32_t initialize() = 0;
    // [GUI thread, after setHost] As IMpUserInterface::setPin.
    virtual int32_t setPin(int32_t pinId, int32_t voice, int32_t size, const void* data) = 0;
    // [GUI thread, after initialize] As IMpUserInterface::receiveMessageFromAudio.
    virtual int32_t receiveMessageFromAudio(int32_t id, int32_t size, const void* data) = 0;
    // [GUI thread, after initialize] menu is the host's, valid during the call; the bundle adds
    // no menu item: MP_RESULT_FAIL.
    virtual int32_t populateContextMenu(float x, float y, IMpUnknown* menu) = 0;
    // [GUI thread, after initialize] A menu item was chosen; the bundle has none: MP_RESULT_FAIL.
    virtual int32_t onContextMenu(int32_t selection) = 0;
    // [GUI thread, after initialize] text is the host's, valid during the call; the bundle has no
    // tool tip: MP_RESULT_FAIL.
    virtual int32_t getToolTip(float x, float y, IMpUnknown* text) = 0;
};

// Adds slot 10 notifyPin.
struct IMpUserInterface2B : IMpUserInterface2 {
    // [GUI thread, after setPin] As IMpUserInterface::notifyPin.
    virtual int32_t notifyPin(int32_t pinId, int32_t voice) = 0;
};

// The processing-side host (MpHost), positions 0 to 17. Positions 9 to 15 are reserved: no
// module calls them; a host fills them with anything callable. Each method is called by the
// processing half (inside open, process, receiveMessageFromGui or graph start) and answers
// MP_RESULT_OK unless it says otherwise. Data passed in is the module's and valid during the
// call: the host copies what it keeps.
struct IMpHost : IMpUnknown {
    // 3 [audio thread, from open on] A value or MIDI bytes leave the output pin at
    // that sample of the current block (0 <= blockPosition < count; outside process, 0).
    virtual int32_t sendPinValue(int32_t blockPosition, int32_t pinId, int32_t size, const void* data) = 0;
    // 4 [audio thread, from open on] Whether an audio output changes every sample from that
    // sample on.
    virtual int32_t sendPinStreaming(int32_t blockPosition, int32_t pinId, bool isStreaming) = 0;
    // 5 [audio thread, from open on] Nothing to compute until new events come; the host may skip
    // process until then.
    virtual int32_t requestSleep() = 0;
    // 6 [audio thread, from open on] Delivered to the interface half's receiveMessageFromAudio
    // on the GUI thread, later, never inside this call; the host copies the size bytes at data.
    virtual int32_t postMessageToGui(int32_t id, int32_t size, const void* data) = 0;
    // 7 [audio thread, from open on] The host's block length in samples, fixed from open on; the
    // processing base reads it once at open. MP_RESULT_FAIL for a null pointer.
    virtual int32_t queryBlockLength(int32_t* blockLength) = 0;
    // 8 [audio thread, from open on] The sample rate in Hz, as queryBlockLength.
    virtual int32_t querySampleRate(float* sampleRate) = 0;
    // 9-15 [never called] Reserved.
    virtual int32_t reserved9() = 0;
    virtual int32_t reserved10() = 0;
    virtual int32_t reserved11() = 0;
    virtual int32_t reserved12() = 0;
    virtual int32_t reserved13() = 0;
    virtual int32_t reserved14() = 0;
    virtual int32_t reserved15() = 0;
    // 16 [audio thread, from open on] A block of at least size bytes shared by every instance
    // opening the name; *needsInit is 1 for the one instance that must initialise it.
    // retainSeconds is always -1. The memory is the host's, zeroed at creation, aligned for
    // floats, and stays valid and in place until the host has released every module (any opener
    // may read and write it, without a lock). MP_RESULT_FAIL, *block null, when it cannot be
    // given (a null argument, a size larger than the block already made under the name).
    virtual int32_t openSharedBlock(const wchar_t* name, void** block, int32_t size, int32_t* needsInit, float retainSeconds) = 0;
    // 17 [audio thread, from open on] The full path of a file name, terminated, within maxChars
    // characters of the caller's buffer. MP_RESULT_FAIL when it does not fit or an argument is
    // null.
    virtual int32_t expandFileName(const wchar_t* shortName, int32_t maxChars, wchar_t* fullName) = 0;
};

// Asked for by the processing half beside IMpHost and never called.
struct IMpProcessorHost : IMpUnknown {};

// The interface-side host (MpUserInterfaceHost), positions 0 to 12. Positions 5 to 9 and 11 are
// reserved. Each method answers MP_RESULT_OK unless it says otherwise; data passed in is the
// module's and valid during the call.
struct IMpUserInterfaceHost : IMpUnknown {
    // 3 [GUI thread, after setHost] The value reaches the pins wired to this interface pin (other
    // interface pins: setPin and notifyPin after this call returns). voice is always 0.
    virtual int32_t transmitPin(int32_t pinId, int32_t size, const void* data, int32_t voice) = 0;
    // 4 [GUI thread, after setHost] Delivered to the processing half's receiveMessageFromGui on
    // the audio thread, later, between process calls; the host copies the size bytes at data.
    virtual int32_t postMessageToAudio(int32_t id, int32_t size, const void* data) = 0;
    // 5-9 [never called] Reserved.
    virtual int32_t reserved5() = 0;
    virtual int32_t reserved6() = 0;
    virtual int32_t reserved7() = 0;
    virtual int32_t reserved8() = 0;
    virtual int32_t reserved9() = 0;
    // 10 [GUI thread, after setHost] As IMpHost::expandFileName.
    virtual int32_t expandFileName(const wchar_t* shortName, int32_t maxChars, wchar_t* fullName) = 0;
    // 11 [never called] Reserved.
    virtual int32_t reserved11() = 0;
    // 12 [GUI thread, after setHost] The number of pins of this instance, pin 0 included.
    // MP_RESULT_FAIL for null.
    virtual int32_t queryPinCount(int32_t* count) = 0;
};

// The host of the newer interface half. Slots: 3 transmitPin, 4 postMessageToAudio.
struct IMpUserInterfaceHost2 : IMpUnknown {
    // 3 [GUI thread, after setHost] As IMpUserInterfaceHost::transmitPin.
    virtual int32_t transmitPin(int32_t pinId, int32_t size, const void* data, int32_t voice) = 0;
    // 4 [GUI thread, after setHost] As IMpUserInterfaceHost::postMessageToAudio.
    virtual int32_t postMessageToAudio(int32_t id, int32_t size, const void* data) = 0;
};

} // namespace mpapi

// Hand-over of the host to an object whose tables predate IMpLegacyInitialization. Slot 0 setHost,
// with the contract of IMpLegacyInitialization::setHost.
struct IoldSchoolInitialisation {
    // [the thread of the half's calls, first] As IMpLegacyInitialization::setHost.
    virtual int32_t setHost(mpapi::IMpUnknown* host) = 0;
};

// The bundle's one exported entry the host needs. [any thread, after loading] Stores the factory
// as its IMpUnknown (query IMpFactory or IMpFactory2 from it; valid until the bundle is unloaded)
// in *factory and returns MP_RESULT_OK; MP_RESULT_FAIL for null.
extern "C" int32_t MP_GetFactory(void** factory);
