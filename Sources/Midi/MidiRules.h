// The rule language of the MIDI rule converter: one rule per text, its parser, matching and the
// mapping of the data bytes. A rule names an input message (channel, status, ranges of both data
// bytes) and an output message (channel, status, target range of each data byte), whether
// processing stops after it, and whether the data bytes trade places.
//
// Text: tokens separated by runs of "," ";" ":" tab, space, CR and LF:
//   in-channel in-status in1-low in1-high in2-low in2-high Y|N out-channel out-status
//   out1-a out1-b out2-a out2-b [<|> [<|>]]
// Channels are 1-based; "ProgChg" program numbers are 1-based; "*" means any. Status names
// (any case): NoteOff NoteOn KeyAft Ctrl ProgChg ChanAft PitchB Discard RPN NRPN "*".
// A text shorter than 13 tokens or naming an unknown status gives no rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace midi_rules {

// "Any": what "*" stands for. Rule texts written for the system rely on the number 129 meaning the
// same (a 1-based channel or program number 130 too), so it is the number itself.
inline constexpr int32_t kAny = 129;

// Status codes: the channel-message kinds by their status nibble, and the composite kinds.
enum Status : int32_t {
    kDiscard = 0,
    kNoteOff = 128,
    kNoteOn = 144,
    kKeyAft = 160,
    kCtrl = 176,
    kProgChg = 192,
    kChanAft = 208,
    kPitchB = 224,
    kNrpn = 300,
    kNrpnIncrement = 301,
    kNrpnDecrement = 302,
    kRpn = 303,
    kRpnIncrement = 304,
    kRpnDecrement = 305,
};
inline bool isComposite(int32_t status) { return status >= kNrpn && status <= kRpnDecrement; }

inline constexpr std::size_t kRuleTextBytes = 99;
inline constexpr int32_t kMax14Bit = 16383;

// The message record the converter works on.
struct Message {
    int32_t status = 0;   // a Status code (upper nibble for channel messages)
    int32_t channel = 0;  // 0-15
    int32_t data1 = 0;    // composite kinds: the parameter number 0-16383
    int32_t data2 = 0;    // composite kinds: the value 0-16383, or the step
    int64_t size = 0;     // byte count of the incoming message, 1 for an assembled one
};

struct Rule {
    int32_t inChannel = 0;
    int32_t inStatus = 0;
    int32_t in1Low = 0, in1High = 0;
    int32_t in2Low = 0, in2High = 0;
    char continueFlag = 0;  // 'Y', 'N' or 0 (acts like 'Y')
    int32_t outChannel = 0;
    int32_t outStatus = 0;  // kDiscard drops the message
    int32_t out1a = 0, out1b = 0;
    int32_t out2a = 0, out2b = 0;
    char swap[2] = {0, 0};  // '<', '>' or 0 each
};

// A number token: "*" gives kAny, otherwise its leading integer (sign and digits, saturated to
// +-2^20; 129 reads as kAny), 0 for a token without one.
int32_t convertNum(std::string_view token);
// A status name's code, kAny for "*", -1 when the name is not known.
int32_t convertStat(std::string_view token);
// The rule a text describes, or nothing (the rule is cleared).
std::optional<Rule> parseRule(std::string_view text);

// Whether msg matches rule; an internal message (one the converter generated) matches only rules
// whose output is not a composite kind.
bool matchesRule(const Message& msg, const Rule& rule, bool internal);
// The output record of a matching rule (data bytes not yet limited to what can be sent).
Message processRule(const Message& msg, const Rule& rule);

// A rule pin's text as UTF-8 in at most 99 bytes plus a terminator (a character that would not
// fit whole is left out, one without a UTF-8 form becomes "?"); the byte count.
std::size_t ruleText(std::wstring_view text, char (&out)[kRuleTextBytes + 1]);

} // namespace midi_rules
