// Interface half of QV_PatchMemoryFloat: mirrors six pairs of pins, each value copied to its twin.
#include "PresetStore/ParameterLink.h"

class Qv_patchmemoryfloatGui : public parameter_link::MirrorGui {};

MP_REGISTER_MODULE(Qv_patchmemoryfloatGui, L"QV_PatchMemoryFloat")
