#include "CategoryListDisplay.h"

#include "CategoryBrowser/PresetLibrary.h"
#include "Common/PinText.h"

#include <algorithm>

namespace prescat::display {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "#ddd" followed by the tail ("#" and a space, or a space) at i.
bool numberAt(std::string_view text, std::size_t i, std::string_view tail)
{
    if (i + 4 + tail.size() > text.size() || text[i] != '#')
        return false;
    return isDigit(text[i + 1]) && isDigit(text[i + 2]) && isDigit(text[i + 3]) && text.substr(i + 4, tail.size()) == tail;
}

// Every non-overlapping match, left to right, removed (what a global replace by nothing does).
template <class MatchLength>
std::string removeAll(std::string_view text, MatchLength matchAt)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (const std::size_t length = matchAt(text, i)) {
            i += length;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string removeNumbers(std::string_view text, std::string_view tail)
{
    return removeAll(text, [tail](std::string_view t, std::size_t i) -> std::size_t {
        return numberAt(t, i, tail) ? 4 + tail.size() : 0;
    });
}

bool hasNumber(std::string_view text, std::string_view tail)
{
    for (std::size_t i = 0; i < text.size(); ++i)
        if (numberAt(text, i, tail))
            return true;
    return false;
}

std::size_t separatorAt(std::string_view entry)
{
    return entry.find_last_of("/\\");
}

// Bytes of the character at i: a lead byte with its continuation bytes, or one byte for
// anything that is not a well-formed sequence, so that a character never spans more than 4.
std::size_t charLength(std::string_view text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0xC2 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead <= 0xF4 ? 4 : 1;
    if (length == 1 || i + length > text.size())
        return 1;
    for (std::size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            return 1;
    return length;
}

std::string cutDisplay(std::string_view text)
{
    return std::string(firstChars(text, kDisplayChars));
}

} // namespace

std::string withoutMarkedNumbers(std::string_view text) { return removeNumbers(text, "# "); }
std::string withoutPlainNumbers(std::string_view text) { return removeNumbers(text, " "); }
std::string withoutNumberPrefixes(std::string_view text) { return withoutMarkedNumbers(withoutPlainNumbers(text)); }
bool hasMarkedNumber(std::string_view text) { return hasNumber(text, "# "); }
bool hasPlainNumber(std::string_view text) { return hasNumber(text, " "); }

// Tags are the library's: whole words only, so a name's own "#array" or "#favourite" shows as it is.
std::string withoutCategoryTags(std::string_view text) { return withoutTags(text, kCategoryTags); }
bool hasFavouriteTag(std::string_view text) { return prescat::hasFavouriteTag(text); }
std::string withoutFavouriteTag(std::string_view text) { return withoutTags(text, kFavouriteTags); }

std::string_view stem(std::string_view entry)
{
    const std::size_t at = separatorAt(entry);
    return at == std::string_view::npos ? entry : entry.substr(at + 1);
}

bool hasFolderPart(std::string_view entry) { return separatorAt(entry) != std::string_view::npos; }

std::string_view folderPart(std::string_view entry)
{
    const std::size_t at = separatorAt(entry);
    return at == std::string_view::npos ? std::string_view() : entry.substr(0, at);
}

std::string_view firstChars(std::string_view text, std::size_t maxChars)
{
    std::size_t chars = 0;
    std::size_t i = 0;
    while (i < text.size() && chars < maxChars) {
        i += charLength(text, i);
        ++chars;
    }
    return text.substr(0, i);
}

std::vector<std::string_view> listPieces(std::string_view text)
{
    std::vector<std::string_view> pieces;
    std::size_t pos = 0;
    while (pos < text.size() && pieces.size() < kPositions) {
        const std::size_t end = std::min(text.find_first_of(",;", pos), text.size());
        if (end > pos)
            pieces.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return pieces;
}

Entry folderViewEntry(std::string_view piece)
{
    const std::string tagged = withoutCategoryTags(withoutNumberPrefixes(piece));
    const std::string plain = withoutFavouriteTag(tagged);
    Entry entry;
    entry.name = cutDisplay(plain);
    entry.display = cutDisplay(hasFavouriteTag(tagged) ? "." + plain : tagged);
    return entry;
}

Entry searchViewEntry(std::string_view piece, bool markFavourites)
{
    Entry entry;
    entry.name = withoutFavouriteTag(withoutCategoryTags(withoutNumberPrefixes(piece)));
    std::string display = entry.name;
    std::string w = withoutCategoryTags(piece);
    if (hasMarkedNumber(w)) {
        w = withoutMarkedNumbers(w);
        display = w;
    }
    if (hasPlainNumber(w)) {
        w = withoutPlainNumbers(w);
        display = w;
    }
    if (hasFolderPart(w)) {
        w = std::string(stem(w));
        display = w;
    }
    if (hasFavouriteTag(w)) {
        w = withoutFavouriteTag(w);
        display = markFavourites ? "." + w : w;
    }
    entry.display = cutDisplay(display);
    return entry;
}

void readFolderNames(std::string_view text, std::array<std::string, kPositions>& folders)
{
    if (text.empty())
        return;
    std::size_t slot = 0;
    std::string name;
    bool dropping = false;  // the name reached 26 bytes: the rest of it is dropped
    auto store = [&] { folders[slot] = pin_text::cutAtCharBoundary(name, kFolderNameBytes); };
    for (const char c : text) {
        if (c == ',') {
            store();
            name.clear();
            dropping = false;
            slot = std::min<std::size_t>(slot + 1, kPositions - 1);
        } else if (!dropping) {
            if (name.size() < kFolderNameBytes) {
                name += c;
            } else {
                name = pin_text::cutAtCharBoundary(name, kFolderNameBytes - 1);
                dropping = true;
            }
        }
    }
    store();
}

} // namespace prescat::display
