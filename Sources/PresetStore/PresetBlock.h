// The shared preset block: the live preset of the synthesizer, 256 float slots in the host's
// shared memory under "TAVRIN ONE Preset", slot i holding synth parameter i, and beside it under
// "TAVRIN ONE Preset Places" each slot's place in the one order of inputs when it was last written
// (0: never). Every parameter link and every preset manager opens the same blocks. Slots are read
// and written as relaxed atomic values: the block has no lock.
#pragma once

#include "FileWorker.h"
#include "MpProcessing.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace preset_block {
inline constexpr int kSlots = 256;
// Values and places together, as an input saw them when it arrived.
struct Snapshot {
    float values[kSlots] = {};
    uint64_t places[kSlots] = {};
};
} // namespace preset_block

class PresetBlock {
public:
    static constexpr int kSlots = preset_block::kSlots;
    static constexpr int kBytes = kSlots * 4;
    static constexpr const wchar_t* kKey = L"TAVRIN ONE Preset";
    static constexpr const wchar_t* kPlacesKey = L"TAVRIN ONE Preset Places";

    bool open(MpHost* host)
    {
        if (!host)
            return false;
        void* block = nullptr;
        void* places = nullptr;
        int32_t needsInit = 0, placesInit = 0;
        host->openSharedBlock(kKey, &block, kBytes, &needsInit, -1.0f);
        host->openSharedBlock(kPlacesKey, &places, kSlots * 8, &placesInit, -1.0f);
        if (!block || !places)
            return false;
        slots_ = static_cast<float*>(block);
        places_ = static_cast<uint64_t*>(places);
        if (needsInit == 1)
            for (int slot = 0; slot < kSlots; ++slot)
                store(slot, 0.0f, 0);
        if (placesInit == 1 && needsInit != 1)
            for (int slot = 0; slot < kSlots; ++slot)
                std::atomic_ref<uint64_t>(places_[slot]).store(0, std::memory_order_relaxed);
        return true;
    }
    bool isOpen() const { return slots_ != nullptr; }

    float get(int slot) const
    {
        if (!slots_ || slot < 0 || slot >= kSlots)
            return 0.0f;
        return std::atomic_ref<float>(slots_[slot]).load(std::memory_order_relaxed);
    }
    uint64_t placeOf(int slot) const
    {
        if (!places_ || slot < 0 || slot >= kSlots)
            return 0;
        return std::atomic_ref<uint64_t>(places_[slot]).load(std::memory_order_relaxed);
    }
    void set(int slot, float value) { set(slot, value, file_worker::takePlace()); }
    void set(int slot, float value, uint64_t place)
    {
        if (slots_ && slot >= 0 && slot < kSlots)
            store(slot, value, place);
    }
    bool setAsOf(int slot, float value, uint64_t place)
    {
        if (!slots_ || slot < 0 || slot >= kSlots || placeOf(slot) >= place)
            return false;
        store(slot, value, place);
        return true;
    }
    void write(const float (&values)[kSlots])
    {
        const uint64_t place = file_worker::takePlace();
        for (int slot = 0; slot < kSlots; ++slot)
            set(slot, values[slot], place);
    }
    int writeAsOf(const float (&values)[kSlots], uint64_t place)
    {
        int written = 0;
        for (int slot = 0; slot < kSlots; ++slot)
            written += setAsOf(slot, values[slot], place) ? 1 : 0;
        return written;
    }
    void read(float (&values)[kSlots]) const
    {
        for (int slot = 0; slot < kSlots; ++slot)
            values[slot] = get(slot);
    }
    void read(preset_block::Snapshot& seen) const
    {
        for (int slot = 0; slot < kSlots; ++slot) {
            seen.values[slot] = get(slot);
            seen.places[slot] = placeOf(slot);
        }
    }

private:
    void store(int slot, float value, uint64_t place)
    {
        std::atomic_ref<float>(slots_[slot]).store(value, std::memory_order_relaxed);
        std::atomic_ref<uint64_t>(places_[slot]).store(place, std::memory_order_relaxed);
    }
    float* slots_ = nullptr;
    uint64_t* places_ = nullptr;
};
