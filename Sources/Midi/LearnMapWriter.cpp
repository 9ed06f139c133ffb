// The learn map's file work on the bundle's file worker: where a map goes, the maps not yet on
// disk, and the jobs that read and write them.
#include "Midi/LearnMap.h"

#include "Common/PinText.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

namespace learn_map {

Target targetOf(const Location& where)
{
    Target target;
    if (!where.path || where.path->empty() || where.path->size() >= kPathBytes)
        return target;
    const std::string& path = *where.path;
    std::memcpy(target.path.data(), path.data(), path.size());
    target.pathLength = static_cast<uint16_t>(path.size());
    // The folders are the path's own beginnings; anything else creates none.
    const auto prefixLength = [&](const std::string& folder) -> uint16_t {
        return !folder.empty() && path.starts_with(folder) ? static_cast<uint16_t>(folder.size()) : 0;
    };
    target.quorvaneLength = prefixLength(where.quorvaneFolder);
    target.productLength = prefixLength(where.productFolder);
    if (target.quorvaneLength == 0 || target.productLength == 0)
        target.quorvaneLength = target.productLength = 0;
    return target;
}

Location locationOf(const Target& target)
{
    Location where;
    if (target.pathLength == 0)
        return where;
    const std::string_view path(target.path.data(), target.pathLength);
    where.path = std::string(path);
    where.quorvaneFolder = std::string(path.substr(0, target.quorvaneLength));
    where.productFolder = std::string(path.substr(0, target.productLength));
    return where;
}

namespace {
std::atomic<SaveFunction> saveFunction{nullptr};
} // namespace

void setSaveFunction(SaveFunction function) noexcept
{
    saveFunction.store(function, std::memory_order_release);
}

namespace {

// [worker] The maps stored and not yet on disk, per file, for the whole bundle. Only learn-map
// jobs touch it: on the worker thread, or inside submit offline (where several hosts may run on
// threads of their own, hence the lock).
class PendingMaps {
public:
    // map becomes target's newest map; then every pending map is written.
    void store(const Target& target, const Map& map)
    {
        const std::lock_guard lock(mutex_);
        Pending& pending = pending_[key(target)];
        pending.target = target;
        pending.map = map;
        writeAll();
    }

    // Writes what is pending; true, with the map, when target's newest map is not in its file.
    bool newest(const Target& target, Map& map)
    {
        const std::lock_guard lock(mutex_);
        writeAll();
        const auto found = pending_.find(key(target));
        if (found == pending_.end())
            return false;
        map = found->second.map;
        return true;
    }

    void flush()
    {
        const std::lock_guard lock(mutex_);
        writeAll();
    }

private:
    struct Pending {
        Target target;
        Map map{};
    };

    static std::string key(const Target& target) { return std::string(target.path.data(), target.pathLength); }

    // A map leaves only once it is on disk; after a failed write it stays the map a graph start
    // loads, so no learnt entry is lost.
    void writeAll()
    {
        for (auto it = pending_.begin(); it != pending_.end();)
            it = write(it->second) ? pending_.erase(it) : std::next(it);
    }

    static bool write(const Pending& pending)
    {
        if (pending.target.pathLength == 0)
            return true;  // no file to hold it
        try {
            const SaveFunction replaced = saveFunction.load(std::memory_order_acquire);
            return (replaced ? replaced : save)(locationOf(pending.target), pending.map);
        } catch (...) {
            return false;
        }
    }

    std::mutex mutex_;
    std::map<std::string, Pending> pending_;
};

// Made on first use and never destroyed: a job the worker runs while the process exits (a store
// still queued when the host quits) must not meet a map table already gone.
PendingMaps& pendingMaps()
{
    static PendingMaps& maps = *new PendingMaps;
    return maps;
}

} // namespace

void LoadJob::run() noexcept
{
    try {
        const Location where = locate(request.hostFilePath(), request.autoPath, request.idPin(), request.pathMacPin());
        const Target target = targetOf(where);
        map = known->map;  // a short file leaves the rest as it was
        if (!pendingMaps().newest(target, map))
            load(where, map);
        known->target = target;
    } catch (...) {
        known->target = Target{};  // no path: nothing is read or written
        map.fill(0);
    }
    known->map = map;
}

void EditJob::run() noexcept
{
    edits.applyTo(known->map);
    try {
        pendingMaps().store(known->target, known->map);
    } catch (...) {
        // Out of memory before the map was kept: it is lost as a failed write once was.
    }
}

void FlushJob::run() noexcept
{
    try {
        pendingMaps().flush();
    } catch (...) {
    }
}

} // namespace learn_map
