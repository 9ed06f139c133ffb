// Family helpers of the indicators: the id-only message the processing half posts and the
// interface half that turns a message id into its one pin. The timed ones count down with
// Common/SampleCountdown.h.
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
