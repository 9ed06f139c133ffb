// Message ids between the two halves of QV_PatchModule, for both halves and the tests. The
// conversation has one line: the processing half sends kSlotValue, the text "d%f" of a slot value
// that changed elsewhere and held still for two polls, with its zero; the interface half puts the
// number on its float pin. Nothing goes the other way.
#pragma once

#include <cstdint>

namespace patch_module_message {

// Processing half -> interface half.
enum ToGui : int32_t {
    kSlotValue = 0,
};

} // namespace patch_module_message
