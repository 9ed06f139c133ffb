// Interface half of the list-file manager: the list-pipe manager's interface with another way of
// talking to its processing half. Every message is a bare id; the chosen path travels in Path.txt
// and the name list in List.txt, both in the manager folder.
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/ListManagerGui.h"

class Qv_patchmanagerlistfileGui : public ListManagerGui {
public:
    // Pins: ListManagerGui::Pin, PresetNumber to NameSave.
    Qv_patchmanagerlistfileGui()
    {
        using Self = Qv_patchmanagerlistfileGui;
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
        // Path.txt holds the path and CR LF in 1024 bytes, on one line.
        chosenPathLimit = listfile::kMaxChosenPathBytes;
        chosenPathOneLine = true;
    }

    // No bank file is read here: the processing half reads the startup bank itself.
    int32_t initialize() noexcept override
    {
        try {
            setTextPin(presetList, listText);
            readStartupSettings();
            clearCopies();
            selectFromPresetNumber();
            setTextPin(presetName, names.view(current));
            send(kStarted);
        } catch (...) {
        }
        return mpapi::MP_RESULT_OK;
    }

    void onSetPresetNumber()
    {
        const int32_t value = presetNumber.getValue();
        send(value); // values 128-135 are commands of the processing half
        if (isSlot(value)) {
            current = value;
            showName(current);
        }
    }

    // A list set by the host renames the slots here; the processing half hears of it with the
    // next name edit. Its names pass the name rule like typed ones.
    void onSetPresetList()
    {
        std::wstring_view wideText = presetList.getValue();
        wideText = wideText.substr(0, wideText.find(L'\0'));
        if (wideText.empty())
            return;
        const presetbank::NameTable before = names;
        presetbank::ReadList(utf8::fromWide(wideText, utf8::OnError::Replace), names);
        for (int slot = 0; slot < presetbank::kPresets; ++slot) {
            if (names.view(slot) == before.view(slot))
                continue;
            std::string name(names.view(slot));
            if (cleanName(name))
                names.setName(slot, name);
        }
        listText = presetbank::SaveList(names);
    }

    // The edited name enters the table at once and goes to the processing half through List.txt.
    void onSetPresetName()
    {
        const std::string name = takePresetName();
        names.setName(current, name);
        updateList();
        setTextPin(nameSave, name);
        SaveList();
    }

    void onSetLoadPreset()
    {
        if (!loadPresetButton.released(loadPresetPin.getValue()))
            return;
        runOpenPanel(FileKind::Preset);
        SavePath();
        if (chosen && useChosenPath()) {
            loadPresetFile(false);
            send(kLoadPresetDone);
        }
    }

    // This half writes the file from its copy; the processing half rewrites it with the live
    // values.
    void onSetSavePreset()
    {
        if (!savePresetButton.released(savePresetPin.getValue()))
            return;
        runSavePanel(FileKind::Preset, names.view(current));
        SavePath();
        if (chosen && useChosenPath()) {
            savePresetFile();
            send(kSavePresetDone);
        }
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
        // PresetNumber follows with the processing half's message 0.
        if (chosen && useChosenPath()) {
            loadBankFile(workingPath.view(), false);
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
    void onSetNameSave() { ReadNamesavePin(); }

    int32_t receiveMessageFromAudio(int32_t id, int32_t, void*) noexcept override
    {
        try {
            if (isSlot(id)) {
                presetNumber = id;
                current = id;
                showName(current);
            } else if (id == kReloadStartupBank) {
                loadStartupBank();
            } else if (id == kListReady) {
                ReadList();
            } else if (id >= kCurrentBase && id <= kCurrentLast) {
                presetNumber = id - kCurrentBase;
                current = id - kCurrentBase;
            }
        } catch (...) {
        }
        return mpapi::MP_RESULT_OK;
    }

private:
    void FixPreset() { send(kFixPresetCommand); }

    void ReadNamesavePin() { takeNameSave(); }

    std::optional<std::string> managerFolder() const
    {
        if (!settings.idText)
            return std::nullopt;
        return listfile::managerFolder(settings.baseFolder, *settings.idText, autoPath.getValue());
    }

    void createFolders() const
    {
        if (settings.idText)
            listfile::createManagerFolders(settings.baseFolder, *settings.idText, autoPath.getValue());
    }

    // Path.txt gets the chosen path, or only CR LF after a cancel; without a manager folder
    // nothing is written.
    void SavePath()
    {
        createFolders();
        if (const auto folder = managerFolder())
            listfile::writePathFile(*folder, chosenPath);
    }

    // List.txt gets the list text; 133 follows even when the write failed.
    void SaveList()
    {
        createFolders();
        if (const auto folder = managerFolder())
            listfile::writeListFile(*folder, listText);
        send(kListChanged);
    }

    // savepresetfilename / savebankfilename: the panel itself gives the file its type; no
    // question of this half's own.
    void runSavePanel(FileKind kind, std::string_view suggestedName)
    {
        buildFolderChain(kind);
        takeChosen(platform::filePanels().chooseFileToSave(panelFolder(kind), suggestedName, fileType(kind)));
    }

    // The processing half's names from List.txt; a name the host keeps then renames the current
    // preset here only.
    void ReadList()
    {
        const auto folder = managerFolder();
        const auto line = folder ? listfile::readListFile(*folder) : std::nullopt;
        if (line && !line->empty()) {
            presetbank::ReadList(*line, names);
            setTextPin(presetList, *line);
        }
        ReadNamesavePin();
        showName(current);
    }
};

MP_REGISTER_MODULE(Qv_patchmanagerlistfileGui, L"QV_PatchManagerListfile")
