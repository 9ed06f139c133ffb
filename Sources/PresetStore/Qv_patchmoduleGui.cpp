// Interface half of QV_PatchModule: turns the processing half's "d%f" text into its float pin, so
// a preset change reaches a parameter wired on the interface side.
#include "PresetStore/ParameterLink.h"
#include "PresetStore/PatchModuleMessages.h"

using namespace parameter_link;

class Qv_patchmoduleGui : public MpGuiBase {
public:
    enum Pin { kValue };

    Qv_patchmoduleGui() { initializePin(kValue, value_); }

    // Every message is a slot value (patch_module_message::kSlotValue); the id is not checked. The
    // pin transmits only when the value differs (a NaN always does).
    int32_t receiveMessageFromAudio(int32_t, int32_t size, void* data) noexcept override
    {
        float value = 0.0f;
        if (readTaggedValue(size, data, value))
            value_ = value;
        return mpapi::MP_RESULT_OK;
    }

private:
    MpGuiPin<float> value_;
};

MP_REGISTER_MODULE(Qv_patchmoduleGui, L"QV_PatchModule")
