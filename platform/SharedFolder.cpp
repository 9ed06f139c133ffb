#include "SharedFolder.h"

#include <cstdlib>

namespace platform {

std::filesystem::path sharedFolder()
{
    const char* overridden = std::getenv("TAVRIN_SHARED_FOLDER");
    if (overridden && *overridden)
        return overridden;
    return "/Users/Shared";
}

} // namespace platform
