// Interface half of the list-pipe preset manager: shows the 128-slot list and the current name,
// lets the user pick, rename, and load or save preset and bank files, and tells the processing
// half by messages that carry the list text and the chosen path.
#include "Common/PayloadText.h"
#include "PresetStore/FactoryBank.h"
#include "PresetStore/ListManagerGui.h"

class Qv_patchmanagerlistpipeGui : public ListManagerGui {
public:
    // Pins: ListManagerGui::Pin, PresetNumber to NameSave, registered by ListManagerGui.
    Qv_patchmanagerlistpipeGui()
        : ListManagerGui(Rules{
              .presetLoadShowsNameSave = true,
              .bankLoadSetsPresetNumber = true,
              .chosenPathLimit = preset_bank::kPathBytes - 1, // the processing half's path buffer
              .chosenPathOneLine = false,
          })
    {
    }

    int32_t initialize() noexcept override
    {
        try {
            showStartState();
            loadStartupBank();
            send(list_message::kInterfaceStarted);
        } catch (...) {
        }
        return mpapi::MP_RESULT_OK;
    }

    void onSetPresetList() override {}

    // The name editing rule; the table takes the name only through FixPreset or, for the length
    // of a save, SavePreset.
    void onSetPresetName() override
    {
        takePresetName();
        updateList();
    }

    // The file gets the edited name; the slot keeps its old one. The processing half then takes
    // the name from the file and rewrites it with the live values.
    void onSetSavePreset() override
    {
        if (!savePresetButton_.released(savePresetPin_.getValue()))
            return;
        const std::string edited = takePresetName();
        const std::string old(names_.view(current_));
        names_.setName(current_, edited);
        updateList();
        SaveList();
        if (chooseToSave(FileKind::Preset, names_.view(current_))) {
            savePresetFile();
            send(list_message::kSavePreset);
        }
        names_.setName(current_, old);
        updateList();
        SaveList();
    }

    void onSetNameSave() override {}

    int32_t receiveMessageFromAudio(int32_t id, int32_t size, void* data) noexcept override
    {
        try {
            if (id == list_message::kListText) {
                ReadList(size, data);
            } else if (id == list_message::kFactoryBankLoaded) {
                LoadStartupNames();
                selectFromPresetNumber();
                // The pins name the current preset, which the factory names have just renamed.
                showName(current_);
            } else {
                takeCommonMessage(id);
            }
        } catch (...) {
        }
        return mpapi::MP_RESULT_OK;
    }

private:
    // The current preset takes the name on PresetName and the processing half stores the live
    // values into it.
    void FixPreset() override
    {
        const std::string name = takePresetName();
        names_.setName(current_, name);
        updateList();
        setTextPin(nameSave_, name);
        SaveList();
        send(list_message::kFixPreset);
    }

    void SavePath() override { sendText(list_message::kPath, chosenPath_); }
    void SaveList() { sendText(list_message::kNameList, listText_); }

    // The extension is added only when the typed name lacks it, and an existing file is replaced
    // only on "Replace".
    void runSavePanel(FileKind kind, std::string_view suggestedName) override
    {
        buildFolderChain(kind);
        takeChosen(platform::chooseFileToSaveAskingReplace(panelFolder(kind), suggestedName, fileType(kind)));
    }

    // The processing half's list; then a name kept by the host renames the current preset, and
    // the processing half hears of it.
    void ReadList(int32_t size, const void* data)
    {
        const std::string_view text = payload::text(size, data);
        // An empty list would change no name: the pin keeps showing the names as they are.
        if (!text.empty()) {
            preset_bank::ReadList(text, names_);
            setTextPin(presetList_, text);
        }
        if (takeNameSave())
            SaveList();
        showName(current_);
    }

    void LoadStartupNames()
    {
        factory_bank::layNamesInto(names_);
        updateList();
        setTextPin(presetName_, names_.view(current_));
    }
};

MP_REGISTER_MODULE(Qv_patchmanagerlistpipeGui, L"QV_PatchManagerListpipe")
