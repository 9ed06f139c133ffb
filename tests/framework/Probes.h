// Test-only modules registered in the test binary: they record what the framework hands them,
// so the tests can assert the framework's own behaviour through the stand-in host.
#pragma once

#include "MpInterface.h"
#include "MpProcessing.h"

#include <string>
#include <vector>

namespace probes {

struct Piece {
    int offset;
    int frames;
    int blockPos;
    bool operator==(const Piece&) const = default;
};

struct SetPinsCall {
    int blockPos;
    bool valueAUpdated;
    bool valueBUpdated;
    bool audioInUpdated;
    float valueA;
    float valueB;
};

struct Midi {
    int pin;
    std::vector<unsigned char> bytes;  // at least 3: what the module may read
    int size;
};

// What the last created probe saw.
struct Log {
    std::vector<Piece> pieces;
    std::vector<SetPinsCall> setPins;
    std::vector<Midi> midi;
    std::vector<std::string> order;  // "A", "B" handler runs, "setPins"
    std::vector<int> messages;
    std::wstring text;
    bool flag = false;
    int32_t integer = 0;
    void clear() { *this = Log{}; }
};
Log& log();

// Pin indexes of "TEST_Probe" (never sleeps) and "TEST_SleepyProbe" (same pins, sleeps when
// allowed). The float output follows input A, the audio output stops streaming while the flag is
// set, MIDI in is sent on to MIDI out, kMaySleep calls setSleep with its value; message 7
// re-enters the message entry. A second pin registered under kValueA must never receive anything.
enum ProbePin { kValueA, kValueB, kMidiIn, kAudioIn, kAudioOut, kValueOut, kFlag, kText, kInteger, kMidiOut, kMaySleep };

} // namespace probes
