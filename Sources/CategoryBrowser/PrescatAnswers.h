// How the category manager's processing half speaks to the host: messages to its interface half,
// program changes on its MIDI output and the folder table, leaving through one outbox in the
// order of the inputs that caused them (RequestOrder.h). A job whose result makes answers is owed
// there; while it is settled its answers go out at once, every earlier one having left.
#pragma once

#include "CategoryBrowser/LibraryWork.h"
#include "CategoryBrowser/RequestOrder.h"
#include "Common/Outbox.h"
#include "MpProcessing.h"

#include <string_view>

namespace prescat {

class PrescatAnswers {
public:
    // host: the module's host pointer, read as each answer leaves; folders: the table as the
    // module last listed it. Both stay the module's.
    PrescatAnswers(MpHost* const& host, MidiOutPin& midiOut, const FolderTable& folders)
        : host_(host), midiOut_(midiOut), folders_(folders)
    {
    }

    // [audio thread] An answer, sent now unless an owed one is before it; false (nothing kept)
    // when the room is full.
    bool post(const Answer& answer, std::string_view payload = {});

    // Room for the answers of one more owed job.
    bool full() const { return outbox_.size() >= outbox_.capacity(); }
    // [audio thread] job was submitted: the answers its result will make wait for it.
    void owe(LibraryJob& job) { outbox_.owe(job); }
    // [audio thread] An owed job came back from the worker.
    void cameBack(const LibraryJob& job) { outbox_.cameBack(job); }

    // [audio thread] Sends everything due, in order; settle(job) applies each owed job that came
    // back, and what it answers meanwhile goes out at once.
    template <class Settle>
    void flush(Settle&& settle)
    {
        outbox_.flush([this](const Answer& answer, std::string_view payload) { send(answer, payload); },
                      [&](file_worker::Job& job) {
                          settling_ = true;
                          settle(static_cast<LibraryJob&>(job));
                          settling_ = false;
                      });
    }

    // At teardown: requests finish without a word to the host.
    void silence() { quiet_ = true; }
    bool quiet() const { return quiet_; }

private:
    void send(const Answer& answer, std::string_view payload);

    MpHost* const& host_;
    MidiOutPin& midiOut_;
    const FolderTable& folders_;
    outbox::Outbox<Answer, kAnswers, kAnswerBytes> outbox_;
    bool settling_ = false;
    bool quiet_ = false;
};

} // namespace prescat
