// Sits between a hardware MIDI controller and the synth: learns which knob drives which synth
// controller from the learn and reset buttons, and translates controllers both ways through the
// map, which it keeps in "Controllers.txt".
//
// The bundle's file worker reads and writes the file. Each input that needs the disk becomes a job
// when it comes: a graph start hands over the pins' texts and the host's path, and the edits the
// buttons make in a block go at its end; the worker applies them to the map as it knows it, in
// order, so nothing on the audio side waits to be handed over. Offline both happen inside the
// call, as if there were no worker.
//
// The audio side keeps the map it translates with: an edit by the buttons changes it at once, so
// a pair just learnt translates from the next sample on, and the worker only writes the file.
//
// Until the map a graph start reads arrives, the module still plays: the LED, the captures and the
// learn state follow the buttons and controllers sample by sample, and the edits still go to the
// worker at the end of their block. What needs the map waits in the outbox behind the read it
// owes, in arrival order (fixed room, set aside at construction): every MIDI message's
// translation (notes too, so nothing overtakes) and every edit's change to the map in memory. In
// the first block after the map is here, everything that waited goes out, translated exactly as
// it would have been with the map at once, in order, each message at its own sample offset or
// with the one before it when that went later; what comes later in that block follows. So a slow
// read delays nothing past that block.
//
// Room: the outbox takes 16384 entries (256 of them kept for edits and reads): a message on each
// sample of both inputs for 170 ms at 48 kHz, or nearly eight seconds of two MIDI cables at full
// speed, while the map is read. Should a disk stall even longer, each input that finds no room is
// refused by name through the worker's log and the rest keep their order; nothing is ever
// translated on an older map out of turn. The release of a note that went in is never refused:
// the outbox keeps a place for the release of every note sounding on either input.
#include "Common/Outbox.h"
#include "Midi/LearnMap.h"
#include "Midi/MidiBytes.h"
#include "MpProcessing.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <bitset>

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
        for (learn_map::LoadJob& job : loads_)
            job.known = &known_;
        for (learn_map::EditJob& job : edits_)
            job.known = &known_;
        finalEdits_.known = &known_;
        known_.edits = &editLog_;
        modules.fetch_add(1, std::memory_order_relaxed);
    }

    // [host thread, after the last process] Edits that found every edit job out are stored now,
    // after this module's queued jobs; then the module waits for its own jobs (not other
    // modules') and takes them back, and the last learn module tries every failed write once more.
    ~Qv_midilearnmodule() override
    {
        if (editsSubmitted_ != editsMade_) {
            finalEdits_.upTo = editsMade_;
            channel_.runAndWait(finalEdits_);
        }
        channel_.drain();
        while (channel_.finished()) {
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
    // [audio thread] Takes what the worker has done, lets out what waited for it, runs the block,
    // then hands the block's edits to the worker.
    void process(int32_t count, const mpapi::MpEvent* events) override
    {
        takeFinished();
        replay(count);
        MpBase::process(count, events);
        submitEdits(kReadJobs);
        stayAwake(!waiting_.empty() || readsOut() > 0);
    }

    // [audio thread] The map of the file the pins name now is read; what follows waits for it.
    void onGraphStart() override
    {
        readMap();
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

    // [audio thread]
    void onMidiMessage(int pin, unsigned char* bytes, int size) override
    {
        const midi::Message m = midi::Message::read(bytes, size);
        if (m.isController() && m.data1 < learn_map::kEntries && !(ledLevel_ == 0.0f && pairComplete_))
            capture(pin, m.data1);
        if (pin != kExternalIn && pin != kInternalIn)
            return;
        Waiting translation;
        translation.kind = pin == kExternalIn ? Waiting::kFromExternal : Waiting::kFromInternal;
        translation.message = m;
        const std::size_t note = noteIndex(pin, m);
        const bool ends = note != kNoNote && m.isNoteOff() && sounding_.test(note);
        const bool starts = note != kNoNote && m.isNoteOn() && !sounding_.test(note);
        if (!holding()) {
            translate(translation, std::max(blockPos, floor_));
        } else if (!keep(translation, ends ? 0 : kEditRoom + (starts ? 2 : 1), "MIDI message held for the controller map")) {
            return;  // did not go in: no note starts or ends
        }
        if (ends || starts) {
            sounding_.flip(note);
            soundingCount_ = starts ? soundingCount_ + 1 : soundingCount_ - 1;
        }
    }

private:
    // What waits for the map a graph start reads, in arrival order.
    struct Waiting {
        enum Kind : uint8_t { kFromExternal, kFromInternal, kEdit };
        Kind kind = kEdit;
        midi::Message message;  // kFromExternal, kFromInternal
        learn_map::Edit edit;   // kEdit
        int32_t offset = 0;     // in the block it came in
    };
    static constexpr std::size_t kWaitingRoom = 16384;
    static constexpr std::size_t kEditRoom = 256;  // of it, only for edits and reads: never refused for MIDI
    // A note per input, channel and number: its bit in sounding_.
    static constexpr std::size_t kNotesPerInput = 16 * midi::kNotes;
    static constexpr std::size_t kNoNote = 2 * kNotesPerInput;
    static constexpr std::size_t kReadJobs = 16;  // graph starts whose maps are not yet in use
    // Edit jobs, each a count of the ring's edits: a block's edits leave kReadJobs of them free,
    // so that a graph start always finds one for the edits before it while it finds a read job.
    // A block with edits takes one, so edits wait for a later block (and take a later place in the
    // order) only when 240 blocks with edits are owed.
    static constexpr std::size_t kEditJobs = 256;
    static inline std::atomic<int> modules{0};  // learn modules alive: the last one flushes

    // Translation through the map: hardware controller c goes to the synth as every k with
    // map[k] = c; synth controller c goes to the hardware as map[c]; other messages pass.
    void translate(const Waiting& d, int32_t position)
    {
        floor_ = position;  // what follows in this block goes no earlier
        const midi::Message& m = d.message;
        const bool controller = m.isController() && m.data1 < learn_map::kEntries;
        if (d.kind == Waiting::kFromExternal) {
            if (!m.isController()) {
                midi::send(toSynth_, m, position);
            } else if (controller && m.data1 != 0) {
                const auto& words = usedBy_[m.data1];
                for (std::size_t w = 0; w < words.size(); ++w)
                    for (uint64_t bits = words[w]; bits != 0; bits &= bits - 1)
                        midi::send(toSynth_, midi::kControlChange, static_cast<uint8_t>(w * 64 + static_cast<std::size_t>(std::countr_zero(bits))),
                                   m.data2, position);
            }
        } else {
            if (!m.isController()) {
                midi::send(toExternal_, m, position);
            } else if (controller && map_[m.data1] != 0) {
                midi::send(toExternal_, midi::kControlChange, static_cast<uint8_t>(map_[m.data1]), m.data2, position);
            }
        }
    }

    // The map the other way round, so a hardware controller finds its synth controllers in a few
    // words instead of a walk over every entry (a block replaying hundreds of held controllers).
    void mapChanged() noexcept
    {
        for (auto& words : usedBy_)
            words = {};
        for (std::size_t k = 0; k < map_.size(); ++k)
            if (map_[k] > 0 && map_[k] < learn_map::kEntries)
                usedBy_[static_cast<std::size_t>(map_[k])][k / 64] |= uint64_t{1} << (k % 64);
    }

    // [audio thread] Whatever comes now waits behind what waits.
    bool holding() const { return !waiting_.empty(); }

    // The bit of a note-on or note-off in sounding_; kNoNote for any other message.
    static std::size_t noteIndex(int pin, const midi::Message& m) noexcept
    {
        if ((!m.isNoteOn() && !m.isNoteOff()) || !midi::isTableIndex(m.data1))
            return kNoNote;
        return static_cast<std::size_t>(pin) * kNotesPerInput + (m.status & 0x0Fu) * midi::kNotes + m.data1;
    }

    // Places free in the outbox beyond those kept for the releases of sounding notes.
    std::size_t freePlaces() const noexcept { return kWaitingRoom - waiting_.size() - soundingCount_; }

    // [audio thread] Puts input at the back of the outbox, stamped with its offset, when it leaves
    // free at least needs places beyond those kept for the releases of sounding notes (a release
    // of one of them needs none: it takes its own). An input that finds no room is refused by name.
    bool keep(Waiting input, std::size_t needs, const char* action) noexcept
    {
        input.offset = blockPos;
        if (freePlaces() >= needs && waiting_.post(input))
            return true;
        channel_.refused(action);
        return false;
    }

    // [audio thread] At the start of a block, everything that no longer waits for a read: reads
    // replace the map, edits change it, and the messages go out in order, each at its own offset
    // or, when an earlier one went later, just with it.
    void replay(int32_t count) noexcept
    {
        floor_ = 0;
        const int32_t last = count > 0 ? count - 1 : 0;
        waiting_.flush(
            [&](const Waiting& next, std::string_view) {
                if (next.kind != Waiting::kEdit) {
                    translate(next, std::max(floor_, std::min(next.offset, last)));
                    return;
                }
                learn_map::apply(next.edit, map_);
                mapChanged();
            },
            [&](const file_worker::Job& read) {
                for (std::size_t i = 0; i < kReadJobs; ++i)
                    if (&read == &loads_[i])
                        applyRead(i);
            });
    }

    // [audio thread] A graph start: the block's edits so far go to the worker first, then the read
    // with the pins as they are now. With no job or no room left (a disk that has not answered for
    // a long time), the graph start is refused by name and the map stays as it is.
    void readMap() noexcept
    {
        std::size_t free = kReadJobs;
        for (std::size_t i = 0; i < kReadJobs && free == kReadJobs; ++i)
            if (!readOut_[i])
                free = i;
        if (free == kReadJobs || freePlaces() == 0 || !submitEdits(0)) {
            channel_.refused("controller map read at graph start");
            return;
        }
        learn_map::LoadJob& job = loads_[free];
        job.request.take(host, learn_map::kFileNameWide, autoPath_.value, id_.value, pathMac_.value);
        readOut_[free] = true;
        submit(job);
        if (waiting_.empty() && readBack_[free])
            applyRead(free);  // offline: here at once
        else
            waiting_.owe(job);  // room checked above
    }

    void applyRead(std::size_t i) noexcept
    {
        map_ = loads_[i].map;
        mapChanged();
        readOut_[i] = readBack_[i] = false;
    }

    std::size_t readsOut() const noexcept { return static_cast<std::size_t>(std::count(readOut_.begin(), readOut_.end(), true)); }

    // [audio thread] A change to the map by the buttons: made to the map in memory in its turn,
    // and handed to the worker with the block's other edits.
    void edit(learn_map::Edit e) noexcept
    {
        if (editsMade_ - editsTaken_ >= learn_map::kEditLog) {
            channel_.refused("controller map edit");
            return;  // neither in memory nor on disk: both stay alike
        }
        if (waiting_.empty()) {
            learn_map::apply(e, map_);
            mapChanged();
        } else {
            Waiting change;
            change.kind = Waiting::kEdit;
            change.edit = e;
            if (!keep(change, 1, "controller map edit"))
                return;  // neither in memory nor on disk: both stay alike
        }
        editLog_[editsMade_++ % learn_map::kEditLog] = e;
    }

    // [audio thread] The edits not yet handed over go in one job, if more than spare jobs are
    // free; else they wait for a later block. false when they still wait.
    bool submitEdits(std::size_t spare) noexcept
    {
        if (editsSubmitted_ == editsMade_)
            return true;
        if (kEditJobs - (editJobsSent_ - editJobsBack_) <= spare)
            return false;
        learn_map::EditJob& job = edits_[editJobsSent_++ % kEditJobs];
        job.upTo = editsSubmitted_ = editsMade_;
        submit(job);
        return true;
    }

    void submit(file_worker::Job& job) noexcept
    {
        channel_.submit(job);  // room is certain: the channel holds every job above
        if (channel_.runsInline())
            takeFinished();
    }

    // [audio thread] The jobs the worker has done, in the order they were asked for.
    void takeFinished() noexcept
    {
        while (file_worker::Job* done = channel_.finished()) {
            for (std::size_t i = 0; i < kReadJobs; ++i)
                if (done == &loads_[i]) {
                    readBack_[i] = true;
                    waiting_.cameBack(*done);
                }
            // Edit jobs come back in the order they went.
            if (editJobsSent_ != editJobsBack_ && done == &edits_[editJobsBack_ % kEditJobs])
                editsTaken_ = edits_[editJobsBack_++ % kEditJobs].upTo;
        }
    }

    // A module with work owed or waiting asks not to sleep, so what waits goes out without waiting
    // for the next event.
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
    std::array<std::array<uint64_t, 2>, learn_map::kEntries> usedBy_{};  // external -> internal ones, as bits
    float ledLevel_ = 0.0f;            // 1.0 while learning, else 0.0 (idle)
    uint8_t capturedExternal_ = 0;     // 0-127
    uint8_t capturedInternal_ = 0;     // 0-127
    bool externalCaptured_ = false;
    bool internalCaptured_ = false;
    bool pairComplete_ = false;
    float previousLearn_ = 0.0f;       // last learn button sample
    float previousReset_ = 0.0f;       // last reset button sample
    // The file work, all set aside here: reads and edit jobs in flight, the final ones.
    learn_map::KnownMap known_;  // the worker's side of the map
    std::array<learn_map::LoadJob, kReadJobs> loads_;
    std::array<bool, kReadJobs> readOut_{};   // asked for, its map not yet in use
    std::array<bool, kReadJobs> readBack_{};  // its map is back from the worker
    std::array<learn_map::EditJob, kEditJobs> edits_;  // a ring: sent and back in order
    std::size_t editJobsSent_ = 0;
    std::size_t editJobsBack_ = 0;
    learn_map::EditLog editLog_{};  // the edits made, for the worker
    uint32_t editsMade_ = 0;        // written to editLog_
    uint32_t editsSubmitted_ = 0;   // of them, handed to a job
    uint32_t editsTaken_ = 0;       // of them, applied by a job that came back
    learn_map::EditJob finalEdits_;
    learn_map::FlushJob flush_;
    outbox::Outbox<Waiting, kWaitingRoom> waiting_;
    int32_t floor_ = 0;  // the offset of the last message sent in this block
    // Notes that went in (sent or held) and are not yet released, per input (see noteIndex).
    std::bitset<kNoNote> sounding_;
    std::size_t soundingCount_ = 0;
    file_worker::Channel channel_{kReadJobs + kEditJobs};  // last: it waits for the jobs above
};

MP_REGISTER_MODULE(Qv_midilearnmodule, L"QV_MidiLearnModule")
