#include "CategoryBrowser/PrescatAnswers.h"

#include "CategoryBrowser/PrescatMessages.h"

namespace prescat {

bool PrescatAnswers::post(const Answer& answer, std::string_view payload)
{
    if (settling_ || outbox_.empty()) {
        send(answer, payload);
        return true;
    }
    return outbox_.post(answer, payload);
}

void PrescatAnswers::send(const Answer& answer, std::string_view payload)
{
    if (quiet_ || !host_)
        return;
    switch (answer.kind) {
    case Answer::Kind::Message:
        host_->postMessageToGui(answer.value, static_cast<int32_t>(payload.size()), payload.empty() ? nullptr : payload.data());
        break;
    case Answer::Kind::ProgramChange: {
        const unsigned char bytes[3] = {0xC0, static_cast<unsigned char>(answer.value), 0x00};
        midiOut_.send(bytes, 3, 0);
        break;
    }
    case Answer::Kind::FolderTable:
        host_->postMessageToGui(kFolderList, folders_.textSize, folders_.text);
        break;
    }
}

} // namespace prescat
