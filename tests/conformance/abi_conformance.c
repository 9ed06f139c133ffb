/* Loads the built bundle the way a host written in C would and drives it through raw table slots
 * only: the factory, a processing half and an interface half, with host tables laid out slot for
 * slot. If a slot moves in the C++ code, this program fails. */
#include <dlfcn.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

typedef struct { uint32_t data1; uint16_t data2, data3; unsigned char data4[8]; } MpGuid;

typedef struct MpEvent {
    int32_t timeDelta, eventType, parm1, parm2, parm3, parm4;
    char* extraData;
    struct MpEvent* next;
} MpEvent;

static const MpGuid IID_UNKNOWN = {0x00000000, 0x0000, 0xC000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const MpGuid IID_FACTORY2 = {0x91C3D2EE, 0xC701, 0x4F35, {0x91, 0xA6, 0x09, 0x4D, 0xC7, 0xE0, 0x59, 0x76}};
static const MpGuid IID_HOST = {0x4F1B532F, 0x3C46, 0x4927, {0xA4, 0x98, 0x61, 0x48, 0x67, 0x42, 0x5B, 0xE7}};
static const MpGuid IID_PROCESSOR_HOST = {0x87CCD426, 0x71D7, 0x414E, {0xA9, 0xA6, 0x5A, 0xDC, 0xA8, 0x1C, 0x74, 0x20}};
static const MpGuid IID_UI_HOST = {0x174F9DDC, 0x1850, 0x40DB, {0xBA, 0xF0, 0xE0, 0xB4, 0x1D, 0x07, 0x96, 0x45}};

/* Every COM object starts with a pointer to its table of function pointers. */
typedef void* Slot;
typedef struct { Slot* table; } Object;

#define CALL(obj, slot, type, ...) ((type)(((Object*)(obj))->table[slot]))((obj), __VA_ARGS__)
#define CALL0(obj, slot, type) ((type)(((Object*)(obj))->table[slot]))((obj))

typedef int32_t (*QueryFn)(void*, const MpGuid*, void**);
typedef int32_t (*CountFn)(void*);
typedef int32_t (*CreateFn)(void*, const wchar_t*, int32_t, void*, void**);
typedef int32_t (*SdkInfoFn)(void*, int32_t*, int32_t, wchar_t*);
typedef int32_t (*Create2Fn)(void*, const wchar_t*, int32_t, void**);
typedef int32_t (*OpenFn)(void*);
typedef int32_t (*SetBufferFn)(void*, int32_t, float*);
typedef void (*ProcessFn)(void*, int32_t, MpEvent*);
typedef int32_t (*InitializeFn)(void*);
typedef int32_t (*SetPinFn)(void*, int32_t, int32_t, int32_t, void*);
typedef int32_t (*NotifyPinFn)(void*, int32_t, int32_t);

static int failures = 0;
#define CHECK(cond)                                                           \
    do {                                                                      \
        if (!(cond)) {                                                        \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                       \
        }                                                                     \
    } while (0)

/* --- The host, in C: one object answering both host interfaces' identifiers ---------------- */

typedef struct {
    Slot* table;
    int32_t refs;
    bool refuseUiHost;
    int32_t pinCount;
    int32_t streamingCalls, lastStreamingPin, lastStreamingPosition;
    bool lastStreaming;
    int32_t transmits, transmittedPins[8], transmittedValues[8];
    int32_t unusedSlotCalls;
} CHost;

static bool sameGuid(const MpGuid* a, const MpGuid* b) { return memcmp(a, b, sizeof *a) == 0; }

static int32_t hostQuery(void* self, const MpGuid* iid, void** out)
{
    CHost* h = self;
    *out = NULL;
    if (sameGuid(iid, &IID_UNKNOWN) || sameGuid(iid, &IID_HOST) || sameGuid(iid, &IID_PROCESSOR_HOST) || (sameGuid(iid, &IID_UI_HOST) && !h->refuseUiHost)) {
        *out = h;
        ++h->refs;
        return 0;
    }
    return -2;
}
static int32_t hostAddRef(void* self) { return ++((CHost*)self)->refs; }
static int32_t hostRelease(void* self) { return --((CHost*)self)->refs; }
static int32_t hostSendPinValue(void* self, int32_t pos, int32_t pin, int32_t size, const void* data)
{
    (void)self, (void)pos, (void)pin, (void)size, (void)data;
    return 0;
}
static int32_t hostSendPinStreaming(void* self, int32_t pos, int32_t pin, bool streaming)
{
    CHost* h = self;
    ++h->streamingCalls;
    h->lastStreamingPin = pin;
    h->lastStreamingPosition = pos;
    h->lastStreaming = streaming;
    return 0;
}
static int32_t hostQueryBlockLength(void* self, int32_t* length) { (void)self; *length = 64; return 0; }
static int32_t hostQuerySampleRate(void* self, float* rate) { (void)self; *rate = 48000.0f; return 0; }
static int32_t hostUnused(void* self) { ++((CHost*)self)->unusedSlotCalls; return -1; }
static int32_t hostTransmitPin(void* self, int32_t pin, int32_t size, const void* data, int32_t voice)
{
    CHost* h = self;
    (void)voice;
    if (h->transmits < 8 && size == 4) {
        h->transmittedPins[h->transmits] = pin;
        memcpy(&h->transmittedValues[h->transmits], data, 4);
    }
    ++h->transmits;
    return 0;
}
static int32_t hostQueryPinCount(void* self, int32_t* count) { *count = ((CHost*)self)->pinCount; return 0; }

/* Processing-side table: positions 0-17. */
static Slot dspHostTable[18];
/* Interface-side table: positions 0-12. */
static Slot uiHostTable[13];

static void buildHostTables(void)
{
    for (int i = 0; i < 18; ++i) dspHostTable[i] = (Slot)hostUnused;
    for (int i = 0; i < 13; ++i) uiHostTable[i] = (Slot)hostUnused;
    Slot* tables[2] = {dspHostTable, uiHostTable};
    for (int t = 0; t < 2; ++t) {
        tables[t][0] = (Slot)hostQuery;
        tables[t][1] = (Slot)hostAddRef;
        tables[t][2] = (Slot)hostRelease;
    }
    dspHostTable[3] = (Slot)hostSendPinValue;
    dspHostTable[4] = (Slot)hostSendPinStreaming;
    dspHostTable[7] = (Slot)hostQueryBlockLength;
    dspHostTable[8] = (Slot)hostQuerySampleRate;
    uiHostTable[3] = (Slot)hostTransmitPin;
    uiHostTable[12] = (Slot)hostQueryPinCount;
}

/* --- The checks ------------------------------------------------------------------------- */

static void checkFactory(void* factory)
{
    void* same = NULL;
    CHECK(CALL(factory, 0, QueryFn, &IID_FACTORY2, &same) == 0 && same == factory);
    CHECK(CALL0(factory, 1, CountFn) == 1);
    CHECK(CALL0(factory, 2, CountFn) == 1);

    int32_t version = 0;
    wchar_t text[40];
    CHECK(CALL(factory, 4, SdkInfoFn, &version, 40, text) == 0);
    CHECK(version == 30800);
    CHECK(wcscmp(text, L"GCC Compiler V1002 (Release)") == 0);
    CHECK(CALL(factory, 4, SdkInfoFn, &version, 10, text) == 0 && wcscmp(text, L"GCC Compi") == 0);

    void* object = (void*)1;
    CHECK(CALL(factory, 5, Create2Fn, L"QV_Pow2x", 2, &object) == -2 && object == NULL);
    CHECK(CALL(factory, 5, Create2Fn, L"qv_pow2x", 0, &object) == -2 && object == NULL);
    CHECK(CALL(factory, 5, Create2Fn, L"QV_Pow2x", 0, &object) == 0 && object != NULL);
    if (object)
        CHECK(CALL0(object, 2, CountFn) == 0);
}

static void checkProcessingHalf(void* factory, CHost* host)
{
    void* dsp = NULL;
    CHECK(CALL(factory, 3, CreateFn, L"QV_Pow2x", 0, host, &dsp) == 0 && dsp != NULL);
    if (!dsp)
        return;
    CHECK(host->refs == 2); /* MpHost and the processor host, each asked once */

    float in[64], out[64];
    for (int i = 0; i < 64; ++i) { in[i] = 0.5f; out[i] = 0.0f; }
    CHECK(CALL0(dsp, 3, OpenFn) == 0);
    CHECK(CALL(dsp, 4, SetBufferFn, 0, in) == 0);
    CHECK(CALL(dsp, 4, SetBufferFn, 1, out) == 0);
    CHECK(CALL(dsp, 4, SetBufferFn, 7, out) == -1);

    /* Streaming start of the input and graph start at sample 0. */
    MpEvent graphStart = {0, 104, 0, 0, 0, 0, NULL, NULL};
    MpEvent streamingStart = {0, 101, 0, 0, 0, 0, NULL, &graphStart};
    CALL(dsp, 5, ProcessFn, 64, &streamingStart);
    CHECK(out[0] == 2.5f && out[63] == 2.5f); /* (0.5 x 10 V)^2 / 10 */
    CHECK(host->streamingCalls >= 1 && host->lastStreamingPin == 1 && host->lastStreaming);

    CHECK(CALL0(dsp, 1, CountFn) == 2);
    CHECK(CALL0(dsp, 2, CountFn) == 1);
    CHECK(CALL0(dsp, 2, CountFn) == 0);
    CHECK(host->refs == 0); /* every host reference given back */
}

static void checkInterfaceHalf(void* factory, CHost* host)
{
    void* gui = NULL;
    host->pinCount = 5;
    CHECK(CALL(factory, 3, CreateFn, L"QV_BoolSplitter", 1, host, &gui) == 0 && gui != NULL);
    if (!gui)
        return;
    CHECK(CALL0(gui, 3, InitializeFn) == 0);
    unsigned char on = 1;
    CHECK(CALL(gui, 4, SetPinFn, 0, 0, 1, &on) == 0);
    CHECK(host->transmits == 0); /* storing a value sends nothing */
    CHECK(CALL(gui, 5, NotifyPinFn, 0, 0) == 0);
    CHECK(host->transmits == 4);
    for (int i = 0; i < 4 && i < host->transmits; ++i)
        CHECK(host->transmittedPins[i] == i + 1 && host->transmittedValues[i] == 1);
    CHECK(CALL(gui, 5, NotifyPinFn, 9, 0) == -1);
    CHECK(CALL0(gui, 2, CountFn) == 0);
    CHECK(host->refs == 0);

    /* A host without the interface-side host: creation fails cleanly. */
    host->refuseUiHost = true;
    gui = (void*)1;
    CHECK(CALL(factory, 3, CreateFn, L"QV_BoolSplitter", 1, host, &gui) == -1 && gui == NULL);
    CHECK(host->refs == 0);
}

int main(int argc, char** argv)
{
    const char* path = argc > 1 ? argv[1] : TAVRIN_BUNDLE_PATH;
    void* bundle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!bundle) {
        fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        return 1;
    }
    typedef int32_t (*GetFactoryFn)(void**);
    GetFactoryFn getFactory = (GetFactoryFn)dlsym(bundle, "MP_GetFactory");
    CHECK(getFactory != NULL);
    CHECK(dlsym(bundle, "RegisterPlugin") != NULL);
    CHECK(dlsym(bundle, "RegisterPluginXml") != NULL);
    CHECK(dlsym(bundle, "Factory") != NULL);
    CHECK(dlsym(bundle, "_ZN9MpFactory14RegisterPluginEPKwiPFPN5mpapi10IMpUnknownEvE") == NULL);
    if (!getFactory)
        return 1;

    void* factory = NULL;
    CHECK(getFactory(&factory) == 0 && factory != NULL);
    buildHostTables();
    CHost dspHost = {dspHostTable, 0, false, 0, 0, 0, 0, false, 0, {0}, {0}, 0};
    CHost uiHost = {uiHostTable, 0, false, 0, 0, 0, 0, false, 0, {0}, {0}, 0};
    checkFactory(factory);
    checkProcessingHalf(factory, &dspHost);
    checkInterfaceHalf(factory, &uiHost);
    CHECK(dspHost.unusedSlotCalls == 0 && uiHost.unusedSlotCalls == 0);

    dlclose(bundle);
    if (failures)
        fprintf(stderr, "%d check(s) failed\n", failures);
    else
        printf("ABI conformance: all checks passed\n");
    return failures ? 1 : 0;
}
