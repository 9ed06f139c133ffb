// The text-in-floats decoder on any twelve floats, and the encoder's round trip on any bytes.
#include "Utility/TextFloatCodec.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::array<float, textcodec::kFloats> floats{};
    std::memcpy(floats.data(), data, size < sizeof floats ? size : sizeof floats);
    if (textcodec::decode(floats).size() > textcodec::kBytes)
        std::abort();

    // Encoding then decoding gives the first 24 bytes back, less their zeros.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string expected;
    for (char c : bytes.substr(0, textcodec::kBytes))
        if (c != '\0')
            expected.push_back(c);
    if (textcodec::decode(textcodec::encode(bytes)) != expected)
        std::abort();
    return 0;
}
