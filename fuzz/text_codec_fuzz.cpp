// The text-in-floats decoder on any twelve floats, against a plain printf reading of the same
// rules, and the encoder's round trip on any bytes.
#include "Utility/TextFloatCodec.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

// The decoder's rules read with the C library: "%07.3f." joined, the first 96 characters scanned,
// each run between full stops read as a number (saturated to int32), its low byte kept unless 0.
std::string referenceDecode(const std::array<float, text_codec::kFloats>& floats)
{
    std::string joined;
    for (float value : floats) {
        char piece[80];
        std::snprintf(piece, sizeof piece, "%07.3f.", static_cast<double>(value));
        joined += piece;
    }
    joined.resize(std::min<std::size_t>(joined.size(), 96));
    std::string bytes;
    std::string run;
    for (char c : joined) {
        if (c != '.') {
            run += c;
            continue;
        }
        long long n = std::strtoll(run.c_str(), nullptr, 10);
        n = std::min<long long>(std::max<long long>(n, std::numeric_limits<int32_t>::min()),
                                std::numeric_limits<int32_t>::max());
        const auto byte = static_cast<uint8_t>(static_cast<uint32_t>(static_cast<int32_t>(n)) & 0xFFu);
        if (byte != 0 && bytes.size() < text_codec::kBytes)
            bytes.push_back(static_cast<char>(byte));
        run.clear();
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::array<float, text_codec::kFloats> floats{};
    std::memcpy(floats.data(), data, size < sizeof floats ? size : sizeof floats);
    const std::string decoded = text_codec::decode(floats);
    if (decoded.size() > text_codec::kBytes || decoded != referenceDecode(floats))
        std::abort();

    // Encoding then decoding gives the first 24 bytes back, less their zeros.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string expected;
    for (char c : bytes.substr(0, text_codec::kBytes))
        if (c != '\0')
            expected.push_back(c);
    if (text_codec::decode(text_codec::encode(bytes)) != expected)
        std::abort();
    return 0;
}
