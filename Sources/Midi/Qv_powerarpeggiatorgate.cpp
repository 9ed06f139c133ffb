// The arpeggiator stepped by an audio gate: each rising and each falling edge is one step at full
// velocity. The gate is read once at the start of every stretch between events, so a pulse that
// rises and falls within one stretch is not seen.
#include "Midi/ArpeggiatorEngine.h"

class Qv_powerarpeggiatorgate : public arpeggiator::ArpeggiatorBase {
public:
    enum GatePin { kGate = kModePinEnd };
    static constexpr uint8_t kVelocity = 127;

    Qv_powerarpeggiatorgate() : ArpeggiatorBase(arpeggiator::StepTrigger::Gate)
    {
        initializePin(kGate, gate_);
    }

    // The gate is read only once the host's first pin values have arrived.
    void onSetPins() override
    {
        copyUpdatedModes();
        ArpeggiatorBase::onSetPins();
        setSubProcess(&Qv_powerarpeggiatorgate::subProcess);
    }

    // The sample at the event position that began this stretch, also when a sleep countdown
    // runs the stretch in parts.
    void subProcess(int /*offset*/, int /*frames*/)
    {
        if (gate_.getValue(-1) > 0.0f && !gateHigh_) {
            PutOutArpeggiatedNote();
            gateHigh_ = true;
        }
        if (gate_.getValue(-1) <= 0.0f && gateHigh_) {
            PutOutArpeggiatedNote();
            gateHigh_ = false;
        }
    }

    void PutOutArpeggiatedNote() { step(kVelocity); }

private:
    AudioInPin gate_;

    bool gateHigh_ = false;  // the level seen last
};

MP_REGISTER_MODULE(Qv_powerarpeggiatorgate, L"QV_PowerArpeggiatorGate")
