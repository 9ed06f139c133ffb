// Passes only the control changes of up to four selected controllers, as [0xB0, controller,
// value]; everything else is dropped.
#include "Midi/MidiFilter.h"

class Qv_passcontroller : public midi_filter::ControllerFilter<Qv_passcontroller> {
public:
    static bool passes(bool selected) { return selected; }
};

MP_REGISTER_MODULE(Qv_passcontroller, L"QV_PassController")
