#include "PathExpander.h"

#include "Log.h"

#include <algorithm>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

bool isNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9'); }
bool isBlank(char c) { return c == ' ' || c == '\t'; }
// Shell operators and line ends: a word cannot hold them unquoted.
bool isOperator(char c)
{
    switch (c) {
    case '|': case '&': case ';': case '<': case '>': case '(': case ')': case '{': case '}':
    case '\n': case '\r':
        return true;
    default:
        return false;
    }
}

// The home folder of the user named name ("" for the current user), or nothing.
std::optional<std::string> homeFolder(const std::string& name)
{
    if (name.empty()) {
        if (const char* home = std::getenv("HOME"))
            return std::string(home);
    }
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 && size < 1048576 ? static_cast<std::size_t>(size) : 16384);
    passwd entry {};
    passwd* found = nullptr;
    const int error = name.empty() ? ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found)
                                   : ::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (error != 0 || !found || !found->pw_dir)
        return std::nullopt;
    return std::string(found->pw_dir);
}

// Reads the text word by word, building only the first word; the rest is checked so that a
// refused form anywhere refuses the whole text.
class WordReader {
public:
    explicit WordReader(std::string_view text) : text_(text) {}

    std::optional<std::string> run()
    {
        if (text_.find('\0') != std::string_view::npos)
            return std::nullopt;
        while (true) {
            while (i_ < text_.size() && isBlank(text_[i_]))
                ++i_;
            if (i_ == text_.size())
                break;
            if (!readWord())
                return std::nullopt;
            ++words_;
        }
        if (words_ == 0 || first_.empty())
            return std::nullopt;
        return std::move(first_);
    }

private:
    bool keeping() const { return words_ == 0; }

    bool append(std::string_view bytes)
    {
        if (!keeping())
            return true;
        if (first_.size() + bytes.size() > kMaxExpandedWordBytes)
            return false;
        first_.append(bytes);
        return true;
    }

    bool readWord()
    {
        if (text_[i_] == '~' && !readTilde())
            return false;
        while (i_ < text_.size() && !isBlank(text_[i_])) {
            const char c = text_[i_];
            if (isOperator(c) || c == '`')
                return false;
            if (c == '\'') {
                const std::size_t end = text_.find('\'', i_ + 1);
                if (end == std::string_view::npos)
                    return false;
                if (!append(text_.substr(i_ + 1, end - i_ - 1)))
                    return false;
                i_ = end + 1;
            } else if (c == '"') {
                if (!readDoubleQuoted())
                    return false;
            } else if (c == '\\') {
                if (i_ + 1 == text_.size())
                    return false;
                if (text_[i_ + 1] != '\n' && !append(text_.substr(i_ + 1, 1)))
                    return false;
                i_ += 2;
            } else if (c == '$') {
                if (!readDollar())
                    return false;
            } else {
                if (!append(text_.substr(i_, 1)))
                    return false;
                ++i_;
            }
        }
        return true;
    }

    // "~" or "~name" up to the first "/" or the word's end; quoted or escaped characters in it
    // make it plain text, as in the shell.
    bool readTilde()
    {
        std::size_t end = i_ + 1;
        while (end < text_.size() && text_[end] != '/' && !isBlank(text_[end])) {
            const char c = text_[end];
            if (c == '\'' || c == '"' || c == '\\' || c == '$' || c == '`' || isOperator(c))
                return true;  // not a tilde prefix: the word reader takes it as it is
            ++end;
        }
        const std::string name(text_.substr(i_ + 1, end - i_ - 1));
        if (!keeping()) {
            i_ = end;
            return true;
        }
        const auto home = homeFolder(name);
        // An unknown user leaves the text as it is, as the shell does.
        if (!append(home ? std::string_view(*home) : text_.substr(i_, end - i_)))
            return false;
        i_ = end;
        return true;
    }

    bool readDoubleQuoted()
    {
        ++i_;
        while (i_ < text_.size()) {
            const char c = text_[i_];
            if (c == '"') {
                ++i_;
                return true;
            }
            if (c == '`')
                return false;
            if (c == '\\' && i_ + 1 < text_.size()) {
                const char next = text_[i_ + 1];
                if (next == '$' || next == '`' || next == '"' || next == '\\') {
                    if (!append(text_.substr(i_ + 1, 1)))
                        return false;
                    i_ += 2;
                    continue;
                }
                if (next == '\n') {
                    i_ += 2;
                    continue;
                }
            }
            if (c == '$') {
                if (!readDollar())
                    return false;
                continue;
            }
            if (!append(text_.substr(i_, 1)))
                return false;
            ++i_;
        }
        return false;  // no closing quote
    }

    // At a "$": a variable, a refused form, or a plain "$".
    bool readDollar()
    {
        const std::size_t next = i_ + 1;
        if (next == text_.size() || !(isNameChar(text_[next]) || text_[next] == '{' || text_[next] == '(' ||
                                      text_[next] == '[' || isSpecialParameter(text_[next]))) {
            ++i_;
            return append("$");
        }
        const char c = text_[next];
        if (isNameStart(c)) {
            std::size_t end = next;
            while (end < text_.size() && isNameChar(text_[end]))
                ++end;
            i_ = end;
            return appendVariable(text_.substr(next, end - next));
        }
        if (c == '{') {
            std::size_t end = next + 1;
            if (end == text_.size() || !isNameStart(text_[end]))
                return false;
            while (end < text_.size() && isNameChar(text_[end]))
                ++end;
            if (end == text_.size() || text_[end] != '}')
                return false;
            i_ = end + 1;
            return appendVariable(text_.substr(next + 1, end - next - 1));
        }
        return false;  // "$(", "$[", digits and special parameters
    }

    static bool isSpecialParameter(char c)
    {
        return c == '@' || c == '*' || c == '#' || c == '?' || c == '-' || c == '$' || c == '!';
    }

    bool appendVariable(std::string_view name)
    {
        if (!keeping())
            return true;
        const std::string key(name);
        const char* value = std::getenv(key.c_str());
        return !value || append(value);
    }

    std::string_view text_;
    std::size_t i_ = 0;
    int words_ = 0;
    std::string first_;
};

} // namespace

std::optional<std::string> expandShellWord(std::string_view text) { return WordReader(text).run(); }

std::optional<std::string> expandFolderSetting(std::string_view text)
{
    auto word = expandShellWord(text);
    if (word && word->front() != '/') {
        // The setting as given (its line ends were refused above), cut to keep the line short.
        constexpr std::size_t kShown = 200;
        logLine("PathMac \"%.*s\" is no absolute folder; ignored", static_cast<int>(std::min(text.size(), kShown)),
                text.data());
        return std::nullopt;
    }
    return word;
}

} // namespace platform
