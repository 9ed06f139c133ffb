// The inputs a processing half keeps back, in arrival order, while a result of its file work that
// they depend on is owed (a program change after a folder change waits for that folder's list).
// Everything else is answered at once or becomes a file job when it arrives; this holds only what
// must wait, and each module's own policy sits on top: what merges into the newest kept input
// (a run of program changes, frames that pass) and what goes before everything (the rest of
// something being handled).
//
// Fixed room, set aside with the module: kInputs inputs and kPayloadBytes of payload bytes in one
// ring (payloads leave in the order they came, so only inputs without payload may go in front).
// A push that finds no room returns false and changes nothing: the module decides what that
// costs (a merged input never needs room; an action it cannot keep is logged by name).
// Nothing here allocates, locks or waits.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace held_inputs {

template <class Input, std::size_t kInputs, std::size_t kPayloadBytes = 0>
class HeldInputs {
public:
    static constexpr std::size_t capacity() { return kInputs; }

    bool empty() const { return count_ == 0; }
    bool full() const { return count_ == kInputs; }
    std::size_t size() const { return count_; }

    // [audio thread] Keeps input, and a copy of payload, after the others; false when either room
    // is full.
    bool pushBack(const Input& input, std::string_view payload = {})
    {
        if (full())
            return false;
        Kept& kept = kept_[(first_ + count_) % kInputs];
        if (!reserve(kept, payload.size()))
            return false;
        kept.input = input;
        if (!payload.empty())
            std::memcpy(bytes_.data() + kept.offset, payload.data(), payload.size());
        ++count_;
        return true;
    }

    // [audio thread] Keeps input (without payload) before all others; false when full.
    bool pushFront(const Input& input)
    {
        if (full())
            return false;
        first_ = (first_ + kInputs - 1) % kInputs;
        kept_[first_] = Kept{input};
        ++count_;
        return true;
    }

    // [audio thread] The newest kept input, for a policy that merges into it; nullptr when none.
    Input* back() { return empty() ? nullptr : &kept_[(first_ + count_ - 1) % kInputs].input; }
    Input* front() { return empty() ? nullptr : &kept_[first_].input; }
    // The i-th oldest kept input (i < size()).
    Input* at(std::size_t i) { return &kept_[(first_ + i) % kInputs].input; }

    // [audio thread] Takes the oldest input; its payload stays valid until the next push.
    bool popFront(Input& input, std::string_view& payload)
    {
        if (empty())
            return false;
        const Kept& kept = kept_[first_];
        input = kept.input;
        payload = std::string_view(bytes_.data() + kept.offset, kept.size);
        if (kept.size + kept.skipped > 0) {
            payloadFirst_ = (payloadFirst_ + kept.skipped + kept.size) % ring();
            used_ -= kept.skipped + kept.size;
        }
        first_ = (first_ + 1) % kInputs;
        --count_;
        return true;
    }
    bool popFront(Input& input)
    {
        std::string_view payload;
        return popFront(input, payload);
    }

    void clear() { first_ = count_ = payloadFirst_ = used_ = 0; }

private:
    struct Kept {
        Input input{};
        std::size_t offset = 0;   // of the payload in the ring
        std::size_t size = 0;
        std::size_t skipped = 0;  // ring bytes left unused before it
    };

    static constexpr std::size_t ring() { return kPayloadBytes > 0 ? kPayloadBytes : 1; }

    // Room for bytes at the ring's end: a payload that would wrap around starts at the ring's
    // beginning instead, and the bytes skipped count as used until it leaves.
    bool reserve(Kept& kept, std::size_t bytes)
    {
        kept.offset = kept.size = kept.skipped = 0;
        if (bytes == 0)
            return true;
        if (bytes > kPayloadBytes - used_)
            return false;
        if (used_ == 0)
            payloadFirst_ = 0;  // an empty ring starts over, so any payload that fits the ring fits
        std::size_t offset = (payloadFirst_ + used_) % ring();
        std::size_t skipped = 0;
        if (offset + bytes > kPayloadBytes) {
            skipped = kPayloadBytes - offset;
            if (bytes > kPayloadBytes - used_ - skipped)
                return false;
            offset = 0;
        }
        kept.offset = offset;
        kept.size = bytes;
        kept.skipped = skipped;
        used_ += skipped + bytes;
        return true;
    }

    std::array<Kept, kInputs> kept_{};
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    std::array<char, ring()> bytes_{};
    std::size_t payloadFirst_ = 0;  // where the oldest payload's bytes (skipped ones first) begin
    std::size_t used_ = 0;
};

} // namespace held_inputs
