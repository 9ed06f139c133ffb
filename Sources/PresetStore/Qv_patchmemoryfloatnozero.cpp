// A parameter link for parameters that must never be set to zero or near it by a preset: like
// QV_PatchMemoryFloat, but a slot value of 0.5 or less is held back until the slot settles above
// 0.5.
#include "PresetStore/ParameterLink.h"

class Qv_patchmemoryfloatnozero : public parameter_link::FloatLink<Qv_patchmemoryfloatnozero> {
public:
    // A NaN fails the test too.
    static bool passesOn(float v) { return v > 0.5f; }
};

MP_REGISTER_MODULE(Qv_patchmemoryfloatnozero, L"QV_PatchMemoryFloatNozero")
