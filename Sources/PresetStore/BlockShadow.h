// The shared preset block as the file worker knows it. A job that reads the block (a save) runs
// after jobs whose results the audio side has not yet written into the block (a slow load of this
// or another module): the block itself is behind. The shadow is ahead: every job on the block
// writes its result here as of its place, and brings what its input saw of the block when it
// arrived (knob turns, results already written). Merged by place, the shadow holds at each job
// exactly what the block held at that job's place had every job answered at once.
//
// One shadow per block, shared by the jobs of every module that opened it; only jobs touch it,
// and jobs run one at a time in the one order (on the worker, or inside submit offline).
#pragma once

#include "PresetStore/PresetBlock.h"

#include <cstdint>

namespace preset_block {

class Shadow {
public:
    // What an input saw on arrival: each slot written there no earlier than here is taken.
    void merge(const Snapshot& seen)
    {
        for (int slot = 0; slot < kSlots; ++slot)
            if (seen.places[slot] >= places_[slot]) {
                places_[slot] = seen.places[slot];
                values_[slot] = seen.values[slot];
            }
    }
    // A result asked for at place, under the block's own rule: only slots last written before it.
    bool setAsOf(int slot, float value, uint64_t place)
    {
        if (slot < 0 || slot >= kSlots || places_[slot] >= place)
            return false;
        places_[slot] = place;
        values_[slot] = value;
        return true;
    }
    int writeAsOf(const float (&values)[kSlots], uint64_t place) { return writeEachAsOf(*this, values, place); }

    void read(float (&values)[kSlots]) const
    {
        for (int slot = 0; slot < kSlots; ++slot)
            values[slot] = values_[slot];
    }
    float get(int slot) const { return slot >= 0 && slot < kSlots ? values_[slot] : 0.0f; }
    uint64_t placeOf(int slot) const { return slot >= 0 && slot < kSlots ? places_[slot] : 0; }

private:
    float values_[kSlots] = {};
    uint64_t places_[kSlots] = {};
};

// A module's share of the shadow of the block it opened. Declare it before the module's file
// worker channel, so the channel (which waits for the module's jobs) goes first.
class ShadowHandle {
public:
    ShadowHandle() = default;
    ~ShadowHandle() { detach(); }
    ShadowHandle(const ShadowHandle&) = delete;
    ShadowHandle& operator=(const ShadowHandle&) = delete;

    // [not the audio thread] Shares the shadow of block (opened), leaving any other; without an
    // open block the module keeps a shadow of its own.
    void attach(const PresetBlock& block);
    // [not the audio thread]
    void detach();

    Shadow* get() const { return shadow_; }
    Shadow* operator->() const { return shadow_; }
    Shadow& operator*() const { return *shadow_; }

private:
    Shadow* shadow_ = nullptr;
    const void* key_ = nullptr;
};

} // namespace preset_block
