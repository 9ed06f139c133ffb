// Fans one bool interface pin out to every further pin of the instance.
#include "GuiSplitter.h"

class Qv_boolsplitterGui : public GuiSplitter<bool> {};

MP_REGISTER_MODULE(Qv_boolsplitterGui, L"QV_BoolSplitter")
