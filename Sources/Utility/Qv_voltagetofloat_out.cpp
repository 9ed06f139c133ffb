// Processing half of QV_VoltageToFloat_Out: reports its audio input to the interface half in volts.
#include "Utility/Bridge.h"

class Qv_voltagetofloat_out : public VoltageReporter {};

MP_REGISTER_MODULE(Qv_voltagetofloat_out, L"QV_VoltageToFloat_Out")
