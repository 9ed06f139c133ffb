// What the processing halves of the two list preset managers share: the seven pins, the shared
// preset block with the 128-preset bank and its names behind it, and the program changes in and
// out. Each manager's file keeps its own rules: what selecting puts out besides the block, its
// start-up countdown, and how it takes its file and list commands.
#pragma once

#include "MpProcessing.h"
#include "PresetStore/ListManagerMessages.h"
#include "PresetStore/PresetBank.h"
#include "PresetStore/PresetBlock.h"

#include <cstdint>

class ListManagerProcessing : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut, kId, kAutoPath, kPathPc, kPathMac, kAudioOut };

    // [load time] Sample rate from the host, the shared preset block opened, the bank zeroed. The
    // module installs its sub-process after this.
    int32_t open() noexcept override;

    using MpBase::onMidiMessage;
    // [audio thread] A program change on any channel selects its preset, tells the interface half
    // and is passed on, on channel 1. Other, short or out-of-range messages are ignored.
    void onMidiMessage(int pin, unsigned char* bytes, int size) override;

protected:
    ListManagerProcessing();

    // The current preset into the shared preset block, with what the manager puts out with it.
    virtual void ChangePreset() = 0;

    // Current preset = preset (0-127), ChangePreset, the preset to the interface half, and
    // [C0 preset 00]: a program change, and the selection after a bank load.
    void selectAndAnnounce(int preset);
    // [C0 program 00] at block position 0.
    void sendProgramChange(int program);
    void postToGui(int32_t id, int32_t size = 0, const void* data = nullptr);
    // trunc(seconds x sample rate), safe for any rate the host gives.
    int32_t countdownSamples(float seconds) const;

    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    StringInPin id_;
    BoolInPin autoPath_;
    StringInPin pathPc_;  // read nowhere: the product runs on one system
    StringInPin pathMac_;
    AudioOutPin audioOut_;  // streaming from the first pin update, so the sub-process always runs

    PresetBlock block_;
    preset_bank::BankMemory bank_;
    preset_bank::NameTable names_;
    int current_ = 0;         // preset 0-127 that selection, storing and the files act on
    float sampleRate_ = 0.0f; // Hz
};
