// Controller soft takeover, shared by the two no-jump modules: per controller number the
// parameter's value as far as the module knows, the knob's last value and whether the knob was
// seen, and the three ways a knob movement reaches the synth. The modules keep their own pins and
// thresholds and only say which way applies.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace soft_takeover {

enum class Way {
    Direct,    // the knob's value passes as it comes
    Relative,  // the knob's movement is added to the parameter's value
    Pickup,    // nothing passes until the knob reaches or crosses the parameter's value
    Nothing,   // a neutral setting: nothing passes, nothing is remembered
};

inline constexpr int kControllers = 128;

class Controllers {
public:
    // A knob movement of controller c (0-127) to value v (0-127); the value to send, if any.
    std::optional<uint8_t> move(int c, int v, Way way)
    {
        if (c < 0 || c >= kControllers || way == Way::Nothing)
            return std::nullopt;
        const auto i = static_cast<std::size_t>(c);
        switch (way) {
        case Way::Direct:
            lastControllerValue_[i] = v;
            controllerSeen_[i] = 1;
            parameterValue_[i] = v;
            return static_cast<uint8_t>(v);
        case Way::Relative: {
            std::optional<uint8_t> sent;
            if (controllerSeen_[i]) {
                int r = v - lastControllerValue_[i] + parameterValue_[i];
                r = r < 0 ? 0 : r > 127 ? 127 : r;
                parameterValue_[i] = r;
                sent = static_cast<uint8_t>(r);
            }
            lastControllerValue_[i] = v;
            controllerSeen_[i] = 1;
            return sent;
        }
        case Way::Pickup: {
            const int p = parameterValue_[i];
            const int l = lastControllerValue_[i];
            const bool crossed = !caught_ && ((l > p && p >= v) || (l < p && p < v));
            std::optional<uint8_t> sent;
            if (controllerSeen_[i] && (l == p || crossed)) {
                parameterValue_[i] = v;
                lastControllerValue_[i] = v;
                caught_ = 1;
                sent = static_cast<uint8_t>(v);
            } else {
                lastControllerValue_[i] = v;
                caught_ = p == v ? 1 : 0;
            }
            controllerSeen_[i] = 1;
            return sent;
        }
        case Way::Nothing:
            break;
        }
        return std::nullopt;
    }

    // The parameter's current value from the synth; numbers outside 0-127 have no entry.
    void setParameter(int c, int v)
    {
        if (c >= 0 && c < kControllers)
            parameterValue_[static_cast<std::size_t>(c)] = v;
    }

private:
    std::array<int32_t, kControllers> parameterValue_{};
    std::array<int32_t, kControllers> lastControllerValue_{};
    std::array<uint8_t, kControllers> controllerSeen_{};
    uint8_t caught_ = 0;  // shared by all controllers: pickup has caught the parameter
};

} // namespace soft_takeover
