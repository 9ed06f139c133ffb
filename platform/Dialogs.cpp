#include "Dialogs.h"
#include "TextFiles.h"

#include <atomic>
#include <cstdlib>
#include <sys/stat.h>
#include <system_error>

namespace platform {

namespace {

// The file an environment variable names, when it names one.
const char* fileOf(const char* variable)
{
    const char* file = std::getenv(variable);
    return file && *file ? file : nullptr;
}

// Length of the well-formed UTF-8 sequence starting at text[i] (a byte of 0x80 or above), or 0.
std::size_t utf8Sequence(std::string_view text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t continuation = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuation = 1;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuation = 2;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuation = 3;
        least = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - i <= continuation)
        return 0;
    char32_t code = lead & (0x3F >> continuation);
    for (std::size_t k = 1; k <= continuation; ++k) {
        const auto byte = static_cast<unsigned char>(text[i + k]);
        if ((byte & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return continuation + 1;
}

// Escaped so that any text stays on one readable line of the log.
std::string escaped(std::string_view text)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 0xF];
        } else if (c >= 0x80) {
            const std::size_t length = utf8Sequence(text, i);
            if (length == 0) {
                out += "\\x";
                out += digits[c >> 4];
                out += digits[c & 0xF];
            } else {
                out.append(text.substr(i, length));
                i += length;
                continue;
            }
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out;
}

// One line of the answers file: its kind ("panel" or "alert") and value (an absolute path,
// "cancel", "default" or "alternate"); false for anything else.
bool parseAnswer(std::string_view line, std::string_view& kind, std::string_view& value)
{
    if (line.substr(0, 6) == "panel ") {
        kind = "panel";
        value = line.substr(6);
        return value == "cancel" || (!value.empty() && value[0] == '/' && value.find('\0') == std::string_view::npos);
    }
    if (line == "alert default" || line == "alert alternate") {
        kind = "alert";
        value = line.substr(6);
        return true;
    }
    return false;
}

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

std::optional<std::string> ScriptedDialogs::takeFileAnswer(std::string_view kind)
{
    const char* file = fileOf(kAnswersVariable);
    if (!file)
        return std::nullopt;
    const std::optional<std::string> text = readFile(file);
    if (!text)
        return std::nullopt;
    std::optional<std::string> answer;
    std::string kept;
    bool changed = false;
    std::string_view rest = *text;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::string_view lineKind, value;
        if (!parseAnswer(line, lineKind, value)) {
            changed = true;
            continue;
        }
        if (!answer && lineKind == kind) {
            answer = std::string(value);
            changed = true;
            continue;
        }
        kept.append(line);
        kept += '\n';
    }
    // An answer that stays in the file would be given again: without the rewrite there is none.
    if (changed && !writeFileAtomically(file, kept))
        return std::nullopt;
    return answer;
}

void ScriptedDialogs::log(const DialogRequest& request, std::string_view answer)
{
    const char* file = fileOf(kLogVariable);
    if (!file)
        return;
    std::optional<std::string> text = readFile(file);
    if (!text) {
        // A log that exists but cannot be read is left alone rather than replaced.
        std::error_code error;
        if (std::filesystem::exists(file, error) || error)
            return;
        text.emplace();
    }
    *text += describeRequest(request, answer);
    *text += '\n';
    writeFileAtomically(file, *text);
}

std::optional<std::filesystem::path> ScriptedDialogs::answerPanel(DialogRequest::Kind kind,
                                                                  const std::filesystem::path& startFolder,
                                                                  std::string_view suggestedName,
                                                                  std::string_view fileType)
{
    const DialogRequest request{kind, startFolder, std::string(suggestedName), std::string(fileType), {}, {}, {}, {}};
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    std::optional<std::filesystem::path> answer;
    if (!panelAnswers_.empty()) {
        answer = std::move(panelAnswers_.front());
        panelAnswers_.pop_front();
    } else if (const auto line = takeFileAnswer("panel"); line && *line != "cancel") {
        answer = std::filesystem::path(*line);
    }
    // A save panel restricted to one type hands back names of that type, as the native one does.
    if (answer && kind == DialogRequest::Kind::SavePanel)
        answer = withFileType(*answer, fileType);
    log(request, answer ? quotedText(answer->native()) : "cancel");
    return answer;
}

AlertAnswer ScriptedDialogs::answerBox(DialogRequest::Kind kind, std::string_view title, std::string_view message,
                                       std::string_view defaultButton, std::string_view alternateButton)
{
    const DialogRequest request{kind, {}, {}, {}, std::string(title), std::string(message), std::string(defaultButton),
                                std::string(alternateButton)};
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    if (kind == DialogRequest::Kind::Notice) {
        log(request, "");
        return AlertAnswer::Default;
    }
    AlertAnswer answer = AlertAnswer::Failed;
    if (!alertAnswers_.empty()) {
        answer = alertAnswers_.front();
        alertAnswers_.pop_front();
    } else if (const auto line = takeFileAnswer("alert")) {
        answer = *line == "alternate" ? AlertAnswer::Alternate : AlertAnswer::Default;
    }
    log(request, answer == AlertAnswer::Failed ? "no answer"
                                               : quotedText(answer == AlertAnswer::Default ? defaultButton : alternateButton));
    return answer;
}

std::optional<std::filesystem::path> ScriptedDialogs::chooseFileToOpen(const std::filesystem::path& startFolder,
                                                                       std::string_view fileType)
{
    return answerPanel(DialogRequest::Kind::OpenPanel, startFolder, "", fileType);
}

std::optional<std::filesystem::path> ScriptedDialogs::chooseFileToSave(const std::filesystem::path& startFolder,
                                                                       std::string_view suggestedName,
                                                                       std::string_view fileType)
{
    return answerPanel(DialogRequest::Kind::SavePanel, startFolder, suggestedName, fileType);
}

AlertAnswer ScriptedDialogs::confirm(std::string_view title, std::string_view message, std::string_view defaultButton,
                                     std::string_view alternateButton)
{
    return answerBox(DialogRequest::Kind::Confirm, title, message, defaultButton, alternateButton);
}

void ScriptedDialogs::notice(std::string_view title, std::string_view message, std::string_view button)
{
    answerBox(DialogRequest::Kind::Notice, title, message, button, "");
}

std::string quotedText(std::string_view text)
{
    return '"' + escaped(text) + '"';
}

std::string describeRequest(const DialogRequest& request, std::string_view answer)
{
    std::string line;
    switch (request.kind) {
    case DialogRequest::Kind::OpenPanel:
        line = "open panel in " + quotedText(request.startFolder.native()) + " for " +
               (request.fileType.empty() ? std::string("any file") : std::string(".").append(escaped(request.fileType)));
        break;
    case DialogRequest::Kind::SavePanel:
        line = "save panel in " + quotedText(request.startFolder.native());
        if (!request.suggestedName.empty())
            line += " suggesting " + quotedText(request.suggestedName);
        if (!request.fileType.empty())
            line += " (." + escaped(request.fileType) + ")";
        break;
    case DialogRequest::Kind::Confirm:
        line = "alert " + quotedText(request.title) + ": " + quotedText(request.message) + " [" +
               escaped(request.defaultButton) + "] [" + escaped(request.alternateButton) + "]";
        break;
    case DialogRequest::Kind::Notice:
        return "notice " + quotedText(request.title) + ": " + quotedText(request.message) + " [" + escaped(request.defaultButton) +
               "]";
    }
    return line + " -> " + std::string(answer);
}

std::filesystem::path withFileType(const std::filesystem::path& path, std::string_view fileType)
{
    if (fileType.empty())
        return path;
    const std::string suffix = std::string(".").append(fileType);
    const std::string& text = path.native();
    if (endsWith(text, suffix))
        return path;
    return std::filesystem::path(text + suffix);
}

bool existsAt(const std::filesystem::path& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
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
        if (!existsAt(*chosen))
            return chosen;
        const AlertAnswer answer = alerts().confirm("Save",
                                                    "A file with the same name already exists.\n"
                                                    "Do you want to replace it?",
                                                    "No", "Replace");
        if (answer == AlertAnswer::Alternate)
            return chosen;
    }
}

} // namespace platform
