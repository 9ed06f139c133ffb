// Sits between a hardware MIDI controller and the synth: learns which knob drives which synth
// controller from the learn and reset buttons, and translates controllers both ways through the
// map, which it keeps in "Controllers.txt". The file is written by a thread of the module's own,
// so the buttons' sub-process only hands over a copy of the map.
#include "Common/PinText.h"
#include "Midi/LearnMap.h"
#include "Midi/MidiBytes.h"
#include "MpProcessing.h"

class Qv_midilearnmodule : public MpBase {
public:
    enum Pin { kExternalIn, kInternalIn, kLearn, kReset, kLed, kId, kAutoPath, kPathPc, kPathMac, kToSynth, kToExternal };

    static constexpr int kHostPathChars = 500;

    Qv_midilearnmodule()
    {
        initializePin(kExternalIn, externalIn_);
        initializePin(kInternalIn, internalIn_);
        initializePin(kLearn, learn_);
        initializePin(kReset, reset_);
        initializePin(kLed, led_);
        initializePin(kId, id_);
        initializePin(kAutoPath, autoPath_);
        initializePin(kPathPc, pathPc_);
        initializePin(kPathMac, pathMac_);
        initializePin(kToSynth, toSynth_);
        initializePin(kToExternal, toExternal_);
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_midilearnmodule::subProcess);
        writer_.start();
        return 0;
    }

    void onGraphStart() override
    {
        std::optional<std::string> hostPath;
        if (autoPath_.value && host) {
            wchar_t full[kHostPathChars + 1] = {};
            host->expandFileName(L"Controllers.txt", kHostPathChars, full);
            hostPath = pin_text::hostPathText(full, kHostPathChars + 1, pin_text::kIdBytes);
        }
        const learn_map::Location where = learn_map::locate(std::move(hostPath), autoPath_.value, id_.value, pathMac_.value);
        target_ = learn_map::targetOf(where);
        LoadTable(where);
        MpBase::onGraphStart();
    }

    // The buttons, sample by sample; a rising edge is a sample above 0 after a sample of exactly 0.
    void subProcess(int offset, int frames)
    {
        const float* learn = learn_.getBuffer();
        const float* reset = reset_.getBuffer();
        float* led = led_.getBuffer();
        for (int s = offset; s < offset + frames; ++s) {
            const float l = learn ? learn[s] : 0.0f;
            const float r = reset ? reset[s] : 0.0f;
            const bool learnEdge = l > 0.0f && previousLearn_ == 0.0f;
            const bool resetEdge = r > 0.0f && previousReset_ == 0.0f;
            step(resetEdge, learnEdge, r > 0.0f);
            if (led)
                led[s] = ledLevel_;
            previousLearn_ = l;
            previousReset_ = r;
        }
    }

    void onMidiMessage(int pin, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size);
        const bool controller = m.isController() && m.data1 < learn_map::kEntries;
        if (controller && !(ledLevel_ == 0.0f && pairComplete_))
            capture(pin, m.data1);
        if (pin == kExternalIn) {
            if (!m.isController()) {
                midi::send(toSynth_, m);
            } else if (controller && m.data1 != 0) {
                for (int k = 0; k < learn_map::kEntries; ++k)
                    if (map_[static_cast<std::size_t>(k)] == m.data1)
                        midi::send(toSynth_, midi::kControlChange, static_cast<uint8_t>(k), m.data2);
            }
        } else if (pin == kInternalIn) {
            if (!m.isController()) {
                midi::send(toExternal_, m);
            } else if (controller && map_[m.data1] != 0) {
                midi::send(toExternal_, midi::kControlChange, static_cast<uint8_t>(map_[m.data1]), m.data2);
            }
        }
    }

private:
    // A map posted for this file but not yet written is newer than the file: it is the one loaded,
    // so a graph start during a write loses no learnt entry.
    void LoadTable(const learn_map::Location& where)
    {
        if (!writer_.pendingFor(target_, map_))
            learn_map::load(where, map_);
    }

    // [audio thread] The writer thread writes this copy of the map; nothing is allocated here.
    void SaveTable() noexcept { writer_.post(map_, target_); }

    void capture(int pin, uint8_t number)
    {
        if (pin == kInternalIn) {
            capturedInternal_ = number;
            internalCaptured_ = true;
        } else if (pin == kExternalIn) {
            capturedExternal_ = number;
            externalCaptured_ = true;
        } else {
            return;
        }
        if (internalCaptured_ && externalCaptured_)
            pairComplete_ = true;
    }

    void step(bool resetEdge, bool learnEdge, bool resetHigh)
    {
        if (resetEdge && ledLevel_ == 0.0f) {
            map_.fill(0);
            ledLevel_ = 0.0f;
            externalCaptured_ = internalCaptured_ = false;
            SaveTable();
            return;
        }
        if (learnEdge) {
            if (ledLevel_ != 0.0f) {
                ledLevel_ = 0.0f;
            } else {
                ledLevel_ = 1.0f;
                externalCaptured_ = internalCaptured_ = pairComplete_ = false;
            }
            return;
        }
        if (ledLevel_ == 0.0f)
            return;
        if (pairComplete_) {
            map_[capturedInternal_] = capturedExternal_;
            ledLevel_ = 0.0f;
            SaveTable();
        }
        // Reset held while learning takes the captured pair back, even one stored just now.
        if (resetHigh && internalCaptured_) {
            if (map_[capturedInternal_] == capturedExternal_)
                map_[capturedInternal_] = 0;
            ledLevel_ = 0.0f;
            SaveTable();
        }
    }

    MidiInPin externalIn_;
    MidiInPin internalIn_;
    AudioInPin learn_;
    AudioInPin reset_;
    AudioOutPin led_;
    StringInPin id_;
    BoolInPin autoPath_;
    StringInPin pathPc_;  // not read
    StringInPin pathMac_;
    MidiOutPin toSynth_;
    MidiOutPin toExternal_;

    learn_map::Map map_{};             // internal controller -> external controller, 0 unassigned
    float ledLevel_ = 0.0f;            // 1.0 while learning, else 0.0 (idle)
    uint8_t capturedExternal_ = 0;     // 0-127
    uint8_t capturedInternal_ = 0;     // 0-127
    bool externalCaptured_ = false;
    bool internalCaptured_ = false;
    bool pairComplete_ = false;
    float previousLearn_ = 0.0f;       // last learn button sample
    float previousReset_ = 0.0f;       // last reset button sample
    learn_map::Target target_;         // where the file goes, formed at graph start
    learn_map::FileWriter writer_;     // last: its thread stops before anything else goes
};

MP_REGISTER_MODULE(Qv_midilearnmodule, L"QV_MidiLearnModule")
