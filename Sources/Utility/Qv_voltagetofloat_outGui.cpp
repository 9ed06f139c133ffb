// Interface half of QV_VoltageToFloat_Out: shows the processing half's audio input in volts on
// its float pin.
#include "Utility/Bridge.h"

class Qv_voltagetofloat_outGui : public VoltageDisplayGui {};

MP_REGISTER_MODULE(Qv_voltagetofloat_outGui, L"QV_VoltageToFloat_Out")
