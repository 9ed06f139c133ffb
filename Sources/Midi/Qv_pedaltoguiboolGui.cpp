// Interface half of QV_PedalToGuiBool: the toggled switch as a bool pin.
#include "Midi/Indicator.h"

class Qv_pedaltoguiboolGui : public indicator::IndicatorGui<Qv_pedaltoguiboolGui, bool, 2> {
public:
    static constexpr std::array<bool, 2> kLevels{false, true};
};

MP_REGISTER_MODULE(Qv_pedaltoguiboolGui, L"QV_PedalToGuiBool")
