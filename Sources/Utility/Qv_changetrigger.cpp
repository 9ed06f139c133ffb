// Processing half of QV_ChangeTrigger: after every change on the interface the gate dips to the
// received value (0.0) for the first sample of the next piece and then holds 1.0. Before the first
// change it is 0.0.
#include "Common/NumberText.h"
#include "Utility/ChangeGate.h"

class Qv_changetrigger : public ChangeGate<Qv_changetrigger> {
public:
    void writeGate(float* out, int frames)
    {
        out[0] = pending_;
        pending_ = hold_;
        for (int i = 1; i < frames; ++i)
            out[i] = hold_;
    }

    // Only 0.0 holds 1.0 after its sample; a value that is no finite number (NaN, an infinity) is
    // written as 0.0 so that no such sample leaves the module.
    void onChange(float value)
    {
        pending_ = number_text::finiteFloat(value);
        hold_ = value == 0.0f ? 1.0f : 0.0f;
    }

private:
    float pending_ = 0.0f;  // the first sample of the next piece
    float hold_ = 0.0f;     // every later sample
};

MP_REGISTER_MODULE(Qv_changetrigger, L"QV_ChangeTrigger")
