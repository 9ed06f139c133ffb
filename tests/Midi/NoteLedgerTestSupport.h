// Playing a module like a musician: a ledger of what a synth on each MIDI output hears, and a
// seeded random performer (keys on any channel, the damper, controllers, program changes, pitch
// bend, clock, also inside a message, running status, mode pins with values in and out of range,
// gates) that ends every run by letting go of everything, so a test can check that every note-on
// sent has had its note-off.
#pragma once

#include "FileWorker.h"
#include "framework/HostTestSupport.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace note_ledger {

using tav_host::Bytes;

// What a synth on each output pin hears: a note-on above velocity 0 starts the note on its
// channel, a note-off or a note-on of velocity 0 ends it.
class NoteLedger {
public:
    static constexpr std::size_t kPins = 16;

    void hear(std::int32_t pin, const Bytes& m)
    {
        if (pin < 0 || static_cast<std::size_t>(pin) >= kPins || m.empty())
            return;
        const std::size_t p = static_cast<std::size_t>(pin), channel = m[0] & 0x0F;
        const std::size_t note = m.size() > 1 ? (m[1] & 0x7F) : 0;
        const std::uint8_t velocity = m.size() > 2 ? m[2] : 0;
        const int kind = m[0] & 0xF0;
        if (kind == 0x90 && velocity > 0) {
            sounding_[p][channel].set(note);
            startedNow_[p][channel].set(note);
        } else if (kind == 0x80 || kind == 0x90) {
            sounding_[p][channel].reset(note);
        }
    }
    // Every sent message of a list of (pin, bytes) records.
    template <class SentList>
    void hearAll(const SentList& sent)
    {
        for (const auto& s : sent)
            hear(s.pin, s.bytes);
    }
    // Starts a new block for left(false).
    void newBlock() { startedNow_ = {}; }

    // " pin/channel:note" of every note sounding (1-based channel); with all false only those the
    // current block did not start. Empty when every note-on had its note-off.
    std::string left(bool all = true) const
    {
        std::string notes;
        for (std::size_t p = 0; p < kPins; ++p)
            for (std::size_t c = 0; c < 16; ++c)
                for (std::size_t n = 0; n < 128; ++n)
                    if (sounding_[p][c][n] && (all || !startedNow_[p][c][n]))
                        notes += " " + std::to_string(p) + "/" + std::to_string(c + 1) + ":" + std::to_string(n);
        return notes;
    }

private:
    using Pins = std::array<std::array<std::bitset<128>, 16>, kPins>;
    Pins sounding_{};
    Pins startedNow_{};  // in the current block
};

// How a module is played: its pins and what the performer may do with them.
struct Stage {
    struct IntPin {
        std::int32_t pin;
        std::int32_t low, high;  // the usual range; now and then a value far outside it
    };
    explicit Stage(const char* id) : identifier(id) {}
    Stage& midi(std::vector<std::int32_t> pins) { return midiIns = std::move(pins), *this; }
    Stage& ints(std::vector<IntPin> pins) { return intPins = std::move(pins), *this; }
    Stage& floats(std::vector<std::int32_t> pins) { return floatPins = std::move(pins), *this; }
    Stage& gates(std::vector<std::int32_t> pins) { return gatePins = std::move(pins), *this; }
    Stage& cvs(std::vector<std::int32_t> pins) { return cvPins = std::move(pins), *this; }
    Stage& initially(std::int32_t pin, Bytes value) { return initial.emplace_back(pin, std::move(value)), *this; }
    // For a module that holds MIDI back while its file work is owed: after letting go, blocks
    // run once the file worker is idle, before what sounds is counted.
    Stage& thenQuiet(int blocks) { return quietBlocks = blocks, *this; }

    const char* identifier;
    std::vector<std::int32_t> midiIns{0};
    std::vector<IntPin> intPins;
    std::vector<std::int32_t> floatPins;  // float pins
    std::vector<std::int32_t> gatePins;   // audio inputs played as gates, 1.0 or 0.0
    std::vector<std::int32_t> cvPins;     // audio inputs held at a random level from 0.0 to 1.0 per block
    std::vector<std::pair<std::int32_t, Bytes>> initial;  // values set before graph start
    int quietBlocks = 0;
};

// One module played through the stand-in host, run after run. Each run plays a few blocks of
// random actions at rising times inside each block, then releases every key and the damper on
// its channel and brings every gate low; mode pins stay where the run left them.
class Performer {
public:
    Performer(Stage stage, std::uint32_t seed) : stage_(std::move(stage)), random_(seed)
    {
        module_ = test_support::add(host_, stage_.identifier);
        for (const auto& [pin, value] : stage_.initial)
            host_.setInitialValue(module_, tav_host::Side::Dsp, pin, value);
        for (const auto& p : stage_.intPins)
            if (chance(2))
                host_.setInitialValue(module_, tav_host::Side::Dsp, p.pin, tav_host::intValue(intFor(p)));
        levels_.resize(stage_.gatePins.size() + stage_.cvPins.size());
        for (std::size_t i = 0; i < levels_.size(); ++i) {
            const std::int32_t pin = i < stage_.gatePins.size() ? stage_.gatePins[i] : stage_.cvPins[i - stage_.gatePins.size()];
            host_.setInputFunction(module_, pin, [this, i](std::int64_t sample) {
                return sample < levels_[i].from ? levels_[i].before : levels_[i].after;
            });
            host_.queueStreaming(module_, pin, true);
        }
        keys_.resize(std::max<std::size_t>(stage_.midiIns.size(), 1));
        block();
    }

    // Plays one run and lets go of everything; what is left sounding (empty when nothing).
    std::string run()
    {
        log_.str("");
        for (int blocks = pick(1, 6); blocks > 0; --blocks) {
            for (int actions = pick(0, 6); actions > 0; --actions)
                act();
            block();
        }
        letGo();
        block();
        for (int quiet = 0; quiet < stage_.quietBlocks; ++quiet) {
            file_worker::waitUntilIdle();
            block();
        }
        return ledger_.left();
    }
    std::string log() const { return log_.str(); }
    std::size_t module() const { return module_; }

private:
    struct Level {
        std::int64_t from = 0;  // absolute sample where after begins
        float before = 0.0f, after = 0.0f;
    };

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool chance(int oneIn) { return pick(1, oneIn) == 1; }
    static std::uint8_t byte(int b) { return static_cast<std::uint8_t>(b); }

    std::int32_t intFor(const Stage::IntPin& p)
    {
        static constexpr std::array<std::int32_t, 8> far{-1, -32768, 65536 + 3, 65536 + 1, 1 << 20, 200,
                                                         INT32_MIN, INT32_MAX};
        return chance(8) ? far[static_cast<std::size_t>(pick(0, 7))] : pick(p.low, p.high);
    }

    // Events of a block are queued at rising times, as the host delivers them in order.
    std::int32_t later()
    {
        time_ = std::min(63, time_ + pick(0, 15));
        return time_;
    }
    // Now and then a three-byte message comes with a clock byte inside it, or without its status
    // byte when the input's running status is that status: the module reads the same message.
    void midi(std::size_t input, Bytes m, const char* what)
    {
        if (stage_.midiIns.empty())
            return;
        const bool threeBytes = m.size() == 3 && m[0] < 0xF0 && (m[0] & 0xE0) != 0xC0;
        if (threeBytes && chance(8))
            m.insert(m.begin() + pick(1, 2), std::uint8_t{0xF8});
        else if (threeBytes && m[0] == running_[input] && chance(3))
            m.erase(m.begin());
        if (m[0] >= 0x80 && m[0] < 0xF0)
            running_[input] = m[0];
        log_ << what << " " << tav_host::hexBytes(m.data(), m.size()) << " @" << time_ << "; ";
        host_.queueMidi(module_, stage_.midiIns[input], std::move(m), time_);
    }

    void act()
    {
        later();
        const std::size_t input = static_cast<std::size_t>(pick(0, static_cast<int>(keys_.size()) - 1));
        const int what = pick(0, 99);
        if (what < 30)
            press(input);
        else if (what < 50)
            release(input);
        else if (what < 62 && !stage_.intPins.empty()) {
            const auto& p = stage_.intPins[static_cast<std::size_t>(pick(0, static_cast<int>(stage_.intPins.size()) - 1))];
            const std::int32_t value = intFor(p);
            log_ << "pin " << p.pin << " = " << value << " @" << time_ << "; ";
            host_.queuePinValue(module_, p.pin, tav_host::intValue(value), time_);
        } else if (what < 65 && !stage_.floatPins.empty()) {
            const std::int32_t pin = stage_.floatPins[static_cast<std::size_t>(pick(0, static_cast<int>(stage_.floatPins.size()) - 1))];
            const float value = chance(5) ? -50.0f : static_cast<float>(pick(0, 300));
            log_ << "pin " << pin << " = " << value << " @" << time_ << "; ";
            host_.queuePinValue(module_, pin, tav_host::floatValue(value), time_);
        } else if (what < 75 && !stage_.gatePins.empty()) {
            const std::size_t g = static_cast<std::size_t>(pick(0, static_cast<int>(stage_.gatePins.size()) - 1));
            setLevel(g, levels_[g].after > 0.0f ? 0.0f : 1.0f);
        } else if (what < 82) {
            damper(input, pick(0, 15), chance(2) ? pick(64, 127) : pick(0, 64));
        } else if (what < 88) {
            midi(input, {byte(0xB0 | pick(0, 15)), byte(pick(0, 127)), byte(pick(0, 127))}, "cc");
        } else if (what < 92) {
            const int channel = pick(0, 15);
            midi(input, chance(2) ? Bytes{byte(0xC0 | channel), byte(pick(0, 127))}
                                  : Bytes{byte(0xC0 | channel), byte(pick(0, 127)), 0},
                 "program");
        } else if (what < 95) {
            midi(input, {byte(0xE0 | pick(0, 15)), byte(pick(0, 127)), byte(pick(0, 127))}, "bend");
        } else if (what < 97) {
            midi(input, {0xF8}, "clock");
        } else {
            midi(input, {byte(0xD0 | pick(0, 15)), byte(pick(0, 127))}, "pressure");
        }
    }
    void press(std::size_t input)
    {
        int note = chance(8) ? pick(0, 127) : pick(36, 84);
        while (keys_[input][static_cast<std::size_t>(note)] != 0)
            note = (note + 1) % 128;
        const int channel = pick(0, 15);
        keys_[input][static_cast<std::size_t>(note)] = channel + 1;
        midi(input, {byte(0x90 | channel), byte(note), byte(pick(1, 127))}, "press");
    }
    void release(std::size_t input, int note)
    {
        const int channel = keys_[input][static_cast<std::size_t>(note)] - 1;
        keys_[input][static_cast<std::size_t>(note)] = 0;
        midi(input, chance(2) ? Bytes{byte(0x80 | channel), byte(note), byte(pick(0, 127))}
                              : Bytes{byte(0x90 | channel), byte(note), 0},
             "release");
    }
    void release(std::size_t input)
    {
        const int start = pick(0, 127);
        for (int i = 0; i < 128; ++i)
            if (keys_[input][static_cast<std::size_t>((start + i) % 128)] != 0)
                return release(input, (start + i) % 128);
    }
    void damper(std::size_t input, int channel, int value)
    {
        pedals_[input * 16 + static_cast<std::size_t>(channel)] = value >= 64;
        midi(input, {byte(0xB0 | channel), 64, byte(value)}, "damper");
    }
    void setLevel(std::size_t i, float level)
    {
        const std::int64_t at = blockStart_ + later();
        log_ << "level " << i << " = " << level << " @" << time_ << "; ";
        levels_[i] = {at, levels_[i].after, level};
    }

    void letGo()
    {
        time_ = 0;
        for (std::size_t input = 0; input < keys_.size(); ++input) {
            for (int note = 0; note < 128; ++note)
                if (keys_[input][static_cast<std::size_t>(note)] != 0) {
                    later();
                    release(input, note);
                }
            for (int channel = 0; channel < 16; ++channel)
                if (pedals_[input * 16 + static_cast<std::size_t>(channel)])
                    damper(input, channel, 0);
        }
        for (std::size_t g = 0; g < stage_.gatePins.size(); ++g)
            if (levels_[g].after > 0.0f)
                setLevel(g, 0.0f);
        block();
    }

    void block()
    {
        for (std::size_t c = stage_.gatePins.size(); c < levels_.size(); ++c)
            levels_[c] = {0, 0.0f, static_cast<float>(pick(0, 127)) / 127.0f};
        log_ << "| ";
        host_.clearCalls();
        host_.runBlock(64);
        blockStart_ += 64;
        time_ = 0;
        ledger_.newBlock();
        for (const auto& call : host_.callsOf(tav_host::CallKind::SendPinValue, module_))
            ledger_.hear(call.pin, call.data);
    }

    Stage stage_;
    std::mt19937 random_;
    tav_host::Host host_{test_support::factory(), test_support::config64()};
    std::size_t module_ = 0;
    std::vector<std::array<int, 128>> keys_;  // per MIDI input: the channel + 1 a key is held on, 0 when up
    std::array<bool, 32> pedals_{};           // per input and channel: the damper is down
    std::array<std::uint8_t, 16> running_{};  // per input: the running status the module reads with
    std::vector<Level> levels_;               // gates, then CVs
    std::int64_t blockStart_ = 0;
    std::int32_t time_ = 0;
    NoteLedger ledger_;
    std::ostringstream log_;
};

// Plays runs on modules fresh for each of seeds 1..modules; the first run that left notes
// sounding other than allowed (as "seed s run r: left after: actions"), or empty.
inline std::string strandedNotes(const Stage& stage, int modules, int runs, const std::string& allowed = "")
{
    for (std::uint32_t seed = 1; seed <= static_cast<std::uint32_t>(modules); ++seed) {
        Performer performer(stage, seed);
        for (int r = 0; r < runs; ++r) {
            const std::string left = performer.run();
            if (!left.empty() && left != allowed)
                return "seed " + std::to_string(seed) + " run " + std::to_string(r) + ":" + left +
                       " after: " + performer.log();
        }
    }
    return "";
}

} // namespace note_ledger
