// The outbox of answers (stand-in until the shared one lands): answers leave in the order of the
// inputs that caused them; an answer owed by a job holds later answers back.
#pragma once

#include "FileWorker.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace outbox {

template <class Answer, std::size_t kAnswers, std::size_t kPayloadBytes>
class Outbox {
public:
    bool post(const Answer& answer, std::string_view payload = {})
    {
        if (count_ == kAnswers || payload.size() > kPayloadBytes - used_)
            return false;
        if (count_ == 0)
            used_ = 0;
        Entry& e = entries_[(first_ + count_) % kAnswers];
        e = Entry{answer, nullptr, false, 0, payload.size()};
        if (!payload.empty())
            std::memcpy(bytes_.data() + used_, payload.data(), payload.size());
        e.offset = used_;
        used_ += payload.size();
        ++count_;
        return true;
    }
    bool owe(const file_worker::Job& job)
    {
        if (count_ == kAnswers)
            return false;
        entries_[(first_ + count_) % kAnswers] = Entry{Answer{}, &job, false, 0, 0};
        ++count_;
        return true;
    }
    void cameBack(const file_worker::Job& job)
    {
        for (std::size_t i = 0; i < count_; ++i) {
            Entry& e = entries_[(first_ + i) % kAnswers];
            if (e.job == &job && !e.back) {
                e.back = true;
                return;
            }
        }
    }
    template <class Send, class Settle>
    void flush(Send send, Settle settle)
    {
        while (count_ > 0) {
            Entry& e = entries_[first_];
            if (e.job && !e.back)
                return;
            const Entry taken = e;
            first_ = (first_ + 1) % kAnswers;
            --count_;
            if (taken.job)
                settle(const_cast<file_worker::Job&>(*taken.job));
            else
                send(taken.answer, std::string_view(bytes_.data() + taken.offset, taken.size));
        }
        used_ = 0;
    }
    bool empty() const { return count_ == 0; }
    bool owing() const
    {
        for (std::size_t i = 0; i < count_; ++i)
            if (entries_[(first_ + i) % kAnswers].job)
                return true;
        return false;
    }
    std::size_t size() const { return count_; }

private:
    struct Entry {
        Answer answer{};
        const file_worker::Job* job = nullptr;
        bool back = false;
        std::size_t offset = 0;
        std::size_t size = 0;
    };
    std::array<Entry, kAnswers> entries_{};
    std::size_t first_ = 0, count_ = 0;
    std::array<char, kPayloadBytes> bytes_{};
    std::size_t used_ = 0;
};

} // namespace outbox
