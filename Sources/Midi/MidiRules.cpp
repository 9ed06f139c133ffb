#include "Midi/MidiRules.h"

#include <array>
#include <cmath>

namespace midi_rules {

namespace {

constexpr int32_t kNumberLimit = 1 << 20;
constexpr std::string_view kSeparators = ",;:\t \n\r";

struct StatusName {
    std::string_view name;
    int32_t code;
};
constexpr std::array<StatusName, 11> kStatTbl{{
    {"NoteOff", kNoteOff}, {"NoteOn", kNoteOn}, {"KeyAft", kKeyAft}, {"Ctrl", kCtrl},
    {"ProgChg", kProgChg}, {"ChanAft", kChanAft}, {"PitchB", kPitchB}, {"Discard", kDiscard},
    {"RPN", kRpn}, {"NRPN", kNrpn}, {"*", kAny},
}};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

// Walks the tokens of a text.
class Tokens {
public:
    explicit Tokens(std::string_view text) : text_(text) {}
    std::optional<std::string_view> next()
    {
        const std::size_t start = text_.find_first_not_of(kSeparators, pos_);
        if (start == std::string_view::npos)
            return std::nullopt;
        std::size_t end = text_.find_first_of(kSeparators, start);
        if (end == std::string_view::npos)
            end = text_.size();
        pos_ = end;
        return text_.substr(start, end - start);
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// A 1-based number token as stored: one less unless the token is "*" (so "129" gives 128).
int32_t zeroBased(std::string_view token) { return token == "*" ? kAny : convertNum(token) - 1; }

bool within(int32_t x, int32_t low, int32_t high)
{
    if (low == kAny && high == kAny)
        return true;
    if (low == kAny)
        return x <= high;
    if (high == kAny)
        return x >= low;
    return low <= x && x <= high;
}

// Maps source x from range lo..hi onto a..b, rounded to the nearest step.
int32_t mapByte(int32_t x, int32_t lo, int32_t hi, int32_t a, int32_t b)
{
    if (a == kAny || b == kAny)
        return x;
    if (a == b || lo == hi)
        return a;
    const int32_t low = lo == kAny ? 0 : lo;
    const int32_t high = hi == kAny ? 127 : hi;
    if (low == high)
        return a;  // the range holds one value: no ratio to take
    float t = static_cast<float>(b - a) * (static_cast<float>(x - low) / static_cast<float>(high - low)) + 0.5f;
    const float limit = static_cast<float>(kNumberLimit) * 4.0f;
    t = t > limit ? limit : t < -limit ? -limit : t;
    return a + static_cast<int32_t>(t);
}

} // namespace

int32_t convertNum(std::string_view token)
{
    if (token == "*")
        return kAny;
    std::size_t i = 0;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-'))
        negative = token[i++] == '-';
    int32_t value = 0;
    for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i)
        value = value < kNumberLimit ? value * 10 + (token[i] - '0') : value;
    value = value > kNumberLimit ? kNumberLimit : value;
    return negative ? -value : value;
}

int32_t convertStat(std::string_view token)
{
    for (const auto& s : kStatTbl)
        if (sameIgnoringCase(token, s.name))
            return s.code;
    return -1;
}

std::optional<Rule> parseRule(std::string_view text)
{
    Tokens tokens(text.substr(0, text.find('\0')));
    std::array<std::string_view, 13> t;
    for (auto& token : t) {
        const auto next = tokens.next();
        if (!next)
            return std::nullopt;
        token = *next;
    }
    Rule r;
    r.inChannel = zeroBased(t[0]);
    r.inStatus = convertStat(t[1]);
    if (r.inStatus == -1)
        return std::nullopt;
    const bool inProgram = r.inStatus == kProgChg;
    r.in1Low = inProgram ? zeroBased(t[2]) : convertNum(t[2]);
    r.in1High = inProgram ? zeroBased(t[3]) : convertNum(t[3]);
    r.in2Low = convertNum(t[4]);
    r.in2High = convertNum(t[5]);
    const char flag = upper(t[6][0]);
    r.continueFlag = flag == 'Y' || flag == 'N' ? flag : 0;
    r.outChannel = zeroBased(t[7]);
    r.outStatus = convertStat(t[8]);
    if (r.outStatus == -1)
        return std::nullopt;
    const bool outProgram = r.outStatus == kProgChg;
    r.out1a = outProgram ? zeroBased(t[9]) : convertNum(t[9]);
    r.out1b = outProgram ? zeroBased(t[10]) : convertNum(t[10]);
    r.out2a = convertNum(t[11]);
    r.out2b = convertNum(t[12]);
    auto swapMark = [](std::optional<std::string_view> token) -> char {
        return token && ((*token)[0] == '<' || (*token)[0] == '>') ? (*token)[0] : 0;
    };
    r.swap[0] = swapMark(tokens.next());
    if (r.swap[0] != 0)
        r.swap[1] = swapMark(tokens.next());
    return r;
}

bool matchesRule(const Message& msg, const Rule& rule, bool internal)
{
    bool status = msg.status == rule.inStatus;
    if (rule.inStatus == kNrpn)
        status = msg.status >= kNrpn && msg.status <= kNrpnDecrement;
    else if (rule.inStatus == kRpn)
        status = msg.status >= kRpn && msg.status <= kRpnDecrement;
    if (!status)
        return false;
    if (rule.inChannel != kAny && rule.inChannel != msg.channel)
        return false;
    if (!within(msg.data1, rule.in1Low, rule.in1High) || !within(msg.data2, rule.in2Low, rule.in2High))
        return false;
    // An out status of "*" copies the input's kind, which is never composite for an internal one.
    return !internal || rule.outStatus < kNrpn;
}

Message processRule(const Message& msg, const Rule& rule)
{
    Message out = msg;
    out.status = rule.outStatus == kAny ? msg.status : rule.outStatus;
    out.channel = rule.outChannel == kAny ? msg.channel : rule.outChannel;
    const bool first = rule.swap[0] == '<' || rule.swap[1] == '<';
    const bool second = rule.swap[0] == '>' || rule.swap[1] == '>';
    out.data1 = first ? mapByte(msg.data2, rule.in2Low, rule.in2High, rule.out1a, rule.out1b)
                      : mapByte(msg.data1, rule.in1Low, rule.in1High, rule.out1a, rule.out1b);
    out.data2 = second ? mapByte(msg.data1, rule.in1Low, rule.in1High, rule.out2a, rule.out2b)
                       : mapByte(msg.data2, rule.in2Low, rule.in2High, rule.out2a, rule.out2b);
    return out;
}

std::size_t ruleText(std::wstring_view text, char (&out)[kRuleTextBytes + 1])
{
    std::size_t n = 0;
    for (const wchar_t wc : text) {
        uint32_t c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = '?';
        char bytes[4];
        std::size_t count = 0;
        if (c < 0x80) {
            bytes[count++] = static_cast<char>(c);
        } else if (c < 0x800) {
            bytes[count++] = static_cast<char>(0xC0 | (c >> 6));
            bytes[count++] = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes[count++] = static_cast<char>(0xE0 | (c >> 12));
            bytes[count++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[count++] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            bytes[count++] = static_cast<char>(0xF0 | (c >> 18));
            bytes[count++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes[count++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[count++] = static_cast<char>(0x80 | (c & 0x3F));
        }
        if (n + count > kRuleTextBytes)
            break;
        for (std::size_t i = 0; i < count; ++i)
            out[n++] = bytes[i];
    }
    out[n] = '\0';
    return n;
}

} // namespace midi_rules
