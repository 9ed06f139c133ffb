// The inputs a list manager's processing half keeps back while its file work is out on the file
// worker: interface messages with their payloads, program changes, graph starts and the end of
// its start-up countdown. They are replayed in arrival order once the work's result is in, so
// every input meets the state it would have met had the file work been instant.
//
// Fixed room, set aside with the module: kInputs inputs and kPayloadBytes of payload bytes in
// one ring (payloads leave in the order they came). When either is full the new input is
// dropped and counted: keeping what was accepted in order matters more than the newest input,
// and only a disk stalled for many seconds under a flood of commands gets there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace list_manager {

struct Input {
    enum class Kind : uint8_t { Message, ProgramChange, GraphStart, CountdownEnd };
    Kind kind = Kind::Message;
    int32_t id = 0;                // message id, or program number
    std::string_view payload{};    // message text or graph-start settings; valid until the next pop
};

class DeferredInputs {
public:
    static constexpr std::size_t kInputs = 64;
    static constexpr std::size_t kPayloadBytes = std::size_t{64} << 10;

    bool empty() const { return count_ == 0; }
    std::size_t size() const { return count_; }
    // Inputs refused because the room was full, over the module's life.
    std::size_t dropped() const { return dropped_; }

    // [audio thread] Keeps a copy of input (and its payload); false, counted, when full.
    bool push(const Input& input)
    {
        const std::size_t bytes = input.payload.size();
        if (count_ == kInputs || bytes > kPayloadBytes - used_) {
            ++dropped_;
            return false;
        }
        Kept& kept = kept_[(first_ + count_) % kInputs];
        kept.kind = input.kind;
        kept.id = input.id;
        kept.size = bytes;
        kept.offset = (payloadFirst_ + used_) % kPayloadBytes;
        // A payload that would wrap around the ring's end starts at its beginning instead; the
        // bytes skipped count as used until it leaves.
        kept.skipped = 0;
        if (kept.offset + bytes > kPayloadBytes) {
            kept.skipped = kPayloadBytes - kept.offset;
            if (bytes > kPayloadBytes - used_ - kept.skipped) {
                ++dropped_;
                return false;
            }
            kept.offset = 0;
        }
        if (bytes > 0)
            std::memcpy(payload_ + kept.offset, input.payload.data(), bytes);
        used_ += kept.skipped + bytes;
        ++count_;
        return true;
    }

    // [audio thread] The oldest input; its payload stays valid until the next push or pop.
    bool pop(Input& input)
    {
        if (count_ == 0)
            return false;
        const Kept& kept = kept_[first_];
        input.kind = kept.kind;
        input.id = kept.id;
        input.payload = std::string_view(payload_ + kept.offset, kept.size);
        payloadFirst_ = (payloadFirst_ + kept.skipped + kept.size) % kPayloadBytes;
        used_ -= kept.skipped + kept.size;
        first_ = (first_ + 1) % kInputs;
        --count_;
        return true;
    }

private:
    struct Kept {
        Input::Kind kind = Input::Kind::Message;
        int32_t id = 0;
        std::size_t offset = 0;   // of the payload in the ring
        std::size_t size = 0;
        std::size_t skipped = 0;  // ring bytes left unused before it
    };

    Kept kept_[kInputs];
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    char payload_[kPayloadBytes] = {};
    std::size_t payloadFirst_ = 0;  // where the oldest kept payload's bytes (skipped ones first) begin
    std::size_t used_ = 0;
    std::size_t dropped_ = 0;
};

} // namespace list_manager
