// Which shadow belongs to which block: a fixed table, so that it needs no destruction and a
// module that goes during exit (in a host's global object) still finds it.
#include "PresetStore/BlockShadow.h"

#include <array>
#include <mutex>

namespace preset_block {

namespace {

struct Entry {
    const void* key = nullptr;
    Shadow* shadow = nullptr;
    int users = 0;
};

// Blocks open at once in one process: one per running host. Beyond this a module keeps a shadow
// of its own, which is right for every module alone on its block.
constexpr std::size_t kBlocks = 64;

constinit std::mutex tableMutex;
constinit std::array<Entry, kBlocks> table{};

Entry* find(const void* key)
{
    for (Entry& entry : table)
        if (entry.users > 0 && entry.key == key)
            return &entry;
    return nullptr;
}

Entry* freeEntry()
{
    for (Entry& entry : table)
        if (entry.users == 0)
            return &entry;
    return nullptr;
}

} // namespace

void ShadowHandle::attach(const PresetBlock& block)
{
    detach();
    const void* key = block.identity();
    if (key) {
        const std::lock_guard lock(tableMutex);
        Entry* entry = find(key);
        if (!entry && (entry = freeEntry()))
            *entry = Entry{key, new Shadow, 0};
        if (entry) {
            ++entry->users;
            shadow_ = entry->shadow;
            key_ = key;
            return;
        }
    }
    shadow_ = new Shadow;
    key_ = nullptr;
}

void ShadowHandle::detach()
{
    if (!shadow_)
        return;
    if (key_) {
        const std::lock_guard lock(tableMutex);
        Entry* entry = find(key_);
        if (entry && --entry->users == 0) {
            delete entry->shadow;
            *entry = Entry{};
        }
    } else {
        delete shadow_;
    }
    shadow_ = nullptr;
    key_ = nullptr;
}

} // namespace preset_block
