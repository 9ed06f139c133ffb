#include "Midi/ArpeggiatorEngine.h"

#include <atomic>
#include <ctime>

namespace arpeggiator {

// ---- Note lists ---------------------------------------------------------------------------------

void NoteList::clear()
{
    for (auto& slot : slots_)
        slot.empty = true;
}

int32_t NoteList::used() const
{
    int32_t n = 0;
    for (const auto& slot : slots_)
        n += slot.empty ? 0 : 1;
    return n;
}

int32_t NoteList::highestUsed() const
{
    for (int32_t k = kSlots; k >= 1; --k)
        if (!(*this)[k].empty)
            return k;
    return 0;
}

int32_t NoteList::nthUsed(int32_t number) const
{
    for (int32_t k = 1; k <= kSlots; ++k)
        if (!(*this)[k].empty && --number == 0)
            return k;
    return 0;
}

bool NoteList::add(int32_t note)
{
    for (auto& slot : slots_) {
        if (slot.empty) {
            slot = {note, false};
            return true;
        }
    }
    return false;
}

void NoteList::release(int32_t note)
{
    for (auto& slot : slots_)
        if (slot.note == note)
            slot.empty = true;
}

void NoteList::compact()
{
    for (int32_t i = 1; i < kSlots; ++i) {
        Slot& low = (*this)[i];
        Slot& high = (*this)[i + 1];
        if (low.empty && !high.empty) {
            low = {high.note, false};
            high.empty = true;
        }
    }
}

void NoteList::pushUp()
{
    for (int32_t k = kSlots; k >= 2; --k)
        (*this)[k] = (*this)[k - 1];
}

// ---- Chords -------------------------------------------------------------------------------------

void ChordSlots::allOff()
{
    off.fill(true);
}

namespace {

struct FixedSet {
    int32_t size;
    std::array<int32_t, 5> intervals;
};

// Chord types 1-6, as the steps play them and as direct play adds them.
constexpr std::array<FixedSet, 6> kStepSets{{
    {1, {-12}},
    {3, {-12, -12, 0}},
    {2, {-12, 12}},
    {5, {-12, -12, 0, 12, 12}},
    {1, {5}},
    {3, {5, 5, 0}},
}};
constexpr std::array<FixedSet, 6> kDirectSets{{
    {1, {-12}},
    {3, {-12, -12, 0}},
    {2, {-12, 12}},
    {5, {-12, -12, -12, 0, 0}},
    {1, {5}},
    {3, {5, 5, 0}},
}};

// Chord types 7-16: five intervals, the first always on, the others with an off flag.
struct TableRow {
    std::array<int32_t, 5> intervals;
    std::array<bool, 5> off;
};
constexpr std::array<TableRow, 10> kChordTable{{
    {{0, 0, 5, 5, 5}, {false, false, false, false, false}},
    {{5, 12, 0, 0, 12}, {false, false, true, true, true}},
    {{7, 0, 0, 0, 12}, {false, true, true, true, true}},
    {{0, 7, 7, 0, 0}, {false, false, false, true, true}},
    {{0, 0, 7, 7, 7}, {false, false, false, false, false}},
    {{7, 12, 0, 0, 0}, {false, false, true, true, true}},
    {{0, 4, 7, 0, 12}, {false, false, false, true, true}},
    {{0, 3, 7, 0, 12}, {false, false, false, true, true}},
    {{3, 7, 10, 0, 12}, {false, false, false, true, true}},
    {{-24, -12, 12, 24, 12}, {false, false, false, false, true}},
}};

constexpr int32_t kFirstTableType = 7;
constexpr int32_t kLastTableType = 16;

std::atomic<int64_t> fixedSeed{-1};

} // namespace

void setChordSlots(ChordSlots& slots, int32_t type, ChordUse use, const std::array<int16_t, kSlots>& userPins)
{
    if (type == 0) {
        for (std::size_t k = 0; k < kSlots; ++k) {
            slots.interval[k] = userPins[k] - 60;
            slots.off[k] = userPins[k] <= 0;
        }
    } else if (type >= 1 && type < kFirstTableType) {
        const FixedSet& set = (use == ChordUse::Steps ? kStepSets : kDirectSets)[static_cast<std::size_t>(type - 1)];
        slots.interval.fill(0);
        slots.allOff();
        for (std::size_t k = 0; k < static_cast<std::size_t>(set.size); ++k) {
            slots.interval[k] = set.intervals[k];
            slots.off[k] = false;
        }
    } else if (type >= kFirstTableType && type <= kLastTableType) {
        const TableRow& row = kChordTable[static_cast<std::size_t>(type - kFirstTableType)];
        slots.interval.fill(0);
        slots.allOff();
        for (std::size_t k = 0; k < row.intervals.size(); ++k) {
            slots.interval[k] = row.intervals[k];
            slots.off[k] = row.off[k];
        }
    }
}

// ---- Random source ------------------------------------------------------------------------------

void StepRandom::reseed()
{
    const int64_t fixed = fixedSeed.load(std::memory_order_relaxed);
    generator_.seed(fixed >= 0 ? static_cast<uint32_t>(fixed) : static_cast<uint32_t>(std::time(nullptr)));
}

void StepRandom::fixSeedForTests(std::optional<uint32_t> seed)
{
    fixedSeed.store(seed ? static_cast<int64_t>(*seed) : -1, std::memory_order_relaxed);
}

// ---- Module -------------------------------------------------------------------------------------

ArpeggiatorBase::ArpeggiatorBase(StepTrigger trigger) : trigger_(trigger)
{
    initializePin(kMidiIn, midiIn_);
    initializePin(kMidiOut, midiOut_);
    for (int32_t i = 0; i < kModePins; ++i)
        initializePin(kArpOn + i, modePins_[static_cast<std::size_t>(i)]);

    modes_[kOctaves] = 1;
    modes_[kDirection] = 1;
    modes_[kEntrySlot] = 1;
    modes_[kPatternLength] = 8;
    modes_[kUpDownTurn] = 5;
    keyFree_.fill(true);
    released_.fill(true);
}

void ArpeggiatorBase::copyAllModes()
{
    for (int32_t i = 0; i < kModePins; ++i)
        modes_[static_cast<std::size_t>(kArpOn + i)] = midi::modeOf(modePins_[static_cast<std::size_t>(i)].value);
}

void ArpeggiatorBase::copyUpdatedModes()
{
    for (int32_t i = 0; i < kModePins; ++i) {
        const IntInPin& pin = modePins_[static_cast<std::size_t>(i)];
        if (pin.isUpdated)
            modes_[static_cast<std::size_t>(kArpOn + i)] = midi::modeOf(pin.value);
    }
}

int32_t ArpeggiatorBase::patternSize() const
{
    const int32_t length = mode(kPatternLength);
    return length < 1 ? 1 : length > kSlots ? kSlots : length;
}

// The pattern merge's length: one shorter for 7 or 8 while end notes repeat.
int32_t ArpeggiatorBase::patternLength() const
{
    const int32_t size = patternSize();
    return mode(kEndNoteTurn) >= 3 && size >= 7 ? size - 1 : size;
}

int32_t ArpeggiatorBase::direction() const
{
    const int32_t pin = mode(kDirection);
    return pin >= 1 && pin <= 3 ? pin : lastDirection_;
}

std::array<int16_t, kSlots> ArpeggiatorBase::userChordPins() const
{
    std::array<int16_t, kSlots> pins{};
    for (int32_t k = 0; k < kSlots; ++k)
        pins[static_cast<std::size_t>(k)] = mode(kUserChord1 + k);
    return pins;
}

// ---- Output -------------------------------------------------------------------------------------

namespace {
bool isNote(int32_t note)
{
    return note >= 0 && note < midi::kNotes;
}
bool isChordNote(int32_t note)
{
    return note >= 1 && note < midi::kNotes;
}
} // namespace

void ArpeggiatorBase::send(int32_t status, int32_t data1, int32_t data2)
{
    const auto note = static_cast<uint8_t>(data1);
    if (status == midi::kNoteOn || status == midi::kNoteOff) {
        soundingOut_.press(note, status == midi::kNoteOn ? static_cast<uint8_t>(data2) : 0);
        if (midi::isTableIndex(note))
            leftOver_[note] = false;
    }
    midi::send(midiOut_, static_cast<uint8_t>(status), note, static_cast<uint8_t>(data2));
}

void ArpeggiatorBase::sendAllNotesOff(uint8_t velocity)
{
    for (int32_t note = 0; note < midi::kNotes; ++note)
        send(midi::kNoteOff, note, velocity);
}

bool ArpeggiatorBase::markLeftOver()
{
    if (!soundingOut_.any())
        return false;
    for (int32_t note = 0; note < midi::kNotes; ++note)
        leftOver_[static_cast<std::size_t>(note)] = soundingOut_.velocity(static_cast<uint8_t>(note)) > 0;
    return true;
}

void ArpeggiatorBase::endLeftOver(uint8_t velocity)
{
    for (int32_t note = 0; note < midi::kNotes; ++note) {
        const auto n = static_cast<std::size_t>(note);
        if (leftOver_[n]) {
            sounding_[n] = false;
            onCount_[n] = 0;
            send(midi::kNoteOff, note, velocity);
        }
    }
}

void ArpeggiatorBase::endSounding(uint8_t velocity)
{
    if (markLeftOver())
        endLeftOver(velocity);
}

void ArpeggiatorBase::noteOn(int32_t note, uint8_t velocity)
{
    if (!isNote(note))
        return;
    sounding_[static_cast<std::size_t>(note)] = true;
    send(midi::kNoteOn, note, velocity);
}

void ArpeggiatorBase::noteOff(int32_t note, uint8_t velocity)
{
    if (!isNote(note) || !sounding_[static_cast<std::size_t>(note)])
        return;
    sounding_[static_cast<std::size_t>(note)] = false;
    send(midi::kNoteOff, note, velocity);
}

void ArpeggiatorBase::chordNotesOff(int32_t root, uint8_t velocity)
{
    for (std::size_t k = 0; k < kSlots; ++k) {
        const int32_t note = root + chord_.interval[k];
        if (!chord_.off[k] && isChordNote(note))
            noteOff(note, velocity);
    }
}

void ArpeggiatorBase::ProcessEvent(int32_t status, int32_t note, int32_t velocity)
{
    const uint8_t v = static_cast<uint8_t>(velocity);
    if (status == midi::kNoteOff)
        noteOff(note, v);
    else if (status == midi::kNoteOn)
        noteOn(note, v);
    else
        send(status, note, velocity);
}

// ---- One incoming message -----------------------------------------------------------------------

void ArpeggiatorBase::onMidiMessage(int, unsigned char* bytes, int size)
{
    const midi::Message message = midi::Message::read(bytes, size);
    // Channel messages lose their channel; system messages keep their whole status byte.
    int32_t status = message.isSystem() ? message.status : message.kind();
    if (message.isNoteOff())
        status = midi::kNoteOff;
    const int32_t note = message.data1;
    const uint8_t velocity = message.data2;
    copyAllModes();

    const bool noteMessage = status == midi::kNoteOn || status == midi::kNoteOff;
    if (noteMessage && !isNote(note))
        return;  // a malformed note byte is no note at all

    const bool clock = note == kClockNote;
    if (noteMessage && !(clock && trigger_ == StepTrigger::ClockNote)) {
        keysDown_.press(message.status & 0x0F, static_cast<uint8_t>(note), status == midi::kNoteOn);
        runOfKeysDown_ = false;
    }
    if (!clock) {
        if (status == midi::kNoteOff)
            rememberNoteOff(note);
        else if (status == midi::kNoteOn)
            rememberNoteOn(note);
    }

    if (arpeggiatorOn()) {
        if (trigger_ == StepTrigger::ClockNote && clock)
            step(velocity);
        else
            newInput_ = 1;
        return;
    }
    if (trigger_ == StepTrigger::ClockNote && clock)
        return;

    releaseLatch(velocity);
    leaveChordsAndSteps(velocity, noteMessage ? note : -1);
    if (mode(kChordNotes) < 2)
        ProcessEvent(status, note, velocity);
    else
        playChords(status, note, velocity);
    learnChord(status, note);
    // Whatever the modes did on the way, with every key up nothing goes on sounding.
    if (!keysDown_.any())
        endSounding(velocity);
}

// The clock arpeggiator copies its modes only with a message, so the switch is read at the pins.
// No message gives a velocity: the note-offs carry 0.
void ArpeggiatorBase::onSetPins()
{
    if (!arpeggiatorOnAtPins() && !keysDown_.any())
        endSounding(0);
}

bool ArpeggiatorBase::arpeggiatorOnAtPins() const
{
    const auto atPin = [this](int32_t pin) {
        return midi::modeOf(modePins_[static_cast<std::size_t>(pin - kArpOn)].value);
    };
    return atPin(kArpOn) >= 3 || atPin(kPlayEntries) >= 3;
}

void ArpeggiatorBase::rememberNoteOff(int32_t note)
{
    if (mode(kPatternMode) >= 3)
        pattern_.release(note);
    const int16_t hold = mode(kHoldMode);
    if (hold < 2) {
        patternCount_ = count_;
        held_.release(note);
        held_.compact();
        keyFree_[static_cast<std::size_t>(note)] = true;
        rebuildAscending();
    } else if (hold >= 3) {
        latchUsed_ = true;
        latch_.release(note);
        if (mode(kChordNotes) >= 3 && mode(kArpOn) < 2)
            released_[static_cast<std::size_t>(note)] = true;
        latch_.compact();
    }
}

void ArpeggiatorBase::rememberNoteOn(int32_t note)
{
    // Step entry records at most eight notes per recording.
    if (mode(kStepEntry) < 3) {
        entryClear_ = true;
        entryWriteIndex_ = 1;
    } else {
        if (entryClear_) {
            entry_.clear();
            entryClear_ = false;
        }
        if (entryWriteIndex_ <= kSlots)
            entry_[entryWriteIndex_++] = {note, false};
    }

    // Slot writes name slots 1-8 only.
    const int32_t slot = mode(kEntrySlot);
    if (mode(kEntryOverwrite) < 3 || mode(kEntrySlotWrite) >= 2) {
        if (mode(kEntrySlotWrite) >= 3) {
            const int32_t target = slot < 2 ? 1 : slot;
            if (target <= kSlots)
                entry_[target] = {note, false};
        }
    } else if (slot >= 1 && slot <= kSlots) {
        entry_[entry_[slot].empty ? 1 : slot].note = note;
    }

    const int16_t hold = mode(kHoldMode);
    if (mode(kChordNotes) >= 3 && mode(kArpOn) < 2) {
        released_[static_cast<std::size_t>(note)] = false;
        addHeld(note);
    } else if (hold < 2) {
        addHeld(note);
    } else if (hold >= 3) {
        latchUsed_ = true;
        latch_.add(note);
    }

    if (mode(kLatchMergeRule) < 2) {
        mergeLatched();
    } else {
        if (mode(kPatternMode) < 2)
            mergeAtCursor();
        else
            mergePattern(note);
        keysFromList(held_);
        rebuildAscending();
    }
}

// A ninth key finds no slot but still counts as held: the ascending run takes the lowest eight.
void ArpeggiatorBase::addHeld(int32_t note)
{
    held_.add(note);
    keyFree_[static_cast<std::size_t>(note)] = false;
    rebuildAscending();
}

// The latched notes overwrite the held list from its highest used slot down; below slot 1 the
// list is pushed up to make room, unless the full-list rule stops the merge.
void ArpeggiatorBase::mergeLatched()
{
    int32_t u = held_.highestUsed();
    for (int32_t k = kSlots; k >= 1; --k) {
        if (latch_[k].empty)
            continue;
        if (u == 0) {
            if (mode(kLatchFullRule) >= 2)
                return;
            held_.pushUp();
            held_[1].empty = false;
            u = 1;
        }
        held_[u] = {latch_[k].note, false};
        --u;
    }
}

void ArpeggiatorBase::mergeAtCursor()
{
    count_ = held_.used();
    for (int32_t k = 1; k <= kSlots; ++k) {
        if (latch_[k].empty)
            continue;
        const int32_t note = latch_[k].note;
        Slot& atCursor = held_[patternCursor_];
        if (!atCursor.empty) {
            atCursor.note = note;
            patternCursor_ = patternCursor_ % kSlots + 1;
        } else if (count_ < k && mode(kLatchFullRule) < 2) {
            atCursor = {note, false};
            ++count_;
            patternCursor_ = patternCursor_ % kSlots + 1;
        } else {
            patternCursor_ = 1;
            if (!held_[1].empty) {
                held_[1].note = note;
                patternCursor_ = 2;
            }
        }
    }
}

void ArpeggiatorBase::mergePattern(int32_t note)
{
    const int32_t length = patternLength();
    if (patternCursor_ > length)
        patternCursor_ = 1;
    if (patternCount_ < length)
        patternCursor_ = patternCount_ + 1;
    for (int32_t k = 1; k <= patternCount_ && k <= kSlots; ++k)
        held_[k].empty = false;
    for (int32_t k = length + 1; k <= kSlots; ++k)
        held_[k].empty = true;

    int32_t slot = patternCursor_;
    if (!pattern_[slot].empty) {
        for (int32_t k = 1; k < length; ++k) {
            if (pattern_[k].empty) {
                slot = k;
                break;
            }
        }
    }
    pattern_[slot] = {note, false};
    held_[slot] = {note, false};
    if (patternCursor_ > patternCount_)
        patternCount_ = patternCursor_;
    patternCursor_ = patternCursor_ >= length ? 1 : patternCursor_ + 1;
}

void ArpeggiatorBase::keysFromList(const NoteList& list)
{
    keyFree_.fill(true);
    for (int32_t k = 1; k <= kSlots; ++k)
        if (!list[k].empty && isNote(list[k].note))
            keyFree_[static_cast<std::size_t>(list[k].note)] = false;
}

void ArpeggiatorBase::rebuildAscending()
{
    ascending_.clear();
    int32_t slot = 1;
    for (int32_t note = 0; note < midi::kNotes && slot <= kSlots; ++note)
        if (!keyFree_[static_cast<std::size_t>(note)])
            ascending_[slot++] = {note, false};
}

// Leaving latch (or a pattern): the held list becomes what is still held, and the notes let go
// while latched are ended.
void ArpeggiatorBase::releaseLatch(uint8_t velocity)
{
    if (!(latchUsed_ || patternArmed_) || mode(kHoldMode) >= 2)
        return;
    ascending_.clear();
    pattern_.clear();
    for (int32_t k = 1; k <= kSlots; ++k)
        held_[k] = latch_[k];
    keysFromList(latch_);
    held_.compact();
    rebuildAscending();
    for (int32_t k = 1; k <= kSlots; ++k) {
        const int32_t note = held_[k].note;
        // An emptied slot may remember a note that moved down and is still held: it keeps sounding.
        if (held_[k].empty && isNote(note) && keyFree_[static_cast<std::size_t>(note)])
            noteOff(note, velocity);
    }
    latch_.clear();
    runOfKeysDown_ = false;
    latchUsed_ = false;
    patternArmed_ = false;
    patternCount_ = 0;
    patternCursor_ = 1;
}

// Played from the keys (no latch, no frozen notes, no pattern), the run holds only keys that are
// down: notes let go while frozen, or latched and let go after latch was left, drop out as the
// note-offs would have taken them.
void ArpeggiatorBase::dropReleasedKeys()
{
    if (mode(kHoldMode) >= 2 || mode(kPatternMode) >= 2) {
        runOfKeysDown_ = false;
        return;
    }
    if (runOfKeysDown_)
        return;
    runOfKeysDown_ = true;
    bool dropped = false;
    // From the top down, so a compaction pass moves only slots already looked at past this one.
    for (int32_t k = kSlots; k >= 1; --k) {
        const int32_t note = held_[k].note;
        if (!held_[k].empty && !keysDown_.down(static_cast<uint8_t>(note))) {
            held_.release(note);
            held_.compact();
            dropped = true;
        }
    }
    for (int32_t note = 0; note < midi::kNotes; ++note) {
        auto& free = keyFree_[static_cast<std::size_t>(note)];
        if (!free && !keysDown_.down(static_cast<uint8_t>(note))) {
            free = true;
            dropped = true;
        }
    }
    if (dropped)
        rebuildAscending();
}

void ArpeggiatorBase::leaveChordsAndSteps(uint8_t velocity, int32_t handledNote)
{
    if (chordNotesActive_ && mode(kChordNotes) < 2) {
        // Chord notes end, also one whose own key was played with chords and is up again; the
        // note of this message is passed on as it is.
        for (int32_t note = 0; note < midi::kNotes; ++note) {
            const auto n = static_cast<uint8_t>(note);
            if (released_[n] ||
                (note != handledNote && soundingOut_.velocity(n) > 0 && !keysDown_.down(n)))
                noteOff(note, velocity);
        }
        onCount_.fill(0);
        released_.fill(true);
        chordNotesActive_ = false;
    }
    if (newInput_ != 1)
        return;
    // The first message after the arpeggiator was switched off ends its last step.
    if (chordNotesActive_)
        chordNotesOff(lastRoot_, velocity);
    for (int32_t k = 1; k <= kSlots; ++k)
        noteOff(lastStep_[static_cast<std::size_t>(k)], velocity);
    pattern_.clear();
    played_.fill(false);
    newInput_ = 0;
    patternCursor_ = 1;
    resetSteps();
    phaseUp_ = true;
    playedCount_ = 0;
    random_.reseed();
}

void ArpeggiatorBase::resetSteps()
{
    if (direction() == 2) {
        octave_ = octaves();
        position_ = kSlots;
    } else {
        octave_ = 1;
        position_ = 1;
    }
}

void ArpeggiatorBase::playChords(int32_t status, int32_t note, uint8_t velocity)
{
    const int32_t type = mode(kChordType);
    if (mode(kChordFromType) >= 3) {
        if (type != typeAtLastChange_) {
            // A new chord type: whatever a key no longer holds is ended, marked or not.
            for (int32_t n = 0; n < midi::kNotes; ++n)
                if (keyFree_[static_cast<std::size_t>(n)])
                    send(midi::kNoteOff, n, velocity);
            typeAtLastChange_ = type;
        }
        setChordSlots(chord_, type, ChordUse::DirectPlay, userChordPins());
    }

    if (status == midi::kNoteOff) {
        if (type == typeAtLastSweep_ && (mode(kChordFromType) < 3 || !noChord_)) {
            // A chord note two keys share sounds until the later key is released.
            int32_t& count = onCount_[static_cast<std::size_t>(note)];
            if (count-- < 2) {
                noteOff(note, velocity);
                count = 0;
            }
            for (std::size_t k = 0; k < kSlots; ++k) {
                const int32_t chordNote = note + chord_.interval[k];
                if (chord_.off[k] || !isChordNote(chordNote))
                    continue;
                int32_t& chordCount = onCount_[static_cast<std::size_t>(chordNote)];
                if (--chordCount < 1) {
                    noteOff(chordNote, velocity);
                    chordCount = 0;
                }
            }
        } else {
            sendAllNotesOff(velocity);
            onCount_.fill(0);
            typeAtLastSweep_ = type;
            noChord_ = false;
        }
    } else if (status == midi::kNoteOn) {
        if (mode(kChordFromType) < 2)
            noChord_ = true;
        directSounding_ = true;
        noteOn(note, velocity);
        ++onCount_[static_cast<std::size_t>(note)];
        lastRoot_ = note;
        for (std::size_t k = 0; k < kSlots; ++k) {
            const int32_t chordNote = note + chord_.interval[k];
            if (chord_.off[k] || !isChordNote(chordNote))
                continue;
            noteOn(chordNote, velocity);
            ++onCount_[static_cast<std::size_t>(chordNote)];
        }
    }
    chordNotesActive_ = true;
}

// Learnt slots stay when their keys are released: a chord is learnt by playing it.
void ArpeggiatorBase::learnChord(int32_t status, int32_t note)
{
    if (mode(kChordLearn) < 3) {
        learnClear_ = true;
        return;
    }
    if (learnClear_) {
        chord_.allOff();
        learnClear_ = false;
    }
    if (status != midi::kNoteOn)
        return;
    for (std::size_t k = 0; k < kSlots; ++k) {
        if (chord_.off[k]) {
            chord_.off[k] = false;
            chord_.interval[k] = note - 60;
            return;
        }
    }
}

// ---- Step engine --------------------------------------------------------------------------------

void ArpeggiatorBase::step(uint8_t velocity)
{
    if (!arpeggiatorOn())
        return;

    prepareStep(velocity);
    endPreviousStep(velocity);
    // Whatever still sounds now (direct play's notes: a ninth key, a key let go while the
    // arpeggiator was on) ends with this step, unless the step strikes or ends it itself.
    const bool leftOver = markLeftOver();
    if (mode(kChordFromType) >= 3)
        setChordSlots(chord_, mode(kChordType), ChordUse::Steps, userChordPins());
    choosePlayList();
    playStep(velocity, setStepDirection());

    if (play_.used() == 0) {
        resetSteps();
        phaseUp_ = true;
    }
    if (position_ < 1 || position_ > kSlots)
        position_ = 1;
    if (leftOver)
        endLeftOver(velocity);
    newInput_ = 1;
}

// Direct play ends, the switched-on modes take hold of the note memory and the keys let go
// leave it.
void ArpeggiatorBase::prepareStep(uint8_t velocity)
{
    if (directSounding_) {
        sendAllNotesOff(velocity);
        onCount_.fill(0);
        directSounding_ = false;
    }
    if (mode(kPatternMode) >= 3) {
        for (int32_t k = 1; k <= patternCount_ && k <= kSlots; ++k)
            held_[k].empty = false;
        for (int32_t k = patternSize() + 1; k <= kSlots; ++k)
            held_[k].empty = true;
        patternArmed_ = true;
    }
    if (mode(kChordNotes) >= 3)
        chordNotesActive_ = true;
    if (mode(kStepEntry) < 2) {
        entryClear_ = true;
        entryWriteIndex_ = 1;
    }
    releaseLatch(velocity);
    dropReleasedKeys();
}

// The first step after a start ends what the held list holds.
void ArpeggiatorBase::endPreviousStep(uint8_t velocity)
{
    if (newInput_ == 0)
        for (int32_t k = 1; k <= kSlots; ++k)
            lastStep_[static_cast<std::size_t>(k)] = held_[k].note;
    for (int32_t k = 1; k <= kSlots; ++k)
        noteOff(lastStep_[static_cast<std::size_t>(k)], velocity);
    if (chordNotesActive_) {
        chordNotesOff(lastRoot_, velocity);
        if (mode(kChordNotes) < 2)
            chordNotesActive_ = false;
    }
}

// Step entries, keys in arrival order or keys in ascending order.
void ArpeggiatorBase::choosePlayList()
{
    if (mode(kPlayEntries) >= 2)
        play_ = entry_;
    else if (mode(kNoteOrder) < 2 || mode(kPatternMode) >= 3 || mode(kRandomOrder) >= 3)
        play_ = held_;
    else
        play_ = ascending_;
}

// Up, down, or in up-down the way the run is going.
int32_t ArpeggiatorBase::setStepDirection()
{
    const int32_t dir = direction();
    lastDirection_ = dir;
    if (dir == 1 || dir == 2) {
        up_ = dir == 1;
        down_ = dir == 2;
        skipTop_ = false;
    } else if (dir == 3) {
        up_ = phaseUp_;
        down_ = !phaseUp_;
    }
    return dir;
}

// Plays the step's notes from the play list; in up-down a run that turns at the top goes on
// down in the same step.
void ArpeggiatorBase::playStep(uint8_t velocity, int32_t dir)
{
    count_ = play_.used();
    if (mode(kPatternMode) < 2)
        patternCount_ = count_;
    const bool random = mode(kRandomOrder) >= 2;
    if (mode(kEndNoteTurn) >= 3 && !random)
        endNoteRule();

    if (up_) {
        if (random)
            stepRandom(velocity, true, dir);
        else
            stepUp(velocity, dir);
    }
    if (mode(kEndNoteTurn) >= 3 || mode(kUpDownTurn) < 2)
        skipTop_ = false;
    if (down_) {
        if (random)
            stepRandom(velocity, false, dir);
        else
            stepDown(velocity, dir);
    }
}

// With end notes repeating, the first and the last note of a run are played twice.
void ArpeggiatorBase::endNoteRule()
{
    if (up_) {
        if (position_ == 2 && endFlag_) {
            position_ = 1;
            endFlag_ = false;
        } else if (position_ == 1) {
            endFlag_ = true;
        }
    } else if (down_) {
        int32_t end = count_;
        if (mode(kPatternMode) >= 3)
            end = patternCount_ < patternSize() ? patternCount_ : patternSize();
        if (position_ == kSlots) {
            endFlag_ = true;
        } else if (position_ == end - 1 && endFlag_) {
            position_ = end;
            endFlag_ = false;
        }
    }
}

void ArpeggiatorBase::stepUp(uint8_t velocity, int32_t dir)
{
    for (int32_t k = 1; k <= kSlots; ++k) {
        if (k != position_)
            continue;
        if (!play_[k].empty) {
            playSlot(k, velocity);
            firstSlot_ = k == 1;
            afterUp(k, dir);
            return;
        }
        if (position_ < kSlots)
            position_ = k + 1;
        if (position_ != kSlots)
            continue;
        if (dir == 3 && octave_ == octaves()) {
            down_ = true;  // the top of an up-down run: the down branch plays this step
        } else if (!play_[1].empty) {
            octave_ = octave_ >= octaves() ? 1 : octave_ + 1;
            playSlot(1, velocity);
            firstSlot_ = true;
            position_ = 1;
            endFlag_ = true;
            afterUp(1, dir);
            return;
        }
    }
    afterUp(position_, dir);
}

void ArpeggiatorBase::afterUp(int32_t slot, int32_t dir)
{
    if (dir == 1) {
        position_ = slot >= kSlots ? 1 : slot + 1;
        if (position_ == 1)
            ++octave_;
        if (octave_ > octaves())
            octave_ = 1;
    } else if (dir == 3) {
        position_ = slot + 1;
        if (octave_ == octaves() && slot >= 7) {
            endFlag_ = true;
            phaseUp_ = false;
            skipTop_ = true;
            position_ = kSlots;
            turnMark_ = 1;
            if (firstSlot_) {
                skipTop_ = false;
                turnMark_ = 0;
                if (octave_ > 1)
                    --octave_;
            }
        } else {
            if (slot >= kSlots) {
                position_ = 1;
                ++octave_;
                downRun_ = 0;
            }
            if (octave_ > octaves())
                octave_ = 1;
        }
    }
}

void ArpeggiatorBase::stepDown(uint8_t velocity, int32_t dir)
{
    for (int32_t k = kSlots; k >= 1; --k) {
        if (k != position_)
            continue;
        if (!play_[k].empty) {
            if (!skipTop_) {
                playSlot(k, velocity);
                ++downRun_;
                afterDown(k, dir);
                return;
            }
            skipTop_ = false;  // the top note was the up run's last: passed over once
        }
        if (position_ >= 2)
            position_ = k - 1;
        if (position_ == 1 && dir <= 2 && !play_[kSlots].empty) {
            --octave_;
            if (octave_ > octaves())
                octave_ = 1;
            if (octave_ < 1)
                octave_ = octaves();
            playSlot(kSlots, velocity);
            position_ = kSlots;
            ++downRun_;
            afterDown(kSlots, dir);
            return;
        }
    }
    afterDown(position_, dir);
}

void ArpeggiatorBase::afterDown(int32_t slot, int32_t dir)
{
    if (dir <= 2) {
        position_ = slot < 2 ? kSlots : slot - 1;
        if (position_ == kSlots)
            --octave_;
    } else {
        const int32_t turnAt = mode(kEndNoteTurn) >= 3 || mode(kUpDownTurn) < 2 ? 1 : 2;
        // A position below slot 2 wraps to the octave below: the way down passes over slot 1 of
        // an upper octave. In the bottom octave only a position below slot 1 wraps, so a run that
        // turns after slot 1 (turnAt 1) gets there instead of descending for ever; a run that
        // turns after slot 2 has turned before.
        position_ = slot - 1;
        if (octave_ == 1 && slot <= turnAt) {
            phaseUp_ = true;
            position_ = 1;
            if (turnMark_ + downRun_ == 1) {
                octave_ = octaves() < 2 ? octaves() : 2;
                downRun_ = 0;
            }
        } else if (position_ < (octave_ == 1 ? 1 : 2)) {
            position_ = kSlots;
            --octave_;
            downRun_ = 0;
        }
    }
    if (octave_ < 1)
        octave_ = octaves();
}

// Each used slot once per cycle, in an order drawn from the random source.
void ArpeggiatorBase::stepRandom(uint8_t velocity, bool upward, int32_t dir)
{
    if (count_ <= 0)
        return;
    for (int attempt = 0; attempt < 49; ++attempt) {
        const int32_t slot = play_.nthUsed(random_.pick(count_));
        if (slot == 0 || played_[static_cast<std::size_t>(slot)])
            continue;
        playSlot(slot, velocity);
        played_[static_cast<std::size_t>(slot)] = true;
        ++playedCount_;
        randomPick_ = slot;
        break;
    }
    if (playedCount_ < count_)
        return;

    random_.reseed();
    played_.fill(false);
    count_ = 0;
    playedCount_ = 0;
    const int32_t was = octave_;
    if (upward) {
        octave_ = was >= octaves() ? 1 : was + 1;
        if (dir == 3 && was >= octaves()) {
            phaseUp_ = false;
            octave_ = octaves();
        }
    } else {
        octave_ = was - 1;
        if (dir >= 3 && was < 2) {
            phaseUp_ = true;
            octave_ = 1;
        } else if (dir < 3 && was <= 1) {
            octave_ = octaves();
        }
    }
}

void ArpeggiatorBase::playSlot(int32_t slot, uint8_t velocity)
{
    const int32_t note = play_[slot].note + 12 * (octave_ - 1);
    lastStep_[static_cast<std::size_t>(slot)] = note;
    lastRoot_ = note;
    // A step beyond the note range is silent, chord and all; the steps go on.
    if (!isNote(note))
        return;
    noteOn(note, velocity);
    if (mode(kChordNotes) < 3)
        return;
    for (std::size_t k = 0; k < kSlots; ++k) {
        const int32_t chordNote = note + chord_.interval[k];
        if (!chord_.off[k] && isChordNote(chordNote))
            noteOn(chordNote, velocity);
    }
}

} // namespace arpeggiator
