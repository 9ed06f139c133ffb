// Drops the control changes of up to four selected controllers and passes everything else on
// channel 1. A silent note-on passes as a note-on.
#include "Midi/MidiFilter.h"

class Qv_blockcontroller : public midi_filter::ControllerFilter<Qv_blockcontroller> {
public:
    static bool passes(bool selected) { return !selected; }
};

MP_REGISTER_MODULE(Qv_blockcontroller, L"QV_BlockController")
