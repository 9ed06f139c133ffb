// The shared preset block: the live preset of the synthesizer, 256 float slots in the host's
// shared memory under "TAVRIN ONE Preset", slot i holding synth parameter i. Every parameter link
// and every preset manager opens the same block. Slots are read and written as relaxed atomic
// 32-bit values: the block has no lock, and links and managers may sit on different threads.
#pragma once

#include "MpProcessing.h"

#include <atomic>
#include <cstddef>

class PresetBlock {
public:
    static constexpr int kSlots = 256;
    static constexpr int kBytes = kSlots * 4;
    static constexpr const wchar_t* kKey = L"TAVRIN ONE Preset";

    // [audio thread] Opens the block through the host; zeroes it when the host says this opener
    // must initialise it (needsInit 1). false without a host or a block.
    bool open(MpHost* host)
    {
        if (!host)
            return false;
        void* block = nullptr;
        int32_t needsInit = 0;
        host->openSharedBlock(kKey, &block, kBytes, &needsInit, -1.0f);
        if (!block)
            return false;
        slots_ = static_cast<float*>(block);
        if (needsInit == 1)
            for (int slot = 0; slot < kSlots; ++slot)
                set(slot, 0.0f);
        return true;
    }

    bool isOpen() const { return slots_ != nullptr; }

    // Slot values; an index outside 0-255 (or a closed block) reads 0 and writes nothing.
    float get(int slot) const
    {
        if (!slots_ || slot < 0 || slot >= kSlots)
            return 0.0f;
        return std::atomic_ref<float>(slots_[slot]).load(std::memory_order_relaxed);
    }
    void set(int slot, float value)
    {
        if (slots_ && slot >= 0 && slot < kSlots)
            std::atomic_ref<float>(slots_[slot]).store(value, std::memory_order_relaxed);
    }

    // All 256 slots at once (a preset load or a snapshot).
    void write(const float (&values)[kSlots])
    {
        for (int slot = 0; slot < kSlots; ++slot)
            set(slot, values[slot]);
    }
    void read(float (&values)[kSlots]) const
    {
        for (int slot = 0; slot < kSlots; ++slot)
            values[slot] = get(slot);
    }

private:
    float* slots_ = nullptr;  // host-owned, kept for the opener's lifetime
};
