// The tagged value text reader on any payload; the value it gives, written and read again, gives
// the same text.
#include "Common/TaggedValue.h"
#include "FuzzSupport.h"

#include <cstring>

using fuzz_support::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    float value = 1.5f;
    const auto length = static_cast<std::int32_t>(size > 4096 ? 4096 : size);
    const bool read = number_text::readTaggedValue(length, size ? data : nullptr, value);
    check(read == (length > 0), "a payload is read");
    char text[number_text::kTaggedTextBytes];
    const std::int32_t textSize = number_text::formatTaggedValue('d', value, text);
    check(textSize >= 2 && static_cast<std::size_t>(textSize) <= sizeof text && text[textSize - 1] == 0, "text fits");
    float again = 0.0f;
    check(number_text::readTaggedValue(textSize, text, again), "text read");
    char second[number_text::kTaggedTextBytes];
    const std::int32_t secondSize = number_text::formatTaggedValue('d', again, second);
    check(secondSize == textSize && std::memcmp(text, second, static_cast<std::size_t>(textSize)) == 0,
          "tagged text is stable");
    char small[8];
    const std::int32_t smallSize = number_text::formatTaggedValue('v', value, small);
    check(smallSize >= 2 && smallSize <= 8 && small[smallSize - 1] == 0, "small buffer holds its text");
    return 0;
}
