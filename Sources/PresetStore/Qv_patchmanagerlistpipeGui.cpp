// Interface half of the list-pipe preset manager: shows the 128-slot list and the current name,
// lets the user pick, rename, and load or save preset and bank files, and tells the processing
// half by messages that carry the list text and the chosen path.
#include "PresetStore/FactoryBank.h"
#include "PresetStore/ListManagerGui.h"

class Qv_patchmanagerlistpipeGui : public ListManagerGui {
public:
    // Pins: ListManagerGui::Pin, PresetNumber to NameSave.
    Qv_patchmanagerlistpipeGui()
    {
        using Self = Qv_patchmanagerlistpipeGui;
        initializePin(kPresetNumber, presetNumber, &Self::onSetPresetNumber);
        initializePin(kPresetList, presetList, &Self::onSetPresetList);
        initializePin(kPresetName, presetName, &Self::onSetPresetName);
        initializePin(kLoadPreset, loadPresetPin, &Self::onSetLoadPreset);
        initializePin(kSavePreset, savePresetPin, &Self::onSetSavePreset);
        initializePin(kFixPreset, fixPresetPin, &Self::onSetFixPreset);
        initializePin(kLoadBank, loadBankPin, &Self::onSetLoadBank);
        initializePin(kSaveBank, saveBankPin, &Self::onSetSaveBank);
        initializePin(kId, idPin, &Self::onSetID);
        initializePin(kAutoPath, autoPath, &Self::onSetAutoPath);
        initializePin(kPathPC, pathPC, &Self::onSetPathPC);
        initializePin(kPathMac, pathMac, &Self::onSetPathMac);
        initializePin(kGuiUpdate, guiUpdate, &Self::onSetGuiUpdate);
        initializePin(kNameSave, nameSave, &Self::onSetNameSave);
    }

    int32_t initialize() noexcept override
    {
        try {
            setTextPin(presetList, listText);
            readStartupSettings();
            clearCopies();
            selectFromPresetNumber();
            setTextPin(presetName, names.view(current));
            loadStartupBank();
            send(kStarted);
        } catch (...) {
        }
        return mpapi::MP_RESULT_OK;
    }

    void onSetPresetNumber()
    {
        const int32_t value = presetNumber.getValue();
        send(value); // values 128-136 are commands of the processing half
        if (isSlot(value)) {
            current = value;
            showName(current);
        }
    }

    void onSetPresetList() {}

    // The name editing rule; the table takes the name only through FixPreset or, for the length
    // of a save, SavePreset.
    void onSetPresetName()
    {
        takePresetName();
        updateList();
    }

    void onSetLoadPreset()
    {
        if (!loadPresetButton.released(loadPresetPin.getValue()))
            return;
        runOpenPanel(FileKind::Preset);
        SavePath();
        if (chosen && useChosenPath()) {
            loadPresetFile(true);
            send(kLoadPresetDone);
        }
    }

    // The file gets the edited name; the slot keeps its old one. The processing half then takes
    // the name from the file and rewrites it with the live values.
    void onSetSavePreset()
    {
        if (!savePresetButton.released(savePresetPin.getValue()))
            return;
        const std::string edited = takePresetName();
        const std::string old(names.view(current));
        names.setName(current, edited);
        updateList();
        SaveList();
        runSavePanel(FileKind::Preset, names.view(current));
        SavePath();
        if (chosen && useChosenPath()) {
            savePresetFile();
            send(kSavePresetDone);
        }
        names.setName(current, old);
        updateList();
        SaveList();
    }

    void onSetFixPreset()
    {
        if (fixPresetButton.released(fixPresetPin.getValue()))
            FixPreset();
    }

    void onSetLoadBank()
    {
        if (!loadBankButton.released(loadBankPin.getValue()))
            return;
        runOpenPanel(FileKind::Bank);
        SavePath();
        if (chosen && useChosenPath()) {
            loadBankFile(workingPath.view(), true);
            send(kLoadBankDone);
        }
    }

    void onSetSaveBank()
    {
        if (!saveBankButton.released(saveBankPin.getValue()))
            return;
        runSavePanel(FileKind::Bank, "");
        SavePath();
        if (chosen && useChosenPath()) {
            saveBankFile();
            send(kSaveBankDone);
        }
    }

    void onSetID() {}
    void onSetAutoPath() {}
    void onSetPathPC() {}
    void onSetPathMac() {}
    void onSetGuiUpdate() {}
    void onSetNameSave() {}

    int32_t receiveMessageFromAudio(int32_t id, int32_t size, void* data) noexcept override
    {
        try {
            if (isSlot(id)) {
                presetNumber = id;
                current = id;
                showName(current);
            } else if (id == kReloadStartupBank) {
                loadStartupBank();
            } else if (id == kListReady) {
                ReadList(size, data);
            } else if (id >= kCurrentBase && id <= kCurrentLast) {
                presetNumber = id - kCurrentBase;
                current = id - kCurrentBase;
            } else if (id == kFactoryNames) {
                LoadStartupNames();
                selectFromPresetNumber();
                // The pins name the current preset, which the factory names have just renamed.
                showName(current);
            }
        } catch (...) {
        }
        return mpapi::MP_RESULT_OK;
    }

private:
    // The current preset takes the name on PresetName and the processing half stores the live
    // values into it.
    void FixPreset()
    {
        const std::string name = takePresetName();
        names.setName(current, name);
        updateList();
        setTextPin(nameSave, name);
        SaveList();
        send(kFixPresetCommand);
    }

    void SavePath() { sendText(kChosenPath, chosenPath); }
    void SaveList() { sendText(kListChanged, listText); }

    // savepresetfilename / savebankfilename: the extension is added only when the typed name
    // lacks it, and an existing file is replaced only on "Replace".
    void runSavePanel(FileKind kind, std::string_view suggestedName)
    {
        buildFolderChain(kind);
        takeChosen(platform::chooseFileToSaveAskingReplace(panelFolder(kind), suggestedName, fileType(kind)));
    }

    // The processing half's list; then a name kept by the host renames the current preset, and
    // the processing half hears of it.
    void ReadList(int32_t size, const void* data)
    {
        std::string_view text;
        if (data && size > 0) {
            text = std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(size));
            text = text.substr(0, text.find('\0'));
        }
        // An empty list would change no name: the pin keeps showing the names as they are.
        if (!text.empty()) {
            presetbank::ReadList(text, names);
            setTextPin(presetList, text);
        }
        if (takeNameSave())
            SaveList();
        showName(current);
    }

    void LoadStartupNames()
    {
        factorybank::layNamesInto(names);
        updateList();
        setTextPin(presetName, names.view(current));
    }
};

MP_REGISTER_MODULE(Qv_patchmanagerlistpipeGui, L"QV_PatchManagerListpipe")
