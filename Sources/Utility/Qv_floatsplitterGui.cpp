// Fans one float interface pin out to every further pin of the instance.
#include "GuiSplitter.h"

class Qv_floatsplitterGui : public GuiSplitter<float> {};

MP_REGISTER_MODULE(Qv_floatsplitterGui, L"QV_FloatSplitter")
