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
    listText = presetbank::SaveList(names);
    initializePin(kPresetNumber, presetNumber, &ListManagerGui::onSetPresetNumber);
    initializePin(kPresetList, presetList, &ListManagerGui::onSetPresetList);
    initializePin(kPresetName, presetName, &ListManagerGui::onSetPresetName);
    initializePin(kLoadPreset, loadPresetPin, &ListManagerGui::onSetLoadPreset);
    initializePin(kSavePreset, savePresetPin, &ListManagerGui::onSetSavePreset);
    initializePin(kFixPreset, fixPresetPin, &ListManagerGui::onSetFixPreset);
    initializePin(kLoadBank, loadBankPin, &ListManagerGui::onSetLoadBank);
    initializePin(kSaveBank, saveBankPin, &ListManagerGui::onSetSaveBank);
    initializePin(kId, idPin, &ListManagerGui::onSetID);
    initializePin(kAutoPath, autoPath, &ListManagerGui::onSetAutoPath);
    initializePin(kPathPC, pathPC, &ListManagerGui::onSetPathPC);
    initializePin(kPathMac, pathMac, &ListManagerGui::onSetPathMac);
    initializePin(kGuiUpdate, guiUpdate, &ListManagerGui::onSetGuiUpdate);
    initializePin(kNameSave, nameSave, &ListManagerGui::onSetNameSave);
}

// --- Shared handlers ---------------------------------------------------------------------------

void ListManagerGui::onSetPresetNumber()
{
    const int32_t value = presetNumber.getValue();
    send(value); // other values are commands of the processing half (128-136) or nothing
    if (isSlot(value)) {
        current = value;
        showName(current);
    }
}

void ListManagerGui::onSetLoadPreset()
{
    if (loadPresetButton.released(loadPresetPin.getValue()) && chooseToOpen(FileKind::Preset)) {
        loadPresetFile();
        send(listmessage::kLoadPreset);
    }
}

void ListManagerGui::onSetFixPreset()
{
    if (fixPresetButton.released(fixPresetPin.getValue()))
        FixPreset();
}

void ListManagerGui::onSetLoadBank()
{
    if (loadBankButton.released(loadBankPin.getValue()) && chooseToOpen(FileKind::Bank)) {
        loadBankFile(workingPath.view(), rules_.bankLoadSetsPresetNumber);
        send(listmessage::kLoadBank);
    }
}

void ListManagerGui::onSetSaveBank()
{
    if (saveBankButton.released(saveBankPin.getValue()) && chooseToSave(FileKind::Bank, "")) {
        saveBankFile();
        send(listmessage::kSaveBank);
    }
}

// --- Start ------------------------------------------------------------------------------------

void ListManagerGui::showStartState()
{
    setTextPin(presetList, listText);
    settings = presetbank::startupBankPath(host, autoPath.getValue(), idPin.getValue(), pathMac.getValue());
    // A refused or failed path leaves both paths empty: no file operation follows.
    startupPath.assign(settings.workingPath.value_or(std::string()));
    workingPath.assign(startupPath.view());
    for (float& value : editBuffer)
        value = 0.0f;
    bankCopy.clear();
    selectFromPresetNumber();
    setTextPin(presetName, names.view(current));
}

// --- Messages from the processing half ---------------------------------------------------------

bool ListManagerGui::takeCommonMessage(int32_t id)
{
    if (isSlot(id)) {
        presetNumber = id;
        current = id;
        showName(current);
    } else if (id == listmessage::kReloadStartupBank) {
        loadStartupBank();
    } else if (id >= listmessage::kCurrentPresetBase && id <= listmessage::kCurrentPresetLast) {
        presetNumber = id - listmessage::kCurrentPresetBase;
        current = id - listmessage::kCurrentPresetBase;
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
    return presetbank::pinTextCut(text, presetbank::kNameSlotBytes - 1);
}

bool ListManagerGui::cleanName(std::string& name)
{
    return presetbank::applyNameEditingRule(name);
}

std::string ListManagerGui::takePresetName()
{
    std::string name = pinName(presetName);
    cleanName(name);
    // Anything the rule or the cut changed goes back to the pin, so the user sees the stored name.
    setTextPin(presetName, name);
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
    listText = presetbank::SaveList(names);
    setTextPin(presetList, listText);
}

void ListManagerGui::showName(int slot)
{
    setTextPin(presetName, names.view(slot));
    setTextPin(nameSave, names.view(slot));
}

bool ListManagerGui::takeNameSave()
{
    std::string name = pinName(nameSave);
    if (name.empty())
        return false;
    cleanName(name);
    setTextPin(presetName, name);
    names.setName(current, name);
    updateList();
    return true;
}

void ListManagerGui::pulseGuiUpdate()
{
    guiUpdate = true;
    guiUpdate = false;
}

void ListManagerGui::selectFromPresetNumber()
{
    // Values outside 0-127 are commands for the processing half; they address no slot here.
    if (isSlot(presetNumber.getValue()))
        current = presetNumber.getValue();
}

// --- Panels -----------------------------------------------------------------------------------

void ListManagerGui::buildFolderChain(FileKind kind) const
{
    if (autoPath.getValue() || !settings.baseFolder || settings.baseFolder->empty() || !settings.idText)
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

void ListManagerGui::runOpenPanel(FileKind kind)
{
    buildFolderChain(kind);
    takeChosen(platform::filePanels().chooseFileToOpen(panelFolder(kind), fileType(kind)));
}

bool ListManagerGui::chooseToOpen(FileKind kind)
{
    runOpenPanel(kind);
    SavePath();
    return chosen && useChosenPath();
}

bool ListManagerGui::chooseToSave(FileKind kind, std::string_view suggestedName)
{
    runSavePanel(kind, suggestedName);
    SavePath();
    return chosen && useChosenPath();
}

void ListManagerGui::takeChosen(const std::optional<std::filesystem::path>& answer)
{
    chosenPath.clear();
    chosen = false;
    if (!answer)
        return;
    const std::string& path = answer->native();
    if (path.empty() || path.size() > rules_.chosenPathLimit || path.find('\0') != std::string::npos)
        return;
    if (rules_.chosenPathOneLine && path.find_first_of("\r\n") != std::string::npos)
        return;
    chosenPath = path;
    chosen = true;
}

bool ListManagerGui::useChosenPath()
{
    return workingPath.assign(chosenPath) && !workingPath.empty();
}

// --- Files on the interface copy ---------------------------------------------------------------

bool ListManagerGui::loadPresetFile()
{
    if (!presetbank::LoadPreset(workingPath.view(), names, current, editBuffer))
        return false;
    updateList();
    if (rules_.presetLoadShowsNameSave)
        showName(current);
    else
        setTextPin(presetName, names.view(current));
    pulseGuiUpdate();
    return true;
}

bool ListManagerGui::loadBankFile(std::string_view path, bool setPresetNumber)
{
    if (!presetbank::LoadBank(path, names, bankCopy, presetbank::FieldConversion::Atof))
        return false;
    if (current == 0)
        pulseGuiUpdate();
    current = 0;
    if (setPresetNumber)
        presetNumber = 0;
    updateList();
    setTextPin(presetName, names.view(0));
    return true;
}

void ListManagerGui::loadStartupBank()
{
    // Always the startup bank file, whatever file a panel chose since.
    loadBankFile(startupPath.view(), true);
    takeNameSave();
}

bool ListManagerGui::savePresetFile()
{
    return presetbank::SavePreset(workingPath.view(), names.view(current), editBuffer);
}

bool ListManagerGui::saveBankFile()
{
    return presetbank::SaveBank(workingPath.view(), names, bankCopy);
}
