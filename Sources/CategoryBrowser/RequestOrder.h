// How the category manager's processing half keeps its answers in order while its file work runs
// on the worker. Everything a request owes the host after the work was asked for (messages,
// program changes, the applying of the result) becomes a step, and steps are carried out in order
// at the start of a later block, an apply step as soon as its job has run. While steps are owed,
// every new input (a message with its payload, a program change) waits in arrival order, and so
// do the frames that pass (the module's time stands still, its timers keep their sample counts);
// they are handled when the steps are done. A step made while handling one thing goes before
// everything that was already owed. So the host sees exactly the answers, in exactly the
// order, of a module that did its file work inside the call; offline that is what happens, with
// the same steps carried out at the end of the call.
//
// Bounds: 64 steps and 32 waiting inputs. A step that finds no room is dropped; so is an input,
// the newest, when 32 wait (the user's 33rd click during one request; the frames of the blocks
// between two inputs count as one). Nothing is allocated.
#pragma once

#include "PresetStore/PresetBank.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// An input that waits for the steps owed before it.
struct WaitingInput {
    enum class Kind : uint8_t {
        Message,        // id, payload of size bytes in text
        ProgramChange,  // id: the program
        Frames,         // id: frames that passed
        TimerPass,      // the rest of one timer pass: id frames, from timer number size on
        GraphStart,     // the startup path from the last graph start's settings
    };
    Kind kind = Kind::Message;
    int32_t id = 0;
    int32_t size = 0;
    char text[preset_bank::kPathBytes + 1] = {};  // payload: a longer one is kept cut, and refused as a path

    void keep(int32_t payloadSize, const void* payload)
    {
        const std::size_t n = payload && payloadSize > 0 ? std::min<std::size_t>(static_cast<std::size_t>(payloadSize), sizeof text) : 0;
        if (n)
            std::memcpy(text, payload, n);
        size = static_cast<int32_t>(n);
    }
};

inline constexpr std::size_t kOwedSteps = 64;
inline constexpr std::size_t kWaitingInputs = 32;

} // namespace prescat
