// How the category manager's processing half keeps one order with its file work on the worker.
//
// Every input is handled when it arrives, in the block it arrives in: flags, timers, the effect
// mute and the program change it sends are the module's own and need no disk. An input that
// needs the disk, or the file side the worker keeps (the list shown and its presets read ahead,
// the page and arrows of a result view, the selected file, the bank memory, the effect backup),
// becomes a LibraryJob at arrival and takes its place in the one order of every module's
// requests; the worker completes it from what it keeps, as it stands after every earlier
// request. So a program change after a folder change loads entry n of the list that folder
// gives, whenever the disk answers.
//
// The shared block records the place of each slot's last write: a load writes only the slots
// nobody wrote after its program change arrived, and a save writes the block as the worker knows
// it at the save's place (what the input saw, with every owed load under it). Knob turns and
// frames are never kept, so automation through a long disk stall fills no room.
//
// Only answers wait: messages to the interface half and MIDI leave through one outbox in the
// order of the inputs that caused them; a job whose result makes answers is owed there, and holds
// the answers after it back until it has come back and been settled. Offline every job runs
// inside submit, so the same code gives the same answers at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace prescat {

// Something the processing half says to the host.
struct Answer {
    enum class Kind : uint8_t {
        Message,        // value: message id; the payload is its text (with the NUL)
        ProgramChange,  // value: the program
        FolderTable,    // the folder table as it stands when the answer leaves (message 280)
    };
    Kind kind = Kind::Message;
    int32_t value = 0;
};

// Buffers lent to the worker with a job (a list text, a folder table), given back when the job
// is settled.
template <class T, int N>
struct Lent {
    T items[N];
    bool out[N] = {};
    T* take()
    {
        for (int i = 0; i < N; ++i)
            if (!out[i]) {
                out[i] = true;
                return &items[i];
            }
        return nullptr;
    }
    void giveBack(const T* item)
    {
        if (item)
            out[item - items] = false;
    }
};

// Room for answers waiting behind an owed one, and for their texts (lists and the folder table
// are sent as their jobs are settled, or read when they leave, so none waits with its text).
inline constexpr std::size_t kAnswers = 4096;
inline constexpr std::size_t kAnswerBytes = 4096;

} // namespace prescat
