// The byte-string value of pins: no module of this bundle uses it yet, held to its contract for
// those that will. Text inputs take their values into room set aside at open.
#include "MpPins.h"
#include "MpProcessing.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class TextModule : public MpBase {
public:
    TextModule() { initializePin(0, text); }
    // One text value event at sample 0.
    void receive(const std::wstring& value)
    {
        mpapi::MpEvent event{0, mpapi::MP_EVENT_PIN_VALUE, 0, static_cast<int32_t>(value.size() * sizeof(wchar_t)),
                             0, 0, reinterpret_cast<char*>(const_cast<wchar_t*>(value.data())), nullptr};
        process(64, &event);
    }
    StringInPin text;
};

// Texts up to the reserved length land in the storage set aside at open, whatever their order;
// only a longer one moves the text.
TEST(TextPin, ValuesLandInRoomSetAsideAtOpen)
{
    TextModule module;
    module.open();
    ASSERT_GE(module.text.value.capacity(), StringInPin::kReservedCharacters);
    const wchar_t* storage = module.text.value.data();
    for (const std::size_t length : {std::size_t{3}, StringInPin::kReservedCharacters, std::size_t{0}, std::size_t{70}}) {
        const std::wstring value(length, L'x');
        module.receive(value);
        EXPECT_EQ(module.text.value, value);
        EXPECT_EQ(module.text.value.data(), storage);
    }
    const std::wstring longer(StringInPin::kReservedCharacters + 1, L'y');
    module.receive(longer);
    EXPECT_EQ(module.text.value, longer);
}

TEST(ByteString, CopiesComparesAndGrowsOnlyWhenNeeded)
{
    MpBlob blob;
    const unsigned char bytes[] = {1, 2, 3, 4};
    blob.setValueRaw(4, bytes);
    EXPECT_EQ(blob.getSize(), 4);
    EXPECT_EQ(blob.compare(bytes, 4), 0);
    EXPECT_NE(blob.compare(bytes, 3), 0);

    MpBlob copy = blob;
    EXPECT_TRUE(copy == blob);
    EXPECT_NE(copy.getData(), blob.getData());

    unsigned char* before = blob.getData();
    blob.resize(2);  // shrinking keeps the buffer
    EXPECT_EQ(blob.getData(), before);
    EXPECT_EQ(blob.getSize(), 2);
    EXPECT_TRUE(copy != blob);
    blob.setValueRaw(0, nullptr);
    EXPECT_EQ(blob.getSize(), 0);
}

} // namespace
