#include "Dialogs.h"

#include <atomic>
#include <cstdio>

namespace platform {

namespace {

std::atomic<FilePanels*> currentPanels{nullptr};
std::atomic<Alerts*> currentAlerts{nullptr};

bool endsWith(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

} // namespace

FilePanels& filePanels()
{
    FilePanels* panels = currentPanels.load();
    return panels ? *panels : ScriptedDialogs::instance();
}

Alerts& alerts()
{
    Alerts* boxes = currentAlerts.load();
    return boxes ? *boxes : ScriptedDialogs::instance();
}

void setFilePanels(FilePanels* panels)
{
    currentPanels.store(panels);
}

void setAlerts(Alerts* boxes)
{
    currentAlerts.store(boxes);
}

ScriptedDialogs& ScriptedDialogs::instance()
{
    static ScriptedDialogs dialogs;
    return dialogs;
}

void ScriptedDialogs::pushPanelAnswer(std::optional<std::filesystem::path> path)
{
    std::lock_guard lock(mutex_);
    panelAnswers_.push_back(std::move(path));
}

void ScriptedDialogs::pushAlertAnswer(AlertAnswer answer)
{
    std::lock_guard lock(mutex_);
    alertAnswers_.push_back(answer);
}

std::vector<DialogRequest> ScriptedDialogs::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t ScriptedDialogs::pendingPanelAnswers() const
{
    std::lock_guard lock(mutex_);
    return panelAnswers_.size();
}

std::size_t ScriptedDialogs::pendingAlertAnswers() const
{
    std::lock_guard lock(mutex_);
    return alertAnswers_.size();
}

void ScriptedDialogs::reset()
{
    std::lock_guard lock(mutex_);
    panelAnswers_.clear();
    alertAnswers_.clear();
    requests_.clear();
}

std::optional<std::filesystem::path> ScriptedDialogs::chooseFileToOpen(const std::filesystem::path& startFolder,
                                                                       std::string_view fileType)
{
    std::lock_guard lock(mutex_);
    DialogRequest request;
    request.kind = DialogRequest::Kind::OpenPanel;
    request.startFolder = startFolder;
    request.fileType = fileType;
    requests_.push_back(std::move(request));
    if (panelAnswers_.empty())
        return std::nullopt;
    std::optional<std::filesystem::path> answer = std::move(panelAnswers_.front());
    panelAnswers_.pop_front();
    return answer;
}

std::optional<std::filesystem::path> ScriptedDialogs::chooseFileToSave(const std::filesystem::path& startFolder,
                                                                       std::string_view suggestedName,
                                                                       std::string_view fileType)
{
    std::lock_guard lock(mutex_);
    DialogRequest request;
    request.kind = DialogRequest::Kind::SavePanel;
    request.startFolder = startFolder;
    request.suggestedName = suggestedName;
    request.fileType = fileType;
    requests_.push_back(std::move(request));
    if (panelAnswers_.empty())
        return std::nullopt;
    std::optional<std::filesystem::path> answer = std::move(panelAnswers_.front());
    panelAnswers_.pop_front();
    if (!answer)
        return std::nullopt;
    // A save panel restricted to one type hands back names of that type, as the native one does.
    return withFileType(*answer, fileType);
}

AlertAnswer ScriptedDialogs::confirm(std::string_view title, std::string_view message, std::string_view defaultButton,
                                     std::string_view alternateButton)
{
    std::lock_guard lock(mutex_);
    DialogRequest request;
    request.kind = DialogRequest::Kind::Confirm;
    request.title = title;
    request.message = message;
    request.defaultButton = defaultButton;
    request.alternateButton = alternateButton;
    requests_.push_back(std::move(request));
    if (alertAnswers_.empty())
        return AlertAnswer::Default;
    const AlertAnswer answer = alertAnswers_.front();
    alertAnswers_.pop_front();
    return answer;
}

void ScriptedDialogs::notice(std::string_view title, std::string_view message, std::string_view button)
{
    std::lock_guard lock(mutex_);
    DialogRequest request;
    request.kind = DialogRequest::Kind::Notice;
    request.title = title;
    request.message = message;
    request.defaultButton = button;
    requests_.push_back(std::move(request));
}

std::filesystem::path withFileType(const std::filesystem::path& path, std::string_view fileType)
{
    if (fileType.empty())
        return path;
    const std::string suffix = "." + std::string(fileType);
    const std::string& text = path.native();
    if (endsWith(text, suffix))
        return path;
    return std::filesystem::path(text + suffix);
}

std::optional<std::filesystem::path> chooseFileToSaveAskingReplace(const std::filesystem::path& startFolder,
                                                                   std::string_view suggestedName,
                                                                   std::string_view fileType)
{
    for (;;) {
        std::optional<std::filesystem::path> chosen = filePanels().chooseFileToSave(startFolder, suggestedName, fileType);
        if (!chosen)
            return std::nullopt;
        chosen = withFileType(*chosen, fileType);
        // "Exists" means what a later read would find: a file or folder that opens for reading.
        std::FILE* existing = std::fopen(chosen->c_str(), "rb");
        if (!existing)
            return chosen;
        std::fclose(existing);
        const AlertAnswer answer = alerts().confirm("Save",
                                                    "A file with the same name already exists.\n"
                                                    "Do you want to replace it?",
                                                    "No", "Replace");
        if (answer != AlertAnswer::Default)
            return chosen;
    }
}

} // namespace platform
