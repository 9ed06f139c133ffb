#include "CategoryBrowser/PresetIndex.h"

#include <re2/re2.h>

#include <algorithm>
#include <cstring>

namespace prescat {

struct SortKey {
    uint64_t high;
    uint64_t low;
    uint16_t index;
};

struct PresetIndex::Tables {
    SortKey sortKeys[kMaxIndexEntries];
    char files[kMaxIndexEntries][kEntryBytes];
    uint8_t fileRelativeAt[kMaxIndexEntries];
    uint16_t order[kMaxIndexEntries];  // file array positions in sorted order
    char results[kMaxIndexEntries][kEntryBytes];
    uint8_t resultRelativeAt[kMaxIndexEntries];
};

bool passesFilter(std::string_view text, const FilterRules& rules)
{
    bool pass = rules.category == 0 || hasCategoryTag(text, rules.category);
    if (rules.favouriteOnly)
        pass = pass && hasFavouriteTag(text);
    if (rules.editMode)
        pass = !hasAnyCategoryTag(text);
    pass = pass && !contains(text, "--");
    if (pass && rules.search)
        pass = RE2::PartialMatch(re2::StringPiece(text.data(), text.size()), *rules.search);
    return pass;
}

PresetIndex::PresetIndex() : tables_(std::make_unique<Tables>()) {}
PresetIndex::~PresetIndex() = default;

namespace {

// The first 16 bytes of an entry (zeros from its end on) as two numbers that order as the bytes
// do, unsigned.
SortKey sortKeyOf(const char* text, uint16_t index)
{
    unsigned char bytes[16] = {};
    std::memcpy(bytes, text, strnlen(text, sizeof bytes));
    const auto number = [&bytes](int at) {
        uint64_t v = 0;
        for (int i = at; i < at + 8; ++i)
            v = v << 8 | bytes[i];
        return v;
    };
    return {number(0), number(8), index};
}

} // namespace

// The index keeps every preset file when the library has no more than it holds, so the walk
// need not go in path order (the entries are sorted afterwards anyway): an unordered walk, which
// sorts no folder, comes first, and only a library with more files is walked again in path
// order for its first 16,384 (the next rescan of a library that filled the index walks in path
// order at once).
void PresetIndex::rescan(const char* root, bool onlySaved)
{
    Tables& t = *tables_;
    int count = 0;
    const auto presetFile = [](std::string_view name, DirectoryLister::Kind) { return isPresetFileName(name); };
    const auto add = [&](std::string_view relative, DirectoryLister::Kind) {
        IndexEntry entry;
        if (makeIndexEntry(relative, false, entry) && !entry.emptySlot && !entry.dashes && (!onlySaved || entry.inSaved)) {
            if (count == kMaxIndexEntries)
                return false;  // more than the index holds
            std::memcpy(t.files[count], entry.text, sizeof entry.text);
            t.fileRelativeAt[count] = entry.relativeAt;
            ++count;
        }
        return true;
    };
    if (overfull_ || !lister_.walkAnyOrder(root, presetFile, add)) {
        count = 0;
        lister_.walk(root, kMaxIndexEntries, presetFile, [&](std::string_view relative, DirectoryLister::Kind kind) {
            add(relative, kind);
            return count < kMaxIndexEntries;
        });
    }
    overfull_ = count == kMaxIndexEntries;
    fileCount_ = count;
    // Sorted by the first 16 bytes as numbers, the whole entry only where they are equal.
    for (int i = 0; i < count; ++i)
        t.sortKeys[i] = sortKeyOf(t.files[i], static_cast<uint16_t>(i));
    std::sort(t.sortKeys, t.sortKeys + count, [&t](const SortKey& a, const SortKey& b) {
        if (a.high != b.high)
            return a.high < b.high;
        if (a.low != b.low)
            return a.low < b.low;
        return std::strcmp(t.files[a.index], t.files[b.index]) < 0;
    });
    for (int i = 0; i < count; ++i)
        t.order[i] = t.sortKeys[i].index;
}

void PresetIndex::addResult(const char* text, uint8_t relativeAt)
{
    Tables& t = *tables_;
    const std::size_t length = strnlen(text, kEntryBytes - 1);
    std::memcpy(t.results[resultCount_], text, length);
    t.results[resultCount_][length] = 0;
    t.resultRelativeAt[resultCount_] = relativeAt;
    ++resultCount_;
}

void PresetIndex::filter(const FilterRules& rules)
{
    resultCount_ = 0;
    const Tables& t = *tables_;
    for (int i = 0; i < fileCount_ && resultCount_ < kMaxIndexEntries; ++i) {
        const char* text = t.files[t.order[i]];
        if (text[0] && passesFilter(text, rules))
            addResult(text, t.fileRelativeAt[t.order[i]]);
    }
}

void PresetIndex::collectFolder(const char* folder, std::string_view relativeFolder, bool byTime, const FilterRules& rules)
{
    resultCount_ = 0;
    eachPresetFile(folder, byTime, kMaxIndexEntries, [&](std::string_view name, int) {
        char relative[2048];
        std::size_t length = 0;
        if (!relativeFolder.empty()) {
            if (relativeFolder.size() + 1 + name.size() > sizeof relative)
                return true;
            std::memcpy(relative, relativeFolder.data(), relativeFolder.size());
            relative[relativeFolder.size()] = '/';
            length = relativeFolder.size() + 1;
        }
        if (length + name.size() > sizeof relative)
            return true;
        std::memcpy(relative + length, name.data(), name.size());
        length += name.size();
        IndexEntry entry;
        if (makeIndexEntry(std::string_view(relative, length), false, entry) && !entry.emptySlot &&
            passesFilter(entry.name, rules))
            addResult(entry.text, entry.relativeAt);
        return resultCount_ < kMaxIndexEntries;
    });
}

void PresetIndex::reverseResults()
{
    Tables& t = *tables_;
    for (int a = 0, b = resultCount_ - 1; a < b; ++a, --b) {
        std::swap(t.results[a], t.results[b]);
        std::swap(t.resultRelativeAt[a], t.resultRelativeAt[b]);
    }
}

PresetIndex::Arrows PresetIndex::writePage(int page, preset_bank::NameTable& names) const
{
    Arrows arrows;
    for (int row = 0; row < 104; ++row)
        names.setName(row, preset_bank::kEmptyName);
    const int p = std::clamp(page, 0, kLastPage);
    const int n = resultCount_;
    if (102 * p + 103 < n) {
        names.setName(103, ">>");
        arrows.next = true;
    }
    if (p > 0) {
        names.setName(0, "<<");
        arrows.previous = true;
    }
    const Tables& t = *tables_;
    const int first = p == 0 ? 0 : 102 * p + 1;
    const int end = std::min(p == 0 ? 103 : 102 * p + 103, n);
    for (int r = first, row = p == 0 ? 0 : 1; r < end; ++r, ++row)
        names.setName(row, t.results[r] + t.resultRelativeAt[r]);
    return arrows;
}

} // namespace prescat
