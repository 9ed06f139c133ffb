// Turns six selectable controllers into program changes and gates, behind a half-second
// lock-out: direct and recalled programs leave at once, a deferred program when the lock-out
// after the last note, program change or controller action has run out; stored programs wait for
// a recall; the gates stay at 1.0 while the lock-out runs. Direct, recall and gate requests that
// come while it runs are refused. Every program change leaves at block position 0.
#include "Common/SampleCount.h"
#include "Common/SampleCountdown.h"
#include "Midi/ProgramChange.h"
#include "MpProcessing.h"

#include <algorithm>

class Qv_ctrltoprgchgate : public MpBase {
public:
    enum Pin {
        kMidiIn,
        kMidiOut,
        kDirectController,
        kDeferredController,
        kStoreController,
        kRecallController,
        kGateAController,
        kGateBController,
        kGateAOut,
        kGateBOut,
        kUnusedOut,
    };
    static constexpr float kLockoutSeconds = 0.5f;

    Qv_ctrltoprgchgate()
    {
        initializePin(kMidiIn, midiIn_);
        initializePin(kMidiOut, midiOut_);
        initializePin(kDirectController, directController_);
        initializePin(kDeferredController, deferredController_);
        initializePin(kStoreController, storeController_);
        initializePin(kRecallController, recallController_);
        initializePin(kGateAController, gateAController_);
        initializePin(kGateBController, gateBController_);
        initializePin(kGateAOut, gateAOut_);
        initializePin(kGateBOut, gateBOut_);
        initializePin(kUnusedOut, unusedOut_);
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_ctrltoprgchgate::subProcess);
        lockoutSamples_ = samplesIn(kLockoutSeconds, getSampleRate());
        return 0;
    }

    using MpBase::onMidiMessage;
    void onMidiMessage(int, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size).withSilentNoteOnAsOff();
        if (m.kind() == midi::kNoteOn || m.isProgramChange()) {
            restartLockout();
            return;
        }
        if (!m.isController())
            return;
        const int32_t c = m.data1;
        const uint8_t v = m.data2;
        // Busy is what the last sub-process piece left: a restart earlier in this message does
        // not refuse the later actions of the same message.
        if (directController_.value == c) {
            if (!lockedOut_)
                sendProgram(v);
            restartLockout();
        }
        if (deferredController_.value == c) {
            pendingProgram = v;
            pending_ = true;
            restartLockout();
        }
        if (storeController_.value == c) {
            storedProgram = v;
            stored_ = true;
        }
        if (recallController_.value == c) {
            // Nothing stored yet: there is no program to recall.
            if (!lockedOut_ && stored_)
                sendProgram(static_cast<uint8_t>(storedProgram));
            restartLockout();
        }
        if (gateAController_.value == c) {
            if (!lockedOut_)
                gateARequested_ = true;
            restartLockout();
        }
        if (gateBController_.value == c) {
            if (!lockedOut_)
                gateBRequested_ = true;
            restartLockout();
        }
    }

    void subProcess(int offset, int frames)
    {
        fill(unusedOut_, offset, frames, 0.0f);
        if (lockoutCountdown.running()) {
            lockedOut_ = true;
            fill(gateAOut_, offset, frames, gateARequested_ ? 1.0f : 0.0f);
            fill(gateBOut_, offset, frames, gateBRequested_ ? 1.0f : 0.0f);
            if (lockoutCountdown.step(frames))
                return;
        }
        // The lock-out has run out (in this piece or before): the whole piece is low.
        fill(gateAOut_, offset, frames, 0.0f);
        fill(gateBOut_, offset, frames, 0.0f);
        gateARequested_ = gateBRequested_ = false;
        if (pending_) {
            sendProgram(static_cast<uint8_t>(pendingProgram));
            pending_ = false;
        }
        lockedOut_ = false;
    }

private:
    void restartLockout() { lockoutCountdown.start(lockoutSamples_); }
    void sendProgram(uint8_t program) { program_change::sendProgram(midiOut_, program, 0, 0); }
    static void fill(AudioOutPin& pin, int offset, int frames, float value)
    {
        if (float* out = pin.getBuffer(); out && frames > 0)
            std::fill(out + offset, out + offset + frames, value);
    }

    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    IntInPin directController_;    // controller numbers 0-127 themselves, not + 1
    IntInPin deferredController_;
    IntInPin storeController_;
    IntInPin recallController_;
    IntInPin gateAController_;
    IntInPin gateBController_;
    AudioOutPin gateAOut_;
    AudioOutPin gateBOut_;
    AudioOutPin unusedOut_;        // carries nothing: written as 0.0

    int32_t lockoutSamples_ = 0;      // half a second at the host's rate
    SampleCountdown lockoutCountdown;  // samples left of the lock-out
    bool lockedOut_ = false;          // the gate level: the last piece ran inside the lock-out
    int32_t pendingProgram = 0;       // the deferred program, sent when the lock-out runs out
    bool pending_ = false;
    int32_t storedProgram = 0;
    bool stored_ = false;             // a program was stored: a recall has something to send
    bool gateARequested_ = false;
    bool gateBRequested_ = false;
};

MP_REGISTER_MODULE(Qv_ctrltoprgchgate, L"QV_CtrlToPrgchGate")
