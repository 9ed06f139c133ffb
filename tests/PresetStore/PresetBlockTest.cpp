// The shared preset block's places: every write records when, in the one order, it was made; a
// result asked for earlier writes only the slots nobody wrote since; the worker's shadow of the
// block merges what inputs saw by place and is shared by every module on one block.
#include "PresetStore/BlockShadow.h"
#include "PresetStore/PresetBlock.h"
#include "framework/RecordingHosts.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Shared memory by name, as a host gives it: the first opener of a name is asked to initialise it.
struct SharedMemoryHost : test_support::RecordingHost {
    std::map<std::wstring, std::vector<uint64_t>> blocks;
    int32_t openSharedBlock(const wchar_t* name, void** block, int32_t size, int32_t* needsInit, float) override
    {
        auto [it, made] = blocks.try_emplace(name, (static_cast<std::size_t>(size) + 7) / 8, 0xFFFFFFFFFFFFFFFFull);
        *block = it->second.data();
        *needsInit = made ? 1 : 0;
        return 0;
    }
};

TEST(PresetBlock, LateResultsWriteOnlySlotsNobodyWroteSince)
{
    SharedMemoryHost host;
    PresetBlock manager, link;
    ASSERT_TRUE(manager.open(&host));
    ASSERT_TRUE(link.open(&host));
    EXPECT_EQ(manager.identity(), link.identity());
    EXPECT_EQ(manager.get(7), 0.0f);  // made: zeroed, never written
    EXPECT_EQ(manager.placeOf(7), 0u);

    const uint64_t asked = file_worker::takePlace();  // a load is asked for
    link.set(3, 0.5f);                                // then a knob turns
    link.set(4, manager.get(4));                      // and another to the value it holds
    float loaded[PresetBlock::kSlots];
    std::fill(std::begin(loaded), std::end(loaded), 1.0f);
    EXPECT_EQ(manager.writeAsOf(loaded, asked), PresetBlock::kSlots - 2);
    EXPECT_EQ(link.get(3), 0.5f);
    EXPECT_EQ(link.get(4), 0.0f);  // a turn to the same value counts
    EXPECT_EQ(link.get(5), 1.0f);
    EXPECT_EQ(link.placeOf(5), asked);
    EXPECT_GT(link.placeOf(3), asked);

    // An older result than the one written changes nothing; a newer one writes everything again.
    EXPECT_EQ(manager.writeAsOf(loaded, asked), 0);
    EXPECT_FALSE(manager.setAsOf(-1, 2.0f, ~0ull));
    EXPECT_FALSE(manager.setAsOf(PresetBlock::kSlots, 2.0f, ~0ull));
    manager.write(loaded);
    EXPECT_EQ(link.get(3), 1.0f);

    preset_block::Snapshot seen;
    link.read(seen);
    EXPECT_EQ(seen.values[3], 1.0f);
    EXPECT_EQ(seen.places[3], link.placeOf(3));
}

TEST(PresetBlock, HostWithoutRoomForPlacesLeavesThemToTheOpener)
{
    struct OneBlockHost : test_support::RecordingHost {  // answers every name with the same memory
        float memory[PresetBlock::kSlots] = {};
        int32_t openSharedBlock(const wchar_t*, void** block, int32_t, int32_t* needsInit, float) override
        {
            *block = memory;
            *needsInit = 0;
            return 0;
        }
    } host;
    host.memory[9] = 0.25f;
    PresetBlock block;
    ASSERT_TRUE(block.open(&host));
    EXPECT_EQ(block.get(9), 0.25f);  // not asked to initialise: the values stay
    block.set(9, 0.75f);
    EXPECT_EQ(host.memory[9], 0.75f);
    EXPECT_GT(block.placeOf(9), 0u);
    EXPECT_EQ(host.memory[10], 0.0f);  // the places did not go into the values
}

TEST(BlockShadow, MergesWhatInputsSawByPlaceAndIsSharedPerBlock)
{
    SharedMemoryHost host, otherHost;
    PresetBlock a, b, other;
    ASSERT_TRUE(a.open(&host) && b.open(&host) && other.open(&otherHost));
    preset_block::ShadowHandle first, second, third;
    first.attach(a);
    second.attach(b);
    third.attach(other);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_NE(first.get(), third.get());

    // A load asked for at 10 is on the worker; a turn at 20 is seen by a save's input at 30.
    float loaded[PresetBlock::kSlots];
    std::fill(std::begin(loaded), std::end(loaded), 1.0f);
    first->writeAsOf(loaded, 10);
    preset_block::Snapshot seen;
    seen.values[2] = 0.5f;
    seen.places[2] = 20;
    seen.values[3] = 9.0f;  // written at 5, before the load: the load wins
    seen.places[3] = 5;
    second->merge(seen);
    float saved[PresetBlock::kSlots];
    second->read(saved);
    EXPECT_EQ(saved[2], 0.5f);
    EXPECT_EQ(saved[3], 1.0f);
    EXPECT_EQ(saved[4], 1.0f);
    EXPECT_EQ(second->placeOf(2), 20u);
    EXPECT_FALSE(second->setAsOf(2, 7.0f, 15));
    EXPECT_EQ(third->get(4), 0.0f);

    // The last module to leave takes the shadow with it; the next opener starts afresh.
    first.detach();
    EXPECT_EQ(second->get(4), 1.0f);
    second.detach();
    preset_block::ShadowHandle again;
    again.attach(a);
    EXPECT_EQ(again->get(4), 0.0f);
}

} // namespace
