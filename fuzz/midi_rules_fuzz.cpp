// Rule texts of the MIDI rule converter from arbitrary bytes: the parser, matching and mapping
// must accept anything without a fault, and every mapped byte the converter sends stays bounded.
// Input: 8 bytes of a message (status, channel, data1 and data2 as 16-bit numbers, internal flag),
// then the rule text; the same bytes are also taken as wide characters for the pin conversion.
#include "Midi/MidiRules.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace midi_rules;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Message msg;
    bool internal = false;
    if (size >= 8) {
        static constexpr int32_t kStatuses[] = {kNoteOff, kNoteOn, kKeyAft, kCtrl, kProgChg, kChanAft, kPitchB,
                                                kNrpn, kNrpnIncrement, kNrpnDecrement, kRpn, kRpnIncrement, kRpnDecrement, 0};
        msg.status = kStatuses[data[0] % (sizeof kStatuses / sizeof kStatuses[0])];
        msg.channel = data[1] & 0x0F;
        msg.data1 = (data[2] | (data[3] << 8)) & kMax14Bit;
        msg.data2 = (data[4] | (data[5] << 8)) & kMax14Bit;
        internal = data[6] & 1;
        data += 8;
        size -= 8;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto rule = parseRule(text)) {
        if (rule->inChannel != kAny && (rule->inChannel < -(1 << 20) - 1 || rule->inChannel > (1 << 20)))
            std::abort();
        if (matchesRule(msg, *rule, internal)) {
            const Message out = processRule(msg, *rule);
            (void)out;
        }
    }
    std::wstring wide;
    for (size_t i = 0; i + 4 <= size; i += 4) {
        uint32_t c;
        std::memcpy(&c, data + i, 4);
        wide += static_cast<wchar_t>(c);
    }
    char converted[kRuleTextBytes + 1];
    const size_t n = ruleText(wide, converted);
    if (n > kRuleTextBytes || converted[n] != '\0')
        std::abort();
    (void)parseRule(std::string_view(converted, n));
    return 0;
}
