// A control change (any channel) as floats: the controller number and value, then a 5.0 pulse
// on the first output that falls back to 0.0 at the same sample.
#include "Midi/MidiBytes.h"
#include "MpProcessing.h"

class Qv_cctofloat : public MpBase {
public:
    enum Pin { kMidiIn, kPulseOut, kControllerOut, kValueOut };
    static constexpr float kPulse = 5.0f;

    Qv_cctofloat()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kPulseOut, pulseOut_);
        initializePin(kControllerOut, controllerOut_);
        initializePin(kValueOut, valueOut_);
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        pulseOut_ = 0.0f;
        controllerOut_ = 0.0f;
        valueOut_ = 0.0f;
        return 0;
    }

    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size);
        if (!m.isController())
            return;
        controllerOut_ = static_cast<float>(m.data1);
        valueOut_ = static_cast<float>(m.data2);
        pulseOut_ = kPulse;
        pulseOut_ = 0.0f;
    }

private:
    MidiInPin midiIn_;
    FloatOutPin pulseOut_;
    FloatOutPin controllerOut_;
    FloatOutPin valueOut_;
};

MP_REGISTER_MODULE(Qv_cctofloat, L"QV_CCToFloat")
