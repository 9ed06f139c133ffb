// The sine of the raw sample value, in radians (the input is not scaled to volts).
#include "SignalShaper.h"

#include <cmath>

class Qv_sinx : public SignalShaper<Qv_sinx> {
public:
    static float shape(float x) { return std::sin(x); }
};

MP_REGISTER_MODULE(Qv_sinx, L"QV_Sinx")
