// Sits between a hardware MIDI controller and the synth: learns which knob drives which synth
// controller from the learn and reset buttons, and translates controllers both ways through the
// map, which it keeps in "Controllers.txt".
//
// The bundle's file worker reads and writes the file: a graph start hands it the pins' texts and
// the host's path, a store hands it a copy of the map, and the map read is applied at the start of
// a later block. Offline both happen inside the call, as if there were no worker.
//
// Until the map read at a graph start is applied, the module still plays: the LED, the captures
// and the learn state follow the buttons and controllers sample by sample. What needs the map
// waits, in order, in a log set aside at construction: every MIDI message's translation (notes
// too, so nothing overtakes) and every edit the buttons make. Once the map arrives the log is run
// on it at the start of that block, so the synth and the controller get exactly the messages, and
// the file exactly the map, that they would have got with the map at once; the messages go out at
// the block's first sample, and the module does not sleep while it waits.
// When the log is full (a flood of MIDI during a slow read), the module stops holding MIDI back for
// that read: the log is run at once on the map it has (the previous one) and later messages are
// translated at once; the edits still reach the map read, merged, so no learnt entry is lost.
#include "Midi/LearnMap.h"
#include "Midi/MidiBytes.h"
#include "MpProcessing.h"

#include <atomic>

class Qv_midilearnmodule : public MpBase {
public:
    enum Pin { kExternalIn, kInternalIn, kLearn, kReset, kLed, kId, kAutoPath, kPathPc, kPathMac, kToSynth, kToExternal };

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
        modules.fetch_add(1, std::memory_order_relaxed);
    }

    // [host thread, after the last process] What the audio side left waiting is finished here, in
    // order: a store that found no job free, a map still being read with the edits made meanwhile.
    // The channel then waits for the stores in flight, and the last learn module tries every
    // failed write once more.
    ~Qv_midilearnmodule() override
    {
        if (saveWanted_) {
            lastSave_.map = map_;
            lastSave_.target = target_;
            channel_.runAndWait(lastSave_);
        }
        if (waiting_) {
            if (!loadSubmitted_) {
                load_.map = map_;
                channel_.runAndWait(load_);
            } else {
                channel_.runAndWait(flush_);  // runs after the read
            }
            if (!edits_.empty()) {
                lastSave_.map = load_.map;
                edits_.applyTo(lastSave_.map);
                lastSave_.target = load_.target;
                channel_.runAndWait(lastSave_);
            }
        }
        if (modules.fetch_sub(1, std::memory_order_acq_rel) == 1)
            channel_.runAndWait(flush_);
    }

    int32_t open() noexcept override
    {
        MpBase::open();
        setSubProcess(&Qv_midilearnmodule::subProcess);
        return 0;
    }

    using MpBase::process;
    // Applies what the worker has done, then runs the block.
    void process(int32_t count, const mpapi::MpEvent* events) override
    {
        takeFinished();
        MpBase::process(count, events);
    }

    void onGraphStart() override
    {
        learn_map::LoadJob::Request& request = waiting_ ? staged_ : load_.request;
        request.take(host, learn_map::kFileNameWide, autoPath_.value, id_.value, pathMac_.value);
        if (!waiting_)
            LoadTable();
        else if (!defer(Deferred{Deferred::kGraphStart, {}, {}}))
            reloadWanted_ = true;
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
        if (m.isController() && m.data1 < learn_map::kEntries && !(ledLevel_ == 0.0f && pairComplete_))
            capture(pin, m.data1);
        if (pin != kExternalIn && pin != kInternalIn)
            return;
        const Deferred translation{pin == kExternalIn ? Deferred::kFromExternal : Deferred::kFromInternal, m, {}};
        if (!defer(translation))
            translate(translation);
    }

private:
    // What waits for the map a graph start reads, in arrival order.
    struct Deferred {
        enum Kind : uint8_t { kFromExternal, kFromInternal, kEdit, kGraphStart };
        Kind kind = kEdit;
        midi::Message message;  // kFromExternal, kFromInternal
        learn_map::Edit edit;   // kEdit
    };
    static constexpr std::size_t kLogCapacity = 512;
    static constexpr std::size_t kSaveJobs = 4;
    static inline std::atomic<int> modules{0};  // learn modules alive: the last one flushes

    // Translation through the map: hardware controller c goes to the synth as every k with
    // map[k] = c; synth controller c goes to the hardware as map[c]; other messages pass.
    void translate(const Deferred& d, int32_t position = -1)
    {
        const midi::Message& m = d.message;
        const bool controller = m.isController() && m.data1 < learn_map::kEntries;
        if (d.kind == Deferred::kFromExternal) {
            if (!m.isController()) {
                midi::send(toSynth_, m, position);
            } else if (controller && m.data1 != 0) {
                for (int k = 0; k < learn_map::kEntries; ++k)
                    if (map_[static_cast<std::size_t>(k)] == m.data1)
                        midi::send(toSynth_, midi::kControlChange, static_cast<uint8_t>(k), m.data2, position);
            }
        } else {
            if (!m.isController()) {
                midi::send(toExternal_, m, position);
            } else if (controller && map_[m.data1] != 0) {
                midi::send(toExternal_, midi::kControlChange, static_cast<uint8_t>(map_[m.data1]), m.data2, position);
            }
        }
    }

    // Asks the worker for the map of the file load_.request names; from now on what needs the map
    // waits for it.
    void LoadTable()
    {
        waiting_ = true;
        loadSubmitted_ = false;
        edits_.reset();
        if (!channel_.runsInline())
            stayAwake(true);
        readAfterStores();
    }

    // The read goes to the worker once no store waits to be handed over, so it comes after them.
    void readAfterStores()
    {
        if (saveWanted_)
            return;
        load_.map = map_;  // a short file leaves the rest as it is
        loadSubmitted_ = true;
        submit(load_);
    }

    // The map read, and what waited for it.
    void applyLoad()
    {
        map_ = load_.map;
        target_ = load_.target;
        waiting_ = false;
        const bool merged = overflowed_;
        overflowed_ = false;
        std::size_t next = 0;
        bool edited = false;
        if (merged) {
            edits_.applyTo(map_);
            edited = !edits_.empty();
        } else {
            for (; next < logLength_ && log_[next].kind != Deferred::kGraphStart; ++next) {
                if (log_[next].kind == Deferred::kEdit) {
                    learn_map::apply(log_[next].edit, map_);
                    edited = true;
                } else {
                    translate(log_[next], 0);
                }
            }
        }
        if (edited)
            SaveTable();
        const bool reload = reloadWanted_ || next < logLength_;
        reloadWanted_ = false;
        if (!reload) {
            logLength_ = 0;
            stayAwake(false);
            return;
        }
        // A later graph start waited in the log: its read comes now, and what followed it waits on.
        load_.request = staged_;
        LoadTable();
        std::size_t kept = 0;
        for (std::size_t i = next + (next < logLength_ ? 1 : 0); i < logLength_; ++i) {
            if (log_[i].kind == Deferred::kEdit)
                edits_.add(log_[i].edit);
            log_[kept++] = log_[i];
        }
        logLength_ = kept;
    }

    // [audio thread] Keeps d for the map being read; false when nothing waits (or the log is full).
    bool defer(const Deferred& d) noexcept
    {
        if (!waiting_ || overflowed_)
            return false;
        if (logLength_ < log_.size()) {
            log_[logLength_++] = d;
            return true;
        }
        // Full: the log runs now on the map at hand, without a store (the edits are merged for the
        // map read), and nothing more waits until it arrives.
        overflowed_ = true;
        for (std::size_t i = 0; i < logLength_; ++i) {
            if (log_[i].kind == Deferred::kEdit)
                learn_map::apply(log_[i].edit, map_);
            else if (log_[i].kind == Deferred::kGraphStart)
                reloadWanted_ = true;
            else
                translate(log_[i]);
        }
        logLength_ = 0;
        return false;
    }

    // A change to the map by the buttons, stored at once, or after the map being read.
    void edit(learn_map::Edit e)
    {
        if (waiting_)
            edits_.add(e);
        if (defer(Deferred{Deferred::kEdit, {}, e}))
            return;
        learn_map::apply(e, map_);
        if (!waiting_)
            SaveTable();
    }

    // [audio thread] The worker writes a copy of the map; nothing is allocated here. When every
    // store is still out, the newest map goes as soon as one comes back.
    void SaveTable() noexcept
    {
        for (std::size_t i = 0; i < kSaveJobs; ++i) {
            if (saveOut_[i])
                continue;
            saveWanted_ = false;
            saves_[i].map = map_;
            saves_[i].target = target_;
            saveOut_[i] = true;
            submit(saves_[i]);
            return;
        }
        saveWanted_ = true;
    }

    void submit(file_worker::Job& job) noexcept
    {
        channel_.submit(job);  // room is certain: one read and kSaveJobs stores at most
        if (channel_.runsInline())
            takeFinished();
    }

    // [audio thread] The jobs the worker has done, in the order they were asked for.
    void takeFinished() noexcept
    {
        while (file_worker::Job* done = channel_.finished()) {
            if (done == &load_) {
                applyLoad();
                continue;
            }
            for (std::size_t i = 0; i < kSaveJobs; ++i)
                if (done == &saves_[i])
                    saveOut_[i] = false;
        }
        if (saveWanted_)
            SaveTable();
        if (waiting_ && !loadSubmitted_)
            readAfterStores();
    }

    // A module waiting for its map asks not to sleep, so what waits goes out without waiting for
    // the next event.
    void stayAwake(bool awake)
    {
        if (awake) {
            canSleep = SleepMode::Never;
            return;
        }
        if (canSleep != SleepMode::Never)
            return;
        canSleep = SleepMode::WhileNotStreaming;
        if (streamingPins == 0) {
            resetSleepCounter();
            curSubProcess = preSleep();
        }
    }

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
            ledLevel_ = 0.0f;
            externalCaptured_ = internalCaptured_ = false;
            edit({learn_map::Edit::kClear, 0, 0});
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
            ledLevel_ = 0.0f;
            edit({learn_map::Edit::kStore, capturedInternal_, capturedExternal_});
        }
        // Reset held while learning takes the captured pair back, even one stored just now.
        if (resetHigh && internalCaptured_) {
            ledLevel_ = 0.0f;
            edit({learn_map::Edit::kUnlearn, capturedInternal_, capturedExternal_});
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
    learn_map::Target target_;         // where the file goes, from the last map read

    // The file work, all set aside here: one read, a few stores in flight, the final ones.
    learn_map::LoadJob load_;
    learn_map::LoadJob::Request staged_;  // a graph start's request while a read is out
    std::array<learn_map::SaveJob, kSaveJobs> saves_;
    std::array<bool, kSaveJobs> saveOut_{};  // handed to the worker, not yet back
    learn_map::SaveJob lastSave_;
    learn_map::FlushJob flush_;
    bool waiting_ = false;        // a graph start's map is being read: translations and edits wait
    bool loadSubmitted_ = false;  // that read is with the worker
    bool saveWanted_ = false;     // a store found every save job out
    bool reloadWanted_ = false;   // a graph start came after the log was full
    bool overflowed_ = false;     // the log was full: nothing more waits, edits_ holds the edits
    std::array<Deferred, kLogCapacity> log_{};
    std::size_t logLength_ = 0;
    learn_map::MergedEdits edits_;  // every edit since the read was asked for
    file_worker::Channel channel_{kSaveJobs + 1};  // last: it waits for the jobs above
};

MP_REGISTER_MODULE(Qv_midilearnmodule, L"QV_MidiLearnModule")
