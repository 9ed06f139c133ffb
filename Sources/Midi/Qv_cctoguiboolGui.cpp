// Interface half of QV_CCToGuiBool: the switch as a bool pin.
#include "Midi/Indicator.h"

class Qv_cctoguiboolGui : public indicator::IndicatorGui<Qv_cctoguiboolGui, bool, 2> {
public:
    static constexpr std::array<bool, 2> kLevels{false, true};
};

MP_REGISTER_MODULE(Qv_cctoguiboolGui, L"QV_CCToGuiBool")
