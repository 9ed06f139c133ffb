// Tests assert exact blocks, so in the test binary file work completes inside the call that asks
// for it (and in every bundle it loads), whether it runs under ctest or by hand. The tests of the
// real-time mode switch it off for themselves (file_worker::setOffline); TAVRIN_OFFLINE=0 in the
// environment runs everything in real time.
#include "FileWorker.h"

#include <cstdlib>
#include <cstring>

namespace {

const bool offlineByDefault = [] {
    ::setenv("TAVRIN_OFFLINE", "1", 0);
    const bool offline = std::strcmp(std::getenv("TAVRIN_OFFLINE"), "1") == 0;
    file_worker::setOffline(offline);
    return offline;
}();

} // namespace
