// Fans one int interface pin out to every further pin of the instance.
#include "GuiSplitter.h"

class Qv_intsplitterGui : public GuiSplitter<int32_t> {};

MP_REGISTER_MODULE(Qv_intsplitterGui, L"QV_IntSplitter")
