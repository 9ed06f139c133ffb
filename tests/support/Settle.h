// Tests of modules with file work wait for results, not for a number of blocks, so one test
// checks the same logic offline and in real time: settle() runs blocks until the file worker has
// run every job submitted and every result has been picked up by its module.
#pragma once

#include "FileWorker.h"
#include "Host.h"

#include <cstdint>

namespace test_support {

// Runs blocks of count samples until nothing is owed (none when nothing is); returns how many
// it ran. A result picked up may start more file work: that is waited for too.
inline int settle(tav_host::Host& host, std::int32_t count = 64, int maxBlocks = 100000)
{
    int blocks = 0;
    for (; blocks < maxBlocks; ++blocks) {
        file_worker::waitUntilIdle();
        if (file_worker::unfinished() == 0)
            break;
        host.runBlock(count);
    }
    return blocks;
}

} // namespace test_support
