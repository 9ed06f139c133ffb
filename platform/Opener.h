// Hands a web address or file name to the desktop's opener, which shows it with the user's
// default application ("open" on the product's own system, xdg-open here).
//
// One narrow service behind an interface with one process-wide current implementation, so that
// tests put a recorder in place of the real opener.
#pragma once

#include <string>
#include <string_view>

namespace platform {

class Opener {
public:
    virtual ~Opener() = default;

    // [GUI thread] Runs the opener with target as its one argument and returns when it has
    // finished; its exit status is of no interest. false when it could not be started.
    virtual bool open(std::string_view target) = 0;
};

// The opener command run directly (never through a shell) with exactly one argument, without
// the host's open file descriptors beyond standard output and error, standard input from
// /dev/null; waits for it. A bare command name is looked up in PATH's absolute entries only (never
// in the current folder); any other command must be an absolute path. open is false when no
// executable regular file is found there.
class CommandOpener final : public Opener {
public:
    explicit CommandOpener(std::string command);
    bool open(std::string_view target) override;

private:
    std::string command_;
};

// The current implementation (a CommandOpener of the platform's opener until replaced). Setting
// nullptr restores it; the caller keeps ownership of what it sets. [GUI thread]
Opener& opener();
void setOpener(Opener* opener);

// Whether a text may be handed to an opener: valid UTF-8, not empty, not starting with "-" (which
// an opener would read as an option), free of control characters (C0, DEL, C1) and of the line and
// paragraph separators U+2028 and U+2029.
bool isOpenableTarget(std::string_view target);

} // namespace platform
