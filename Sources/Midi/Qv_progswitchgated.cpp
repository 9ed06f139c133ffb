// Steps the program one down or up from the current program on its pin and issues it when the
// commit note arrives; nothing passes. It counts nothing itself: the next program always comes
// from the pin, and before the pin has had a value the commit note sends nothing.
#include "Midi/ProgramChange.h"

class Qv_progswitchgated : public program_change::CommitGatedSender<Qv_progswitchgated> {
public:
    // Pins 0-2 are the base's (the program pin being the current program).
    enum Pin { kDirection = kProgram + 1 };
    enum Direction { kDown = 0, kUp = 1 };

    Qv_progswitchgated() { initializePin(kDirection, direction_); }

    uint8_t program(int16_t current) const
    {
        int32_t next = current;
        if (direction_.value == kDown)
            --next;
        else if (direction_.value == kUp)
            ++next;
        return midi::clampData(next);
    }

private:
    IntInPin direction_;  // 0 down, 1 up, anything else stays
};

MP_REGISTER_MODULE(Qv_progswitchgated, L"QV_ProgSwitchGated")
