// The text of "Controllers.txt": writing it from the map and reading it back; the buttons' edits.
#include "Midi/LearnMap.h"

namespace learn_map {

namespace {

// Right-aligns 0-127 in three characters.
void put3(char* at, int32_t value)
{
    at[0] = value >= 100 ? static_cast<char>('0' + value / 100) : ' ';
    at[1] = value >= 10 ? static_cast<char>('0' + value / 10 % 10) : ' ';
    at[2] = static_cast<char>('0' + value % 10);
}

// The integer at the start of text as the C library reads one: leading blanks, a sign, digits;
// saturating far beyond any entry, 0 without digits.
int32_t leadingInteger(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value < 100000000 ? value * 10 + (text[i] - '0') : value;
    return static_cast<int32_t>(negative ? -value : value);
}

} // namespace

void format(const Map& map, FileText& text)
{
    for (int i = 0; i < kEntries; ++i) {
        char* line = text.data() + static_cast<std::size_t>(i) * kLineBytes;
        const int32_t value = map[static_cast<std::size_t>(i)];
        put3(line, i);
        line[3] = ',';
        put3(line + 4, value >= 0 && value < kEntries ? value : 0);
        line[7] = '\r';
        line[8] = '\n';
    }
}

void parse(std::string_view bytes, Map& map)
{
    std::size_t start = 0;
    for (int i = 0; i < kEntries && start < bytes.size(); ++i) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos)
            end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        start = end + 1;
        int32_t value = 0;
        if (line.size() >= 5) {
            std::string_view number = line.substr(4, 8);
            number = number.substr(0, number.find('\r'));
            value = leadingInteger(number);
        }
        map[static_cast<std::size_t>(i)] = value >= 0 && value < kEntries ? value : 0;
    }
}

void apply(const Edit& edit, Map& map) noexcept
{
    if (edit.internal >= kEntries || edit.external >= kEntries)
        return;
    switch (edit.kind) {
    case Edit::kClear:
        map.fill(0);
        break;
    case Edit::kStore:
        map[edit.internal] = edit.external;
        break;
    case Edit::kUnlearn:
        if (map[edit.internal] == edit.external)
            map[edit.internal] = 0;
        break;
    }
}

} // namespace learn_map
