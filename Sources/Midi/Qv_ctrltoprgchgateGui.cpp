// Interface half of QV_CtrlToPrgchGate: one bool pin for the panel, no messages.
#include "MpInterface.h"

class Qv_ctrltoprgchgateGui : public MpGuiBase {
public:
    enum Pin { kPanel };

    Qv_ctrltoprgchgateGui() { initializePin(kPanel, panel_); }

private:
    MpGuiPin<bool> panel_;
};

MP_REGISTER_MODULE(Qv_ctrltoprgchgateGui, L"QV_CtrlToPrgchGate")
