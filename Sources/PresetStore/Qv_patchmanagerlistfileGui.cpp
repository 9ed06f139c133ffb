// Interface half of the list-file manager: the list-pipe manager's interface with another way of
// talking to its processing half. Every message is a bare id; the chosen path travels in Path.txt
// and the name list in List.txt, both in the manager folder.
//
// The processing half reads those files on the bundle's file worker when a command's job runs,
// which on a slow disk can be long after the command was posted. So this half writes them through
// the worker too, and goes on: each write takes its place in the one order before the message
// that uses it, so a file chosen for the next command is written only after every command posted
// before has read the one chosen for it, and this thread never waits behind other modules' work.
#include "FileWorker.h"
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/ListManagerGui.h"

#include <array>
#include <cstddef>

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
    // nothing is written. The processing half learns the file only from Path.txt: a path that
    // cannot be its one line is dropped as if cancelled (no file operation here, no command).
    // A write that fails on the disk leaves the processing half's command doing nothing
    // (list_file::writePathFile).
    void SavePath() override
    {
        if (!folder_) {
            chosen_ = false;
            return;
        }
        if (!list_file::fitsPathFile(chosenPath_))
            chosen_ = false;
        exchange(ExchangeWrite::kPath, chosenPath_);
    }

    // List.txt gets the list text; 133 follows even when the write failed.
    void SaveList()
    {
        if (folder_)
            exchange(ExchangeWrite::kList, listText_);
        send(list_message::kNameList);
    }

    // One of the files the processing half reads, written on the worker in the order of all file
    // work.
    class ExchangeWrite final : public file_worker::Job {
    public:
        enum File { kPath, kList };
        File file = kPath;
        list_file::ManagerFolder folder;
        std::string text;

        void run() noexcept override
        {
            try {
                list_file::createManagerFolders(folder);
                if (file == kPath)
                    list_file::writePathFile(folder.path, text);
                else
                    list_file::writeListFile(folder.path, text);
            } catch (...) {
            }
        }
    };
    static constexpr std::size_t kWrites = 32;

    // Hands the write to the worker and goes on. Only with every one of its writes still out
    // (the disk stalled through kWrites edits) does this half wait for its oldest.
    void exchange(ExchangeWrite::File file, const std::string& text)
    {
        takeBackWrites();
        if (freeWrites_ == 0) {
            channel_.drain();
            takeBackWrites();
        }
        ExchangeWrite& write = *free_[--freeWrites_];
        write.file = file;
        write.folder = *folder_;
        write.text = text;
        if (file == ExchangeWrite::kList) {
            ++listWritesOut_;
            lastListText_ = text;
        }
        channel_.submit(write);  // never refused: a job is free only when the channel has room
    }

    void takeBackWrites()
    {
        while (file_worker::Job* done = channel_.finished()) {
            auto& write = static_cast<ExchangeWrite&>(*done);
            if (write.file == ExchangeWrite::kList)
                --listWritesOut_;
            free_[freeWrites_++] = &write;
        }
    }

    // The panel itself gives the file its type; no question of this half's own.
    void runSavePanel(FileKind kind, std::string_view suggestedName) override
    {
        buildFolderChain(kind);
        takeChosen(platform::filePanels().chooseFileToSave(panelFolder(kind), suggestedName, fileType(kind)));
    }

    // The processing half's names from List.txt; a name the host keeps then renames the current
    // preset here only. While a List.txt write of this half is still out, the file will hold
    // what it writes (it was asked for after the processing half's write this answers), so that
    // text is read.
    void ReadList()
    {
        takeBackWrites();
        std::optional<std::string> line;
        if (folder_)
            line = listWritesOut_ > 0 ? list_file::listLine(list_file::listFileBytes(lastListText_)) : list_file::readListFile(folder_->path);
        if (line && !line->empty()) {
            preset_bank::ReadList(*line, names_);
            setTextPin(presetList_, *line);
        }
        ReadNamesavePin();
        showName(current_);
    }

    std::optional<list_file::ManagerFolder> folder_; // from initialize; nothing: no List/Path.txt
    std::array<ExchangeWrite, kWrites> writes_;
    std::array<ExchangeWrite*, kWrites> free_ = freeList();
    std::size_t freeWrites_ = kWrites;
    int listWritesOut_ = 0;
    std::string lastListText_;  // the text of this half's last List.txt write
    file_worker::Channel channel_{kWrites};  // last: it goes first

    std::array<ExchangeWrite*, kWrites> freeList()
    {
        std::array<ExchangeWrite*, kWrites> list{};
        for (std::size_t k = 0; k < kWrites; ++k)
            list[k] = &writes_[k];
        return list;
    }
};

MP_REGISTER_MODULE(Qv_patchmanagerlistfileGui, L"QV_PatchManagerListfile")
