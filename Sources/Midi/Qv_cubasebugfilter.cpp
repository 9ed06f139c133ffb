// Drops one pan-centre and volume-100 pair that a host sends on its own: CC 10 = 64 is dropped
// and arms the filter, and the next CC 7 = 100 is dropped and disarms it. Everything else passes
// on channel 1.
#include "Midi/MidiFilter.h"

class Qv_cubasebugfilter : public MpBase {
public:
    enum Pin { kMidiIn, kMidiOut };
    static constexpr uint8_t kPan = 10, kPanCentre = 64;
    static constexpr uint8_t kVolume = 7, kVolumeDefault = 100;

    Qv_cubasebugfilter()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi_filter::framed(bytes, size);
        if (m.isController()) {
            if (m.data1 == kPan && m.data2 == kPanCentre) {
                swallowVolume = true;
                return;
            }
            if (m.data1 == kVolume && m.data2 == kVolumeDefault && swallowVolume) {
                swallowVolume = false;
                return;
            }
        }
        midi::send(midiOut_, m);
    }

private:
    MidiInPin midiIn_;
    MidiOutPin midiOut_;

    bool swallowVolume = false;  // a pan centre was dropped; the next CC 7 = 100 goes too
};

MP_REGISTER_MODULE(Qv_cubasebugfilter, L"QV_CubaseBugFilter")
