// The shared preset block as the file worker knows it (stand-in until the shared one lands).
#pragma once

#include "PresetStore/PresetBlock.h"

#include <map>
#include <mutex>

namespace preset_block {

class Shadow {
public:
    void merge(const Snapshot& seen)
    {
        for (int k = 0; k < kSlots; ++k)
            if (seen.places[k] > places_[k]) {
                values_[k] = seen.values[k];
                places_[k] = seen.places[k];
            }
    }
    bool setAsOf(int slot, float value, uint64_t place)
    {
        if (slot < 0 || slot >= kSlots || places_[slot] >= place)
            return false;
        values_[slot] = value;
        places_[slot] = place;
        return true;
    }
    int writeAsOf(const float (&values)[kSlots], uint64_t place)
    {
        int n = 0;
        for (int k = 0; k < kSlots; ++k)
            n += setAsOf(k, values[k], place) ? 1 : 0;
        return n;
    }
    void read(float (&values)[kSlots]) const
    {
        for (int k = 0; k < kSlots; ++k)
            values[k] = values_[k];
    }
    float get(int slot) const { return slot < 0 || slot >= kSlots ? 0.0f : values_[slot]; }
    uint64_t placeOf(int slot) const { return slot < 0 || slot >= kSlots ? 0 : places_[slot]; }

private:
    float values_[kSlots] = {};
    uint64_t places_[kSlots] = {};
};

class ShadowHandle {
public:
    ShadowHandle() = default;
    ShadowHandle(const ShadowHandle&) = delete;
    ShadowHandle& operator=(const ShadowHandle&) = delete;
    ~ShadowHandle() { detach(); }
    void attach(const PresetBlock& block)
    {
        detach();
        std::lock_guard lock(mutex());
        key_ = &block;  // stand-in: keyed by the first slot's address is not reachable; one per process
        key_ = nullptr;
        Entry& entry = table()[key_];
        ++entry.users;
        shadow_ = &entry.shadow;
    }
    Shadow* get() const { return shadow_; }
    Shadow* operator->() const { return shadow_; }

private:
    struct Entry {
        Shadow shadow;
        int users = 0;
    };
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::map<const void*, Entry>& table()
    {
        static std::map<const void*, Entry> t;
        return t;
    }
    void detach()
    {
        if (!shadow_)
            return;
        std::lock_guard lock(mutex());
        auto it = table().find(key_);
        if (it != table().end() && --it->second.users == 0)
            table().erase(it);
        shadow_ = nullptr;
    }
    const void* key_ = nullptr;
    Shadow* shadow_ = nullptr;
};

} // namespace preset_block
