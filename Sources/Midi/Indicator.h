// Family helpers of the indicators: the id-only message the processing half posts, the piece
// countdown of the timed ones, and the interface half that turns a message id into its one pin.
#pragma once

#include "Midi/IndicatorMessages.h"
#include "MpInterface.h"
#include "MpProcessing.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace indicator {

// Posts an id-only message (size 0, no data) to the module's interface half.
inline void post(MpPluginBase& module, int32_t id)
{
    if (module.host)
        module.host->postMessageToGui(id, 0, nullptr);
}

// A countdown in samples that steps by whole pieces of a block, never below 0.
class PieceCountdown {
public:
    void start(int32_t samples) { remaining_ = samples > 0 ? samples : 0; }
    bool running() const { return remaining_ > 0; }
    int32_t remaining() const { return remaining_; }
    // Counts one piece off; true while samples are left after it.
    bool step(int32_t frames)
    {
        remaining_ = frames >= remaining_ ? 0 : remaining_ - frames;
        return remaining_ > 0;
    }

private:
    int32_t remaining_ = 0;  // samples
};

// Interface half of an indicator: message id k sets the pin to Module::kLevels[k]; other ids are
// ignored. The pin transmits only when its value changes.
template <class Module, class T, std::size_t Levels>
class IndicatorGui : public MpGuiBase {
public:
    enum Pin { kIndicator };

    IndicatorGui() { initializePin(kIndicator, indicator_); }

    int32_t receiveMessageFromAudio(int32_t id, int32_t, void*) noexcept override
    {
        if (id >= 0 && static_cast<std::size_t>(id) < Levels)
            indicator_ = Module::kLevels[static_cast<std::size_t>(id)];
        return 0;
    }

private:
    MpGuiPin<T> indicator_;
};

} // namespace indicator
