// The runner's WAV files: exact headers (RF64 past 4 GiB, sizes final up front, so pipes need no
// seeking) and a target left untouched when a run ends short.
#include "WavWriter.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string bytes(std::initializer_list<int> list)
{
    std::string s;
    for (int b : list)
        s.push_back(static_cast<char>(b));
    return s;
}

// A plain header of 2 channels x 3 frames at 48 kHz: float format 3, 8 bytes a frame, 24 data
// bytes; 600 million stereo frames (4.8 GB) need RF64, whose ds64 chunk holds the 64-bit sizes.
TEST(WavWriterTest, HeadersHoldTheirSizes)
{
    EXPECT_EQ(tav_host::wavHeader(2, 3, 48000),
              "RIFF" + bytes({74, 0, 0, 0}) + "WAVE" + "fmt " + bytes({18, 0, 0, 0, 3, 0, 2, 0, 0x80, 0xBB, 0, 0, 0, 0xDC, 5, 0, 8, 0,
                                                                        32, 0, 0, 0}) +
                  "fact" + bytes({4, 0, 0, 0, 3, 0, 0, 0}) + "data" + bytes({24, 0, 0, 0}));
    const std::string rf64 = tav_host::wavHeader(2, 600000000, 48000);
    ASSERT_EQ(rf64.size(), 94u);
    // data 4,800,000,000 = 0x11E1A3000; RIFF size = data + 86; frames 600,000,000 = 0x23C34600.
    EXPECT_EQ(rf64.substr(0, 48), "RF64" + bytes({0xFF, 0xFF, 0xFF, 0xFF}) + "WAVE" + "ds64" + bytes({28, 0, 0, 0}) +
                                      bytes({0x56, 0x30, 0x1A, 0x1E, 1, 0, 0, 0}) + bytes({0, 0x30, 0x1A, 0x1E, 1, 0, 0, 0}) +
                                      bytes({0, 0x46, 0xC3, 0x23, 0, 0, 0, 0}) + bytes({0, 0, 0, 0}));
    EXPECT_EQ(rf64.substr(74), "fact" + bytes({4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}) + "data" + bytes({0xFF, 0xFF, 0xFF, 0xFF}));
}

// Samples go out little-endian after the header; a run that ends before the frames it announced
// leaves the old file and no temporary one; a channel count a WAV cannot hold is refused.
TEST(WavWriterTest, WritesWholeFilesOnly)
{
    const test_support::TemporaryFolder temporary("tavrin-wav");
    const fs::path& folder = temporary.path();
    const fs::path file = folder / "a.wav";
    std::string error;
    {
        tav_host::WavWriter writer;
        const float samples[] = {0.5f, -1.0f};
        ASSERT_TRUE(writer.open(file, 1, 2, 48000.0f, error)) << error;
        ASSERT_TRUE(writer.write(samples, 2, error)) << error;
        EXPECT_FALSE(fs::exists(file));
        ASSERT_TRUE(writer.finish(error)) << error;
    }
    std::ifstream in(file, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, tav_host::wavHeader(1, 2, 48000) + bytes({0, 0, 0, 0x3F, 0, 0, 0x80, 0xBF}));
    {
        tav_host::WavWriter writer;
        const float sample = 0.0f;
        ASSERT_TRUE(writer.open(file, 1, 2, 48000.0f, error)) << error;
        ASSERT_TRUE(writer.write(&sample, 1, error));
        EXPECT_FALSE(writer.write(&sample, 2, error));
        EXPECT_EQ(error, "cannot write " + file.string() + ": more audio than announced");
    }
    EXPECT_EQ(fs::file_size(file), written.size());
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    tav_host::WavWriter tooWide;
    EXPECT_FALSE(tooWide.open(file, 65536, 1, 48000.0f, error));
    EXPECT_EQ(error, "cannot write " + file.string() + ": a WAV file holds 1 to 65535 channels, not 65536");
}

// A file name of 255 bytes, the most a file system allows, is written: the temporary file's name
// is short. The new file takes 0666 less the umask, as any new file.
TEST(WavWriterTest, LongestNameAndNewFileMode)
{
    const test_support::TemporaryFolder temporary("tavrin-wav");
    const fs::path& folder = temporary.path();
    const fs::path file = folder / (std::string(251, 'w') + ".wav");
    std::string error;
    const mode_t previous = ::umask(026);
    tav_host::WavWriter writer;
    const float sample = 0.25f;
    const bool written = writer.open(file, 1, 1, 44100.0f, error) && writer.write(&sample, 1, error) && writer.finish(error);
    ::umask(previous);
    EXPECT_TRUE(written) << error;
    EXPECT_EQ(fs::file_size(file), tav_host::wavHeader(1, 1, 44100).size() + 4);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

} // namespace
