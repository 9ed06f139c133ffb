// The framework driven directly, as a host's tables would: interface lookup and references, host
// hand-over, event groups and pieces, pin event passes, sleep countdown and sub-process switching,
// interface pin change rules, and the factory's results for every kind of create function.
#include "MpFactory.h"
#include "MpInterface.h"
#include "MpProcessing.h"
#include "RecordingHosts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testsupport::Events;
using testsupport::floatBits;
using testsupport::HostCall;
using testsupport::RecordingHost;
using testsupport::RecordingUiHost;

// --- Processing modules -------------------------------------------------------------------------

struct Piece {
    int offset;
    int frames;
    int blockPos;
    bool operator==(const Piece&) const = default;
};

struct Midi {
    int pin;
    const unsigned char* bytes;
    int size;
};

int destroyedModules = 0;

enum DirectPin { kIn, kAudioIn, kAudioOut, kMidiIn, kMidiOut, kOut, kInt, kUnregistered = 42 };

class DirectModule : public MpBase {
public:
    DirectModule()
    {
        initializePin(kIn, in, &DirectModule::onIn);
        initializePin(kAudioIn, audioIn);
        initializePin(kAudioOut, audioOut);
        initializePin(kMidiIn, midiIn);
        initializePin(kMidiOut, midiOut);
        initializePin(kOut, out);
        initializePin(kInt, integer);
        initializePin(kIn, shadow);  // a taken index: the first pin stays in the map
    }
    ~DirectModule() override { ++destroyedModules; }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&DirectModule::subProcess);
        return 0;
    }
    void onIn(const mpapi::MpEvent*)
    {
        if (sendMidiOnValue) {
            const unsigned char noteOn[3] = {0x90, 60, 100};
            midiOut.send(noteOn, 3);
            midiOut.send(noteOn, 3);
        }
    }
    void onSetPins() override
    {
        setPinsAt.push_back(blockPos);
        audioInUpdated.push_back(audioIn.isUpdated);
    }
    void onMidiMessage(int pin, unsigned char* bytes, int size) override { midi.push_back({pin, bytes, size}); }
    void OnPinStreamingChange(bool isStreaming) override
    {
        streamingChanges.push_back(isStreaming);
        MpBase::OnPinStreamingChange(isStreaming);
    }
    void subProcess(int offset, int frames) { pieces.push_back({offset, frames, blockPos}); }
    void other(int offset, int frames) { others.push_back({offset, frames, blockPos}); }

    bool current(void (DirectModule::*p)(int, int)) const { return curSubProcess == static_cast<SubProcess>(p); }
    bool saved(void (DirectModule::*p)(int, int)) const { return savedSubProcess == static_cast<SubProcess>(p); }

    FloatInPin in;
    AudioInPin audioIn;
    AudioOutPin audioOut;
    MidiInPin midiIn;
    MidiOutPin midiOut;
    FloatOutPin out;
    IntInPin integer;
    FloatInPin shadow;

    bool sendMidiOnValue = false;
    std::vector<Piece> pieces;
    std::vector<Piece> others;
    std::vector<int> setPinsAt;
    std::vector<bool> audioInUpdated;
    std::vector<bool> streamingChanges;
    std::vector<Midi> midi;
};

// Overrides no message entry.
class SilentModule : public MpBase {};

// Frame-count sub-processes.
class FrameCountModule : public MpBase2 {
public:
    FrameCountModule() { initializePin(0, in); }
    int32_t open() noexcept override
    {
        MpBase2::open();
        setSubProcess(&FrameCountModule::subProcess);
        return 0;
    }
    void onSetPins() override { setPinsAt.push_back(blockPos); }
    void subProcess(int frames) { pieces.push_back({blockPos, frames, blockPos}); }

    FloatInPin in;
    std::vector<Piece> pieces;
    std::vector<int> setPinsAt;
};

// A processing module with its host handed over and opened, released at the end of the test.
class DirectProcessing : public ::testing::Test {
protected:
    void SetUp() override
    {
        module->setHost(host.unknown());
        module->open();
    }
    void TearDown() override
    {
        if (module)
            module->release();
        EXPECT_EQ(host.refs, 0);
    }

    RecordingHost host;
    DirectModule* module = new DirectModule();
};

TEST_F(DirectProcessing, InterfacesReferencesAndBuffers)
{
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(module->queryInterface(mpapi::MP_IID_UNKNOWN, &object), 0);
    EXPECT_EQ(object, static_cast<mpapi::IMpPlugin*>(module));
    EXPECT_EQ(module->queryInterface(mpapi::MP_IID_PLUGIN, &object), 0);
    EXPECT_EQ(object, static_cast<mpapi::IMpPlugin*>(module));
    EXPECT_EQ(module->queryInterface(mpapi::MP_IID_PLUGIN2, &object), 0);
    EXPECT_EQ(object, static_cast<mpapi::IMpPlugin2*>(module));
    EXPECT_EQ(module->queryInterface(mpapi::MP_IID_LEGACY_INITIALIZATION, &object), 0);
    EXPECT_EQ(object, static_cast<mpapi::IMpLegacyInitialization*>(module));
    EXPECT_EQ(module->refCount, 5);  // each match took a reference
    EXPECT_EQ(module->queryInterface(mpapi::MP_IID_GUI_PLUGIN, &object), mpapi::MP_RESULT_UNSUPPORTED);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(module->refCount, 5);

    // Every table reaches the one count.
    auto* plugin2 = static_cast<mpapi::IMpPlugin2*>(module);
    EXPECT_EQ(plugin2->addRef(), 6);
    for (int expected = 5; expected >= 1; --expected)
        EXPECT_EQ(static_cast<mpapi::IMpLegacyInitialization*>(module)->release(), expected);

    float buffer[64] = {};
    EXPECT_EQ(module->setBuffer(kUnregistered, buffer), mpapi::MP_RESULT_FAIL);
    EXPECT_EQ(module->setBuffer(kAudioIn, buffer), 0);
    EXPECT_EQ(module->audioIn.getBuffer(), buffer);
    EXPECT_EQ(module->setBuffer(kIn, buffer), 0);  // control pins ignore a buffer

    // The last release deletes the object.
    const int before = destroyedModules;
    EXPECT_EQ(module->release(), 0);
    module = nullptr;
    EXPECT_EQ(destroyedModules, before + 1);
}

// setHost asks for the processor host first, then for the host, and answers with the second.
TEST_F(DirectProcessing, HostHandOverAsksProcessorHostThenHost)
{
    ASSERT_EQ(host.asked.size(), 2u);
    EXPECT_TRUE(host.asked[0] == mpapi::MP_IID_PROCESSOR_HOST);
    EXPECT_TRUE(host.asked[1] == mpapi::MP_IID_HOST);
    EXPECT_EQ(host.refs, 2);

    RecordingHost refusing;
    refusing.refuseHost = true;
    EXPECT_EQ(module->setHost(refusing.unknown()), mpapi::MP_RESULT_UNSUPPORTED);
    EXPECT_EQ(module->host, nullptr);
    EXPECT_EQ(host.refs, 0);  // the first pair was given back
    module->release();
    module = nullptr;
    EXPECT_EQ(refusing.refs, 0);
}

// Every time stamp cuts the block, whatever its events; onSetPins follows stamps that carried a
// pin value or streaming event, also for a pin no module registered.
TEST_F(DirectProcessing, EveryTimeStampCutsTheBlockAndStreamingStampsCallOnSetPins)
{
    module->setSleep(false);
    Events events;
    events.add(5, 99, kIn)
        .add(10, mpapi::MP_EVENT_STREAMING_START, kUnregistered)
        .add(20, mpapi::MP_EVENT_GRAPH_START, 0)
        .add(30, mpapi::MP_EVENT_PIN_VALUE, kUnregistered, 4);
    module->process(64, events.head());
    EXPECT_EQ(module->pieces, (std::vector<Piece>{{0, 5, 0}, {5, 5, 5}, {10, 10, 10}, {20, 10, 20}, {30, 34, 30}}));
    EXPECT_EQ(module->setPinsAt, (std::vector<int>{10, 30}));
}

// MIDI reaches onMidiMessage pointing at the event's own bytes; sends default to the stamp.
TEST_F(DirectProcessing, MidiReachesTheModuleInPlaceAndSendsAtTheStamp)
{
    module->setSleep(false);
    char sysex[5] = {char(0xF0), 0x7E, 0x01, 0x02, char(0xF7)};
    Events events;
    events.add(3, mpapi::MP_EVENT_MIDI, kMidiIn, 3, 0x7F3C90).add(3, mpapi::MP_EVENT_MIDI, kMidiIn, 5, 0, sysex);
    events.add(17, mpapi::MP_EVENT_PIN_VALUE, kIn, 4, floatBits(1.0f));
    module->sendMidiOnValue = true;
    module->process(64, events.head());

    ASSERT_EQ(module->midi.size(), 2u);
    EXPECT_EQ(module->midi[0].bytes, reinterpret_cast<const unsigned char*>(&events[0].parm3));
    EXPECT_EQ(module->midi[0].size, 3);
    EXPECT_EQ(module->midi[1].bytes, reinterpret_cast<const unsigned char*>(sysex));
    EXPECT_EQ(module->midi[1].size, 5);
    EXPECT_EQ(module->setPinsAt, std::vector<int>{17});  // the MIDI-only stamp calls none

    const auto sent = host.of(HostCall::Value);
    ASSERT_EQ(sent.size(), 2u);  // the same bytes twice are sent twice
    for (const HostCall& call : sent) {
        EXPECT_EQ(call.pin, kMidiOut);
        EXPECT_EQ(call.position, 17);
        EXPECT_EQ(call.data, (std::vector<unsigned char>{0x90, 60, 100}));
    }
}

// Graph start: every output, in ascending pin order, sends its first update; inputs send nothing.
TEST_F(DirectProcessing, GraphStartSendsOutputsInPinOrder)
{
    Events events;
    events.add(9, mpapi::MP_EVENT_GRAPH_START, 0);
    module->process(64, events.head());
    ASSERT_EQ(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[0].kind, HostCall::Streaming);
    EXPECT_EQ(host.calls[0].pin, kAudioOut);
    EXPECT_EQ(host.calls[0].position, 9);
    EXPECT_EQ(host.calls[0].data, std::vector<unsigned char>{1});
    EXPECT_EQ(host.calls[1].kind, HostCall::Value);
    EXPECT_EQ(host.calls[1].pin, kOut);
    EXPECT_EQ(host.calls[1].data, (std::vector<unsigned char>{0, 0, 0, 0}));
    // Before it the countdown computed the piece that the event followed; the output's start then
    // made the module's own sub-process current.
    EXPECT_TRUE(module->current(&DirectModule::subProcess));
    EXPECT_EQ(module->pieces, (std::vector<Piece>{{0, 9, 0}, {9, 55, 9}}));
}

// A stop on an input that does not stream changes no count but keeps the module awake for at
// least one sample; the input's flag tells onSetPins and is cleared after its stamp.
TEST_F(DirectProcessing, AudioInputStopWithoutStreamingRaisesTheSleepCount)
{
    Events stop;
    stop.add(0, mpapi::MP_EVENT_STREAMING_STOP, kAudioIn);
    module->process(64, stop.head());
    EXPECT_TRUE(module->streamingChanges.empty());
    EXPECT_EQ(module->audioInUpdated, std::vector<bool>{true});
    EXPECT_FALSE(module->audioIn.isUpdated);
    EXPECT_EQ(module->streamingPins, 0);
    EXPECT_EQ(module->pieces, (std::vector<Piece>{{0, 1, 0}}));  // the one sample, then sleep
    EXPECT_EQ(host.of(HostCall::Sleep).size(), 1u);

    module->sleepCount = 30;
    Events again;
    again.add(0, mpapi::MP_EVENT_STREAMING_STOP, kAudioIn);
    module->pieces.clear();
    module->process(64, again.head());
    EXPECT_EQ(module->pieces, (std::vector<Piece>{{0, 30, 0}}));  // raised to at least 1, not lowered
}

// Going static twice: two streaming calls, the count reloaded both times, one count change.
TEST_F(DirectProcessing, OutputGoingStaticTwiceReloadsTheCountBothTimes)
{
    module->audioOut.setStreaming(true, 2);
    module->streamingChanges.clear();
    host.calls.clear();
    module->audioOut.setStreaming(false, 4);
    module->sleepCount = 5;
    module->audioOut.setStreaming(false);
    EXPECT_EQ(module->sleepCount, 64);
    EXPECT_EQ(module->streamingChanges, std::vector<bool>{false});
    const auto streaming = host.of(HostCall::Streaming);
    ASSERT_EQ(streaming.size(), 2u);
    EXPECT_EQ(streaming[0].position, 4);
    EXPECT_EQ(streaming[1].position, 0);  // blockPos by default
    EXPECT_EQ(streaming[1].data, std::vector<unsigned char>{0});
}

// A sub-process chosen while the countdown runs waits for the hand-over; a streaming start on an
// input then makes it current.
TEST_F(DirectProcessing, SubProcessChosenDuringCountdownWaitsForTheHandOver)
{
    EXPECT_TRUE(module->current(&MpBase::subProcessPreSleep));
    EXPECT_TRUE(module->saved(&DirectModule::subProcess));
    module->setSubProcess(&DirectModule::other);
    EXPECT_TRUE(module->current(&MpBase::subProcessPreSleep));
    EXPECT_TRUE(module->saved(&DirectModule::other));

    Events start;
    start.add(8, mpapi::MP_EVENT_STREAMING_START, kAudioIn);
    module->process(64, start.head());
    EXPECT_TRUE(module->current(&DirectModule::other));
    // Before the start the countdown ran the chosen one for the piece events followed.
    EXPECT_EQ(module->others, (std::vector<Piece>{{0, 8, 0}, {8, 56, 8}}));
    EXPECT_TRUE(module->pieces.empty());

    // With a sub-process current, setSubProcess makes the new one current at once.
    module->setSubProcess(&DirectModule::subProcess);
    EXPECT_TRUE(module->current(&DirectModule::subProcess));
}

// The countdown computes what it owes, then whole pieces that more events follow, and asks to
// sleep in the last piece without computing it.
TEST_F(DirectProcessing, CountdownComputesPiecesThatEventsFollowThenSleeps)
{
    module->sleepCount = 10;
    Events events;
    events.add(30, mpapi::MP_EVENT_PIN_VALUE, kIn, 4, floatBits(0.5f));
    module->process(64, events.head());
    EXPECT_EQ(module->pieces, (std::vector<Piece>{{0, 10, 0}, {10, 20, 0}}));
    EXPECT_EQ(host.of(HostCall::Sleep).size(), 1u);
    EXPECT_EQ(module->sleepCount, 0);
}

// An event stamped at the block end is never handled, and the block is computed in full first,
// also by a module whose countdown has run out.
TEST_F(DirectProcessing, EventAtTheBlockEndLetsTheBlockBeComputedInFull)
{
    Events events;
    events.add(64, mpapi::MP_EVENT_PIN_VALUE, kIn, 4, floatBits(0.5f));
    module->process(64, events.head());
    EXPECT_EQ(module->pieces, (std::vector<Piece>{{0, 64, 0}}));
    EXPECT_TRUE(host.of(HostCall::Sleep).empty());
    EXPECT_EQ(module->in.value, 0.0f);
}

// setSleep(true) counts down even while an output streams; setSleep(false) hands over at the
// next run and never asks to sleep.
TEST_F(DirectProcessing, SleepSwitchesDecideTheCountdown)
{
    Events start;
    start.add(0, mpapi::MP_EVENT_GRAPH_START, 0);
    module->process(64, start.head());
    ASSERT_TRUE(module->current(&DirectModule::subProcess));

    module->setSleep(true);
    EXPECT_EQ(module->canSleep, 1);
    EXPECT_TRUE(module->current(&MpBase::subProcessPreSleep));
    module->pieces.clear();
    module->process(64, nullptr);
    EXPECT_TRUE(module->pieces.empty());
    EXPECT_EQ(host.of(HostCall::Sleep).size(), 1u);

    module->setSleep(false);
    EXPECT_EQ(module->canSleep, 0);
    EXPECT_TRUE(module->current(&MpBase::subProcessPreSleep));
    module->process(64, nullptr);
    EXPECT_TRUE(module->current(&DirectModule::subProcess));
    EXPECT_EQ(module->pieces, (std::vector<Piece>{{0, 64, 0}}));
    EXPECT_EQ(host.of(HostCall::Sleep).size(), 1u);
}

// The second pin under a taken index carries the index, owner and handler but gets nothing.
TEST_F(DirectProcessing, SecondPinUnderATakenIndexIsNotRouted)
{
    EXPECT_EQ(module->shadow.id, kIn);
    EXPECT_EQ(module->shadow.plugin, module);
    EXPECT_EQ(module->getPin(kIn), &module->in);
    Events events;
    events.add(0, mpapi::MP_EVENT_PIN_VALUE, kIn, 4, floatBits(0.75f));
    module->process(64, events.head());
    EXPECT_EQ(module->in.value, 0.75f);
    EXPECT_EQ(module->shadow.value, 0.0f);
}

// Numeric pins take at most 4 bytes; a shorter size overwrites only the leading bytes.
TEST_F(DirectProcessing, ControlValuesTakeTheLeadingBytes)
{
    char eight[8] = {0x44, 0x33, 0x22, 0x11, 0x55, 0x66, 0x77, char(0x88)};
    Events first;
    first.add(0, mpapi::MP_EVENT_PIN_VALUE, kInt, 8, 0, eight);
    module->process(64, first.head());
    EXPECT_EQ(module->integer.value, 0x11223344);

    Events shorter;
    shorter.add(0, mpapi::MP_EVENT_PIN_VALUE, kInt, 2, 0xBBAA);
    module->process(64, shorter.head());
    EXPECT_EQ(module->integer.value, 0x1122BBAA);

    const unsigned char low[1] = {0x01};
    module->integer.setValueRaw(1ul, low);
    EXPECT_EQ(module->integer.value, 0x1122BB01);
}

// With neither message overload overridden every message answers 0 and nothing recurses.
TEST(DirectProcessingMessages, DefaultMessageEntriesAnswerZero)
{
    auto* module = new SilentModule();
    EXPECT_EQ(static_cast<mpapi::IMpPlugin*>(module)->receiveMessageFromGui(1, 0, nullptr), 0);
    EXPECT_EQ(static_cast<mpapi::IMpPlugin2*>(module)->receiveMessageFromGui(1, 0, nullptr), 0);
    EXPECT_FALSE(module->inMessage);
    module->release();
}

// Frame-count sub-processes: the countdown advances blockPos over each piece it runs.
TEST(DirectProcessingFrameCount, CountdownAdvancesBlockPosOverItsPieces)
{
    RecordingHost host;
    auto* module = new FrameCountModule();
    module->setHost(host.unknown());
    module->open();
    module->sleepCount = 10;
    Events events;
    events.add(30, mpapi::MP_EVENT_PIN_VALUE, 0, 4, floatBits(1.0f));
    module->process(64, events.head());
    EXPECT_EQ(module->pieces, (std::vector<Piece>{{0, 10, 0}, {10, 20, 10}}));
    EXPECT_EQ(module->setPinsAt, std::vector<int>{30});
    EXPECT_EQ(host.of(HostCall::Sleep).size(), 1u);
    module->release();
    EXPECT_EQ(host.refs, 0);
}

// An audio input reads as updated until the end of its first streaming event's stamp.
TEST(DirectProcessingPins, AudioInputStartsUpdated)
{
    AudioInPin input;
    EXPECT_TRUE(input.isUpdated);
}

// --- Interface modules --------------------------------------------------------------------------

int destroyedGuis = 0;

class DirectGui : public MpGuiBase {
public:
    DirectGui()
    {
        refCount = 1;
        initializePin(0, number, &DirectGui::onNumber);
        initializePin(1, text);
        initializePin(2, flag);
        initializePin(3, integer);
        initializePin(4, plain);
        initializePin(3, shadow);  // a taken index
    }
    ~DirectGui() override { ++destroyedGuis; }
    void onNumber() { ++notified; }

    MpGuiPin<float> number;
    StringGuiPin text;
    MpGuiPin<bool> flag;
    MpGuiPin<int32_t> integer;
    MpGuiPin<std::wstring> plain;
    MpGuiPin<int32_t> shadow;
    int notified = 0;
};

class DirectInterface : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (gui)
            gui->release();
        EXPECT_EQ(host.refs, 0);
    }

    RecordingUiHost host;
    DirectGui* gui = new DirectGui();
};

TEST_F(DirectInterface, InterfacesAndTheModulesOwnCount)
{
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(gui->queryInterface(mpapi::MP_IID_GUI_PLUGIN, &object), 0);
    EXPECT_EQ(object, static_cast<mpapi::IMpUserInterface*>(gui));
    EXPECT_EQ(gui->queryInterface(mpapi::MP_IID_UNKNOWN, &object), 0);
    EXPECT_EQ(object, static_cast<mpapi::IMpUserInterface*>(gui));
    EXPECT_EQ(gui->queryInterface(mpapi::MP_IID_LEGACY_INITIALIZATION, &object), 0);
    EXPECT_EQ(object, static_cast<mpapi::IMpLegacyInitialization*>(gui));
    EXPECT_EQ(gui->queryInterface(mpapi::MP_IID_GUI_PLUGIN2, &object), mpapi::MP_RESULT_UNSUPPORTED);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(gui->refCount, 4);
    EXPECT_EQ(gui->baseRefCount, 1);  // the base's own count is never consulted
    EXPECT_EQ(static_cast<mpapi::IMpLegacyInitialization*>(gui)->release(), 3);
    EXPECT_EQ(gui->onCreateContextMenu(), 0);
    EXPECT_EQ(gui->onContextMenu(2), 0);
    EXPECT_EQ(gui->initialize(), 0);
    EXPECT_EQ(gui->receiveMessageFromAudio(1, 0, nullptr), 0);

    const int before = destroyedGuis;
    for (int expected = 2; expected >= 0; --expected)
        EXPECT_EQ(gui->release(), expected);
    gui = nullptr;
    EXPECT_EQ(destroyedGuis, before + 1);
}

// Without an interface host the hand-over refuses; a second hand-over gives the first host back
// and destruction gives back the last.
TEST_F(DirectInterface, HostHandOverRefusesWithoutAnInterfaceHost)
{
    RecordingUiHost refusing;
    refusing.refuse = true;
    try {
        gui->bindHost(&refusing);
        ADD_FAILURE() << "no refusal";
    } catch (const char* what) {
        EXPECT_STREQ(what, "host Interfaces not supported");
    }
    EXPECT_EQ(gui->setHost(&refusing), mpapi::MP_RESULT_FAIL);

    RecordingUiHost first;
    EXPECT_EQ(gui->setHost(&first), 0);
    EXPECT_EQ(first.refs, 1);
    EXPECT_EQ(gui->setHost(&host), 0);
    EXPECT_EQ(first.refs, 0);
    EXPECT_EQ(host.refs, 1);
}

// setPin stores without acting; notifyPin acts on every call; setPin2 acts only on a change.
TEST_F(DirectInterface, SetPinStoresAndNotifyPinActs)
{
    const float half = 0.5f;
    EXPECT_EQ(gui->setPin(0, 0, 4, const_cast<float*>(&half)), 0);  // before any host
    EXPECT_EQ(gui->number.value, 0.5f);
    EXPECT_EQ(gui->notified, 0);
    EXPECT_EQ(gui->notifyPin(0, 0), 0);
    EXPECT_EQ(gui->notifyPin(0, 0), 0);
    EXPECT_EQ(gui->notified, 2);  // unchanged value, handler still runs
    EXPECT_EQ(gui->notifyPin(1, 0), 0);  // no handler
    EXPECT_EQ(gui->setPin(9, 0, 4, const_cast<float*>(&half)), mpapi::MP_RESULT_FAIL);
    EXPECT_EQ(gui->notifyPin(9, 0), mpapi::MP_RESULT_FAIL);

    EXPECT_EQ(gui->setPin2(0, 0, 4, &half), 0);
    EXPECT_EQ(gui->notified, 2);
    const float quarter = 0.25f;
    EXPECT_EQ(gui->setPin2(0, 0, 4, &quarter), 0);
    EXPECT_EQ(gui->notified, 3);

    // An assignment that changes a value before any host sends nothing and keeps the value.
    gui->number = 0.75f;
    EXPECT_EQ(gui->number.value, 0.75f);
}

// Assignments transmit at once, with voice 0, only when the value differs.
TEST_F(DirectInterface, AssignmentsTransmitOnlyChanges)
{
    ASSERT_EQ(gui->setHost(&host), 0);

    gui->text = std::wstring(1, L'\0');  // what a fresh text pin holds
    EXPECT_TRUE(host.transmits.empty());
    gui->text = std::wstring();
    gui->text = std::wstring();
    ASSERT_EQ(host.transmits.size(), 1u);
    EXPECT_EQ(host.transmits[0].pin, 1);
    EXPECT_EQ(host.transmits[0].size, 0);
    EXPECT_EQ(host.transmits[0].voice, 0);

    host.transmits.clear();
    gui->plain = std::wstring(L"ab");
    ASSERT_EQ(host.transmits.size(), 1u);
    EXPECT_EQ(host.transmits[0].size, 8);
    EXPECT_EQ(host.transmits[0].data, (std::vector<unsigned char>{'a', 0, 0, 0, 'b', 0, 0, 0}));

    host.transmits.clear();
    gui->number = -0.0f;  // equals 0.0
    EXPECT_TRUE(host.transmits.empty());
    gui->number = std::numeric_limits<float>::quiet_NaN();
    gui->number = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(host.transmits.size(), 2u);
    EXPECT_EQ(gui->notified, 0);  // an assignment never runs the module's own handler

    host.transmits.clear();
    gui->flag = true;
    gui->flag = true;
    ASSERT_EQ(host.transmits.size(), 1u);
    EXPECT_EQ(host.transmits[0].data, std::vector<unsigned char>{1});

    // The second pin under a taken index transmits under that index.
    host.transmits.clear();
    gui->shadow = 7;
    ASSERT_EQ(host.transmits.size(), 1u);
    EXPECT_EQ(host.transmits[0].pin, 3);
    EXPECT_EQ(gui->getPin(3), &gui->integer);
}

// Text that is not UTF-8 is refused by the conversion and leaves the pin as it was.
TEST_F(DirectInterface, Utf8AssignmentRefusesInvalidText)
{
    ASSERT_EQ(gui->setHost(&host), 0);
    const std::string utf8 = "\xC3\xA9t\xC3\xA9";
    gui->text = utf8;
    EXPECT_EQ(gui->text.value, L"\u00e9t\u00e9");
    EXPECT_EQ(std::string(gui->text), utf8);
    EXPECT_THROW(gui->text = std::string("a\xFF"), std::range_error);
    EXPECT_EQ(gui->text.value, L"\u00e9t\u00e9");
    EXPECT_EQ(host.transmits.size(), 1u);
}

// A 1-byte bool from the host is unchanged only when its byte equals the stored byte.
TEST(DirectInterfacePins, OneByteBoolComparesTheRawByte)
{
    MpGuiPin<bool> flag;
    const unsigned char one = 1, two = 2;
    EXPECT_TRUE(flag.set(0, 1, &one));
    EXPECT_TRUE(flag.set(0, 1, &two));
    EXPECT_TRUE(flag.value);
}

// --- Factory ----------------------------------------------------------------------------------

// An object that has no hand-over part.
class Bare : public mpapi::IMpUnknown {
public:
    int32_t queryInterface(const mpapi::MpGuid&, void** object) override
    {
        *object = nullptr;
        return mpapi::MP_RESULT_UNSUPPORTED;
    }
    int32_t addRef() override { return ++count; }
    int32_t release() override
    {
        const int32_t left = --count;
        if (left == 0)
            delete this;
        return left;
    }
    virtual ~Bare() = default;
    int32_t count = 1;
};

TEST(DirectFactory, ResultsForEveryKindOfCreateFunction)
{
    MpFactory factory;
    EXPECT_EQ(factory.RegisterPlugin(L"R_Null", 0, nullptr), 0);
    EXPECT_EQ(factory.RegisterPlugin(L"R_Empty", 0, []() -> mpapi::IMpUnknown* { return nullptr; }), 0);
    EXPECT_EQ(factory.RegisterPlugin(L"R_Bare", 0, []() -> mpapi::IMpUnknown* { return new Bare(); }), 0);
    EXPECT_EQ(factory.RegisterPlugin(L"R_Throw", 0, []() -> mpapi::IMpUnknown* { throw std::bad_alloc(); }), 0);
    EXPECT_EQ(factory.RegisterPlugin(L"R_Module", 0, &mp_detail::createModule<DirectModule>), 0);
    EXPECT_EQ(factory.RegisterPlugin(L"R_Module", 0, []() -> mpapi::IMpUnknown* { return new Bare(); }), 0);
    EXPECT_EQ(factory.RegisterPlugin(L"R_Module", 1, &mp_detail::createModule<DirectGui>), 0);

    RecordingHost host;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory.createInstance(L"R_Null", 0, host.unknown(), &object), mpapi::MP_RESULT_UNSUPPORTED);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory.createInstance(L"R_Module", 2, host.unknown(), &object), mpapi::MP_RESULT_UNSUPPORTED);
    EXPECT_EQ(factory.createInstance(L"r_module", 0, host.unknown(), &object), mpapi::MP_RESULT_UNSUPPORTED);
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory.createInstance(L"R_Throw", 0, host.unknown(), &object), mpapi::MP_RESULT_FAIL);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory.createInstance(L"R_Empty", 0, host.unknown(), &object), 0);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory.createInstance(L"R_Bare", 0, host.unknown(), &object), 0);  // no hand-over part
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(static_cast<Bare*>(static_cast<mpapi::IMpUnknown*>(object))->release(), 0);
    EXPECT_TRUE(host.asked.empty());

    // The first registration of a key stays; the host is handed over.
    ASSERT_EQ(factory.createInstance(L"R_Module", 0, host.unknown(), &object), 0);
    auto* plugin = static_cast<mpapi::IMpPlugin*>(object);
    auto* module = dynamic_cast<DirectModule*>(plugin);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->host, static_cast<mpapi::IMpHost*>(&host));
    EXPECT_EQ(plugin->release(), 0);
    EXPECT_EQ(host.refs, 0);

    // createInstance2 hands over no host.
    ASSERT_EQ(factory.createInstance2(L"R_Module", 0, &object), 0);
    plugin = static_cast<mpapi::IMpPlugin*>(object);
    EXPECT_EQ(dynamic_cast<DirectModule*>(plugin)->host, nullptr);
    plugin->release();
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory.createInstance2(L"R_Throw", 0, &object), mpapi::MP_RESULT_FAIL);
    EXPECT_EQ(object, nullptr);

    // An interface half refused its host is released and not handed out.
    RecordingUiHost refusing;
    refusing.refuse = true;
    const int before = destroyedGuis;
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory.createInstance(L"R_Module", 1, &refusing, &object), mpapi::MP_RESULT_FAIL);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(destroyedGuis, before + 1);
}

} // namespace
