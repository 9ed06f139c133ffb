// Writing "Controllers.txt" away from the audio thread: the snapshot slots passed between the two
// threads, and the writer thread's loop.
#include "Midi/LearnMap.h"

#include <cstring>

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

bool sameFile(const Target& a, const Target& b)
{
    return a.pathLength == b.pathLength && std::memcmp(a.path.data(), b.path.data(), a.pathLength) == 0;
}

namespace {
std::atomic<SaveFunction> saveFunction{nullptr};
} // namespace

void setSaveFunction(SaveFunction function) noexcept
{
    saveFunction.store(function, std::memory_order_release);
}

FileWriter::~FileWriter()
{
    if (thread_.joinable()) {
        stop_.store(true, std::memory_order_release);
        wake();
        thread_.join();
    }
    writePending();
}

bool FileWriter::start() noexcept
{
    if (thread_.joinable())
        return true;
    try {
        thread_ = std::thread(&FileWriter::run, this);
    } catch (...) {
        return false;
    }
    return true;
}

void FileWriter::post(const Map& map, const Target& target) noexcept
{
    latest_.map = map;
    latest_.target = target;
    ++latest_.sequence;
    slots_[posting_] = latest_;
    const uint8_t previous = shared_.exchange(static_cast<uint8_t>(posting_ | kFresh), std::memory_order_acq_rel);
    posting_ = static_cast<uint8_t>(previous & ~kFresh);
    wake();
}

bool FileWriter::pendingFor(const Target& target, Map& map) const noexcept
{
    if (written_.load(std::memory_order_acquire) == latest_.sequence || !sameFile(latest_.target, target))
        return false;
    map = latest_.map;
    return true;
}

void FileWriter::wake() noexcept
{
    signal_.fetch_add(1, std::memory_order_release);
    signal_.notify_one();
}

void FileWriter::run() noexcept
{
    for (;;) {
        // Read before looking for work, so a post after the look changes it and the wait returns.
        const uint32_t seen = signal_.load(std::memory_order_acquire);
        writePending();
        if (stop_.load(std::memory_order_acquire)) {
            writePending();
            return;
        }
        signal_.wait(seen, std::memory_order_acquire);
    }
}

void FileWriter::writePending() noexcept
{
    if (!(shared_.load(std::memory_order_acquire) & kFresh))
        return;
    const uint8_t taken = shared_.exchange(writing_, std::memory_order_acq_rel);
    writing_ = static_cast<uint8_t>(taken & ~kFresh);
    const Snapshot& snapshot = slots_[writing_];
    bool saved = snapshot.target.pathLength == 0;  // no file to hold it
    if (!saved) {
        try {
            const SaveFunction replaced = saveFunction.load(std::memory_order_acquire);
            saved = (replaced ? replaced : save)(locationOf(snapshot.target), snapshot.map);
        } catch (...) {
            saved = false;
        }
    }
    // Only now may a reader trust the file again. After a failed write the file holds an older
    // map, so the posted one stays the map a graph start loads: no learnt entry is lost.
    if (saved)
        written_.store(snapshot.sequence, std::memory_order_release);
}

} // namespace learn_map
