// Processing half of QV_VoltageToFloat: reports its audio input to the interface half in volts.
#include "Utility/Bridge.h"

class Qv_voltagetofloat : public VoltageReporter {};

MP_REGISTER_MODULE(Qv_voltagetofloat, L"QV_VoltageToFloat")
