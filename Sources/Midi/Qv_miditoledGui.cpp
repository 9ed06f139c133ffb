// Interface half of QV_MidiToLed: the LED as a float pin, 1.0 lit.
#include "Midi/Indicator.h"

class Qv_miditoledGui : public indicator::IndicatorGui<Qv_miditoledGui, float, 2> {
public:
    static constexpr std::array<float, 2> kLevels{0.0f, 1.0f};
};

MP_REGISTER_MODULE(Qv_miditoledGui, L"QV_MidiToLed")
