// Family helpers of the modules that turn MIDI into signals and signals into MIDI: the pitch of a
// note, whole pieces of an audio output, and the data bytes taken from pins and voltages.
#pragma once

#include "Midi/MidiBytes.h"
#include "MpPins.h"

#include <cstdint>

namespace signal_midi {

inline constexpr float kGateHigh = 1.0f;
inline constexpr float kGateLow = 0.0f;
// 1 V per octave with 1.0 standing for 10 V: a semitone is 1/120.
inline constexpr float kSemitone = 0.008333334f;
// Note 9 sits at 0 V, so note 69 (A 440) is 0.5.
inline constexpr int32_t kPitchZeroNote = 9;

inline float pitchOfNote(int32_t note)
{
    return static_cast<float>(note - kPitchZeroNote) * kSemitone;
}

// Writes value to the samples offset .. offset + frames - 1 of an output; nothing without a
// buffer.
inline void fillPiece(AudioOutPin& out, int offset, int frames, float value)
{
    float* samples = out.getBuffer();
    if (!samples)
        return;
    for (int i = 0; i < frames; ++i)
        samples[offset + i] = value;
}

// The sample at index of an input, 0.0 without a buffer.
inline float sampleAt(const AudioInPin& in, int index)
{
    const float* samples = in.getBuffer();
    return samples ? samples[index] : 0.0f;
}

// A controller or note number from an int pin: out-of-range values are clamped to 0-127, so a
// wrong setting still sends a valid message.
inline uint8_t dataFromPin(int32_t pinValue)
{
    return midi::clampData(pinValue);
}

} // namespace signal_midi
