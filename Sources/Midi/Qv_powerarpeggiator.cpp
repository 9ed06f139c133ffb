// The arpeggiator stepped by the step clock note: every message on note 10 is one step while the
// arpeggiator is on (a clock note-on and its note-off are two), with the clock's velocity.
#include "Midi/ArpeggiatorEngine.h"

class Qv_powerarpeggiator : public arpeggiator::ArpeggiatorBase {
public:
    Qv_powerarpeggiator() : ArpeggiatorBase(arpeggiator::StepTrigger::ClockNote) {}
};

MP_REGISTER_MODULE(Qv_powerarpeggiator, L"QV_PowerArpeggiator")
