#include "CategoryBrowser/LibraryWork.h"

#include "CategoryBrowser/CategoryStore.h"
#include "Common/PinText.h"

#include <re2/re2.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
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

const PresetRead kNoFile{};  // what a list entry naming no file loads: nothing, or the init patch

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

// ---- The list shown -----------------------------------------------------------------------

LibraryWork::LibraryWork(std::string root) : root_(std::move(root)) { setFolder(kPresetsFolder); }

LibraryWork::~LibraryWork() { stop(); }

void LibraryWork::start(preset_block::Shadow* shadow, bool realTime)
{
    shadow_ = shadow;
    readAhead_ = realTime;
    if (realTime && !watching_ && watch_.started()) {
        file_worker::addWatch(*this);
        watching_ = true;
    }
}

void LibraryWork::stop()
{
    if (watching_)
        file_worker::removeWatch(*this);
    watching_ = false;
}

int LibraryWork::fd() const noexcept { return watch_.fd(); }

void LibraryWork::ready() noexcept
{
    try {
        refreshChanged();
    } catch (...) {
        // Out of memory: the read-ahead is read again at the next change.
    }
}

bool LibraryWork::folderPath(int folder, preset_bank::PathBuffer& out) const
{
    if (folder == kRootFolder)
        return joinPath(out, {root_, "/"});
    if (folder < 0 || folder >= kFolders)
        return joinPath(out, {root_, "/Presets"});
    return joinPath(out, {root_, "/", table_.names[folder]});
}

bool LibraryWork::entryFile(int entry, preset_bank::PathBuffer& out) const
{
    const std::string_view name = entry >= 0 && entry < kEntries ? names_.view(entry) : std::string_view();
    return entryPath(base_.view(), name, searchView_, out);
}

bool LibraryWork::selectionShown(int entry) const
{
    preset_bank::PathBuffer shown;
    return !selectedFile_.empty() && entry == selectedEntry_ && entryFile(selectedEntry_, shown) &&
           shown.view() == selectedFile_.view();
}

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
                             std::memcpy(table_.names[count], name.data(), name.size());
                             table_.names[count][name.size()] = 0;
                             return ++count < kFolders;
                         });
    table_.count = count;
    for (int f = count; f < kFolders; ++f)
        std::memcpy(table_.names[f], kEmpty.data(), kEmpty.size() + 1);
    table_.textSize = joined(table_.text, sizeof table_.text, kFolders, [this](int f) { return std::string_view(table_.names[f]); });
    out = table_;
}

void LibraryWork::makeList(LibraryJob::What what, const LibraryJob::Request& request, ListText& out)
{
    using What = LibraryJob::What;
    const preset_bank::PathBuffer& path = listPath_;
    out.numbered = false;
    switch (what) {
    case What::FolderList:
        listFolder(path, request, out);
        if (request.clearArrows)
            arrows_ = {};
        break;
    case What::RescanAndPage:
        index_.rescan(root_.c_str(), request.onlySaved);
        index_.filter(filterRules(request));
        writePage(request, out);
        break;
    case What::FilterAndPage:
        index_.filter(filterRules(request));
        writePage(request, out);
        break;
    case What::SavedAndPage:
        index_.collectFolder(path.c_str(), belowRoot(path.view(), root_), request.timeOrder, filterRules(request));
        if (request.timeOrder && request.savedOrderHeld)
            index_.reverseResults();
        else if (request.timeOrder)
            page_ = lastPageOf(index_.resultCount());
        writePage(request, out);
        break;
    case What::ResultPage:
        writePage(request, out);
        break;
    default:
        listTree(path);
        break;
    }
    out.arrows = arrows_;
    base_.assign(request.searchView ? std::string_view(root_) : path.view());
    searchView_ = request.searchView;
    joinNames(out);
    presets_.forgetAll();
    if (readAhead_)
        readPresets();
}

void LibraryWork::listFolder(const preset_bank::PathBuffer& path, const LibraryJob::Request& request, ListText& out)
{
    bool numbered = false;
    int count = 0;
    const auto fill = [&](std::string_view name, int) {
        const std::string_view stem = name.substr(0, name.size() - kExtension.size());
        // A stem too long for its slot could not be loaded from it: left out.
        if (stem.size() < static_cast<std::size_t>(kEntryBytes))
            names_.setName(count++, stem);
        return count < kEntries;
    };
    bool first = true;
    index_.eachPresetFile(path.c_str(), false, kEntries, [&](std::string_view name, int fd) {
        if (request.checkNumbered && first)
            numbered = hasNumberPrefix(path.view()) || hasNumberPrefix(name);
        first = false;
        return fill(name, fd);
    });
    if (request.timeOrder && !numbered) {
        count = 0;
        index_.eachPresetFile(path.c_str(), true, kEntries, fill);
    }
    for (int i = count; i < kEntries; ++i)
        names_.setName(i, kEmpty);
    out.numbered = numbered;
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

void LibraryWork::writePage(const LibraryJob::Request& request, ListText&)
{
    arrows_ = index_.writePage(page_, names_);
    const auto label = [this](int row, std::string_view word) {
        char text[kEntryBytes];
        const std::size_t n = std::min(word.size(), sizeof text - 1 - kNineSpaces.size());
        std::memcpy(text, kNineSpaces.data(), kNineSpaces.size());
        std::memcpy(text + kNineSpaces.size(), word.data(), n);
        names_.setName(row, std::string_view(text, kNineSpaces.size() + n));
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
}

bool LibraryWork::arrowRow(int row) const
{
    return (row == kNextArrowRow && arrows_.next) || (row == kPrevArrowRow && arrows_.previous);
}

bool LibraryWork::turnPage(int row, const LibraryJob::Request& request, ListText& out)
{
    if (row == kNextArrowRow && page_ < kLastPage)
        ++page_;
    else if (row == kPrevArrowRow && page_ > 0)
        --page_;
    makeList(LibraryJob::What::ResultPage, request, out);
    return true;
}

// Of the first 16384 entries listed only the 128 smallest are kept, in a heap whose top is the
// largest kept, so the list needs no more room than it shows.
void LibraryWork::listTree(const preset_bank::PathBuffer& path)
{
    const std::string_view below = belowRoot(path.view(), root_);
    const auto larger = [this](int a, int b) { return std::strcmp(treeEntries_[a].text, treeEntries_[b].text) < 0; };
    int heap[kEntries];
    int kept = 0;
    int listed = 0;
    const auto presetFile = [](std::string_view name, DirectoryLister::Kind) { return isPresetFileName(name); };
    index_.lister().walk(path.c_str(), kMaxIndexEntries, presetFile, [&](std::string_view relative, DirectoryLister::Kind) {
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
        names_.setName(i, i < kept ? std::string_view(treeEntries_[heap[i]].text + treeEntries_[heap[i]].relativeAt) : kEmpty);
}

void LibraryWork::joinNames(ListText& out)
{
    out.textSize = joined(out.text, sizeof out.text, kEntries, [this](int i) { return names_.view(i); });
}

// ---- Read-ahead -------------------------------------------------------------------------------

void LibraryWork::readPresets()
{
    // Watched first, so that a change made while they are read is seen at the next look.
    watch_.clear();
    for (int i = 0; i < kEntries; ++i) {
        watched_[i].clear();
        if (entryFile(i, watched_[i]))
            watch_.add(watched_[i].view().substr(0, watched_[i].view().size() - lastComponent(watched_[i].view()).size() - 1));
    }
    PresetRead preset;
    for (int i = 0; i < kEntries; ++i) {
        if (watched_[i].empty())
            continue;
        readPreset(watched_[i].view(), preset);
        presets_.store(i, watched_[i].view(), preset);
    }
}

void LibraryWork::refreshChanged()
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
    PresetRead preset;
    uint64_t refreshed = 0;
    for (int i = 0; i < kEntries; ++i) {
        if (watched_[i].empty() || !(changed[i] || all))
            continue;
        readPreset(watched_[i].view(), preset);
        presets_.store(i, watched_[i].view(), preset);
        ++refreshed;
    }
    if (refreshed)
        readAheadRefreshes.fetch_add(refreshed, std::memory_order_release);
}

void LibraryWork::counted() { libraryWrites.fetch_add(1, std::memory_order_release); }

// ---- Loads and the block ----------------------------------------------------------------------

// The preset's values over the block as the worker knows it, migrated; an "empty" entry without
// a file gets the init patch; any other missing file changes nothing. values: the block then.
bool LibraryWork::applyPreset(const PresetRead& preset, int entry, uint64_t place, float (&values)[preset_bank::kSlots])
{
    shadow_->read(values);
    if (preset.count != PresetRead::kMissing) {
        std::copy(preset.values, preset.values + preset.count, values);
        migrateOldPreset(values);
    } else if (entry >= 0 && entry < kEntries && names_.view(entry) == kEmpty) {
        writeInitPatch(values);
    } else {
        return false;
    }
    shadow_->writeAsOf(values, place);
    shadow_->read(values);
    backupEffects(true);
    return true;
}

bool LibraryWork::loadEntry(int entry, uint64_t place, float (&values)[preset_bank::kSlots])
{
    entryFile(entry, filePath_);
    PresetRead read;
    const PresetRead* preset = filePath_.empty() ? &kNoFile : nullptr;
    if (!preset && readAhead_ && watch_.started()) {
        // Another manager's write may not have reached ready() yet: look now.
        const uint64_t writes = libraryWrites.load(std::memory_order_acquire);
        if (writes != writesSeen_) {
            writesSeen_ = writes;
            refreshChanged();
        }
        preset = presets_.find(entry, filePath_.view());
    }
    if (!preset) {
        readPreset(filePath_.view(), read);
        preset = &read;
    }
    selectedEntry_ = entry;
    selectedFile_.assign(filePath_.view());
    selectedId_ = preset->file;
    return applyPreset(*preset, entry, place, values);
}

bool LibraryWork::loadPath(std::string_view path, int entry, uint64_t place, float (&values)[preset_bank::kSlots])
{
    PresetRead read;
    filePath_.assign(path);
    readPreset(path, read);
    const bool loaded = applyPreset(read, entry, place, values);
    storeInBank(entry);
    return loaded;
}

void LibraryWork::backupEffects(bool always)
{
    if (backupTaken_ && !always)
        return;
    for (int slot : kBackedUpSlots)
        effectBackup_[slot] = shadow_->get(slot);
    backupTaken_ = true;
}

void LibraryWork::restoreEffects(uint64_t place, float (&values)[preset_bank::kSlots])
{
    for (int slot : kMutedSlots) {
        values[slot] = effectBackup_[slot];
        shadow_->setAsOf(slot, values[slot], place);
    }
}

void LibraryWork::storeInBank(int entry)
{
    if (entry < 0 || entry >= kEntries)
        return;
    float values[preset_bank::kSlots];
    shadow_->read(values);
    bank_.storeFrom(entry, values);
}

// ---- Files ------------------------------------------------------------------------------------

bool LibraryWork::save(const LibraryJob::Request& request, float (&values)[preset_bank::kSlots])
{
    shadow_->read(values);
    backupEffects(true);
    const std::string_view path = request.path.view();
    filePath_.assign(path);
    // A stored name never holds ";", so one left in slot 0 means none was read.
    scratchNames_.setName(0, ";");
    if (request.loadName)
        preset_bank::LoadName(path, scratchNames_, 0);
    const bool ok = preset_bank::SavePreset(path, request.name, values);
    counted();
    if (scratchNames_.view(0) != ";")
        names_.setName(request.entry, scratchNames_.view(0));
    PresetRead written;
    readPreset(path, written);
    presets_.refresh(path, written);
    if (ok && path == selectedFile_.view())
        selectedId_ = written.file;  // saved over by the user: still the file selected
    return ok;
}

bool LibraryWork::loadBank(std::string_view path, uint64_t place, float (&values)[preset_bank::kSlots])
{
    filePath_.assign(path);
    bankIn_ = bank_;
    scratchNames_ = names_;
    if (!preset_bank::LoadBank(path, scratchNames_, bankIn_, preset_bank::FieldConversion::Decimal))
        return false;
    bank_ = bankIn_;
    bankNames_ = scratchNames_;
    names_ = scratchNames_;
    bankImported_ = true;
    entryFile(0, filePath_);
    PresetRead read;
    readPreset(filePath_.view(), read);
    applyPreset(read, 0, place, values);
    return true;
}

bool LibraryWork::loadNames()
{
    scratchNames_ = names_;
    if (!preset_bank::LoadNames(filePath_.view(), scratchNames_))
        return false;
    bankNames_ = scratchNames_;
    names_ = scratchNames_;
    return true;
}

void LibraryWork::clearBank()
{
    bank_.clear();
    bankImported_ = false;
}

bool LibraryWork::writeBank(std::string_view folder, FolderTable& out)
{
    if (!bankImported_)
        return false;
    filePath_.assign(folder);
    writeBankFolder(folder, bankNames_, bank_);
    counted();
    presets_.forgetBelow(folder);
    listFolders(out);
    return true;
}

bool LibraryWork::retag(const LibraryJob::Request& request, bool favourite)
{
    if (!selectionShown(selectedEntry_) || !(identify(selectedFile_.view()) == selectedId_))
        return false;
    const std::string_view path = selectedFile_.view();
    if (!isPresetFileInLibrary(path, root_))
        return true;
    const std::string name = favourite ? favouriteToggledName(lastComponent(path)) : retaggedName(lastComponent(path), request.category);
    const std::string_view folder = path.substr(0, path.size() - lastComponent(path).size());
    preset_bank::PathBuffer renamed;
    if (renamePresetFile(path, root_, name) && joinPath(renamed, {folder, name})) {
        counted();
        PresetRead preset;
        readPreset(renamed.view(), preset);
        presets_.refresh(path, kNoFile);
        presets_.refresh(renamed.view(), preset);
    }
    return true;
}

bool LibraryWork::trash(const LibraryJob::Request& request, bool& denied)
{
    if (!selectionShown(request.entry))
        return false;
    if (hasNumberPrefix(names_.view(request.entry))) {
        denied = true;
        return false;
    }
    filePath_.assign(selectedFile_.view());
    if (!(identify(selectedFile_.view()) == selectedId_))
        return false;
    if (trashPresetFile(selectedFile_.view(), root_)) {
        counted();
        presets_.refresh(selectedFile_.view(), kNoFile);
    }
    return true;
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

void restoreLibraryFromBackup(const std::string& root)
{
    struct stat info {};
    if (::lstat(root.c_str(), &info) == 0 || errno != ENOENT)
        return;
    const std::string backup = libraryBackupPath();
    if (::lstat(backup.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        ::rename(backup.c_str(), root.c_str());
}

// ---- Jobs: one function per kind ----------------------------------------------------------------

bool LibraryJob::isList(What what)
{
    return what == What::FolderList || what == What::ResultPage || what == What::RescanAndPage || what == What::FilterAndPage ||
           what == What::SavedAndPage || what == What::TreeList;
}

const char* LibraryJob::name(What what)
{
    switch (what) {
    case What::SavePreset: return "save preset";
    case What::WriteBankFolder: return "save bank folder";
    case What::Retag: return "tag preset";
    case What::ToggleFavourite: return "favourite";
    case What::Trash: return "delete preset";
    case What::LoadEntry:
    case What::LoadFile: return "load preset";
    case What::LoadBank: return "load bank";
    case What::Restore: return "restore effects";
    default: return "list";
    }
}

void LibraryJob::run() noexcept
{
    ok = true;
    acted = write = turned = denied = false;
    try {
        if (request.resetPage)
            library->resetPage();
        if (request.folder != kKeepFolder && request.what != What::Folders)
            library->setFolder(request.folder);
        switch (request.what) {
        case What::None: break;
        case What::Folders: folderTable(); break;
        case What::FolderList:
        case What::ResultPage:
        case What::RescanAndPage:
        case What::FilterAndPage:
        case What::SavedAndPage:
        case What::TreeList: library->makeList(request.what, request, *list); break;
        case What::Row: row(); break;
        case What::LoadEntry: load(); break;
        case What::LoadFile: loadFile(); break;
        case What::SavePreset: save(); break;
        case What::FixPreset: fix(); break;
        case What::Backup:
        case What::Restore: effects(); break;
        case What::LoadBank: loadBank(); break;
        case What::LoadNames: ok = library->loadNames(); break;
        case What::ClearBank: library->clearBank(); break;
        case What::WriteBankFolder: ok = library->writeBank(request.path.view(), *folders); break;
        case What::Retag:
        case What::ToggleFavourite:
        case What::Trash: fileWork(); break;
        case What::StartupPath: startupPath(); break;
        }
    } catch (...) {
        // Out of memory: the work is left undone; nothing is answered.
        ok = acted = write = turned = denied = false;
    }
}

void LibraryJob::folderTable()
{
    library->listFolders(*folders);
    if (request.folder != kKeepFolder)
        library->setFolder(request.folder);
    if (request.listAfter != What::None)
        library->makeList(request.listAfter, request, *list);
}

// The program change goes out unless the row is a page arrow shown; then the page turns if asked.
void LibraryJob::row()
{
    if (!library->arrowRow(request.entry))
        acted = true;
    else if (request.turnPage)
        turned = library->turnPage(request.entry, request, *list);
}

// A row that is a page arrow loads nothing: the selection turned the page.
void LibraryJob::load()
{
    library->shadow().merge(seen);
    if (request.resultView && library->arrowRow(request.entry))
        return;
    acted = true;
    write = library->loadEntry(request.entry, place(), values);
}

void LibraryJob::loadFile()
{
    library->shadow().merge(seen);
    write = library->loadPath(request.path.view(), request.entry, place(), values);
}

void LibraryJob::save()
{
    library->shadow().merge(seen);
    ok = library->save(request, values);
}

void LibraryJob::fix()
{
    library->shadow().merge(seen);
    library->storeInBank(request.entry);
}

void LibraryJob::effects()
{
    if (request.what == What::Backup) {
        library->shadow().merge(seen);
        library->backupEffects(false);
        return;
    }
    library->restoreEffects(place(), values);
    write = true;
}

void LibraryJob::loadBank()
{
    library->shadow().merge(seen);
    acted = ok = library->loadBank(request.path.view(), place(), values);
}

// What follows a file operation that acted (a list again) is made only then.
void LibraryJob::fileWork()
{
    if (request.what == What::Trash)
        acted = library->trash(request, denied);
    else
        acted = library->retag(request, request.what == What::ToggleFavourite);
    if (acted && list) {
        library->makeList(request.listAfter, request, *list);
        turned = true;
    }
}

void LibraryJob::startupPath()
{
    library->setFilePath(preset_bank::startupBankPath(*startup).workingPath.value_or(""));
}

} // namespace prescat
