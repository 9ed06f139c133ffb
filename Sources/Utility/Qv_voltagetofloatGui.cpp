// Interface half of QV_VoltageToFloat: shows the processing half's audio input in volts on its float pin.
#include "Utility/Bridge.h"

class Qv_voltagetofloatGui : public VoltageDisplayGui {};

MP_REGISTER_MODULE(Qv_voltagetofloatGui, L"QV_VoltageToFloat")
