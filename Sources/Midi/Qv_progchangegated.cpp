// Issues the program on its int pin as a program change when the commit note arrives; nothing
// passes. Until the pin has had a value there is no program to issue and the commit note sends
// nothing.
#include "Midi/ProgramChange.h"

class Qv_progchangegated : public program_change::CommitGatedSender<Qv_progchangegated> {
public:
    uint8_t program(int16_t pinProgram) const { return midi::clampData(int32_t{pinProgram}); }
};

MP_REGISTER_MODULE(Qv_progchangegated, L"QV_ProgChangeGated")
