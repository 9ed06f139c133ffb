#include "PresetStore/ListManagerWork.h"

#include "PresetStore/FactoryBank.h"

#include <algorithm>
#include <string>

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
    namesChanged = false;
    try {
        runTask();
    } catch (...) {
        // Out of memory for a path or a file's text: the worker's names and bank were changed only
        // by steps that completed, and what the result says applies.
    }
}

// Every step reads and changes copies and hands them to the worker's side only when it is done,
// so a step that fails midway changes nothing there.
void Work::runTask()
{
    WorkerSide& w = *side;
    switch (task) {
    case Task::StorePreset:
        w.bank.storeFrom(current, values);
        return;
    case Task::SetNames:
        w.names = names;
        return;
    case Task::FactoryBank:
        w.bank.storeFrom(current, values);
        factory_bank::layInto(w.names, w.bank);
        w.bank.storeFrom(current, values);
        return;
    case Task::StartUp: {
        w.folder.reset();
        const preset_bank::StartupPath start = preset_bank::startupBankPath(settings);
        w.folder = list_file::managerFolder(start, settings.autoPath);
        path.assign(start.workingPath.value_or(std::string()));
        names = w.names;
        *bank = w.bank;
        opened = preset_bank::LoadBank(path.view(), names, *bank, w.conversion);
        if (opened) {
            w.bank = *bank;
            w.names = names;
            namesChanged = true;
        }
        if (writeList && w.folder)
            writeListFile();
        return;
    }
    case Task::ReadList: {
        const std::optional<std::string> line = w.folder ? list_file::readListFile(w.folder->path) : std::nullopt;
        if (line && !line->empty()) {
            names = w.names;
            preset_bank::ReadList(*line, names);
            w.names = names;
            opened = namesChanged = true;
        }
        return;
    }
    case Task::WriteList:
        if (w.folder)
            writeListFile();
        return;
    default:
        break;
    }

    if (w.pathFromPathFile) {
        if (!takePathFile())
            return;  // the command does nothing at all
        if (!usable(path)) {
            // Opens nothing, but a preset load still stores the live preset.
            if (task == Task::LoadPreset) {
                w.bank.storeFrom(current, values);
                proceeded = true;
            }
            return;
        }
    }
    names = w.names;
    switch (task) {
    case Task::LoadPreset: {
        preset_bank::PresetFile file;
        opened = preset_bank::ReadPresetFile(path.view(), file);
        if (opened)
            file.applyTo(names, current, values);
        w.bank.storeFrom(current, values);
        break;
    }
    case Task::SavePreset:
        preset_bank::LoadName(path.view(), names, current);
        preset_bank::SavePreset(path.view(), names.view(current), values);
        break;
    case Task::LoadBank:
        *bank = w.bank;
        opened = preset_bank::LoadBank(path.view(), names, *bank, w.conversion);
        if (!opened)
            return;
        w.bank = *bank;
        break;
    case Task::SaveBank:
        preset_bank::LoadNames(path.view(), names);
        preset_bank::SaveBank(path.view(), names, w.bank);
        break;
    default:
        return;
    }
    w.names = names;
    proceeded = namesChanged = true;
}

void Work::writeListFile()
{
    WorkerSide& w = *side;
    w.list.build(w.names);
    list_file::createManagerFolders(*w.folder);
    list_file::writeListFile(w.folder->path, w.list.view());
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
