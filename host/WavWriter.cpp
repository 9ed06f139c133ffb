#include "WavWriter.h"

#include "WriteTarget.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace tav_host {

namespace {

constexpr std::size_t kBufferBytes = 1 << 16;
constexpr std::uint16_t kFormatFloat = 3; // WAVE_FORMAT_IEEE_FLOAT
constexpr std::uint32_t kFloatBytes = 4;

void putLittle(std::string& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

} // namespace

std::string wavHeader(std::int32_t channels, std::int64_t frames, std::int32_t sampleRate)
{
    const auto channelCount = static_cast<std::uint64_t>(channels);
    const std::uint64_t dataBytes = static_cast<std::uint64_t>(frames) * channelCount * kFloatBytes;
    // "WAVE", fmt (8 + 18), fact (8 + 4), data (8 + samples).
    constexpr std::uint64_t kPlainOverhead = 4 + 26 + 12 + 8;
    const bool rf64 = dataBytes + kPlainOverhead > std::numeric_limits<std::uint32_t>::max();
    constexpr std::uint32_t kUnknown = 0xFFFFFFFF; // the size is in the ds64 chunk
    std::string h;
    h += rf64 ? "RF64" : "RIFF";
    putLittle(h, rf64 ? kUnknown : dataBytes + kPlainOverhead, 4);
    h += "WAVE";
    if (rf64) {
        h += "ds64";
        putLittle(h, 28, 4);
        putLittle(h, dataBytes + kPlainOverhead + 36, 8); // RIFF size
        putLittle(h, dataBytes, 8);
        putLittle(h, static_cast<std::uint64_t>(frames), 8); // fact's sample count
        putLittle(h, 0, 4);                                   // no table
    }
    h += "fmt ";
    putLittle(h, 18, 4);
    putLittle(h, kFormatFloat, 2);
    putLittle(h, channelCount, 2);
    putLittle(h, static_cast<std::uint32_t>(sampleRate), 4);
    putLittle(h, static_cast<std::uint64_t>(sampleRate) * channelCount * kFloatBytes, 4); // bytes a second
    putLittle(h, channelCount * kFloatBytes, 2);                                        // bytes a frame
    putLittle(h, 8 * kFloatBytes, 2);
    putLittle(h, 0, 2); // no extension
    h += "fact";
    putLittle(h, 4, 4);
    putLittle(h, rf64 || static_cast<std::uint64_t>(frames) > kUnknown ? kUnknown : static_cast<std::uint64_t>(frames), 4);
    h += "data";
    putLittle(h, rf64 ? kUnknown : dataBytes, 4);
    return h;
}

WavWriter::~WavWriter()
{
    discard();
}

void WavWriter::discard()
{
    if (fd_ >= 0 && ownsFd_)
        ::close(fd_);
    fd_ = -1;
    aside_.abandon();
}

bool WavWriter::fail(std::string& error, const std::string& what)
{
    error = "cannot write " + (target_ == "-" ? std::string("standard output") : target_.string()) + ": " + what;
    discard();
    return false;
}

bool WavWriter::open(const std::filesystem::path& target, std::int32_t channels, std::int64_t frames, float sampleRate,
                     std::string& error, const volatile std::sig_atomic_t* stop)
{
    discard();
    target_ = target;
    stop_ = stop;
    if (channels < 1 || channels > 65535)
        return fail(error, "a WAV file holds 1 to 65535 channels, not " + std::to_string(channels));
    if (frames < 0 || !(sampleRate >= 1.0f) || sampleRate > 1e9f)
        return fail(error, "no valid length or sample rate");
    channels_ = channels;
    framesLeft_ = frames;
    if (target == "-") {
        fd_ = STDOUT_FILENO;
        ownsFd_ = false;
    } else {
        std::string why;
        const auto resolved = platform::resolveWriteTarget(target, why);
        if (!resolved)
            return fail(error, why);
        if (resolved->kind == platform::WriteTarget::Kind::Special) {
            // Blocks until a pipe has a reader; a signal ends the wait.
            fd_ = ::open(resolved->file.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd_ < 0)
                return fail(error, std::strerror(errno));
            ownsFd_ = true;
        } else if (!aside_.begin(resolved->file)) {
            return fail(error, std::strerror(errno));
        }
    }
    buffer_.clear();
    buffer_.reserve(kBufferBytes);
    const std::string header = wavHeader(channels, frames, static_cast<std::int32_t>(std::lround(sampleRate)));
    buffer_.insert(buffer_.end(), header.begin(), header.end());
    return flush(error);
}

bool WavWriter::write(const float* interleaved, std::int64_t frames, std::string& error)
{
    if (fd_ < 0 && !aside_.active())
        return fail(error, "not open");
    if (frames < 0 || frames > framesLeft_)
        return fail(error, "more audio than announced");
    framesLeft_ -= frames;
    std::size_t left = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels_);
    while (left > 0) {
        // As many samples as the buffer holds, little-endian whatever the machine's order.
        const std::size_t room = (kBufferBytes - std::min(buffer_.size(), kBufferBytes)) / kFloatBytes;
        const std::size_t n = std::min(left, std::max<std::size_t>(room, 1));
        const std::size_t at = buffer_.size();
        buffer_.resize(at + n * kFloatBytes);
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(buffer_.data() + at, interleaved, n * kFloatBytes);
        } else {
            for (std::size_t i = 0; i < n; ++i) {
                auto bits = std::bit_cast<std::uint32_t>(interleaved[i]);
                for (std::uint32_t b = 0; b < kFloatBytes; ++b, bits >>= 8)
                    buffer_[at + i * kFloatBytes + b] = static_cast<char>(bits & 0xFF);
            }
        }
        interleaved += n;
        left -= n;
        if (buffer_.size() >= kBufferBytes && !flush(error))
            return false;
    }
    return true;
}

bool WavWriter::flush(std::string& error)
{
    const bool written = aside_.active() ? aside_.write(std::string_view(buffer_.data(), buffer_.size()))
                                         : platform::writeAll(fd_, buffer_.data(), buffer_.size(), stop_);
    if (!written)
        return fail(error, errno == EINTR ? "interrupted" : std::strerror(errno));
    buffer_.clear();
    return true;
}

bool WavWriter::finish(std::string& error)
{
    if (fd_ < 0 && !aside_.active())
        return fail(error, "not open");
    if (framesLeft_ != 0)
        return fail(error, "the run ended before all its audio was written");
    if (!flush(error))
        return false;
    if (aside_.active()) {
        if (!aside_.commit())
            return fail(error, std::strerror(errno));
    } else if (ownsFd_) {
        const int closed = ::close(fd_);
        fd_ = -1;
        if (closed != 0)
            return fail(error, std::strerror(errno));
    }
    fd_ = -1;
    return true;
}

} // namespace tav_host
