// Ties one synth parameter to one slot of the shared preset block: a new parameter value goes to
// the slot and to both outputs at once; a slot change made elsewhere (a preset load) reaches both
// outputs once two polls 10 ms apart read the same value.
#include "PresetStore/ParameterLink.h"

class Qv_patchmemoryfloat : public parameter_link::FloatLink<Qv_patchmemoryfloat> {
public:
    static bool passesOn(float) { return true; }
};

MP_REGISTER_MODULE(Qv_patchmemoryfloat, L"QV_PatchMemoryFloat")
