#include "PresetStore/ListManagerWork.h"

#include "PresetStore/FactoryBank.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace list_manager {

namespace {

// Files chosen in a panel are absolute; anything else (an empty line, a stray relative path)
// opens nothing, so that no file is read or written relative to the current folder.
bool usable(const preset_bank::PathBuffer& path) { return !path.empty() && path.view().front() == '/'; }

} // namespace

void Work::run() noexcept
{
    proceeded = false;
    opened = false;
    factory = false;
    preludeDone = false;
    WorkerSide& w = *side;
    if (selectionKnown)
        w.selection = selection;
    try {
        runTask();
    } catch (...) {
        // Out of memory for a path or a file's text: the worker's names and bank were changed only
        // by steps that completed, and what the result says applies.
    }
    selection = w.selection;
}

void Work::runTask()
{
    switch (task) {
    case Task::Select:
        return select();
    case Task::LoadPreset:
        return loadPreset();
    case Task::SavePreset:
        return savePreset();
    case Task::LoadBank:
        return loadBank();
    case Task::SaveBank:
        return saveBank();
    case Task::Store:
    case Task::StartStore:
        return storeBlock();
    case Task::SetNames:
        for (int slot = 0; slot < touched && slot < preset_bank::kPresets; ++slot)
            side->names.setName(slot, names->view(slot));
        return;
    case Task::ListNames:
        *names = side->names;
        return;
    case Task::FetchBank:
        *bank = side->bank;
        return;
    case Task::StartUp:
        return startUp();
    case Task::ReadList:
        return readList();
    case Task::WriteList:
        if (side->folder)
            writeListFile();
        return;
    }
}

// The block as offline has it at this job's place: the turns the input saw, over what the jobs
// of every module on the block before it left.
void Work::readBlock()
{
    if (!shadow) {  // none could be made: the block as the input saw it
        std::copy(std::begin(seen.values), std::end(seen.values), std::begin(values));
        return;
    }
    if (readsBlock)
        shadow->merge(seen);
    shadow->read(values);
}

void Work::writeBlock()
{
    if (shadow)
        shadow->writeAsOf(values, place());
}

// The prelude writes nothing the selection does not write again at the same place: only its
// announcement tells it apart.
void Work::select()
{
    Selection& s = side->selection;
    if (prelude && !s.prelude && s.current >= 2) {
        s.prelude = true;
        preludeDone = true;
        controller_dump::computeDump(side->bank.preset(1), preludeDump);
    }
    s.current = preset_bank::BankMemory::clampPreset(program);
    const preset_bank::PresetValues& chosen = side->bank.preset(s.current);
    std::copy(std::begin(chosen), std::end(chosen), std::begin(values));
    writeBlock();
}

void Work::loadPreset()
{
    WorkerSide& w = *side;
    if (!takePath())
        return;
    readBlock();
    const int current = w.selection.current;
    if (opens()) {
        preset_bank::PresetFile file;
        opened = preset_bank::ReadPresetFile(path.view(), file);
        if (opened) {
            preset_bank::NameTable loaded = w.names;
            file.applyTo(loaded, current, values);
            w.names = loaded;
            writeBlock();
        }
    }
    // A path that opens nothing still stores the live preset.
    w.bank.storeFrom(current, values);
    proceeded = true;
}

void Work::savePreset()
{
    WorkerSide& w = *side;
    if (!takePath() || !opens())
        return;
    readBlock();
    preset_bank::NameTable saved = w.names;
    preset_bank::LoadName(path.view(), saved, w.selection.current);
    w.names = saved;
    preset_bank::SavePreset(path.view(), w.names.view(w.selection.current), values);
    proceeded = true;
}

void Work::loadBank()
{
    WorkerSide& w = *side;
    if (!takePath() || !opens())
        return;
    preset_bank::NameTable loaded = w.names;
    w.reading = w.bank;
    opened = preset_bank::LoadBank(path.view(), loaded, w.reading, w.conversion);
    if (!opened)
        return;
    w.bank = w.reading;
    w.names = loaded;
    w.selection.current = 0;
    const preset_bank::PresetValues& first = w.bank.preset(0);
    std::copy(std::begin(first), std::end(first), std::begin(values));
    writeBlock();
    proceeded = true;
}

void Work::saveBank()
{
    WorkerSide& w = *side;
    if (!takePath() || !opens())
        return;
    preset_bank::NameTable saved = w.names;
    preset_bank::LoadNames(path.view(), saved);
    w.names = saved;
    preset_bank::SaveBank(path.view(), w.names, w.bank);
    proceeded = true;
}

// The list-pipe manager's start-up store lays the factory bank in while the names are the
// constructor's; the current preset keeps the live values.
void Work::storeBlock()
{
    WorkerSide& w = *side;
    readBlock();
    w.bank.storeFrom(w.selection.current, values);
    if (task != Task::StartStore || std::string_view(w.names.name(0)) != preset_bank::kDefaultName)
        return;
    factory_bank::layInto(w.names, w.bank);
    w.bank.storeFrom(w.selection.current, values);
    factory = true;
}

void Work::startUp()
{
    WorkerSide& w = *side;
    w.folder.reset();
    const preset_bank::StartupPath start = preset_bank::startupBankPath(*settings);
    w.folder = list_file::managerFolder(start, settings->autoPath);
    path.assign(start.workingPath.value_or(std::string()));
    preset_bank::NameTable loaded = w.names;
    w.reading = w.bank;
    opened = preset_bank::LoadBank(path.view(), loaded, w.reading, w.conversion);
    if (opened) {
        w.bank = w.reading;
        w.names = loaded;
    }
    if (writeList && w.folder)
        writeListFile();
}

void Work::readList()
{
    WorkerSide& w = *side;
    const std::optional<std::string> line = w.folder ? list_file::readListFile(w.folder->path) : std::nullopt;
    if (!line || line->empty())
        return;
    preset_bank::NameTable read = w.names;
    preset_bank::ReadList(*line, read);
    w.names = read;
    opened = true;
}

void Work::writeListFile()
{
    WorkerSide& w = *side;
    w.list.build(w.names);
    list_file::createManagerFolders(*w.folder);
    list_file::writeListFile(w.folder->path, w.list.view());
}

// The command's path: the one it carries, or the list-file manager's from Path.txt. false: the
// command does nothing at all.
bool Work::takePath()
{
    return !side->pathFromPathFile || takePathFile();
}

// Path.txt names a file only by an absolute path; the list-pipe manager's path was checked when
// it arrived.
bool Work::opens() const
{
    return !side->pathFromPathFile || usable(path);
}

// Path.txt into the received path; true when a valid received path became the path.
bool Work::takePathFile()
{
    WorkerSide& w = *side;
    list_file::PathFileRead read;
    if (w.folder)
        read = list_file::readPathFile(w.folder->path);
    switch (read.status) {
    case list_file::PathFileRead::Status::Unreadable:
        w.receivedPath.clear();
        w.receivedValid = false;
        return false;
    case list_file::PathFileRead::Status::NoLine:
        break;
    case list_file::PathFileRead::Status::Path:
        w.receivedValid = w.receivedPath.assign(read.path);
        break;
    }
    if (!w.receivedValid)
        return false;
    path.assign(w.receivedPath.view());
    return true;
}

} // namespace list_manager
