// How the category manager's processing half keeps its answers in order while its file work runs
// on the worker. Every input that needs the disk and depends on nothing owed becomes a job when
// it arrives (a save carries the block's values and its path). What a request owes the host
// after the work was asked for (messages, program changes, the applying of the result) becomes a
// step, and steps are carried out in order at the start of a later block, an apply step as soon
// as its job has run; a step made while carrying one out goes before everything already owed.
//
// Only what truly depends on an owed result waits: while a step that answers the host or changes
// what inputs read (a list, the folder table, a load, the answers to a delete, tag or favourite,
// which wait for the worker to find the file still there) is owed, new inputs are held in arrival
// order (HeldInputs), and so are the frames that pass (timers keep their sample counts relative
// to the inputs around them). A save, whose result only refreshes the presets read ahead and the
// name of the entry it was made from, holds back only the inputs that read those; the rest, and
// the timers, go on. A look for changed presets holds back nothing.
//
// Knob turns that other modules write into the shared block while inputs are held are held too,
// in their place among the inputs: the held inputs see the block as it was when each came (a copy
// that follows them), and each turn is written again in its place. So a load that had to wait
// does not erase a turn made after it, and a save that had to wait writes the sound as it was
// when the save was given. (A turn to the value a slot holds cannot be told from no turn.)
//
// So the host sees the answers, in the order, of a module that did its file work inside the
// call; offline that is what happens.
//
// Bounds: 256 steps; 4096 held inputs with 256 KB of payload (paths, search texts), far beyond
// what a user gives while a request is owed. An action that still finds no room is refused by
// name through the worker's log; a path refused takes its command with it. Nothing is allocated.
#pragma once

#include "Common/HeldInputs.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace prescat {

class LibraryJob;

// A fixed ring of values that grows at both ends.
template <class T, std::size_t N>
class FixedQueue {
public:
    bool empty() const { return count_ == 0; }
    bool full() const { return count_ == N; }
    std::size_t size() const { return count_; }
    T& front() { return items_[head_]; }
    T& at(std::size_t i) { return items_[(head_ + i) % N]; }
    bool pushBack(const T& item)
    {
        if (full())
            return false;
        items_[(head_ + count_++) % N] = item;
        return true;
    }
    bool pushFront(const T& item)
    {
        if (full())
            return false;
        head_ = (head_ + N - 1) % N;
        items_[head_] = item;
        ++count_;
        return true;
    }
    void popFront()
    {
        head_ = (head_ + 1) % N;
        --count_;
    }
    void clear() { head_ = count_ = 0; }

private:
    std::array<T, N> items_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

// Something owed to the host.
struct Step {
    enum class Kind : uint8_t { Post, ProgramChange, Apply };
    Kind kind = Kind::Post;
    int32_t value = 0;          // message id (no payload) or program number
    LibraryJob* job = nullptr;  // Apply
};

// An input held while a result it depends on is owed; its payload (message text, a save's values)
// is kept beside it.
struct HeldInput {
    enum class Kind : uint8_t {
        Message,        // id; the payload is its text
        ProgramChange,  // id: the program
        Frames,         // id: frames that passed
        TimerPass,      // the rest of one timer pass: id frames, from timer number `first` on
        GraphStart,     // the startup path from the last graph start's settings
        Turn,           // another module set slot id of the shared block to the value of bits `first`
    };
    Kind kind = Kind::Message;
    int32_t id = 0;
    int32_t first = 0;
};

inline constexpr std::size_t kOwedSteps = 256;
inline constexpr std::size_t kHeldInputs = 4096;
inline constexpr std::size_t kHeldBytes = 256 * 1024;

} // namespace prescat
