// Cubes a signal measured in volts: y = (10 x)^3 / 10.
#include "SignalShaper.h"

class Qv_pow3x : public SignalShaper<Qv_pow3x> {
public:
    static float shape(float x)
    {
        const float volts = x * kVoltsPerUnit;
        return volts * volts * volts / kVoltsPerUnit;
    }
};

MP_REGISTER_MODULE(Qv_pow3x, L"QV_Pow3x")
