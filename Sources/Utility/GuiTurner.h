// Family base of the turners: two independent channels, L and R, each copying an input pin onto
// an output pin of the same type. An assignment transmits only a changed value.
#pragma once

#include "MpInterface.h"

template <class PinType>
class GuiTurner : public MpGuiBase {
public:
    enum Pin { kInL, kOutL, kInR, kOutR };

protected:
    // Whether a host write into an output runs the channel's handler, so the output is put back
    // to its input at once.
    enum class Outputs { FollowInput, KeepWrittenValue };

    template <class Module>
    void registerPins(void (Module::*onSetL)(), void (Module::*onSetR)(), Outputs outputs)
    {
        initializePin(kInL, inL_, onSetL);
        registerOutput(kOutL, outL_, onSetL, outputs);
        initializePin(kInR, inR_, onSetR);
        registerOutput(kOutR, outR_, onSetR, outputs);
    }

    void copyLeft() { outL_ = inL_.getValue(); }
    void copyRight() { outR_ = inR_.getValue(); }

private:
    template <class Module>
    void registerOutput(int index, PinType& pin, void (Module::*onSet)(), Outputs outputs)
    {
        if (outputs == Outputs::FollowInput)
            initializePin(index, pin, onSet);
        else
            initializePin(index, pin);
    }

    PinType inL_;
    PinType outL_;
    PinType inR_;
    PinType outR_;
};
