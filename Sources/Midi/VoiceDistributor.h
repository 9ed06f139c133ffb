// Family base of the two voice distributors: one MIDI input spread over twelve MIDI outputs,
// one per synth voice. In distribution mode each note-on goes to the next free voice round-robin
// (skipping voices whose gate is closed, stealing when none is free); in broadcast mode every
// message goes to a set of outputs at once. Whatever gates, counts, modes and resets did while
// a key was down, its release ends the note on every output still sounding it. The reset twin
// adds its reset inputs through beforeVoiceSearch and its own onSetPins.
#pragma once

#include "Midi/MidiBytes.h"
#include "Midi/SoundingNotes.h"
#include "MpProcessing.h"

#include <array>
#include <cstdint>

class VoiceDistributor : public MpBase {
public:
    enum Pin {
        kMidiIn,
        kOut1,                 // kOut1 + o - 1: output o, 1..12
        kMode = kOut1 + 12,    // below 0 distribution, 0 or above broadcast
        kVoiceCount,           // voices of distribution, 0..12
        kBroadcastCount,       // outputs of broadcast, 0..10
        kGate1,                // kGate1 + (o - 1) mod 6 gates output o; 3 or more closes
        kGateLast = kGate1 + 5,
    };
    static constexpr int kVoices = 12;
    static constexpr int kMaxBroadcast = 10;
    static constexpr int kGates = 6;
    static constexpr int32_t kClosed = 3;

    VoiceDistributor();

    void onMidiMessage(int pin, unsigned char* bytes, int size) override;

protected:
    // Before each note-on's voice search in distribution mode.
    virtual void beforeVoiceSearch() {}
    // All voices free and the pointer at voice 1; no note-off is sent, the memory stays.
    void resetVoices();

private:
    struct Incoming {
        uint8_t status;  // kind with channel nibble 0 (system messages whole); silent note-on as 0x80
        uint8_t note;
        uint8_t value;
    };

    void bookkeeping(const Incoming& m, int voices, int outputs);
    void distribute(const Incoming& m, int voices, int outputs);
    void noteOn(const Incoming& m, int voices);
    void broadcast(const Incoming& m, int outputs);
    void endWhereStillSounding(const Incoming& m);

    // The position the skip chain reaches from p, or 0 when every gate is closed.
    int walk(int p, int voices) const;
    bool gateClosed(int gatePin) const;
    int gatePinOfPosition(int q, int voices) const;
    static int outputOfVoice(int v, int voices) { return voices == 8 && (v == 7 || v == 8) ? v + 2 : v; }
    static int outputOfPosition(int i, int outputs) { return outputs >= 7 && i >= 7 ? i + 2 : i; }
    static int gatePinOfOutput(int o) { return kGate1 + (o - 1) % kGates; }
    void sendTo(int output, uint8_t status, uint8_t data1, uint8_t data2);

    MidiInPin midiIn_;
    std::array<MidiOutPin, kVoices> out_;
    IntInPin mode_;
    IntInPin voiceCount_;
    IntInPin broadcastCount_;
    std::array<IntInPin, kGates> gate_;

    std::array<int32_t, kVoices + 1> memory_{};  // [1..12]: the note each voice last received
    std::array<uint8_t, kVoices + 1> free_{};    // [1..12]: 1 while the voice is free
    int32_t pointer_ = 1;                         // next voice to try, 1..12
    int32_t lastNote_ = 0;                        // last note-on broadcast
    bool broadcastNote_ = false;                  // a broadcast note may still sound
    bool upperVoices_ = false;                    // distribution ran with 8 or more voices
    bool upperOutputs_ = false;                   // broadcast ran with 7 or more outputs
    std::array<SoundingNotes, kVoices> sounding_{};  // per output: sent on, not yet off
};
