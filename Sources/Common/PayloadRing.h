// A fixed ring of items in arrival order, each with an optional payload of bytes kept in a second
// ring beside it (a message's text, a block's values): the outbox's answers wait here.
//
// Fixed room, set aside with its owner: kItems items and kPayloadBytes of payload bytes (payloads
// leave in the order they came). A push that finds no room returns false and changes nothing: the
// owner decides what that costs. Nothing here allocates, locks or waits.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace payload_ring {

template <class Item, std::size_t kItems, std::size_t kPayloadBytes = 0>
class PayloadRing {
public:
    static constexpr std::size_t capacity() { return kItems; }

    bool empty() const { return count_ == 0; }
    bool full() const { return count_ == kItems; }
    std::size_t size() const { return count_; }

    // [audio thread] Keeps item, and a copy of payload, after the others; false when either room
    // is full.
    bool pushBack(const Item& item, std::string_view payload = {})
    {
        if (full())
            return false;
        Kept& kept = kept_[(first_ + count_) % kItems];
        if (!reserve(kept, payload.size()))
            return false;
        kept.item = item;
        if (!payload.empty())
            std::memcpy(bytes_.data() + kept.offset, payload.data(), payload.size());
        ++count_;
        return true;
    }

    Item* front() { return empty() ? nullptr : &kept_[first_].item; }
    // The i-th oldest kept item (i < size()).
    Item* at(std::size_t i) { return &kept_[(first_ + i) % kItems].item; }

    // [audio thread] Takes the oldest item; its payload stays valid until the next push.
    bool popFront(Item& item, std::string_view& payload)
    {
        if (empty())
            return false;
        const Kept& kept = kept_[first_];
        item = kept.item;
        payload = std::string_view(bytes_.data() + kept.offset, kept.size);
        if (kept.size + kept.skipped > 0) {
            payloadFirst_ = (payloadFirst_ + kept.skipped + kept.size) % ring();
            used_ -= kept.skipped + kept.size;
        }
        first_ = (first_ + 1) % kItems;
        --count_;
        return true;
    }
    bool popFront(Item& item)
    {
        std::string_view payload;
        return popFront(item, payload);
    }

    void clear() { first_ = count_ = payloadFirst_ = used_ = 0; }

private:
    struct Kept {
        Item item{};
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

    std::array<Kept, kItems> kept_{};
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    std::array<char, ring()> bytes_{};
    std::size_t payloadFirst_ = 0;  // where the oldest payload's bytes (skipped ones first) begin
    std::size_t used_ = 0;
};

} // namespace payload_ring
