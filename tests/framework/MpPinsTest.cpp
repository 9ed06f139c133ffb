// The byte-string value of pins: no module of this bundle uses it yet, held to its contract for
// those that will.
#include "MpPins.h"

#include <gtest/gtest.h>

namespace {

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
