// The learn map's file work on the bundle's file worker: where a map goes, the maps not yet on
// disk, and the jobs that read and write them.
#include "Midi/LearnMap.h"

#include "Common/PinText.h"

#include "Log.h"

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <type_traits>

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
//
// Fixed room in static storage, with nothing to destroy: a job the worker runs while the process
// exits (a store still queued when the host quits) still finds it, and unloading the bundle
// leaves nothing behind on the heap.
class PendingMaps {
public:
    constexpr PendingMaps() = default;

    // map becomes target's newest map; then every pending map is written. false when the map
    // was neither written nor kept (more files failing at once than there is room for).
    bool store(const Target& target, const Map& map) noexcept
    {
        const std::lock_guard lock(mutex_);
        if (target.pathLength == 0) {
            writeAll();
            return true;  // no file to hold it
        }
        Pending* pending = find(target);
        if (!pending)
            pending = find(Target{});
        if (!pending)
            return write(target, map);
        pending->target = target;
        pending->map = map;
        writeAll();
        return true;
    }

    // Writes what is pending; true, with the map, when target's newest map is not in its file.
    bool newest(const Target& target, Map& map) noexcept
    {
        const std::lock_guard lock(mutex_);
        writeAll();
        const Pending* pending = target.pathLength == 0 ? nullptr : find(target);
        if (!pending)
            return false;
        map = pending->map;
        return true;
    }

    void flush() noexcept
    {
        const std::lock_guard lock(mutex_);
        writeAll();
    }

private:
    // Files whose maps may wait for a disk that fails at once; a free entry has no path.
    static constexpr std::size_t kFiles = 16;
    struct Pending {
        Target target;
        Map map{};
    };

    Pending* find(const Target& target) noexcept
    {
        for (Pending& pending : pending_)
            if (pending.target.pathLength == target.pathLength &&
                std::memcmp(pending.target.path.data(), target.path.data(), target.pathLength) == 0)
                return &pending;
        return nullptr;
    }

    // A map leaves only once it is on disk; after a failed write it stays the map a graph start
    // loads, so no learnt entry is lost.
    void writeAll() noexcept
    {
        for (Pending& pending : pending_)
            if (pending.target.pathLength != 0 && write(pending.target, pending.map))
                pending.target = Target{};
    }

    static bool write(const Target& target, const Map& map) noexcept
    {
        if (target.pathLength == 0)
            return true;  // no file to hold it
        try {
            const SaveFunction replaced = saveFunction.load(std::memory_order_acquire);
            return (replaced ? replaced : save)(locationOf(target), map);
        } catch (...) {
            return false;
        }
    }

    std::mutex mutex_;
    std::array<Pending, kFiles> pending_{};
};
static_assert(std::is_trivially_destructible_v<PendingMaps>, "never torn down: nothing to leak or to outlive");

constinit PendingMaps pendingMaps;

} // namespace

void LoadJob::run() noexcept
{
    try {
        const Location where = locate(request.hostFilePath(), request.autoPath, request.idPin(), request.pathMacPin());
        const Target target = targetOf(where);
        map = known->map;  // a short file leaves the rest as it was
        if (!pendingMaps.newest(target, map))
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
    for (; known->applied != upTo; ++known->applied)
        apply((*known->edits)[known->applied % kEditLog], known->map);
    if (!pendingMaps.store(known->target, known->map))
        platform::logLine("controller map not written: more files failing than can wait");
}

void FlushJob::run() noexcept
{
    pendingMaps.flush();
}

} // namespace learn_map
