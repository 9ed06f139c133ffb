// A controller-value switch for the interface: while enabled (pin 1 exactly 1), a control change
// of any controller and channel with value 101 or more switches on, 99 or less off, and 100 leaves
// the switch alone.
#include "Midi/Indicator.h"
#include "Midi/MidiBytes.h"

class Qv_cctoguibool : public MpBase {
public:
    enum Pin { kMidiIn, kEnable };
    static constexpr int32_t kEnabled = 1;
    static constexpr uint8_t kOnFrom = 101;
    static constexpr uint8_t kOffUpTo = 99;

    Qv_cctoguibool()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kEnable, enable_);
    }

    // Every qualifying message posts, changed or not.
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size);
        if (enable_.value != kEnabled || !m.isController())
            return;
        if (m.data2 >= kOnFrom)
            indicator::post(*this, indicator::kOn);
        else if (m.data2 <= kOffUpTo)
            indicator::post(*this, indicator::kOff);
    }

private:
    MidiInPin midiIn_;
    IntInPin enable_;
};

MP_REGISTER_MODULE(Qv_cctoguibool, L"QV_CCToGuiBool")
