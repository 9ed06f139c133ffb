// The reader every MIDI input hands its events through, on any bytes. Input: events, each a length
// byte (its low 4 bits) and that many bytes, read in turn by one reader. Every message delivered
// must be whole (a status byte, then exactly its data bytes, or SysEx from F0 to F7), or the
// event as it stands when that is one channel message as modules send it, read as zeros up to its
// third byte, and read back as itself by a fresh reader; no event gives more bytes than it holds
// but the running status byte of each message.
#include "FuzzSupport.h"
#include "MidiReader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

using fuzz_support::check;

namespace {

bool isWhole(const unsigned char* m, int32_t size)
{
    if (size < 1 || m[0] < 0x80)
        return false;
    if (m[0] == 0xF0) {
        if (size < 2 || m[size - 1] != 0xF7)
            return false;
    } else if (size != MidiReader::lengthOf(m[0])) {
        return false;
    }
    for (int32_t i = 1; i < size; ++i)
        if (m[i] >= 0x80 && !(m[0] == 0xF0 && i == size - 1))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MidiReader reader;
    std::vector<unsigned char> event, again;
    size_t at = 0;
    while (at < size) {
        const size_t length = data[at++] & 0x0F;
        event.assign(data + at, data + std::min(size, at + length));
        at += event.size();
        int32_t delivered = 0, messages = 0;
        const std::vector<unsigned char> original = event;
        const bool oneMessage = MidiReader::isOneMessage(event.data(), static_cast<int32_t>(event.size()));
        reader.read(event.data(), static_cast<int32_t>(event.size()), [&](unsigned char* m, int32_t n) {
            if (oneMessage)
                check(std::vector<unsigned char>(m, m + n) == original, "a one-message event is delivered as it stands");
            else
                check(isWhole(m, n), "a delivered message is whole");
            for (int32_t i = n; i < 3; ++i)
                check(m[i] == 0, "a short message reads as zeros up to its third byte");
            delivered += n;
            ++messages;
            again.assign(m, m + n);
            int32_t count = 0;
            MidiReader().read(again.data(), n, [&](unsigned char* r, int32_t rn) {
                check(rn == n && std::equal(r, r + rn, m), "a whole message reads back as itself");
                ++count;
            });
            check(count == 1, "a whole message reads back as one message");
        });
        check(delivered <= static_cast<int32_t>(event.size()) + messages,
              "no more bytes delivered than the event holds, but running status bytes");
    }
    return 0;
}
