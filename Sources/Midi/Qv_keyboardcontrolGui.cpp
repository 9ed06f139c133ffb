// Lights the twelve keys of one octave: 1.0 for a lit key, 0.5 for a lit white key whose next
// lower white key is lit too (so neighbouring white keys stay apart), 0 for an unlit key. Pin 0
// carries the highest white key of the octave below, so the lowest white key follows the rule too.
#include "Midi/KeyboardControlMessages.h"
#include "MpInterface.h"

#include <array>

using namespace keyboard_control;

class Qv_keyboardcontrolGui : public MpGuiBase {
public:
    enum Pin { kLowerB, kKey1 };  // kKey1 + k: semitone k of the octave

    static constexpr float kLit = 1.0f;
    static constexpr float kDimmed = 0.5f;
    static constexpr float kLitAbove = 0.2f;

    Qv_keyboardcontrolGui()
    {
        initializePin(kLowerB, keys_[0], &Qv_keyboardcontrolGui::onSetLowerB);
        for (int pin = kKey1; pin <= kKeysPerOctave; ++pin)
            initializePin(pin, keys_[static_cast<std::size_t>(pin)]);
    }

    int32_t receiveMessageFromAudio(int32_t id, int32_t, void*) noexcept override
    {
        if (id >= kKeyPressed && id < kKeyPressed + kKeysPerOctave)
            pressKey(id - kKeyPressed + kKey1);
        else if (id >= kKeyReleased && id < kKeyReleased + kKeysPerOctave)
            releaseKey(id - kKeyReleased + kKey1);
        return 0;
    }

    void onSetLowerB()
    {
        if (lit(kKey1))
            keys_[kKey1] = lit(kLowerB) ? kDimmed : kLit;
    }

private:
    // Per key pin: the next lower and next higher white key pins (-1 for none; a black key has
    // neither). Pin 0 is the lower neighbour of the lowest white key.
    struct Neighbours {
        int lower;
        int higher;
    };
    static constexpr std::array<Neighbours, 13> kWhiteNeighbours{{
        {-1, -1},  // pin 0: the octave below
        {0, 3}, {-1, -1}, {1, 5}, {-1, -1}, {3, 6}, {5, 8},
        {-1, -1}, {6, 10}, {-1, -1}, {8, 12}, {-1, -1}, {10, -1},
    }};

    static bool isWhite(int pin) { return kWhiteNeighbours[static_cast<std::size_t>(pin)].lower >= 0; }
    bool lit(int pin) const { return keys_[static_cast<std::size_t>(pin)].value > kLitAbove; }
    MpGuiPin<float>& key(int pin) { return keys_[static_cast<std::size_t>(pin)]; }

    void pressKey(int pin)
    {
        const Neighbours n = kWhiteNeighbours[static_cast<std::size_t>(pin)];
        if (!isWhite(pin)) {
            key(pin) = kLit;
            return;
        }
        key(pin) = lit(n.lower) ? kDimmed : kLit;
        if (n.higher >= 0 && lit(n.higher))
            key(n.higher) = kDimmed;
    }

    void releaseKey(int pin)
    {
        key(pin) = 0.0f;
        const int higher = kWhiteNeighbours[static_cast<std::size_t>(pin)].higher;
        if (higher >= 0 && lit(higher))
            key(higher) = kLit;
    }

    std::array<MpGuiPin<float>, 13> keys_;
};

MP_REGISTER_MODULE(Qv_keyboardcontrolGui, L"QV_KeyboardControl")
