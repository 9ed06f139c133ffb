// Ties one synth parameter to one slot of the shared preset block through the interface side:
// a parameter move is written to the slot, and a slot change made elsewhere goes to the interface
// half as the text "d%f" once two polls 10 ms apart read the same value. The module's own writes
// are not reported back.
#include "PresetStore/ParameterLink.h"
#include "PresetStore/PatchModuleMessages.h"

using namespace parameter_link;

class Qv_patchmodule : public LinkBase {
public:
    enum Pin { kValueIn, kSlot, kKeepAlive };
    static constexpr float kMinMove = 0.000001f;

    Qv_patchmodule() : LinkBase(&Qv_patchmodule::subProcess)
    {
        initializePin(kValueIn, valueIn_);
        initializePin(kSlot, slot_);
        initializePin(kKeepAlive, keepAlive_);
    }

    // The parameter moved by more than a rounding step: store it in the slot as an own write.
    void onSetPins() override
    {
        if (!valueIn_.isUpdated)
            return;
        const float value = valueIn_.value;
        const float move = value - lastWritten_;
        if (!(move > kMinMove || move < -kMinMove))
            return;
        lastWritten_ = value;
        if (validSlot(slot_.value) && block_.isOpen()) {
            ownWrite_ = true;
            block_.set(slot_.value, value);
        }
    }

    void subProcess(int /*offset*/, int frames)
    {
        const int32_t slot = slot_.value;
        if (clock_.advance(frames, slot) && block_.isOpen())
            poll(block_.get(slot));
        if (clock_.periodEnded())
            ownWrite_ = false;
    }

    void SendStringToGui(int size, unsigned char* data)
    {
        if (host)
            host->postMessageToGui(patch_module_message::kSlotValue, size, data);
    }

private:
    void poll(float v)
    {
        if (debounce_.settled(v)) {
            char text[kTaggedTextBytes];
            const int32_t size = formatTaggedValue('d', v, text);
            SendStringToGui(size, reinterpret_cast<unsigned char*>(text));
            debounce_.passedOn();
        }
        // Within a period in which the module wrote, only the value it wrote is its own: anything
        // else is someone else's change (a preset loaded right after a knob move) and is reported.
        debounce_.read(v, !ownWrite_ || !(v == lastWritten_));
    }

    FloatInPin valueIn_;
    IntInPin slot_;
    AudioOutPin keepAlive_;  // never written

    float lastWritten_ = 0.0f;
    bool ownWrite_ = false;  // the module wrote its slot in this poll period
};

MP_REGISTER_MODULE(Qv_patchmodule, L"QV_PatchModule")
