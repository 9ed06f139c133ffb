// List.txt and Path.txt: what one half writes the other reads back unchanged, and what the writer
// refuses the reader refuses too.
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/ManagerTestSupport.h"
#include "framework/RecordingHosts.h"

#include <gtest/gtest.h>

namespace {

using managertest::writeBytes;
using listfile::PathFileRead;

class ListFileExchangeTest : public ::testing::Test {
protected:
    testsupport::TemporarySharedFolder shared;
    std::string folder = shared.path().string() + "/";
};

// Path.txt: every path the writer takes comes back whole; the reader refuses a 1023-byte line and
// a CR inside the line, which the writer never writes.
TEST_F(ListFileExchangeTest, PathFileReaderAgreesWithWriter)
{
    for (const std::string& path : {std::string(), std::string("/a b/\xB0\xC3\xA9.tavbank"), "/" + std::string(1021, 'p')}) {
        ASSERT_TRUE(listfile::writePathFile(folder, path));
        const PathFileRead read = listfile::readPathFile(folder);
        EXPECT_EQ(read.status, PathFileRead::Status::Path);
        EXPECT_EQ(read.path, path);
    }
    for (const std::string& path : {"/" + std::string(1022, 'p'), std::string("/a\rb")}) {
        EXPECT_FALSE(listfile::writePathFile(folder, path));
        EXPECT_EQ(listfile::readPathFile(folder).path, "");
        writeBytes(shared.path() / "Path.txt", path + "\r\n");
        EXPECT_EQ(listfile::readPathFile(folder).status, PathFileRead::Status::Unreadable);
    }
}

// List.txt: a line beyond 3999 bytes is cut back to a character boundary where it is UTF-8 and
// at the limit where it is 8-bit text.
TEST_F(ListFileExchangeTest, ListLineCut)
{
    writeBytes(shared.path() / "List.txt", std::string(4000, '\xB0') + "\r\n");
    EXPECT_EQ(listfile::readListFile(folder), std::string(3999, '\xB0'));
    std::string utf8 = std::string(3998, 'a') + "\xC3\xA9" + "\r\n";  // "é" across the limit
    writeBytes(shared.path() / "List.txt", utf8);
    EXPECT_EQ(listfile::readListFile(folder), std::string(3998, 'a'));
    ASSERT_TRUE(listfile::writeListFile(folder, "  1:x\xB0,  2:y"));
    EXPECT_EQ(listfile::readListFile(folder), "  1:x\xB0,  2:y");
}

} // namespace
