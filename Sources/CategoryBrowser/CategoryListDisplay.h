// How the category manager's interface half shows list and folder texts: the markers a preset
// file's name carries (bank number prefixes, category tags, the favourite tag) taken out for the
// name table, the display entry of each position (folder part dropped in search views,
// favourites led by a full stop, at most 25 characters), and the folder names.
// Every marker is matched by a plain byte scan: linear in the text, whatever it holds.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace prescat::display {

inline constexpr int kPositions = 128;
inline constexpr std::size_t kDisplayChars = 25;
inline constexpr std::size_t kFolderNameBytes = 25;

// Every "#ddd " removed, then every "#ddd# " (ddd three digits).
std::string withoutNumberPrefixes(std::string_view text);
// Every "#ddd# " removed, or every "#ddd " (the search view's two separate steps).
std::string withoutMarkedNumbers(std::string_view text);
std::string withoutPlainNumbers(std::string_view text);
bool hasMarkedNumber(std::string_view text);
bool hasPlainNumber(std::string_view text);
// The 17 category tags (" #ar" ... " #sw"), each removed wherever it stands whole (a space or the
// end after it); the favourite tag likewise.
std::string withoutCategoryTags(std::string_view text);
bool hasFavouriteTag(std::string_view text);
std::string withoutFavouriteTag(std::string_view text);

// The text after the last "/" or "\" (the whole text without one), and the text before it.
std::string_view stem(std::string_view entry);
bool hasFolderPart(std::string_view entry);
std::string_view folderPart(std::string_view entry);

// The first maxChars characters of a UTF-8 text; a byte outside a well-formed sequence counts as
// one, so the result never holds more than 4 x maxChars bytes.
std::string_view firstChars(std::string_view text, std::size_t maxChars);

// A list text cut at every "," and ";", empty pieces skipped; at most 128 pieces.
std::vector<std::string_view> listPieces(std::string_view text);

struct Entry {
    std::string name;    // for the name table
    std::string display; // for the list view
};
// A position of an ordinary folder's list.
Entry folderViewEntry(std::string_view piece);
// A position of a search view's list; markFavourites false after the processing half asked for
// unmarked favourites.
Entry searchViewEntry(std::string_view piece, bool markFavourites);

// The folder list's names: a "," ends a name; a name keeps at most 25 bytes, and one of 26 or
// more ends at 24; names past slot 127 all go to slot 127. An empty text changes no slot.
void readFolderNames(std::string_view text, std::array<std::string, kPositions>& folders);

} // namespace prescat::display
