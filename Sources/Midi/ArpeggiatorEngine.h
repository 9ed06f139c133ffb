// Family base of the two arpeggiators: the 29 mode pins, the note memory (held, entry, latch,
// ascending and pattern lists, the per-note tables), chord slots with their fixed sets, the chord
// table and chord learn, direct play while the arpeggiator is off, and the step engine. The
// leaves say only what starts a step: the step clock note or the edges of an audio gate.
#pragma once

#include "Midi/HeldNotes.h"
#include "Midi/MidiBytes.h"
#include "MpProcessing.h"

#include <array>
#include <cstdint>
#include <optional>
#include <random>

namespace arpeggiator {

inline constexpr int32_t kSlots = 8;
inline constexpr int32_t kClockNote = 10;  // steps "QV_PowerArpeggiator"; never stored

struct Slot {
    int32_t note = 0;
    bool empty = true;
};

// Eight slots numbered 1-8. A slot that becomes empty remembers its note until written again.
class NoteList {
public:
    Slot& operator[](int32_t number) { return slots_[indexOf(number)]; }
    const Slot& operator[](int32_t number) const { return slots_[indexOf(number)]; }

    // Every slot empty; the notes are remembered.
    void clear();
    int32_t used() const;
    // The highest used slot, 0 when the list is empty.
    int32_t highestUsed() const;
    // The used slot counted number-th from slot 1 (number 1..used()), 0 when there is none.
    int32_t nthUsed(int32_t number) const;
    // The first empty slot takes the note; false when the list is full.
    bool add(int32_t note);
    // Every used slot holding the note becomes empty.
    void release(int32_t note);
    // One pass over slots 1-7: an empty slot takes the note of a used slot just above it.
    void compact();
    // Slot k takes slot k - 1 for k = 8 down to 2; the note in slot 8 is lost.
    void pushUp();

private:
    static std::size_t indexOf(int32_t number)
    {
        return static_cast<std::size_t>(number < 1 ? 0 : number > kSlots ? kSlots - 1 : number - 1);
    }
    std::array<Slot, kSlots> slots_{};
};

// Eight chord intervals in semitones, each on or off.
struct ChordSlots {
    std::array<int32_t, kSlots> interval{};
    std::array<bool, kSlots> off{true, true, true, true, true, true, true, true};

    void allOff();
};

// Which of the two chord columns a fixed set (chord types 1-6) is taken from.
enum class ChordUse { DirectPlay, Steps };

// Sets the slots from a chord type: 0 the user chord (the eight user pins, value - 60, off when
// <= 0), 1-6 the fixed sets, 7-16 the chord table rows; other types leave the slots as they are.
void setChordSlots(ChordSlots& slots, int32_t type, ChordUse use, const std::array<int16_t, kSlots>& userPins);

// The random source of the random steps: reseeded from the clock at construction, at the end of
// every random cycle and when the arpeggiator is switched off. Tests fix the seed of every reseed.
class StepRandom {
public:
    StepRandom() { reseed(); }
    void reseed();
    // A slot number 1..count (count > 0).
    int32_t pick(int32_t count) { return static_cast<int32_t>(generator_() % static_cast<uint32_t>(count)) + 1; }

    // [tests] Every reseed from now on uses this seed; nullopt returns to the clock.
    static void fixSeedForTests(std::optional<uint32_t> seed);

private:
    std::minstd_rand generator_;
};

// The keys down at the input, by channel and note: a note held on two channels is two keys, and
// it is up only when both are released. A release on a channel that does not hold the note (a
// stream whose note-offs were moved to another channel) lets go of it on every channel.
class KeysDown {
public:
    void press(uint8_t channel, uint8_t note, bool down)
    {
        if (!midi::isTableIndex(note))
            return;
        uint16_t& channels = channels_[note];
        const bool wasDown = channels != 0;
        const auto bit = static_cast<uint16_t>(1u << (channel & 0x0F));
        if (down)
            channels = static_cast<uint16_t>(channels | bit);
        else
            channels = static_cast<uint16_t>((channels & bit) != 0 ? channels & ~bit : 0);
        notesDown_ += (channels != 0 ? 1 : 0) - (wasDown ? 1 : 0);
    }
    bool any() const { return notesDown_ > 0; }
    // The note is held on at least one channel.
    bool down(uint8_t note) const { return midi::isTableIndex(note) && channels_[note] != 0; }

private:
    std::array<uint16_t, midi::kNotes> channels_{};  // one bit per channel holding the note
    int32_t notesDown_ = 0;
};

// How a step is started; the only differences between the two modules.
enum class StepTrigger { ClockNote, Gate };

class ArpeggiatorBase : public MpBase {
public:
    enum Pin : int32_t {
        kMidiIn,
        kMidiOut,
        kArpOn,            // >= 3 on (pin kPlayEntries >= 3 also switches it on)
        kOctaves,          // octave count of the steps, below 1 counts as 1
        kNoteOrder,        // < 2 arrival order, >= 2 ascending
        kDirection,        // 1 up, 2 down, 3 up-down, else the last of these
        kHoldMode,         // < 2 normal, 2 frozen, >= 3 latch
        kLatchFullRule,    // < 2 older notes pushed up, >= 2 the merge stops
        kStepEntry,        // >= 3 recording into the entry list
        kPlayEntries,      // >= 2 the entry list is played, >= 3 also switches the arpeggiator on
        kEntryOverwrite,   // >= 3 (with kEntrySlotWrite < 2) overwrite at kEntrySlot
        kEntrySlotWrite,   // >= 3 write at kEntrySlot
        kEntrySlot,        // 1-8
        kRandomOrder,      // >= 2 random steps, >= 3 also arrival order
        kChordLearn,       // >= 3 learning
        kChordNotes,       // < 2 none, >= 2 in direct play, >= 3 also on steps
        kUserChord1,       // 8 user chord notes: interval = value - 60, off when <= 0
        kUserChord8 = kUserChord1 + 7,
        kChordFromType,    // >= 3 the slots follow kChordType; < 2 marks direct notes as chordless
        kChordType,        // 0 user, 1-6 fixed sets, 7-16 chord table
        kLatchMergeRule,   // < 2 latch merge, >= 2 cursor merge or pattern
        kPatternMode,      // >= 3 pattern, >= 2 selects the pattern merge
        kPatternLength,    // 1-8
        kEndNoteTurn,      // >= 3 end notes repeat; shortens a pattern of 7 or 8 by one
        kUpDownTurn,       // < 2 the up-down turns repeat the end notes
        kModePinEnd,
    };
    static constexpr int32_t kModePins = kModePinEnd - kArpOn;

    explicit ArpeggiatorBase(StepTrigger trigger);

    using MpBase::onMidiMessage;
    void onMidiMessage(int pin, unsigned char* bytes, int size) override;
    // [audio thread] After pin values: with the arpeggiator switched off and every key up, ends
    // what still sounds (the last step's notes would otherwise wait for the next message).
    void onSetPins() override;

    // The output routine of direct play: a note-off only for a sounding note, a note-on marks its
    // note sounding, anything else is passed on.
    void ProcessEvent(int32_t status, int32_t note, int32_t velocity);

protected:
    // One arpeggio step with the velocity of all its notes.
    void step(uint8_t velocity);
    void copyUpdatedModes();

private:
    int16_t mode(int32_t pin) const { return modes_[static_cast<std::size_t>(pin)]; }
    bool arpeggiatorOn() const { return mode(kArpOn) >= 3 || mode(kPlayEntries) >= 3; }
    bool arpeggiatorOnAtPins() const;
    int32_t octaves() const { return mode(kOctaves) < 1 ? 1 : mode(kOctaves); }
    int32_t patternSize() const;
    int32_t patternLength() const;
    // The step direction 1-3: the pin when it is one of them, else that of the last step (0
    // before any).
    int32_t direction() const;
    void copyAllModes();

    // Note memory.
    void rememberNoteOff(int32_t note);
    void rememberNoteOn(int32_t note);
    void addHeld(int32_t note);
    void mergeLatched();
    void mergeAtCursor();
    void mergePattern(int32_t note);
    void keysFromList(const NoteList& list);
    void rebuildAscending();
    void releaseLatch(uint8_t velocity);
    void dropReleasedKeys();
    void leaveChordsAndSteps(uint8_t velocity, int32_t handledNote);
    void playChords(int32_t status, int32_t note, uint8_t velocity);
    void learnChord(int32_t status, int32_t note);

    // Step engine.
    void prepareStep(uint8_t velocity);
    void endPreviousStep(uint8_t velocity);
    void choosePlayList();
    int32_t setStepDirection();
    void playStep(uint8_t velocity, int32_t direction);
    void resetSteps();
    void endNoteRule();
    void stepUp(uint8_t velocity, int32_t direction);
    void afterUp(int32_t slot, int32_t direction);
    void stepDown(uint8_t velocity, int32_t direction);
    void afterDown(int32_t slot, int32_t direction);
    void stepRandom(uint8_t velocity, bool upward, int32_t direction);
    void playSlot(int32_t slot, uint8_t velocity);

    // Output, bounded to notes 0-127.
    void noteOn(int32_t note, uint8_t velocity);
    void noteOff(int32_t note, uint8_t velocity);  // only when sounding
    void chordNotesOff(int32_t root, uint8_t velocity);
    // Ends every note the output still holds on.
    void endSounding(uint8_t velocity);
    // Marks what the output holds on (false when nothing), and ends what is marked and no
    // message has touched since.
    bool markLeftOver();
    void endLeftOver(uint8_t velocity);
    void sendAllNotesOff(uint8_t velocity);
    void send(int32_t status, int32_t data1, int32_t data2);
    std::array<int16_t, kSlots> userChordPins() const;

    MidiInPin midiIn_;
    MidiOutPin midiOut_;
    std::array<IntInPin, kModePins> modePins_;

    const StepTrigger trigger_;
    std::array<int16_t, kModePinEnd> modes_{};

    // Note memory.
    NoteList held_, entry_, latch_, ascending_, pattern_;
    ChordSlots chord_;
    std::array<bool, midi::kNotes> keyFree_{};   // true: key not held
    std::array<bool, midi::kNotes> released_{};  // true: released (chord notes on steps)
    std::array<bool, midi::kNotes> sounding_{};  // a note-on was sent and no note-off since
    std::array<int32_t, midi::kNotes> onCount_{}; // direct-play note-ons outstanding
    // The keys down at the input, whatever the modes made of them, and the notes the output
    // holds on as a synth hears them (the sweeps end notes the sounding table still marks).
    KeysDown keysDown_;
    HeldNotes soundingOut_;
    std::array<bool, midi::kNotes> leftOver_{};  // sounding before a step's notes, untouched since
    bool runOfKeysDown_ = false;  // the held list was found to hold keys down only, and no note
                                  // or latch release has come since
    int32_t entryWriteIndex_ = 1;
    bool entryClear_ = true;
    bool learnClear_ = true;
    bool latchUsed_ = false;
    bool patternArmed_ = false;
    int32_t newInput_ = 0;  // 1 after steps or messages while on, until the arpeggiator is off
    bool directSounding_ = false;
    bool chordNotesActive_ = false;
    int32_t typeAtLastSweep_ = 0;
    int32_t typeAtLastChange_ = 0;
    bool noChord_ = false;
    int32_t lastRoot_ = 0;
    int32_t patternCursor_ = 1;  // 1-8
    int32_t patternCount_ = 0;

    // Step engine.
    NoteList play_;
    std::array<int32_t, kSlots + 1> lastStep_{};  // by slot 1-8
    int32_t position_ = 1;  // 1-8
    int32_t octave_ = 1;
    bool phaseUp_ = true;
    bool up_ = false;
    bool down_ = false;
    bool skipTop_ = false;
    bool firstSlot_ = false;
    bool endFlag_ = false;
    int16_t turnMark_ = 0;
    int32_t downRun_ = 0;
    int32_t count_ = 0;
    std::array<bool, kSlots + 1> played_{};  // by slot 1-8
    int32_t playedCount_ = 0;
    int32_t randomPick_ = 1;
    int32_t lastDirection_ = 0;  // of the last step
    StepRandom random_;
};

} // namespace arpeggiator
