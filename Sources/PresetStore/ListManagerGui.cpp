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

ListManagerGui::ListManagerGui()
{
    refCount = 1;
    listText = presetbank::SaveList(names);
}

// --- Start ------------------------------------------------------------------------------------

void ListManagerGui::readStartupSettings()
{
    settings = presetbank::startupBankPath(host, autoPath.getValue(), idPin.getValue(), pathMac.getValue());
    // A refused or failed path leaves both paths empty: no file operation follows.
    startupPath.assign(settings.workingPath.value_or(std::string()));
    workingPath.assign(startupPath.view());
}

void ListManagerGui::clearCopies()
{
    for (float& value : editBuffer)
        value = 0.0f;
    bankCopy.clear();
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

void ListManagerGui::takeChosen(const std::optional<std::filesystem::path>& answer)
{
    chosenPath.clear();
    chosen = false;
    if (!answer)
        return;
    const std::string& path = answer->native();
    if (path.empty() || path.size() > chosenPathLimit || path.find('\0') != std::string::npos)
        return;
    if (chosenPathOneLine && path.find_first_of("\r\n") != std::string::npos)
        return;
    chosenPath = path;
    chosen = true;
}

bool ListManagerGui::useChosenPath()
{
    return workingPath.assign(chosenPath) && !workingPath.empty();
}

// --- Files on the interface copy ---------------------------------------------------------------

bool ListManagerGui::loadPresetFile(bool showNameSave)
{
    if (!presetbank::LoadPreset(workingPath.view(), names, current, editBuffer))
        return false;
    updateList();
    if (showNameSave)
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
