// Interface half of the list-file manager: the list-pipe manager's interface with another way of
// talking to its processing half. Every message is a bare id; the chosen path travels in Path.txt
// and the name list in List.txt, both in the manager folder.
//
// The processing half reads those files on the bundle's file worker when a command's job runs,
// which on a slow disk can be long after the command was posted. So this half writes them through
// the worker too, and waits for the write: a file chosen for the next command is written only
// after every command posted before has read the one chosen for it.
#include "FileWorker.h"
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/ListManagerGui.h"

class Qv_patchmanagerlistfileGui : public ListManagerGui {
public:
    // Pins: ListManagerGui::Pin, PresetNumber to NameSave, registered by ListManagerGui.
    Qv_patchmanagerlistfileGui()
        : ListManagerGui(Rules{
              .presetLoadShowsNameSave = false,
              .bankLoadSetsPresetNumber = false, // PresetNumber follows with the processing half's 0
              .chosenPathLimit = list_file::kMaxChosenPathBytes, // the path and CR LF in 1024 bytes
              .chosenPathOneLine = true,                        // one line of Path.txt
          })
    {
    }

    // No bank file is read here: the processing half reads the startup bank itself.
    int32_t initialize() noexcept override
    {
        try {
            showStartState();
            // The same settings as the processing half's graph start give the same folder.
            folder_ = list_file::managerFolder(settings_, autoPath_.getValue());
            send(list_message::kInterfaceStarted);
        } catch (...) {
        }
        return mpapi::MP_RESULT_OK;
    }

    // A list set by the host renames the slots here; the processing half hears of it with the
    // next name edit. Its names pass the name rule like typed ones.
    void onSetPresetList() override
    {
        std::wstring_view wideText = presetList_.getValue();
        wideText = wideText.substr(0, wideText.find(L'\0'));
        if (wideText.empty())
            return;
        const preset_bank::NameTable before = names_;
        preset_bank::ReadList(utf8::fromWide(wideText, utf8::OnError::Replace), names_);
        for (int slot = 0; slot < preset_bank::kPresets; ++slot) {
            if (names_.view(slot) == before.view(slot))
                continue;
            std::string name(names_.view(slot));
            if (cleanName(name))
                names_.setName(slot, name);
        }
        listText_ = preset_bank::SaveList(names_);
    }

    // The edited name enters the table at once and goes to the processing half through List.txt.
    void onSetPresetName() override
    {
        const std::string name = takePresetName();
        names_.setName(current_, name);
        updateList();
        setTextPin(nameSave_, name);
        SaveList();
    }

    // This half writes the file from its copy; the processing half rewrites it with the live
    // values.
    void onSetSavePreset() override
    {
        if (savePresetButton_.released(savePresetPin_.getValue()) &&
            chooseToSave(FileKind::Preset, names_.view(current_))) {
            savePresetFile();
            send(list_message::kSavePreset);
        }
    }

    void onSetNameSave() override { ReadNamesavePin(); }

    int32_t receiveMessageFromAudio(int32_t id, int32_t, void*) noexcept override
    {
        try {
            if (id == list_message::kListText)
                ReadList();
            else
                takeCommonMessage(id);
        } catch (...) {
        }
        return mpapi::MP_RESULT_OK;
    }

private:
    void FixPreset() override { send(list_message::kFixPreset); }

    void ReadNamesavePin() { takeNameSave(); }

    // Path.txt gets the chosen path, or only CR LF after a cancel; without a manager folder
    // nothing is written. The processing half learns the file only from Path.txt: when it could
    // not be written, an older path left there would have it read or overwrite another file, so
    // the choice is dropped as if cancelled (no file operation here, no command).
    void SavePath() override
    {
        if (!folder_ || !exchange(ExchangeWrite::kPath, chosenPath_))
            chosen_ = false;
    }

    // List.txt gets the list text; 133 follows even when the write failed.
    void SaveList()
    {
        if (folder_)
            exchange(ExchangeWrite::kList, listText_);
        send(list_message::kNameList);
    }

    // One of the files the processing half reads, written on the worker in the order of all file
    // work; the interface thread waits for it.
    class ExchangeWrite final : public file_worker::Job {
    public:
        enum File { kPath, kList };
        File file = kPath;
        list_file::ManagerFolder folder;
        std::string text;
        bool written = false;

        void run() noexcept override
        {
            try {
                list_file::createManagerFolders(folder);
                written = file == kPath ? list_file::writePathFile(folder.path, text) : list_file::writeListFile(folder.path, text);
            } catch (...) {
                written = false;
            }
        }
    };

    bool exchange(ExchangeWrite::File file, const std::string& text)
    {
        write_.file = file;
        write_.folder = *folder_;
        write_.text = text;
        channel_.submit(write_);  // never refused: the one write is always back before the next
        channel_.drain();
        channel_.finished();
        return write_.written;
    }

    // The panel itself gives the file its type; no question of this half's own.
    void runSavePanel(FileKind kind, std::string_view suggestedName) override
    {
        buildFolderChain(kind);
        takeChosen(platform::filePanels().chooseFileToSave(panelFolder(kind), suggestedName, fileType(kind)));
    }

    // The processing half's names from List.txt; a name the host keeps then renames the current
    // preset here only.
    void ReadList()
    {
        const auto line = folder_ ? list_file::readListFile(folder_->path) : std::nullopt;
        if (line && !line->empty()) {
            preset_bank::ReadList(*line, names_);
            setTextPin(presetList_, *line);
        }
        ReadNamesavePin();
        showName(current_);
    }

    std::optional<list_file::ManagerFolder> folder_; // from initialize; nothing: no List/Path.txt
    ExchangeWrite write_;
    file_worker::Channel channel_{1};  // last: it goes first
};

MP_REGISTER_MODULE(Qv_patchmanagerlistfileGui, L"QV_PatchManagerListfile")
