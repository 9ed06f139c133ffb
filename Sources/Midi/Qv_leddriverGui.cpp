// Interface half of QV_LedDriver: the four steps as a float pin.
#include "Midi/Indicator.h"

class Qv_leddriverGui : public indicator::IndicatorGui<Qv_leddriverGui, float, 4> {
public:
    static constexpr std::array<float, 4> kLevels{0.0f, 0.3333f, 0.6666f, 1.0f};
};

MP_REGISTER_MODULE(Qv_leddriverGui, L"QV_LedDriver")
