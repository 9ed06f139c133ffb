// Message ids between the two halves of the list managers (list-pipe and list-file), for both
// halves, the tests and the benchmarks. Ids 0-127 in either direction are preset numbers.
#pragma once

#include <cstdint>

namespace listmessage {

inline constexpr int32_t kLastPreset = 127;

// Interface half -> processing half.
enum ToProcessing : int32_t {
    kLoadPreset = 128,       // load the chosen preset file (its path came first, in kPath)
    kSavePreset = 129,       // the interface half wrote the chosen preset file
    kFixPreset = 130,        // store the running sound into the current slot
    kLoadBank = 131,         // load the chosen bank file
    kSaveBank = 132,         // the interface half wrote the chosen bank file
    kNameList = 133,         // the numbered list text of the names (list-file: read List.txt)
    kInterfaceStarted = 134, // answered with the current preset and the list
    kStopWaiting = 135,      // end the start-up wait, storing the running sound once
    kPath = 136,             // a chosen path text with its zero
};

// Processing half -> interface half.
enum ToInterface : int32_t {
    kReloadStartupBank = 128,  // list-file: the start-up bank was read
    kListText = 129,           // the list is ready (list-pipe: the numbered list text)
    kCurrentPresetBase = 130,  // + the current preset, 130-257
    kCurrentPresetLast = 257,
    kFactoryBankLoaded = 260,  // list-pipe: the factory bank arrived
};

} // namespace listmessage
