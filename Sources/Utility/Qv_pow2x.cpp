// Squares a signal measured in volts: y = (10 x)^2 / 10.
#include "SignalShaper.h"

class Qv_pow2x : public SignalShaper<Qv_pow2x> {
public:
    static float shape(float x)
    {
        const float volts = x * kVoltsPerUnit;
        return volts * volts / kVoltsPerUnit;
    }
};

MP_REGISTER_MODULE(Qv_pow2x, L"QV_Pow2x")
