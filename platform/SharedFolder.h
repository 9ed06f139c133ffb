// Where the product's fixed folders live ("/Users/Shared" on the product's own system).
#pragma once

#include <filesystem>

namespace platform {

// The shared folder: $TAVRIN_SHARED_FOLDER when set and not empty, so that tests and the demo
// run in a folder of their own; else "/Users/Shared".
std::filesystem::path sharedFolder();

} // namespace platform
