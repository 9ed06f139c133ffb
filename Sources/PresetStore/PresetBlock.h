// The shared preset block: the live preset of the synthesizer, 256 float slots in the host's
// shared memory under "TAVRIN ONE Preset", slot i holding synth parameter i. Every parameter link
// and every preset manager opens the same block. Slots are read and written as relaxed atomic
// 32-bit values: the block has no lock, and links and managers may sit on different threads.
//
// Beside each value the block keeps the place, in the one order of every module's inputs
// (file_worker::takePlace), of the slot's last write, in a second shared block that every opener
// sees. A result that comes back late (a preset load from a slow disk) was asked for at a place:
// it writes only the slots nobody wrote since, so the block ends as it would had the disk
// answered at once. A turn to the value a slot already holds counts as a write.
#pragma once

#include "FileWorker.h"
#include "MpProcessing.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace preset_block {

inline constexpr int kSlots = 256;

// The block as an input saw it when it arrived: values and the places of their writes.
struct Snapshot {
    float values[kSlots] = {};
    uint64_t places[kSlots] = {};
};

// Every slot of values into target (the block, or the worker's shadow of it) under their one rule:
// only slots last written before place. Returns how many were written.
template <class Target>
int writeEachAsOf(Target& target, const float (&values)[kSlots], uint64_t place)
{
    int written = 0;
    for (int slot = 0; slot < kSlots; ++slot)
        written += target.setAsOf(slot, values[slot], place) ? 1 : 0;
    return written;
}

} // namespace preset_block

class PresetBlock {
public:
    static constexpr int kSlots = preset_block::kSlots;
    static constexpr int kBytes = kSlots * 4;
    static constexpr const wchar_t* kKey = L"TAVRIN ONE Preset";
    static constexpr const wchar_t* kPlacesKey = L"TAVRIN ONE Preset Places";
    static constexpr int kPlacesBytes = kSlots * 8;

    // [audio thread] Opens the block and its places through the host; zeroes them when the host
    // says this opener must initialise them (needsInit 1). false without a host or a block. A host
    // that has no room for the places leaves them to this opener alone.
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
                std::atomic_ref<float>(slots_[slot]).store(0.0f, std::memory_order_relaxed);
        openPlaces(*host);
        return true;
    }

    bool isOpen() const { return slots_ != nullptr; }
    // Which block this is: openers of the same block see the same identity.
    const void* identity() const { return slots_; }

    // Slot values; an index outside 0-255 (or a closed block) reads 0 and writes nothing.
    float get(int slot) const
    {
        if (!valid(slot))
            return 0.0f;
        return std::atomic_ref<float>(slots_[slot]).load(std::memory_order_relaxed);
    }
    // The place of the slot's last write; 0 when never written since the block was made.
    uint64_t placeOf(int slot) const
    {
        if (!valid(slot))
            return 0;
        return std::atomic_ref<uint64_t>(places_[slot]).load(std::memory_order_acquire);
    }

    // A write now, at a new place.
    void set(int slot, float value) { setAsOf(slot, value, file_worker::takePlace()); }
    // A write by the input that arrived at place; the same rule as setAsOf.
    void set(int slot, float value, uint64_t place) { setAsOf(slot, value, place); }
    // A write asked for at place: made only when the slot was last written before place, and then
    // records place. true when written.
    bool setAsOf(int slot, float value, uint64_t place)
    {
        if (!valid(slot))
            return false;
        std::atomic_ref<uint64_t> last(places_[slot]);
        uint64_t seen = last.load(std::memory_order_acquire);
        do {
            if (seen >= place)
                return false;
        } while (!last.compare_exchange_weak(seen, place, std::memory_order_acq_rel, std::memory_order_acquire));
        std::atomic_ref<float>(slots_[slot]).store(value, std::memory_order_relaxed);
        return true;
    }

    // All 256 slots now, at one place (a preset chosen and written at once).
    void write(const float (&values)[kSlots]) { writeAsOf(values, file_worker::takePlace()); }
    // A preset asked for at place: only the slots last written before place. Returns how many.
    int writeAsOf(const float (&values)[kSlots], uint64_t place) { return preset_block::writeEachAsOf(*this, values, place); }

    void read(float (&values)[kSlots]) const
    {
        for (int slot = 0; slot < kSlots; ++slot)
            values[slot] = get(slot);
    }
    // Values with the places of their writes. (A write on another thread at the same moment may
    // pair a slot's old value with its new place; a host runs one block's writers on one thread.)
    void read(preset_block::Snapshot& seen) const
    {
        for (int slot = 0; slot < kSlots; ++slot) {
            seen.places[slot] = placeOf(slot);
            seen.values[slot] = get(slot);
        }
    }

private:
    bool valid(int slot) const { return slots_ && slot >= 0 && slot < kSlots; }

    void openPlaces(MpHost& host)
    {
        void* block = nullptr;
        int32_t needsInit = 0;
        host.openSharedBlock(kPlacesKey, &block, kPlacesBytes, &needsInit, -1.0f);
        const bool aligned = reinterpret_cast<std::uintptr_t>(block) % alignof(std::atomic_ref<uint64_t>::value_type) == 0;
        places_ = block && block != slots_ && aligned ? static_cast<uint64_t*>(block) : ownPlaces_;
        if (needsInit == 1 || places_ == ownPlaces_)
            for (int slot = 0; slot < kSlots; ++slot)
                std::atomic_ref<uint64_t>(places_[slot]).store(0, std::memory_order_relaxed);
    }

    float* slots_ = nullptr;     // host-owned, kept for the opener's lifetime
    uint64_t* places_ = nullptr; // host-owned, or ownPlaces_
    alignas(8) uint64_t ownPlaces_[kSlots] = {};
};
