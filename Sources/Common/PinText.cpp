#include "PinText.h"

#include "PathExpander.h"
#include "Utf8.h"

#include <exception>

namespace pin_text {

namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

int sequenceLength(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

} // namespace

std::string_view cutAtCharBoundary(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    if (!isContinuation(byte(maxBytes)))
        return text.substr(0, maxBytes);
    // Find the lead byte of the character the cut falls into.
    std::size_t lead = maxBytes;
    while (lead > 0 && maxBytes - lead < 3 && isContinuation(byte(lead)))
        --lead;
    const int length = sequenceLength(byte(lead));
    if (length == 0 || lead + static_cast<std::size_t>(length) <= maxBytes)
        return text.substr(0, maxBytes);
    for (std::size_t i = lead + 1; i < lead + static_cast<std::size_t>(length) && i < text.size(); ++i)
        if (!isContinuation(byte(i)))
            return text.substr(0, maxBytes);  // not UTF-8 after all: 8-bit text is cut exactly
    return text.substr(0, lead);
}

std::string pinTextCut(std::wstring_view text, std::size_t maxBytes)
{
    std::string bytes = utf8::fromWide(text, utf8::OnError::Replace);
    std::string_view kept(bytes);
    kept = kept.substr(0, kept.find('\0'));
    kept = cutAtCharBoundary(kept, maxBytes);
    return std::string(kept);
}

std::optional<std::string> pinTextWithin(std::wstring_view text, std::size_t maxBytes)
{
    std::string bytes;
    try {
        bytes = utf8::fromWide(text, utf8::OnError::Throw);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (bytes.size() > maxBytes || bytes.find('\0') != std::string::npos)
        return std::nullopt;
    return bytes;
}

bool isFolderSafeId(std::string_view id)
{
    return id.size() <= kIdBytes && id.find('/') == std::string_view::npos &&
           id.find("..") == std::string_view::npos && id.find('\0') == std::string_view::npos;
}

std::optional<std::string> idText(std::wstring_view idPin)
{
    auto text = pinTextWithin(idPin, kIdBytes);
    if (!text || !isFolderSafeId(*text))
        return std::nullopt;
    return text;
}

std::optional<std::string> baseFolderText(std::wstring_view pathMac)
{
    const auto text = pinTextWithin(pathMac, kIdBytes);
    if (!text)
        return std::nullopt;
    auto word = platform::expandFolderSetting(*text);
    if (!word || word->empty() || word->size() >= kBaseFolderBytes || word->find('\0') != std::string::npos)
        return std::nullopt;
    return word;
}

std::optional<std::string> hostPathText(const wchar_t* buffer, std::size_t bufferChars, std::size_t maxBytes)
{
    if (!buffer || bufferChars == 0)
        return std::nullopt;
    const std::wstring_view all(buffer, bufferChars);
    const std::size_t end = all.find(L'\0');
    if (end == std::wstring_view::npos)
        return std::nullopt;  // not terminated within its buffer: nothing trustworthy to take
    auto text = pinTextWithin(all.substr(0, end), maxBytes);
    if (!text || text->empty())
        return std::nullopt;
    return text;
}

} // namespace pin_text
