#include "PresetStore/ListFileExchange.h"

#include "Common/PinText.h"
#include "PresetStore/PresetBank.h"
#include "TextFiles.h"

#include <mutex>
#include <set>

#include <sys/stat.h>

namespace list_file {
namespace {

bool holdsNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

// The first line of a file (up to LF, without it), keeping at most keep bytes of it. total is the
// line's length up to keep + 1 bytes; lastByte its last byte there (0 for an empty line).
struct FirstLine {
    enum class Status { Unreadable, NoLine, Line } status = Status::Unreadable;
    std::string kept;
    std::size_t total = 0;
    char lastByte = 0;
};
// The first line of bytes, keeping at most keep bytes of it; bytes holds at most keep + 1.
FirstLine firstLineOf(std::string_view bytes, std::size_t keep)
{
    FirstLine line;
    const std::string_view text = bytes.substr(0, bytes.find('\n'));
    line.kept = std::string(text.substr(0, keep));
    line.total = text.size();
    line.lastByte = text.empty() ? 0 : text.back();
    line.status = bytes.empty() ? FirstLine::Status::NoLine : FirstLine::Status::Line;
    return line;
}

FirstLine readFirstLine(const std::string& file, std::size_t keep)
{
    // keep + 1 bytes tell every line the callers accept from one they refuse or cut: nothing
    // further is read, so a huge file (or a link to an endless device) costs no more. A link of
    // another user at these fixed names is not followed.
    const auto bytes = platform::readFileStart(file, keep + 1, platform::LinkTrust::OwnOnly);
    if (!bytes)
        return FirstLine{};
    return firstLineOf(*bytes, keep);
}

// What List.txt's reader takes from a first line read with one byte more than its limit.
std::optional<std::string> listLineOf(FirstLine line)
{
    if (line.status != FirstLine::Status::Line)
        return std::nullopt;
    std::size_t length = line.total;
    if (line.lastByte == '\r')
        --length;
    // Cut back to a character boundary only where the text is UTF-8; 8-bit text is cut at the limit.
    if (length > kMaxListLineBytes)
        length = pin_text::cutAtCharBoundary(line.kept, kMaxListLineBytes).size();
    line.kept.resize(length);
    return std::move(line.kept);
}

// The manager folders whose Path.txt this process last failed to write: their readers find it
// unreadable until a write succeeds, so that no older choice is taken for the one that failed.
std::mutex failedMutex;
std::set<std::string, std::less<>> failedPathFolders;

void notePathFileWrite(std::string_view folder, bool written)
{
    const std::lock_guard lock(failedMutex);
    if (written) {
        if (const auto found = failedPathFolders.find(folder); found != failedPathFolders.end())
            failedPathFolders.erase(found);
    } else {
        failedPathFolders.emplace(folder);
    }
}

bool pathFileWriteFailed(std::string_view folder)
{
    const std::lock_guard lock(failedMutex);
    return failedPathFolders.find(folder) != failedPathFolders.end();
}

std::string fileIn(std::string_view folder, const char* name)
{
    std::string path(folder);
    path += name;
    return path;
}

} // namespace

std::optional<ManagerFolder> managerFolder(const preset_bank::StartupPath& start, bool autoPath)
{
    if (!start.idText || !pin_text::isFolderSafeId(*start.idText))
        return std::nullopt;
    std::string base;
    if (autoPath) {
        // The host's "Preset.txt" lies in the folder the host keeps the product's files in.
        const std::string_view preset = start.workingPath ? std::string_view(*start.workingPath) : std::string_view();
        if (preset.empty() || preset.front() != '/')
            return std::nullopt;
        base = preset.substr(0, preset.rfind('/') + 1);
    } else {
        if (!start.baseFolder || start.baseFolder->empty())
            return std::nullopt;
        base = *start.baseFolder;
    }
    ManagerFolder folder;
    folder.path = base + "Quorvane/" + *start.idText + "/";
    if (folder.path.size() + std::string_view(kListFileName).size() > kMaxPathBytes)
        return std::nullopt;
    folder.base = std::move(base);
    folder.id = *start.idText;
    return folder;
}

void createManagerFolders(const ManagerFolder& folder)
{
    std::string level = folder.base + "Quorvane";
    ::mkdir(level.c_str(), 0777);
    level += "/";
    level += folder.id;
    ::mkdir(level.c_str(), 0777);
}

std::string listFileBytes(std::string_view listText)
{
    std::string bytes;
    bytes.reserve(listText.size() + 2);
    bytes += listText;
    bytes += "\r\n";
    return bytes;
}

bool writeListFile(std::string_view folder, std::string_view listText)
{
    if (folder.empty())
        return false;
    return platform::writeFileAtomically(fileIn(folder, kListFileName), listFileBytes(listText), platform::LinkTrust::OwnOnly);
}

std::optional<std::string> readListFile(std::string_view folder)
{
    if (folder.empty())
        return std::nullopt;
    // One byte more than the limit, so that a CR right after it can still be told apart.
    return listLineOf(readFirstLine(fileIn(folder, kListFileName), kMaxListLineBytes + 1));
}

std::optional<std::string> listLine(std::string_view fileBytes)
{
    constexpr std::size_t kKeep = kMaxListLineBytes + 1;
    return listLineOf(firstLineOf(fileBytes.substr(0, kKeep + 1), kKeep));
}

bool fitsPathFile(std::string_view chosenPath)
{
    return chosenPath.size() <= kMaxChosenPathBytes && !holdsNul(chosenPath) &&
           chosenPath.find_first_of("\r\n") == std::string_view::npos;
}

bool writePathFile(std::string_view folder, std::string_view chosenPath)
{
    if (folder.empty())
        return false;
    const bool fits = fitsPathFile(chosenPath);
    // A refused path leaves the file saying "nothing chosen", never an older choice.
    std::string bytes(fits ? chosenPath : std::string_view());
    bytes += "\r\n";
    const std::string file = fileIn(folder, kPathFileName);
    const bool written = platform::writeFileAtomically(file, bytes, platform::LinkTrust::OwnOnly);
    notePathFileWrite(folder, written);
    return written && fits;
}

PathFileRead readPathFile(std::string_view folder)
{
    PathFileRead read;
    if (folder.empty() || pathFileWriteFailed(folder))
        return read;
    FirstLine line = readFirstLine(fileIn(folder, kPathFileName), kMaxChosenPathBytes + 1);
    if (line.status == FirstLine::Status::NoLine)
        read.status = PathFileRead::Status::NoLine;
    if (line.status != FirstLine::Status::Line)
        return read;
    std::size_t length = line.total;
    if (line.lastByte == '\r')
        --length;
    // Refused rather than cut (a shortened path would name some other file), and whatever the
    // writer refuses is refused here too: no line of more than 1022 bytes, no CR, no NUL.
    const std::string_view kept = std::string_view(line.kept).substr(0, length);
    if (length > kMaxChosenPathBytes || holdsNul(kept) || kept.find('\r') != std::string_view::npos)
        return read;
    line.kept.resize(length);
    read.status = PathFileRead::Status::Path;
    read.path = std::move(line.kept);
    return read;
}

} // namespace list_file
