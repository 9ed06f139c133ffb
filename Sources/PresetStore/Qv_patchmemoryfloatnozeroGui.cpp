// Interface half of QV_PatchMemoryFloatNozero: the same six-pair mirror as QV_PatchMemoryFloat.
#include "PresetStore/ParameterLink.h"

class Qv_patchmemoryfloatnozeroGui : public parameter_link::MirrorGui {};

MP_REGISTER_MODULE(Qv_patchmemoryfloatnozeroGui, L"QV_PatchMemoryFloatNozero")
