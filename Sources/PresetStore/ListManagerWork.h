// The file work of the list managers' processing halves, done on the bundle's file worker: preset
// and bank files loaded and saved, and for the list-file manager the startup bank, Path.txt and
// List.txt. The audio side fills a request (what, which file, copies of the names and bank it
// works over), submits the job, and later applies what it left: a parsed preset, a parsed bank
// ready to copy, the List.txt line. Nothing here allocates on the audio side.
//
// Between submit and the job's return from the channel everything in it belongs to the worker;
// the rest of the time, to the audio side. The list-file manager's folder and received path live
// in the job and are touched only by its run(), so they are the worker's alone.
#pragma once

#include "FileWorker.h"
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/PresetBank.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>

namespace list_manager {

class Work final : public file_worker::Job {
public:
    enum class Task {
        LoadPreset,  // path: the preset file into preset
        SavePreset,  // path: its name line into names[current], then the file written from
                     // names[current] and live
        LoadBank,    // path: the bank file into names and bank (opened)
        SaveBank,    // path: its names line into names, then the file written from names and bank
        StartUp,     // list-file: settings -> manager folder; the startup bank into names and
                     // bank; then, with writeList, List.txt from names
        ReadList,    // list-file: List.txt's first line into line
        WriteList,   // list-file: the manager folders made, list + CR LF into List.txt
    };

    // ---- request (audio side, before submit) ----
    Task task = Task::LoadPreset;
    // The path comes from Path.txt (list-file; the command then goes on only when it gives a
    // usable path) rather than from path.
    bool pathFromPathFile = false;
    preset_bank::PathBuffer path;
    preset_bank::FieldConversion conversion = preset_bank::FieldConversion::Decimal;
    int current = 0;
    preset_bank::PresetValues live = {};  // the shared preset block when the save was asked
    preset_bank::NameTable names;         // in: the manager's; out: as the file left them
    preset_bank::BankMemory bank;
    preset_bank::ListText list;           // WriteList
    pin_text::FileSettings settings;  // StartUp
    bool writeList = false;               // StartUp

    // ---- result (audio side, after the job came back) ----
    bool proceeded = false;  // the path was there (always, for a given path)
    bool opened = false;     // the file read opened
    preset_bank::PresetFile preset;
    char line[list_file::kMaxListLineBytes + 1] = {};  // ReadList, NUL-terminated
    std::size_t lineLength = 0;

    std::string_view lineView() const { return std::string_view(line, lineLength); }

    // [worker; inside submit offline]
    void run() noexcept override;

private:
    void runTask();
    bool takePathFile();

    // The worker's own: the list-file manager's folder from the last graph start (nothing: no
    // List.txt or Path.txt) and the path its last readable Path.txt gave.
    std::optional<list_file::ManagerFolder> folder_;
    preset_bank::PathBuffer receivedPath_;
    bool receivedValid_ = false;
};

} // namespace list_manager
