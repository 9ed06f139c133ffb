// Modal file panels and message boxes of the preset managers.
//
// Two narrow services, each behind an interface with one process-wide current implementation:
// FilePanels (open a file, choose a file to save) and Alerts (two-button confirmation, one-button
// notice). The product's own system backs them with its native panels and boxes; this build has
// no native GUI, so the current implementation is ScriptedDialogs, which answers from queues that
// tests and the stand-in host fill, and records every request so that callers can be checked.
//
// Every call is modal: it returns only when answered. [GUI thread] for every operation below
// unless said otherwise; ScriptedDialogs also takes a lock of its own so that a host script may
// fill its queues from another thread.
#pragma once

#include <cstddef>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class FilePanels {
public:
    virtual ~FilePanels() = default;

    // Open panel: files only, one file, folders may be created; starts in startFolder (a leading
    // "~" is the home folder) and offers only files ending in "." + fileType (fileType without
    // the dot; empty: any file). The chosen file, or nothing when cancelled.
    virtual std::optional<std::filesystem::path> chooseFileToOpen(const std::filesystem::path& startFolder,
                                                                  std::string_view fileType) = 0;

    // Save panel: starts in startFolder with suggestedName in its name field (empty: the field is
    // left as the panel has it), folders may be created. With a fileType the returned path ends
    // in "." + fileType, added when the typed name lacks it and never twice. The panel itself asks
    // nothing about existing files (see chooseFileToSaveAskingReplace). Nothing when cancelled.
    virtual std::optional<std::filesystem::path> chooseFileToSave(const std::filesystem::path& startFolder,
                                                                  std::string_view suggestedName,
                                                                  std::string_view fileType) = 0;
};

enum class AlertAnswer {
    Default,   // the default button
    Alternate, // the alternate button
    Failed,    // no choice: the box could not be shown or was dismissed; callers take the
               // cautious way, whichever button that is
};

class Alerts {
public:
    virtual ~Alerts() = default;

    // Note-level box with a title, a message (may hold "\n" line breaks) and two buttons.
    virtual AlertAnswer confirm(std::string_view title, std::string_view message, std::string_view defaultButton,
                                std::string_view alternateButton) = 0;

    // Plain box with one button; returns when it is dismissed.
    virtual void notice(std::string_view title, std::string_view message, std::string_view button = "OK") = 0;
};

// The current implementations (ScriptedDialogs::instance() until replaced). Setting nullptr
// restores the scripted one. The caller keeps ownership of what it sets and must reset it before
// destroying it. [any thread, but not while a dialog runs]
FilePanels& filePanels();
Alerts& alerts();
void setFilePanels(FilePanels* panels);
void setAlerts(Alerts* alerts);

// One request as a dialog received it, in call order.
struct DialogRequest {
    enum class Kind { OpenPanel, SavePanel, Confirm, Notice };
    Kind kind = Kind::OpenPanel;
    // Panels.
    std::filesystem::path startFolder;
    std::string suggestedName;
    std::string fileType;
    // Boxes.
    std::string title;
    std::string message;
    std::string defaultButton;   // Confirm: default; Notice: its only button
    std::string alternateButton; // Confirm only
};

// Queue-driven panels and boxes. Answers are consumed in order, one per panel or confirmation
// (panels and confirmations have separate queues; notices take no answer).
// - Panels: the next panel answer is returned as the chosen path (a save panel adds the missing
//   file extension as described above), or a cancel. No answer left: the panel cancels.
// - Confirmations: the next alert answer. No answer left: AlertAnswer::Failed, which every
//   caller takes as its cautious choice ("No").
//
// A driver in another process or outside the bundle (the stand-in host's patch runner loads the
// bundle as a library and cannot reach the queues) talks to the dialogs through two files:
// - kAnswersVariable names the answers file, read when the in-memory queue of the request's kind
//   is empty: one answer per line, "panel <absolute path>", "panel cancel", "alert default" or
//   "alert alternate". A panel takes the first panel line, a confirmation the first alert line;
//   that line is removed and the file rewritten, without any malformed lines. No line
//   of the kind (or a file that cannot be rewritten, so that no answer is given twice): no
//   answer, as above.
// - kLogVariable names the log file: every request, however answered, is appended as one line
//   (see describeRequest).
// Both are read from the environment at each request; unset or empty: no file.
class ScriptedDialogs final : public FilePanels, public Alerts {
public:
    static ScriptedDialogs& instance();

    // Queue the answer of a later panel: a path, or nothing for a cancel.
    void pushPanelAnswer(std::optional<std::filesystem::path> path);
    void pushPanelCancel() { pushPanelAnswer(std::nullopt); }
    // Queue the answer of a later confirmation.
    void pushAlertAnswer(AlertAnswer answer);

    // Every request so far, oldest first (a copy: the record may grow meanwhile).
    std::vector<DialogRequest> requests() const;
    std::size_t pendingPanelAnswers() const;
    std::size_t pendingAlertAnswers() const;
    // Forgets queued answers and recorded requests.
    void reset();

    std::optional<std::filesystem::path> chooseFileToOpen(const std::filesystem::path& startFolder,
                                                          std::string_view fileType) override;
    std::optional<std::filesystem::path> chooseFileToSave(const std::filesystem::path& startFolder,
                                                          std::string_view suggestedName,
                                                          std::string_view fileType) override;
    AlertAnswer confirm(std::string_view title, std::string_view message, std::string_view defaultButton,
                        std::string_view alternateButton) override;
    void notice(std::string_view title, std::string_view message, std::string_view button = "OK") override;

private:
    ScriptedDialogs() = default;

    // The answer of the answers file for a panel ("panel") or a confirmation ("alert"): the text
    // after the kind word, or nothing.
    static std::optional<std::string> takeFileAnswer(std::string_view kind);
    // Record the request, take its answer (the queue first, then the answers file; a notice takes
    // none) and log both.
    std::optional<std::filesystem::path> answerPanel(DialogRequest::Kind kind, const std::filesystem::path& startFolder,
                                                     std::string_view suggestedName, std::string_view fileType);
    AlertAnswer answerBox(DialogRequest::Kind kind, std::string_view title, std::string_view message,
                          std::string_view defaultButton, std::string_view alternateButton);
    static void log(const DialogRequest& request, std::string_view answer);

    mutable std::mutex mutex_;
    std::deque<std::optional<std::filesystem::path>> panelAnswers_;
    std::deque<AlertAnswer> alertAnswers_;
    std::vector<DialogRequest> requests_;
};

// The environment variables of the file channel of ScriptedDialogs.
inline constexpr const char* kAnswersVariable = "TAVRIN_DIALOG_ANSWERS";
inline constexpr const char* kLogVariable = "TAVRIN_DIALOG_LOG";

// One request and its answer as a line of the log, without line break; texts are quoted, with
// quotes, backslashes, control characters and bytes that are not UTF-8 escaped (\", \\, \n,
// \xNN):
//   open panel in "<folder>" for .tavbank -> "<path>"            ("for any file" without a type)
//   save panel in "<folder>" suggesting "<name>" (.tavpreset) -> cancel
//   alert "<title>": "<message>" [<default>] [<alternate>] -> "<chosen button>"
//   notice "<title>": "<message>" [<button>]
// answer is the quoted chosen path or button, "cancel", or empty for a notice.
std::string describeRequest(const DialogRequest& request, std::string_view answer);
// A text quoted and escaped as describeRequest does.
std::string quotedText(std::string_view text);

// path with "." + fileType appended unless it already ends so (fileType empty: unchanged).
std::filesystem::path withFileType(const std::filesystem::path& path, std::string_view fileType);

// Whether anything has the name path: a file, a folder, a pipe, even a link that names nothing.
// Only the name's status is looked at; nothing there is opened, which could wait for good.
bool existsAt(const std::filesystem::path& path);

// The save with a replace question the managers share: runs the current save panel; when
// something already has the chosen name (existsAt) asks with the current alerts
// "Save" / "A file with the same name already exists.\nDo you want to replace it?", default "No",
// alternate "Replace". "No" runs the panel again (a cancel there ends it); "Replace" keeps the
// path. Nothing when a panel is cancelled.
std::optional<std::filesystem::path> chooseFileToSaveAskingReplace(const std::filesystem::path& startFolder,
                                                                   std::string_view suggestedName,
                                                                   std::string_view fileType);

} // namespace platform
