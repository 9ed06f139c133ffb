#include "Values.h"

#include "Utf8.h"

#include <charconv>
#include <cstring>

namespace tav_host {

Bytes floatValue(float v)
{
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

Bytes intValue(std::int32_t v)
{
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

Bytes boolValue(bool v)
{
    return Bytes{static_cast<std::uint8_t>(v ? 1 : 0)};
}

Bytes textValue(std::u32string_view text)
{
    Bytes b(text.size() * 4);
    if (!text.empty())
        std::memcpy(b.data(), text.data(), b.size());
    return b;
}

Bytes textValue(std::string_view utf8)
{
    const std::wstring wide = utf8ToWide(utf8);
    std::u32string text(wide.begin(), wide.end());
    return textValue(std::u32string_view(text));
}

Bytes midiValue(std::initializer_list<std::uint8_t> bytes)
{
    return Bytes(bytes);
}

bool readFloat(const Bytes& b, float& out)
{
    if (b.size() != sizeof out)
        return false;
    std::memcpy(&out, b.data(), sizeof out);
    return true;
}

bool readInt(const Bytes& b, std::int32_t& out)
{
    if (b.size() != sizeof out)
        return false;
    std::memcpy(&out, b.data(), sizeof out);
    return true;
}

std::wstring utf8ToWide(std::string_view s)
{
    return utf8::toWide(s, utf8::OnError::Replace);
}

std::string wideToUtf8(std::wstring_view w)
{
    return utf8::fromWide(w, utf8::OnError::Replace);
}

std::string formatFloat(float v)
{
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string hexBytes(const std::uint8_t* data, std::size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        if (i)
            out.push_back(' ');
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 0xF]);
    }
    return out;
}

std::string describeNote(const Bytes& midi)
{
    if (midi.size() < 3 || midi[1] > 127 || midi[2] > 127)
        return {};
    const int kind = midi[0] & 0xF0;
    if (kind != 0x80 && kind != 0x90)
        return {};
    static const char* const names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    const std::string note = names[midi[1] % 12] + std::to_string(midi[1] / 12 - 1);
    if (kind == 0x90 && midi[2] > 0)
        return "note on " + note + " " + std::to_string(midi[2]);
    return "note off " + note;
}

std::string formatValue(const Bytes& b, ValueType type)
{
    if (type == ValueType::Unknown)
        type = b.size() == 1 ? ValueType::Bool : b.size() == 4 ? ValueType::Float : ValueType::Raw;
    switch (type) {
    case ValueType::Float:
    case ValueType::Audio: {
        float f = 0;
        if (readFloat(b, f))
            return formatFloat(f);
        break;
    }
    case ValueType::Int: {
        std::int32_t i = 0;
        if (readInt(b, i))
            return std::to_string(i);
        break;
    }
    case ValueType::Bool:
        if (b.size() == 1)
            return b[0] ? "true" : "false";
        break;
    case ValueType::Text:
        if (b.size() % 4 == 0) {
            std::wstring w(b.size() / 4, L'\0');
            if (!b.empty())
                std::memcpy(w.data(), b.data(), b.size());
            return std::string(1, '"').append(wideToUtf8(w)).append(1, '"');
        }
        break;
    case ValueType::Midi:
        return hexBytes(b.data(), b.size());
    case ValueType::Unknown:
    case ValueType::Raw:
        break;
    }
    if (b.empty())
        return "empty";
    return "bytes " + hexBytes(b.data(), b.size());
}

} // namespace tav_host
