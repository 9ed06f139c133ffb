// Message ids between the two halves of the list managers (list-pipe and list-file), for both
// halves, the tests and the benchmarks. Ids 0-127 in either direction are preset numbers: the
// interface half selects one, the processing half announces the one a program change selected.
//
// The conversation:
// - Start: the interface half's initialize sends kInterfaceStarted; the processing half answers
//   kCurrentPresetBase + current, then kListText (list-pipe: with the numbered list text; list-file:
//   the list is in List.txt). The interface half may answer kNameList with a kept name.
// - Save preset: kNameList (the edited name), kPath (the chosen file), kSavePreset once the
//   interface half wrote the file, kNameList (the old name back).
// - Save bank: kPath, then kSaveBank. Load preset: kPath, then kLoadPreset. Load bank: kPath, then
//   kLoadBank.
// - Store the running sound under the shown name: kNameList, then kFixPreset.
// - List-pipe: kFactoryBankLoaded once the factory bank arrived. (The list-file halves pass paths
//   and names through Path.txt and List.txt rather than in kPath and kNameList payloads.)
// - kReloadStartupBank is understood by the interface half but sent by neither processing half.
#pragma once

#include <cstdint>

namespace list_message {

inline constexpr int32_t kLastPreset = 127;

// Interface half -> processing half.
enum ToAudio : int32_t {
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
enum ToGui : int32_t {
    kReloadStartupBank = 128,  // read the start-up bank file again into the interface's copy
    kListText = 129,           // the list is ready (list-pipe: the numbered list text)
    kCurrentPresetBase = 130,  // + the current preset, 130-257
    kCurrentPresetLast = 257,
    kFactoryBankLoaded = 260,  // list-pipe: the factory bank arrived
};

} // namespace list_message
