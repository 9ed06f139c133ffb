#include "CategoryBrowser/LibraryWork.h"

#include "CategoryBrowser/CategoryStore.h"
#include "Common/PinText.h"

#include <re2/re2.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>

namespace prescat {

namespace {

constexpr std::string_view kEmpty = preset_bank::kEmptyName;
constexpr std::string_view kNineSpaces = "         ";

std::string_view lastComponent(std::string_view path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}


// Joins count texts of text(i) with "," into out; its size with the NUL.
template <class Text>
int32_t joined(char* out, std::size_t capacity, int count, Text&& text)
{
    std::size_t length = 0;
    out[0] = 0;
    for (int i = 0; i < count; ++i) {
        if (i && length + 2 <= capacity)
            out[length++] = ',';
        appendShownEntry(out, capacity, length, text(i));
    }
    return static_cast<int32_t>(length + 1);
}

// The path below the root of a folder inside it ("" for the root itself).
std::string_view belowRoot(std::string_view folder, const std::string& root)
{
    return folder.size() > root.size() + 1 ? folder.substr(root.size() + 1) : std::string_view();
}

} // namespace

bool joinPath(preset_bank::PathBuffer& out, std::initializer_list<std::string_view> parts)
{
    char text[preset_bank::kPathBytes];
    std::size_t length = 0;
    for (std::string_view part : parts) {
        if (length + part.size() >= sizeof text) {
            out.clear();
            return false;
        }
        if (!part.empty())
            std::memcpy(text + length, part.data(), part.size());
        length += part.size();
    }
    if (!out.assign(std::string_view(text, length)))
        out.clear();
    return !out.empty();
}

// ---- Presets ----------------------------------------------------------------------------------

bool LibraryWork::readPreset(std::string_view path, PresetRead& out)
{
    out.file = identify(path);
    // The reader fills slots 0, 1, 2 ... in file order and never stores a NaN (it reads one as
    // 0), so the first NaN left marks how far the file went.
    std::fill(std::begin(out.values), std::end(out.values), std::numeric_limits<float>::quiet_NaN());
    if (path.empty() || !preset_bank::LoadPreset(path, nameLine_, 0, out.values)) {
        out.count = PresetRead::kMissing;
        return false;
    }
    out.count = static_cast<int>(std::find_if(std::begin(out.values), std::end(out.values), [](float v) { return std::isnan(v); }) -
                                 std::begin(out.values));
    return true;
}

const PresetRead* PresetCache::find(int entry, std::string_view path) const
{
    if (entry < 0 || entry >= kEntries || path.empty() || entries_[entry].path.view() != path)
        return nullptr;
    return &entries_[entry].preset;
}

void PresetCache::store(int entry, std::string_view path, const PresetRead& preset)
{
    if (entry < 0 || entry >= kEntries)
        return;
    entries_[entry].path.assign(path);
    entries_[entry].preset = preset;
}

void PresetCache::refresh(std::string_view path, const PresetRead& preset)
{
    for (Entry& e : entries_)
        if (!path.empty() && e.path.view() == path)
            e.preset = preset;
}

void PresetCache::forgetBelow(std::string_view folder)
{
    for (Entry& e : entries_) {
        const std::string_view p = e.path.view();
        if (p.size() > folder.size() && p.substr(0, folder.size()) == folder && p[folder.size()] == '/')
            e.path.clear();
    }
}

void PresetCache::forgetAll()
{
    for (Entry& e : entries_)
        e.path.clear();
}

bool entryPath(std::string_view base, std::string_view entry, bool subfoldersAllowed, preset_bank::PathBuffer& out)
{
    if (!isInsideLibraryEntry(entry, subfoldersAllowed)) {
        out.clear();
        return false;
    }
    return joinPath(out, {base, "/", entry, kExtension});
}

// ---- Lists ------------------------------------------------------------------------------------

LibraryWork::LibraryWork(std::string root) : root_(std::move(root)) {}
LibraryWork::~LibraryWork() = default;

void LibraryWork::listFolders(FolderTable& out)
{
    int count = 0;
    // A name too long for its slot could not be opened again from the slot: left out.
    auto folder = [](std::string_view name, DirectoryLister::Kind kind, int fd, int64_t&) {
        return name.size() < kFolderBytes &&
               (kind == DirectoryLister::Kind::Folder ||
                (kind == DirectoryLister::Kind::Link && kindFollowingLinks(fd, name.data()) == DirectoryLister::Kind::Folder));
    };
    index_.lister().each(root_.c_str(), kFolders, DirectoryLister::Order::Name, folder,
                         [&](std::string_view name, DirectoryLister::Kind, int) {
                             std::memcpy(out.names[count], name.data(), name.size());
                             out.names[count][name.size()] = 0;
                             return ++count < kFolders;
                         });
    out.count = count;
    for (int f = count; f < kFolders; ++f)
        std::memcpy(out.names[f], kEmpty.data(), kEmpty.size() + 1);
    out.textSize = joined(out.text, sizeof out.text, kFolders, [&out](int f) { return std::string_view(out.names[f]); });
}

void LibraryWork::listFolder(const LibraryJob::Request& request, ListResult& out)
{
    bool numbered = false;
    int count = 0;
    const auto fill = [&](std::string_view name, int) {
        const std::string_view stem = name.substr(0, name.size() - kExtension.size());
        // A stem too long for its slot could not be loaded from it: left out.
        if (stem.size() < static_cast<std::size_t>(kEntryBytes))
            out.names.setName(count++, stem);
        return count < kEntries;
    };
    bool first = true;
    index_.eachPresetFile(request.path.c_str(), false, kEntries, [&](std::string_view name, int fd) {
        if (request.checkNumbered && first)
            numbered = hasNumberPrefix(request.path.view()) || hasNumberPrefix(name);
        first = false;
        return fill(name, fd);
    });
    if (request.timeOrder && !numbered) {
        count = 0;
        index_.eachPresetFile(request.path.c_str(), true, kEntries, fill);
    }
    for (int i = count; i < kEntries; ++i)
        out.names.setName(i, kEmpty);
    out.numbered = numbered;
    joinNames(out);
    out.presets.forgetAll();
}

FilterRules LibraryWork::filterRules(const LibraryJob::Request& request)
{
    FilterRules rules;
    rules.category = request.category;
    rules.favouriteOnly = request.favouriteFilter;
    rules.editMode = request.editMode;
    rules.search = request.searchActive ? searchPattern(request.searchText) : nullptr;
    return rules;
}

void LibraryWork::filter(const LibraryJob::Request& request) { index_.filter(filterRules(request)); }

int LibraryWork::collectSaved(const LibraryJob::Request& request)
{
    index_.collectFolder(request.path.c_str(), belowRoot(request.path.view(), root_), request.timeOrder, filterRules(request));
    if (!request.timeOrder)
        return request.page;
    if (request.savedOrderHeld) {
        index_.reverseResults();
        return request.page;
    }
    return lastPageOf(index_.resultCount());
}

void LibraryWork::writePage(const LibraryJob::Request& request, ListResult& out)
{
    out.page = request.page;
    out.arrows = index_.writePage(request.page, out.names);
    const auto label = [&out](int row, std::string_view word) {
        char text[kEntryBytes];
        const std::size_t n = std::min(word.size(), sizeof text - 1 - kNineSpaces.size());
        std::memcpy(text, kNineSpaces.data(), kNineSpaces.size());
        std::memcpy(text + kNineSpaces.size(), word.data(), n);
        out.names.setName(row, std::string_view(text, kNineSpaces.size() + n));
    };
    label(104, "SEARCH");
    label(105, request.folderJustChosen ? "SET " : "SET");
    label(106, "");
    label(107, request.editMode ? "EDIT" : "ALL");
    label(108, request.editMode ? "SAVE" : (request.favouriteFilter ? "FAVOURITE " : "FAVOURITE"));
    label(109, "");
    label(110, request.editMode ? "NO CATEGORY" : "ALL");
    for (int k = 1; k < kCategories; ++k)
        label(kCategoryRow + k, categoryLabel(k));
    joinNames(out);
    out.presets.forgetAll();
}

// Of the first 16384 entries listed only the 128 smallest are kept, in a heap whose top is the
// largest kept, so the list needs no more room than it shows.
void LibraryWork::listTree(const LibraryJob::Request& request, ListResult& out)
{
    const std::string_view below = belowRoot(request.path.view(), root_);
    const auto larger = [this](int a, int b) { return std::strcmp(treeEntries_[a].text, treeEntries_[b].text) < 0; };
    int heap[kEntries];
    int kept = 0;
    int listed = 0;
    const auto presetFile = [](std::string_view name, DirectoryLister::Kind) { return isPresetFileName(name); };
    index_.lister().walk(request.path.c_str(), kMaxIndexEntries, presetFile, [&](std::string_view relative, DirectoryLister::Kind) {
        char file[2048];
        std::size_t length = 0;
        if (below.size() + 1 + relative.size() > sizeof file)
            return true;
        if (!below.empty()) {
            std::memcpy(file, below.data(), below.size());
            file[below.size()] = '/';
            length = below.size() + 1;
        }
        std::memcpy(file + length, relative.data(), relative.size());
        length += relative.size();
        IndexEntry entry;
        if (!makeIndexEntry(std::string_view(file, length), true, entry) || entry.emptySlot)
            return true;
        ++listed;
        if (kept < kEntries) {
            treeEntries_[kept] = entry;
            heap[kept] = kept;
            ++kept;
            std::push_heap(heap, heap + kept, larger);
        } else if (std::strcmp(entry.text, treeEntries_[heap[0]].text) < 0) {
            std::pop_heap(heap, heap + kept, larger);
            treeEntries_[heap[kept - 1]] = entry;
            std::push_heap(heap, heap + kept, larger);
        }
        return listed < kMaxIndexEntries;
    });
    std::sort_heap(heap, heap + kept, larger);
    for (int i = 0; i < kEntries; ++i)
        out.names.setName(i, i < kept ? std::string_view(treeEntries_[heap[i]].text + treeEntries_[heap[i]].relativeAt) : kEmpty);
    joinNames(out);
    out.presets.forgetAll();
}

void LibraryWork::readPresets(const LibraryJob::Request& request, ListResult& out)
{
    // Watched first, so that a change made while they are read is seen at the next look.
    watch_.clear();
    watchedList_ = request.generation;
    out.generation = request.generation;
    for (int i = 0; i < kEntries; ++i) {
        watched_[i].clear();
        if (entryPath(request.base.view(), out.names.view(i), request.subfoldersAllowed, watched_[i]))
            watch_.add(watched_[i].view().substr(0, watched_[i].view().size() - lastComponent(watched_[i].view()).size() - 1));
    }
    out.presets.forgetAll();
    PresetRead preset;
    for (int i = 0; i < kEntries; ++i) {
        if (watched_[i].empty())
            continue;
        readPreset(watched_[i].view(), preset);
        out.presets.store(i, watched_[i].view(), preset);
    }
}

void LibraryWork::readChanges(PresetChanges& out)
{
    bool changed[kEntries] = {};
    const bool complete = watch_.poll([&](std::string_view folder, std::string_view name) {
        for (int i = 0; i < kEntries; ++i) {
            const std::string_view path = watched_[i].view();
            if (path.size() == folder.size() + 1 + name.size() && path.substr(0, folder.size()) == folder &&
                path[folder.size()] == '/' && path.substr(folder.size() + 1) == name)
                changed[i] = true;
        }
    });
    // Changes lost: every preset is read again, but while the watch keeps losing them (it could
    // not be set up) only at every 32nd look, so the disk is not read in a loop.
    const bool all = !complete && lostLooks_++ % 32 == 0;
    if (complete)
        lostLooks_ = 0;
    out.list = watchedList_;
    out.count = 0;
    for (int i = 0; i < kEntries; ++i) {
        if (watched_[i].empty() || !(changed[i] || all))
            continue;
        out.entries[out.count] = i;
        out.paths[out.count].assign(watched_[i].view());
        readPreset(watched_[i].view(), out.presets[out.count]);
        ++out.count;
    }
}

void LibraryWork::joinNames(ListResult& out)
{
    out.textSize = joined(out.text, sizeof out.text, kEntries, [&out](int i) { return out.names.view(i); });
}

// The user's search text as a case-insensitive pattern of linear matching time. A pattern the
// matcher cannot take (invalid, or a feature such as a back-reference) is searched as literal
// text instead.
const re2::RE2* LibraryWork::searchPattern(std::string_view text)
{
    if (search_ && text == searchText_)
        return search_.get();
    searchText_ = text;
    RE2::Options options;
    options.set_case_sensitive(false);
    options.set_log_errors(false);
    options.set_never_capture(true);
    options.set_max_mem(1 << 20);
    const re2::StringPiece piece(text.data(), text.size());
    search_ = std::make_unique<RE2>(piece, options);
    if (search_->ok())
        return search_.get();
    search_ = std::make_unique<RE2>(RE2::QuoteMeta(piece), options);
    if (search_->ok())
        return search_.get();
    options.set_encoding(RE2::Options::EncodingLatin1);  // bytes that are not UTF-8
    search_ = std::make_unique<RE2>(RE2::QuoteMeta(piece), options);
    return search_.get();
}

// ---- Jobs -------------------------------------------------------------------------------------

void LibraryJob::run() noexcept
{
    try {
        LibraryWork& work = *library;
        const std::string& root = work.root();
        ok = true;
        switch (request.what) {
        case What::Folders:
            work.listFolders(*folders);
            break;
        case What::FolderList:
            work.listFolder(request, *list);
            break;
        case What::RescanAndPage:
            work.rescan(request.onlySaved);
            work.filter(request);
            work.writePage(request, *list);
            break;
        case What::FilterAndPage:
            work.filter(request);
            work.writePage(request, *list);
            break;
        case What::SavedAndPage:
            request.page = work.collectSaved(request);
            work.writePage(request, *list);
            break;
        case What::ResultPage:
            work.writePage(request, *list);
            break;
        case What::TreeList:
            work.listTree(request, *list);
            break;
        case What::ReadPreset:
            ok = work.readPreset(request.path.view(), preset);
            break;
        case What::SavePreset:
            // A stored name never holds ";", so one left in slot 0 means none was read.
            names.setName(0, ";");
            if (request.loadName)
                preset_bank::LoadName(request.path.view(), names, 0);
            nameRead = names.view(0) != ";";
            ok = preset_bank::SavePreset(request.path.view(), request.name, request.values);
            work.readPreset(request.path.view(), preset);
            break;
        case What::LoadBank:
            *bank = *bankFrom;
            ok = preset_bank::LoadBank(request.path.view(), names, *bank, preset_bank::FieldConversion::Decimal);
            if (ok) {
                entryPath(request.base.view(), names.view(0), request.subfoldersAllowed, newPath);
                work.readPreset(newPath.view(), preset);
            }
            break;
        case What::LoadNames:
            ok = preset_bank::LoadNames(request.path.view(), names);
            break;
        case What::WriteBankFolder:
            writeBankFolder(request.path.view(), *bankNames, *bankFrom);
            work.listFolders(*folders);
            break;
        case What::Retag:
        case What::ToggleFavourite: {
            const std::string_view path = request.path.view();
            ok = false;
            newPath.clear();
            sameFile = identify(path) == request.file;
            if (sameFile && isPresetFileInLibrary(path, root)) {
                const std::string name = request.what == What::Retag ? retaggedName(lastComponent(path), request.category)
                                                                     : favouriteToggledName(lastComponent(path));
                const std::string_view folder = path.substr(0, path.size() - lastComponent(path).size());
                ok = renamePresetFile(path, root, name) && joinPath(newPath, {folder, name});
                work.readPreset(newPath.view(), preset);
            }
            break;
        }
        case What::Trash:
            sameFile = identify(request.path.view()) == request.file;
            ok = sameFile && trashPresetFile(request.path.view(), root);
            break;
        case What::PresetChanges:
            work.readChanges(*changes);
            break;
        case What::StartupPath:
            newPath.clear();
            newPath.assign(preset_bank::startupBankPath(startup).workingPath.value_or(""));
            break;
        }
        // A list goes out with its presets, so that a program change on any row it shows loads in
        // the block it arrives in.
        if (request.readAhead && list)
            work.readPresets(request, *list);
    } catch (...) {
        // Out of memory: the work is left undone and the lists stay as they were.
        ok = false;
        newPath.clear();
    }
}

} // namespace prescat
