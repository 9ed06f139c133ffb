// The file work of the list managers' processing halves, done on the bundle's file worker: preset
// and bank files loaded and saved, and for the list-file manager the startup bank, Path.txt and
// List.txt. Each input that needs the disk becomes one Work the moment it arrives, carrying what
// it reads of the module's state then (the block's 256 values, the current preset, a path).
//
// The worker keeps its own copy of the names and the bank (WorkerSide), brought up to date in
// submit order by every job, the ones that need no disk included (a store, a name list, the
// factory bank). So a job never needs the audio side's names or bank: a bank save writes the
// worker's copy (the audio thread copies nothing for it), a save whose name is still owed by an
// earlier job finds that name there, and a bank load fills a buffer the audio side swaps with its
// own. A job that fails midway leaves the worker's copy as it was and its result says so.
//
// Between submit and the job's return from the channel everything in it belongs to the worker;
// the rest of the time, to the audio side. WorkerSide is touched only by run().
#pragma once

#include "FileWorker.h"
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/PresetBank.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace list_manager {

// What a job's result changes on the audio side when it is applied: inputs that read one of these
// wait while a job that changes it is owed.
enum Effect : uint8_t {
    kBlock = 1,   // the current preset and the shared preset block
    kBank = 2,    // the bank memory
    kNames = 4,   // the name table
    kOutput = 8,  // messages to the interface half or MIDI
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
    // The names and bank as they are after every job submitted so far (offline's).
    preset_bank::NameTable names;
    preset_bank::BankMemory bank;
    preset_bank::ListText list;  // List.txt's text being written
};

class Work final : public file_worker::Job {
public:
    enum class Task : uint8_t {
        LoadPreset,  // path: the preset file over values (the block when asked) into names[current],
                     // bank[current] and values
        SavePreset,  // path: its name line into names[current], then the file written from it and values
        LoadBank,    // path: the bank file into names and the bank, a copy left in *bank
        SaveBank,    // path: its names line into names, then the file written from names and bank
        StorePreset, // values into bank[current]
        SetNames,    // names (the audio side's, after a name list) become the worker's
        FactoryBank, // values into bank[current], the factory bank laid in, values into bank[current]
        StartUp,     // list-file: settings -> manager folder; the startup bank as LoadBank; then, with
                     // writeList, List.txt from the names
        ReadList,    // list-file: List.txt's first line read into names
        WriteList,   // list-file: the manager folders made, the names' list + CR LF into List.txt
    };

    // ---- request (audio side, before submit) ----
    Task task = Task::LoadPreset;
    WorkerSide* side = nullptr;
    uint64_t sequence = 0;     // the input's arrival number
    uint8_t effects = 0;       // Effect bits its result changes when applied
    preset_bank::PathBuffer path;  // unless side->pathFromPathFile
    int current = 0;
    preset_bank::PresetValues values = {};  // the block when asked; LoadPreset: the block after it
    preset_bank::NameTable names;           // SetNames: in; else out: the worker's names after it
    preset_bank::BankMemory* bank = nullptr;  // LoadBank, StartUp: a buffer the result fills
    pin_text::FileSettings settings;          // StartUp
    bool writeList = false;                   // StartUp

    // ---- result (audio side, after the job came back) ----
    bool proceeded = false;  // the command had a path and was carried out
    bool opened = false;     // the file read opened
    bool namesChanged = false;

    // [worker; inside submit offline]
    void run() noexcept override;

private:
    void runTask();
    bool takePathFile();
    void writeListFile();
};

} // namespace list_manager
