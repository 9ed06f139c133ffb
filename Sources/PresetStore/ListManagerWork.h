// The file work of the list managers' processing halves, done on the bundle's file worker: preset
// and bank files loaded and saved, the block stored into the bank, and for the list-file manager
// the startup bank, Path.txt and List.txt. Each input that needs the disk, or that depends on a
// result still owed, becomes one Work the moment it arrives and takes its place in the one order
// of every module's inputs.
//
// The worker keeps what its jobs made (WorkerSide): the names, the bank and the selection (the
// current preset and the list-pipe manager's prelude), brought up to date in place order by every
// job, the ones that need no disk included (a store, a name list, a selection). The shared block
// as the worker knows it is the Shadow every manager on the block shares: a job that reads the
// block carries the block as it saw it on arrival (its turns) and merges it there first, so it
// reads the block as offline would have it at its place, owed loads of every module included.
// A job that fails midway leaves the worker's copy as it was and its result says so.
//
// Between submit and the job's return from the channel everything in it belongs to the worker;
// the rest of the time, to the audio side. WorkerSide and the Shadow are touched only by run().
#pragma once

#include "FileWorker.h"
#include "PresetStore/BlockShadow.h"
#include "PresetStore/ControllerDump.h"
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/PresetBank.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace list_manager {

// The preset that selecting, storing and the files act on, and whether the list-pipe manager's
// one pass through preset 1 has happened.
struct Selection {
    int current = 0;
    bool prelude = false;
};

// The worker's own state of one manager. [worker]
struct WorkerSide {
    preset_bank::FieldConversion conversion = preset_bank::FieldConversion::Decimal;
    bool pathFromPathFile = false;  // list-file: paths come from Path.txt
    // The list-file manager's folder from the last graph start (nothing: no List.txt or Path.txt)
    // and the path its last readable Path.txt gave.
    std::optional<list_file::ManagerFolder> folder;
    preset_bank::PathBuffer receivedPath;
    bool receivedValid = false;
    // The names, bank and selection as they are after every job submitted so far (offline's).
    preset_bank::NameTable names;
    preset_bank::BankMemory bank;
    preset_bank::BankMemory reading;  // a bank file being read, the bank until it is read whole
    Selection selection;
    preset_bank::ListText list;  // List.txt's text being written
};

class Work final : public file_worker::Job {
public:
    enum class Task : uint8_t {
        Select,      // program (after preset 1 once, with prelude) becomes current; its values into
                     // the block at the job's place
        LoadPreset,  // path: the preset file over the block into names[current], bank[current] and
                     // the block
        SavePreset,  // path: its name line into names[current], then the file written from it and
                     // the block
        LoadBank,    // path: the bank file into names and the bank; preset 0 selected
        SaveBank,    // path: its names line into names, then the file written from names and bank
        Store,       // the block into bank[current]
        StartStore,  // list-pipe's start-up store: as Store; while name 0 is "Default" the factory
                     // bank laid in and the block stored again
        SetNames,    // names[0, touched) from the names a name list gave
        ListNames,   // the names copied out, for the list text
        FetchBank,   // the bank copied into *bank, for the audio side after a bank was read
        StartUp,     // list-file: settings -> manager folder; the startup bank as LoadBank (no
                     // selection); then, with writeList, List.txt from the names
        ReadList,    // list-file: List.txt's first line read into names
        WriteList,   // list-file: the manager folders made, the names' list + CR LF into List.txt
    };

    // ---- request (audio side, before submit) ----
    Task task = Task::Store;
    WorkerSide* side = nullptr;
    preset_block::Shadow* shadow = nullptr;
    bool changesBank = false;    // its result changes the bank
    bool answers = false;        // its result makes answers: owed in the outbox
    bool selectionKnown = false; // selection is the audio side's, exact: the worker takes it
    bool setsSelection = false;  // the audio side takes the selection its result gives
    Selection selection;         // in when known; out: the worker's after the job
    int program = 0;             // Select
    bool prelude = false;        // Select: the list-pipe select message's pass through preset 1
    bool tellsGui = false;       // Select: the preset number goes to the interface half
    bool readsBlock = false;     // seen holds the block as the input found it
    preset_block::Snapshot seen;
    preset_bank::PathBuffer path;  // unless side->pathFromPathFile
    preset_bank::NameTable* names = nullptr;  // SetNames: in; ListNames: out (a table set aside)
    int touched = 0;               // SetNames: slots the name list named
    preset_bank::BankMemory* bank = nullptr;  // FetchBank: a buffer the result fills
    pin_text::FileSettings* settings = nullptr;  // StartUp (a buffer set aside)
    bool writeList = false;                   // StartUp

    // ---- result (audio side, after the job came back) ----
    bool proceeded = false;     // the command had a path and was carried out
    bool opened = false;        // the file read opened
    bool factory = false;       // StartStore laid the factory bank in
    bool preludeDone = false;   // Select passed through preset 1, announced by preludeDump
    std::array<controller_dump::Message, controller_dump::kMessages> preludeDump{};
    preset_bank::PresetValues values = {};  // the values written into the block or stored

    // [worker; inside submit offline]
    void run() noexcept override;

private:
    void runTask();
    void readBlock();
    void writeBlock();
    void select();
    void loadPreset();
    void savePreset();
    void loadBank();
    void saveBank();
    void storeBlock();
    void startUp();
    void readList();
    bool takePath();
    bool opens() const;
    bool takePathFile();
    void writeListFile();
};

} // namespace list_manager
