// The answers of a processing half (messages to its interface half, pin values, MIDI) in the
// order of the inputs that caused them. Inputs are never kept back: each is handled or becomes a
// file job when it arrives. Only what a job's result will say is owed, and an owed answer keeps
// the answers of later inputs behind it, so a slow disk delays what the user hears about, never
// what the module does, and every answer leaves in the order offline gives.
//
// A job's answers are made when its result is settled, at the front of the outbox: jobs of one
// channel come back in the order they were submitted, so the owed places settle in order.
// Fixed room, set aside with the module (kAnswers answers, kPayloadBytes of their payloads);
// nothing here allocates, locks or waits.
#pragma once

#include "Common/PayloadRing.h"
#include "FileWorker.h"

#include <cstddef>
#include <string_view>

namespace outbox {

template <class Answer, std::size_t kAnswers, std::size_t kPayloadBytes = 0>
class Outbox {
public:
    static constexpr std::size_t capacity() { return kAnswers; }

    bool empty() const { return ring_.empty(); }
    std::size_t size() const { return ring_.size(); }
    // An owed answer is still out.
    bool owing() const { return owed_ > 0; }

    // [audio thread] An answer ready now; it leaves with the next flush once nothing owed is
    // before it. false, with nothing kept, when the room is full.
    bool post(const Answer& answer, std::string_view payload = {})
    {
        return ring_.pushBack(Entry{answer, nullptr, false}, payload);
    }

    // [audio thread] The place of the answers job's result will make (the job was submitted).
    bool owe(file_worker::Job& job)
    {
        if (!ring_.pushBack(Entry{Answer{}, &job, false}))
            return false;
        ++owed_;
        return true;
    }

    // [audio thread] job came back from its channel's finished(): its answers can be made. A job
    // nothing was owed for changes nothing. Owed jobs come back in the order they were owed, so
    // only the first one still out can be this one.
    void cameBack(const file_worker::Job& job)
    {
        for (std::size_t i = 0; i < ring_.size(); ++i) {
            Entry& entry = *ring_.at(i);
            if (entry.job && !entry.back) {
                entry.back = entry.job == &job;
                return;
            }
        }
    }

    // [audio thread] Sends, in order, everything not behind an owed answer whose job is still out:
    // send(answer, payload) for an answer ready, settle(job) for a job that came back (it applies
    // the result and sends its answers itself, never through post, so they leave at this point of
    // the order).
    template <class Send, class Settle>
    void flush(Send&& send, Settle&& settle)
    {
        while (const Entry* front = ring_.front()) {
            if (front->job && !front->back)
                return;
            Entry entry;
            std::string_view payload;
            ring_.popFront(entry, payload);
            if (entry.job) {
                --owed_;
                settle(*entry.job);
            } else {
                send(entry.answer, payload);
            }
        }
    }

    void clear()
    {
        ring_.clear();
        owed_ = 0;
    }

private:
    struct Entry {
        Answer answer{};
        file_worker::Job* job = nullptr;  // an owed answer: the job that makes it
        bool back = false;                      // that job came back
    };

    payload_ring::PayloadRing<Entry, kAnswers, kPayloadBytes> ring_;
    std::size_t owed_ = 0;
};

} // namespace outbox
