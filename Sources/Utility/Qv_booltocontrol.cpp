// Processing half of QV_BoolToControl: each button release on the interface becomes the control
// change 0xB0, controller, 64 on MIDI channel 1, at the start of the block.
#include "Midi/MidiBytes.h"
#include "MpProcessing.h"
#include "Utility/BridgeMessages.h"

class Qv_booltocontrol : public MpBase {
public:
    enum Pin { kMidiOut, kController };
    static constexpr uint8_t kValue = 0x40;

    Qv_booltocontrol()
    {
        initializePin(kMidiOut, midiOut_);
        initializePin(kController, controller_);
    }

    // Any message is a release; a controller outside 0-127 goes out as its low 8 bits.
    int32_t receiveMessageFromGui(int32_t, int32_t, const void*) noexcept override
    {
        const auto controller = static_cast<uint8_t>(static_cast<uint32_t>(controller_.getValue()) & 0xFFu);
        midi::send(midiOut_, midi::kControlChange, controller, kValue, 0);
        return mpapi::MP_RESULT_OK;
    }

private:
    MidiOutPin midiOut_;
    IntInPin controller_;
};

MP_REGISTER_MODULE(Qv_booltocontrol, L"QV_BoolToControl")
