// The reader every MIDI input hands its events through: events in, whole messages out.
#include "MidiReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// The messages of events read in turn by one reader, each checked to read as zeros up to its
// third byte.
std::vector<Bytes> readAll(MidiReader& reader, std::vector<Bytes> events)
{
    std::vector<Bytes> messages;
    for (Bytes& event : events)
        reader.read(event.data(), static_cast<int32_t>(event.size()), [&](unsigned char* bytes, int32_t size) {
            for (int32_t i = size; i < 3; ++i)
                EXPECT_EQ(bytes[i], 0) << "byte " << i << " of a message of " << size;
            messages.emplace_back(bytes, bytes + size);
        });
    return messages;
}

std::vector<Bytes> readAll(std::vector<Bytes> events)
{
    MidiReader reader;
    return readAll(reader, std::move(events));
}

struct Case {
    const char* what;
    std::vector<Bytes> events;  // read in turn by one reader
    std::vector<Bytes> messages;
};

TEST(MidiReader, ReadsEveryEventAsWholeMessages)
{
    const std::vector<Case> cases = {
        {"one message", {{0x90, 0x3C, 0x64}}, {{0x90, 0x3C, 0x64}}},
        {"short kinds", {{0xC3, 5}, {0xD0, 0x40}, {0xF1, 3}, {0xF3, 9}, {0xF6}, {0xF2, 1, 2}},
         {{0xC3, 5}, {0xD0, 0x40}, {0xF1, 3}, {0xF3, 9}, {0xF6}, {0xF2, 1, 2}}},
        {"clock inside a release", {{0x80, 0xF8, 0x3C, 0x00}}, {{0xF8}, {0x80, 0x3C, 0x00}}},
        {"real time after the data", {{0xB0, 6, 0xFE, 0x42, 0xFF}}, {{0xFE}, {0xB0, 6, 0x42}, {0xFF}}},
        {"undefined real time passes", {{0xF9, 0x90, 0xFD, 0x3C, 0x64}}, {{0xF9}, {0xFD}, {0x90, 0x3C, 0x64}}},
        {"running status across events", {{0x90, 0x3C, 0x64}, {0x3E, 0x64}, {0x3E, 0}},
         {{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}, {0x90, 0x3E, 0}}},
        {"running status within an event", {{0x91, 1, 2, 3, 4, 5}}, {{0x91, 1, 2}, {0x91, 3, 4}}},
        {"real time keeps running status", {{0xC2, 5}, {0xF8}, {7}}, {{0xC2, 5}, {0xF8}, {0xC2, 7}}},
        {"no status: dropped", {{0x3E, 0x64}, {0x05}}, {}},
        {"status alone sets the running status", {{0x90}, {0x3C, 0x64}}, {{0x90, 0x3C, 0x64}}},
        {"a short event is one message as it stands", {{0x90, 0x3C}, {0x64}, {0x3E, 0x64}}, {{0x90, 0x3C}, {0x90, 0x3E, 0x64}}},
        {"a program change carries its third byte", {{0xC0, 8, 5}}, {{0xC0, 8, 5}}},
        {"short message in a longer event dropped, never re-read", {{0x90, 0x3C, 0xF8, 0xB0, 1}, {0x64}}, {{0xF8}}},
        {"status cuts a short message", {{0x90, 0x3C, 0xB0, 7, 100}}, {{0xB0, 7, 100}}},
        {"system common cancels running status", {{0x90, 1, 2}, {0xF3, 4}, {3, 4}, {0xF6, 5, 6}}, {{0x90, 1, 2}, {0xF3, 4}, {0xF6}}},
        {"sysex whole", {{0xF0, 0x7E, 1, 2, 3, 0xF7}}, {{0xF0, 0x7E, 1, 2, 3, 0xF7}}},
        {"real time inside sysex", {{0xF0, 1, 0xF8, 2, 3, 0xFE, 4, 0xF7}}, {{0xF8}, {0xFE}, {0xF0, 1, 2, 3, 4, 0xF7}}},
        {"empty sysex", {{0xF0, 0xF7}}, {{0xF0, 0xF7}}},
        {"sysex cancels running status", {{0x90, 1, 2, 0xF0, 5, 0xF7, 3, 4}}, {{0x90, 1, 2}, {0xF0, 5, 0xF7}}},
        {"sysex cut by a status byte", {{0xF0, 1, 2, 0x90, 3, 4}}, {{0x90, 3, 4}}},
        {"sysex cut by the event's end", {{0xF0, 1, 2}, {3, 0xF7}, {0x80, 1, 0}}, {{0x80, 1, 0}}},
        {"stray end of sysex", {{0x90, 1, 2}, {0xF7, 3, 4}}, {{0x90, 1, 2}}},
        {"undefined F4 and F5", {{0xB0, 1, 2}, {0xF4, 1, 2}, {0xF5}, {3, 4}, {0xF4, 0xC0, 9}}, {{0xB0, 1, 2}, {0xC0, 9}}},
        {"padding of the three-byte convention", {{0xF8, 0, 0}, {0xF1, 5, 0}, {0xF6, 0, 0}, {0xF8, 0}, {0xC0, 5, 0}},
         {{0xF8}, {0xF1, 5}, {0xF6}, {0xF8}, {0xC0, 5, 0}}},
        {"zeros after a running status are data", {{0xC0, 5}, {0xF8, 0, 1}, {0xC0, 5, 0, 0}},
         {{0xC0, 5}, {0xF8}, {0xC0, 0}, {0xC0, 1}, {0xC0, 5}, {0xC0, 0}, {0xC0, 0}}},
        {"one message with an odd data byte", {{0xC0, 0x82, 0}, {0xB1, 0x80, 1}, {0x92, 0x3C, 0xF0}, {5}},
         {{0xC0, 0x82, 0}, {0xB1, 0x80, 1}, {0x92, 0x3C, 0xF0}}},
        {"odd byte in a longer event starts a message", {{0xC1, 0x80, 1, 2}, {0x90, 0xF8, 0x3C}}, {{0x80, 1, 2}, {0xF8}}},
        {"several messages", {{0x90, 60, 100, 0xB0, 64, 127, 0xC0, 3, 0x80, 60, 0}},
         {{0x90, 60, 100}, {0xB0, 64, 127}, {0xC0, 3}, {0x80, 60, 0}}},
        {"nothing", {{}}, {}},
        {"a status byte alone", {{0xB0}, {0xF8}}, {{0xF8}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readAll(c.events), c.messages) << c.what;
}

// The running status lives in the reader, so each MIDI input keeps its own.
TEST(MidiReader, RunningStatusIsTheReadersOwn)
{
    MidiReader a, b;
    EXPECT_EQ(readAll(a, {{0x92, 1, 2}}), (std::vector<Bytes>{{0x92, 1, 2}}));
    EXPECT_EQ(a.runningStatus(), 0x92);
    EXPECT_EQ(readAll(b, {{3, 4}}), std::vector<Bytes>{});
    EXPECT_EQ(readAll(a, {{3, 4}}), (std::vector<Bytes>{{0x92, 3, 4}}));
}

// Every message delivered is one MIDI would read, a status byte then exactly its data bytes, or an
// event that is one message as it stands.
TEST(MidiReader, DeliversOnlyWellFormedMessages)
{
    MidiReader reader;
    uint32_t state = 12345;
    for (int event = 0; event < 20000; ++event) {
        Bytes bytes(static_cast<std::size_t>(state % 9));
        for (auto& b : bytes) {
            state = state * 1664525u + 1013904223u;
            b = static_cast<unsigned char>(state >> 24);
        }
        reader.read(bytes.data(), static_cast<int32_t>(bytes.size()), [&](unsigned char* m, int32_t size) {
            ASSERT_GE(m[0], 0x80);
            if (m[0] == 0xF0) {
                ASSERT_EQ(m[size - 1], 0xF7);
                for (int32_t i = 1; i + 1 < size; ++i)
                    ASSERT_LT(m[i], 0x80);
                return;
            }
            if (MidiReader::isOneMessage(bytes.data(), static_cast<int32_t>(bytes.size()))) {
                ASSERT_EQ(Bytes(m, m + size), bytes);  // the event as it stands
                return;
            }
            ASSERT_EQ(size, MidiReader::lengthOf(m[0]));
            for (int32_t i = 1; i < size; ++i)
                ASSERT_LT(m[i], 0x80);
        });
    }
}

} // namespace
