#include "PresetStore/ListManagerGui.h"

#include "SharedFolder.h"
#include "Utf8.h"

#include <sys/stat.h>

namespace {

void makeFolder(const std::string& folder)
{
    ::mkdir(folder.c_str(), 0777); // an existing folder is fine; other failures show at the write
}

} // namespace

ListManagerGui::ListManagerGui(const Rules& rules) : rules_(rules)
{
    refCount = 1;
    listText_ = preset_bank::SaveList(names_);
    initializePin(kPresetNumber, presetNumber_, &ListManagerGui::onSetPresetNumber);
    initializePin(kPresetList, presetList_, &ListManagerGui::onSetPresetList);
    initializePin(kPresetName, presetName_, &ListManagerGui::onSetPresetName);
    initializePin(kLoadPreset, loadPresetPin_, &ListManagerGui::onSetLoadPreset);
    initializePin(kSavePreset, savePresetPin_, &ListManagerGui::onSetSavePreset);
    initializePin(kFixPreset, fixPresetPin_, &ListManagerGui::onSetFixPreset);
    initializePin(kLoadBank, loadBankPin_, &ListManagerGui::onSetLoadBank);
    initializePin(kSaveBank, saveBankPin_, &ListManagerGui::onSetSaveBank);
    initializePin(kId, idPin_, &ListManagerGui::onSetID);
    initializePin(kAutoPath, autoPath_, &ListManagerGui::onSetAutoPath);
    initializePin(kPathPC, pathPC_, &ListManagerGui::onSetPathPC);
    initializePin(kPathMac, pathMac_, &ListManagerGui::onSetPathMac);
    initializePin(kGuiUpdate, guiUpdate_, &ListManagerGui::onSetGuiUpdate);
    initializePin(kNameSave, nameSave_, &ListManagerGui::onSetNameSave);
}

// --- Shared handlers ---------------------------------------------------------------------------

void ListManagerGui::onSetPresetNumber()
{
    const int32_t value = presetNumber_.getValue();
    send(value); // other values are commands of the processing half (128-136) or nothing
    if (isSlot(value)) {
        current_ = value;
        showName(current_);
    }
}

void ListManagerGui::onSetLoadPreset()
{
    if (loadPresetButton_.released(loadPresetPin_.getValue()) && chooseToOpen(FileKind::Preset)) {
        loadPresetFile();
        send(list_message::kLoadPreset);
    }
}

void ListManagerGui::onSetFixPreset()
{
    if (fixPresetButton_.released(fixPresetPin_.getValue()))
        FixPreset();
}

void ListManagerGui::onSetLoadBank()
{
    if (loadBankButton_.released(loadBankPin_.getValue()) && chooseToOpen(FileKind::Bank)) {
        loadBankFile(workingPath_.view(), rules_.bankLoadSetsPresetNumber);
        send(list_message::kLoadBank);
    }
}

void ListManagerGui::onSetSaveBank()
{
    if (saveBankButton_.released(saveBankPin_.getValue()) && chooseToSave(FileKind::Bank, "")) {
        saveBankFile();
        send(list_message::kSaveBank);
    }
}

// --- Start ------------------------------------------------------------------------------------

void ListManagerGui::showStartState()
{
    setTextPin(presetList_, listText_);
    settings_ = preset_bank::startupBankPath(host, autoPath_.getValue(), idPin_.getValue(), pathMac_.getValue());
    // A refused or failed path leaves both paths empty: no file operation follows.
    startupPath_.assign(settings_.workingPath.value_or(std::string()));
    workingPath_.assign(startupPath_.view());
    for (float& value : editBuffer_)
        value = 0.0f;
    bankCopy_.clear();
    selectFromPresetNumber();
    setTextPin(presetName_, names_.view(current_));
}

// --- Messages from the processing half ---------------------------------------------------------

bool ListManagerGui::takeCommonMessage(int32_t id)
{
    if (isSlot(id)) {
        presetNumber_ = id;
        current_ = id;
        showName(current_);
    } else if (id == list_message::kReloadStartupBank) {
        loadStartupBank();
    } else if (id >= list_message::kCurrentPresetBase && id <= list_message::kCurrentPresetLast) {
        presetNumber_ = id - list_message::kCurrentPresetBase;
        current_ = id - list_message::kCurrentPresetBase;
    } else {
        return false;
    }
    return true;
}

// --- Host -------------------------------------------------------------------------------------

void ListManagerGui::send(int32_t id)
{
    if (host)
        host->postMessageToAudio(id, 0, nullptr);
}

void ListManagerGui::sendText(int32_t id, std::string_view text)
{
    if (!host)
        return;
    std::string payload(text);
    host->postMessageToAudio(id, static_cast<int32_t>(payload.size() + 1), payload.c_str());
}

// --- Names and pins ---------------------------------------------------------------------------

std::string ListManagerGui::pinName(const StringGuiPin& pin)
{
    std::wstring_view text = pin.getValue();
    text = text.substr(0, text.find(L'\0'));
    return pin_text::pinTextCut(text, preset_bank::kNameSlotBytes - 1);
}

bool ListManagerGui::cleanName(std::string& name)
{
    return preset_bank::applyNameEditingRule(name);
}

std::string ListManagerGui::takePresetName()
{
    std::string name = pinName(presetName_);
    cleanName(name);
    // Anything the rule or the cut changed goes back to the pin, so the user sees the stored name.
    setTextPin(presetName_, name);
    return name;
}

std::wstring ListManagerGui::wide(std::string_view bytes)
{
    return utf8::toWide(bytes, utf8::OnError::Replace);
}

void ListManagerGui::setTextPin(StringGuiPin& pin, std::string_view bytes)
{
    pin = wide(bytes);
}

void ListManagerGui::updateList()
{
    listText_ = preset_bank::SaveList(names_);
    setTextPin(presetList_, listText_);
}

void ListManagerGui::showName(int slot)
{
    setTextPin(presetName_, names_.view(slot));
    setTextPin(nameSave_, names_.view(slot));
}

bool ListManagerGui::takeNameSave()
{
    std::string name = pinName(nameSave_);
    if (name.empty())
        return false;
    cleanName(name);
    setTextPin(presetName_, name);
    names_.setName(current_, name);
    updateList();
    return true;
}

void ListManagerGui::pulseGuiUpdate()
{
    guiUpdate_ = true;
    guiUpdate_ = false;
}

void ListManagerGui::selectFromPresetNumber()
{
    // Values outside 0-127 are commands for the processing half; they address no slot here.
    if (isSlot(presetNumber_.getValue()))
        current_ = presetNumber_.getValue();
}

// --- Panels -----------------------------------------------------------------------------------

void ListManagerGui::buildFolderChain(const preset_bank::StartupPath& settings, bool autoPath, FileKind kind)
{
    if (autoPath || !settings.baseFolder || settings.baseFolder->empty() || !settings.idText)
        return;
    std::string folder = *settings.baseFolder + "Quorvane";
    makeFolder(folder);
    folder += "/" + *settings.idText;
    makeFolder(folder);
    folder += "/Presetbase";
    makeFolder(folder);
    folder += kind == FileKind::Preset ? "/Presets" : "/Banks";
    makeFolder(folder);
}

std::filesystem::path ListManagerGui::panelFolder(FileKind kind)
{
    return platform::sharedFolder() / "Quorvane" / "TAVRIN ONE" / "Presetbase" /
           (kind == FileKind::Preset ? "Presets" : "Banks");
}

std::optional<std::filesystem::path> ListManagerGui::openPanel(const preset_bank::StartupPath& settings, bool autoPath,
                                                              FileKind kind, const std::filesystem::path& folder)
{
    buildFolderChain(settings, autoPath, kind);
    return platform::filePanels().chooseFileToOpen(folder, fileType(kind));
}

void ListManagerGui::runOpenPanel(FileKind kind)
{
    takeChosen(openPanel(settings_, autoPath_.getValue(), kind, panelFolder(kind)));
}

bool ListManagerGui::chooseToOpen(FileKind kind)
{
    runOpenPanel(kind);
    SavePath();
    return chosen_ && useChosenPath();
}

bool ListManagerGui::chooseToSave(FileKind kind, std::string_view suggestedName)
{
    runSavePanel(kind, suggestedName);
    SavePath();
    return chosen_ && useChosenPath();
}

void ListManagerGui::takeChosen(const std::optional<std::filesystem::path>& answer)
{
    chosenPath_.clear();
    chosen_ = false;
    if (!answer)
        return;
    const std::string& path = answer->native();
    if (path.empty() || path.size() > rules_.chosenPathLimit || path.find('\0') != std::string::npos)
        return;
    if (rules_.chosenPathOneLine && path.find_first_of("\r\n") != std::string::npos)
        return;
    chosenPath_ = path;
    chosen_ = true;
}

bool ListManagerGui::useChosenPath()
{
    return workingPath_.assign(chosenPath_) && !workingPath_.empty();
}

// --- Files on the interface copy ---------------------------------------------------------------

bool ListManagerGui::loadPresetFile()
{
    if (!preset_bank::LoadPreset(workingPath_.view(), names_, current_, editBuffer_))
        return false;
    updateList();
    if (rules_.presetLoadShowsNameSave)
        showName(current_);
    else
        setTextPin(presetName_, names_.view(current_));
    pulseGuiUpdate();
    return true;
}

bool ListManagerGui::loadBankFile(std::string_view path, bool setPresetNumber)
{
    if (!preset_bank::LoadBank(path, names_, bankCopy_, preset_bank::FieldConversion::Atof))
        return false;
    if (current_ == 0)
        pulseGuiUpdate();
    current_ = 0;
    if (setPresetNumber)
        presetNumber_ = 0;
    updateList();
    setTextPin(presetName_, names_.view(0));
    return true;
}

void ListManagerGui::loadStartupBank()
{
    // Always the startup bank file, whatever file a panel chose since.
    loadBankFile(startupPath_.view(), true);
    takeNameSave();
}

bool ListManagerGui::savePresetFile()
{
    return preset_bank::SavePreset(workingPath_.view(), names_.view(current_), editBuffer_);
}

bool ListManagerGui::saveBankFile()
{
    return preset_bank::SaveBank(workingPath_.view(), names_, bankCopy_);
}
