// Passes a float control value to its output while the gate differs from invert; a gate or invert
// change alone sends nothing, the output waits for the next value.
#include "MpProcessing.h"

class Qv_floatpasserdsp : public MpBase {
public:
    enum Pin { kValueIn, kValueOut, kGate, kInvert };

    Qv_floatpasserdsp()
    {
        initializePin(kValueIn, valueIn_);
        initializePin(kValueOut, valueOut_);
        initializePin(kGate, gate_);
        initializePin(kInvert, invert_);
    }

    void onSetPins() override
    {
        if (valueIn_.isUpdated && gate_.value != invert_.value)
            valueOut_ = valueIn_;
    }

private:
    FloatInPin valueIn_;
    FloatOutPin valueOut_;
    BoolInPin gate_;
    BoolInPin invert_;
};

MP_REGISTER_MODULE(Qv_floatpasserdsp, L"QV_FloatPasserDsp")
