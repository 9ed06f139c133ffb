#include "Probes.h"

#include <stdexcept>

namespace probes {

Log& log()
{
    static Log theLog;
    return theLog;
}

namespace {

class ProbeBase : public MpBase {
public:
    ProbeBase()
    {
        initializePin(kValueA, valueA_, &ProbeBase::onValueA);
        initializePin(kValueB, valueB_, &ProbeBase::onValueB);
        initializePin(kMidiIn, midiIn_);
        initializePin(kAudioIn, audioIn_);
        initializePin(kAudioOut, audioOut_);
        initializePin(kValueOut, valueOut_);
        initializePin(kFlag, flag_);
        initializePin(kText, text_);
        initializePin(kInteger, integer_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kMaySleep, maySleep_);
        initializePin(kValueA, shadow_);
        log().clear();
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&ProbeBase::subProcess);
        return 0;
    }

    void onValueA(const mpapi::MpEvent*) { log().order.push_back("A"); }
    void onValueB(const mpapi::MpEvent*) { log().order.push_back("B"); }

    void onSetPins() override
    {
        log().order.push_back(shadow_.value == 0.0f ? "setPins" : "shadow reached");
        log().setPins.push_back({blockPos, valueA_.isUpdated, valueB_.isUpdated, audioIn_.isUpdated, valueA_.value, valueB_.value});
        log().flag = flag_.value;
        log().text = text_.value;
        log().integer = integer_.value;
        if (valueA_.isUpdated)
            valueOut_ = valueA_;
        if (flag_.isUpdated)
            audioOut_.setStreaming(!flag_.value);
        if (maySleep_.isUpdated)
            setSleep(maySleep_.value);
    }

    void onMidiMessage(int pin, unsigned char* bytes, int size) override
    {
        log().midi.push_back({pin, std::vector<unsigned char>(bytes, bytes + (size > 3 ? size : 3)), size});
        midiOut_.send(bytes, size);
    }

    int32_t receiveMessageFromGui(int32_t id, int32_t, const void*) noexcept override
    {
        log().messages.push_back(id);
        if (id == 7)  // a handler that posts back into its own entry must not loop
            return MpPluginBase::receiveMessageFromGui(id + 1, 0, static_cast<void*>(nullptr));
        return 5;
    }

    void subProcess(int offset, int frames)
    {
        log().pieces.push_back({offset, frames, blockPos});
        if (float* out = audioOut_.getBuffer())
            for (int i = offset; i < offset + frames; ++i)
                out[i] = 1.0f;
    }

protected:
    FloatInPin valueA_;
    FloatInPin valueB_;
    MidiInPin midiIn_;
    AudioInPin audioIn_;
    AudioOutPin audioOut_;
    FloatOutPin valueOut_;
    BoolInPin flag_;
    StringInPin text_;
    IntInPin integer_;
    MidiOutPin midiOut_;
    BoolInPin maySleep_;
    FloatInPin shadow_;
};

class Probe : public ProbeBase {
public:
    int32_t open() noexcept override
    {
        ProbeBase::open();
        setSleep(false);
        return 0;
    }
};

class SleepyProbe : public ProbeBase {};

// Only control pins: it never streams, so it runs only on pieces that more events follow.
class ControlProbe : public MpBase {
public:
    ControlProbe()
    {
        initializePin(0, value_);
        log().clear();
    }
    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&ControlProbe::subProcess);
        return 0;
    }
    void subProcess(int offset, int frames) { log().pieces.push_back({offset, frames, blockPos}); }

private:
    FloatInPin value_;
};

// Frame-count sub-processes, sleeping when allowed: blockPos is the offset of the piece.
class Probe2 : public MpBase2 {
public:
    Probe2()
    {
        initializePin(0, value_);
        initializePin(1, audioIn_);
        log().clear();
    }
    int32_t open() noexcept override
    {
        MpBase2::open();
        setSubProcess(&Probe2::subProcess);
        return 0;
    }
    void subProcess(int frames) { log().pieces.push_back({blockPos, frames, blockPos}); }

private:
    FloatInPin value_;
    AudioInPin audioIn_;
};

class ThrowingProbe : public MpBase {
public:
    ThrowingProbe() { throw std::runtime_error("construction failed"); }
};

// Interface pins of every kind; pin 0's handler copies the text pin through its UTF-8 form.
class GuiProbe : public MpGuiBase {
public:
    GuiProbe()
    {
        initializePin(0, text_, &GuiProbe::onText);
        initializePin(1, flag_, &GuiProbe::onFlag);
        initializePin(2, number_);
        initializePin(3, textOut_);
        initializePin(3, second_);  // a second pin under a taken index is not registered
        number_ = 0.25f;            // before any host: kept, sent nowhere
        log().clear();
    }
    void onText()
    {
        const std::string utf8 = text_;
        textOut_ = utf8;
    }
    void onFlag() { log().order.push_back(flag_.value ? "flag on" : "flag off"); }

private:
    StringGuiPin text_;
    MpGuiPin<bool> flag_;
    MpGuiPin<float> number_;
    StringGuiPin textOut_;
    MpGuiPin<float> second_;
};

} // namespace
} // namespace probes

using probes::ControlProbe;
using probes::GuiProbe;
using probes::Probe;
using probes::Probe2;
using probes::SleepyProbe;
using probes::ThrowingProbe;

MP_REGISTER_MODULE(Probe, L"TEST_Probe")
MP_REGISTER_MODULE(SleepyProbe, L"TEST_SleepyProbe")
MP_REGISTER_MODULE(ControlProbe, L"TEST_ControlProbe")
MP_REGISTER_MODULE(Probe2, L"TEST_Probe2")
MP_REGISTER_MODULE(ThrowingProbe, L"TEST_Throwing")
MP_REGISTER_MODULE(GuiProbe, L"TEST_GuiProbe")
