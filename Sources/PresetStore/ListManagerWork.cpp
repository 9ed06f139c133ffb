#include "PresetStore/ListManagerWork.h"

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
    lineLength = 0;
    line[0] = 0;
    try {
        runTask();
    } catch (...) {
        // Out of memory for a path or a file's text: what was done stands, the rest is not done.
    }
}

void Work::runTask()
{
    if (task == Task::StartUp) {
        folder_.reset();
        const preset_bank::StartupPath start = preset_bank::startupBankPath(settings);
        folder_ = list_file::managerFolder(start, settings.autoPath);
        path.assign(start.workingPath.value_or(std::string()));
        opened = preset_bank::LoadBank(path.view(), names, bank, conversion);
        if (writeList && folder_) {
            list.build(names);
            list_file::createManagerFolders(*folder_);
            list_file::writeListFile(folder_->path, list.view());
        }
        return;
    }
    if (task == Task::ReadList) {
        const std::optional<std::string> read = folder_ ? list_file::readListFile(folder_->path) : std::nullopt;
        if (read) {
            lineLength = std::min(read->size(), list_file::kMaxListLineBytes);
            read->copy(line, lineLength);
            line[lineLength] = 0;
            opened = true;
        }
        return;
    }
    if (task == Task::WriteList) {
        if (folder_) {
            list_file::createManagerFolders(*folder_);
            list_file::writeListFile(folder_->path, list.view());
        }
        return;
    }
    if (pathFromPathFile) {
        if (!takePathFile())
            return;  // the command does nothing at all
        if (!usable(path)) {
            proceeded = task == Task::LoadPreset;  // opens nothing, but still stores the live preset
            return;
        }
    }
    proceeded = true;
    switch (task) {
    case Task::LoadPreset:
        opened = preset_bank::ReadPresetFile(path.view(), preset);
        break;
    case Task::SavePreset:
        preset_bank::LoadName(path.view(), names, current);
        preset_bank::SavePreset(path.view(), names.view(current), live);
        break;
    case Task::LoadBank:
        opened = preset_bank::LoadBank(path.view(), names, bank, conversion);
        break;
    case Task::SaveBank:
        preset_bank::LoadNames(path.view(), names);
        preset_bank::SaveBank(path.view(), names, bank);
        break;
    default:
        break;
    }
}

// Path.txt into the received path; true when a valid received path became the path.
bool Work::takePathFile()
{
    list_file::PathFileRead read;
    if (folder_)
        read = list_file::readPathFile(folder_->path);
    switch (read.status) {
    case list_file::PathFileRead::Status::Unreadable:
        receivedPath_.clear();
        receivedValid_ = false;
        return false;
    case list_file::PathFileRead::Status::NoLine:
        break;
    case list_file::PathFileRead::Status::Path:
        receivedValid_ = receivedPath_.assign(read.path);
        break;
    }
    if (!receivedValid_)
        return false;
    path.assign(receivedPath_.view());
    return true;
}

} // namespace list_manager
