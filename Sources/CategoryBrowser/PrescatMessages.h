// Private messages between the two halves of the category manager ("QV_PatchManagerPrescat"):
// Qv_patchmanagerprescat (processing) and Qv_patchmanagerprescatGui (interface). Every message is
// (id, size, bytes); size is 0 unless a payload is named. Texts travel with their terminating
// zero (size = length + 1). Ranges are a base plus a number: kSelectBase + n, kFolderBase + f.
//
// The conversation, in order:
//
// Start-up. The interface half's initialize posts kInterfaceStarted. The processing half answers
//   with kFolderNumberBase + selected folder, kFolderList (folder list text), then
//   kSelectBase + current entry (or kDropSelection), then kList (category list text). A later
//   kInterfaceStarted (the interface reopened) resends the folders and the list of the folder of
//   the last load, or the current result page; in a result view it adds kCategoryRowBase +
//   category and kSelectBase + current entry. With time order on it first posts kFixPresetOn.
//
// A click on a row. The interface posts the row (0-127) as its own id. The processing half never
//   loads on it: it answers with the MIDI program change [C0 n 00]. When the patch brings that
//   program change back to the MIDI input, list entry n loads, the controller dump goes out and
//   the processing half posts n (kShowEntryBase + n) and echoes [C0 n 00].
//   In a result view rows 0 and 103 may be page arrows ("<<", ">>"): a click there turns the page
//   and the new page comes as kClearFirstSelect, kSelectBase + n, kList, preceded by the arrow
//   states kPrevArrowShown/kPrevArrowHidden and kNextArrowShown/kNextArrowHidden (and
//   kFavouritesInTimeOrder first when favourites are listed in time order). Rows 104-127 are
//   commands (SEARCH, SET, ALL/EDIT, FAVOURITE/SAVE, the category rows 110-127); the result page
//   follows after the rebuild delay.
//
// Folder choice. The interface posts kFolderBase + f, f a slot of the folder list that holds a
//   folder (a slot without one is ignored). An ordinary folder is listed at once
//   (kSelectBase + n or kDropSelection, then kList). A special folder ("3_SEARCH",
//   "3_FAVOURITES", "3_SEARCHSAVED", "2_SAVED", "3_RELOADS", names holding "_EE_") opens a result
//   view: kViewSwitched, kDropSelection, [C0 current 00] on MIDI, and the first result page after
//   the rebuild delay.
//
// Files. The interface first posts kPath with the path text, then one of kLoadPresetFile,
//   kSavePreset, kLoadBank (the bank file) or kSaveBankFolder (the target folder; written only
//   after a successful kLoadBank). A path of 10 bytes or fewer makes the command do nothing.
//   Saving refreshes the folders and the list after 0.3 s.
//
// Tags. kDeletePreset moves the current entry's file to the Trash (a numbered factory preset is
//   refused with kRemovalDenied); kToggleFavourite renames the last loaded file with or without
//   " #fav"; kSearchText (NUL-terminated) filters the results case-insensitively.
//
// Time order. kTimeOrderOn / kTimeOrderOff follow the interface's FixPreset switch.
#pragma once

#include <cstdint>

namespace prescat {

// Interface half -> processing half (receiveMessageFromGui).
enum ToAudio : int32_t {
    kSelectRowBase = 0,      // + row 0-127: selection or command; answered by [C0 row 00]
    kLoadPresetFile = 128,   // preset file at the last kPath into the shared preset block
    kSavePreset = 129,       // the shared preset block into the file at the last kPath
    kFixPreset = 130,        // the shared preset block into bank memory entry current
    kLoadBank = 131,         // bank file at the last kPath into bank memory and names; entry 0 loads
    kSaveBankFolder = 132,   // the imported bank as a folder of "#NNN name.tavpreset" at the last kPath
    kUnusedNameList = 133,   // ignored
    kInterfaceStarted = 134, // the interface half has started (or restarted)
    kFirstStore = 135,       // before the first kInterfaceStarted: block into bank entry current
    kPath = 136,             // payload: path text, NUL-terminated (at most 1023 bytes kept)
    kFolderBase = 200,       // + folder 0-127: folder or special view choice
    kTimeOrderOn = 400,      // FixPreset switch on
    kDeletePreset = 401,     // after the delete confirmation: current entry to the Trash
    kTimeOrderOff = 402,     // FixPreset switch off
    kToggleFavourite = 500,  // favourite tag of the last loaded file on or off
    kSearchText = 505,       // payload: search text, NUL-terminated (at most 49 bytes kept)
};

// Processing half -> interface half (receiveMessageFromAudio). Id 500 means different things in
// the two directions.
enum ToGui : int32_t {
    kShowEntryBase = 0,            // + entry 0-127: the entry that was loaded is shown
    kReloadStartupNames = 128,     // (not sent) reread the startup bank names
    kList = 129,                   // payload: category list text, 128 entries joined by ","
    kSelectBase = 130,             // + entry 0-127: PresetNumber := entry (first select: 130)
    kGuiUpdatePulse = 258,         // (not sent) pulse the GuiUpdate pin
    kFolderList = 280,             // payload: folder list text, 128 folders joined by ","
    kFolderNumberBase = 300,       // + folder 0-127: FolderNumber := folder
    kRemovalDenied = 500,          // notice "Removal denied" / "Can't delete a factory Preset!"
    kClearFirstSelect = 501,       // a result page follows: clear the first-select flag
    kPrevArrowShown = 502,         // row 0 shows "<<"
    kPrevArrowHidden = 503,
    kNextArrowShown = 504,         // row 103 shows ">>"
    kNextArrowHidden = 505,
    kFavouritesInTimeOrder = 506,  // favourites are listed in time order
    kSearchViewFlag = 507,         // (not sent) set the interface's search-view flag
    kDropSelection = 508,          // PresetNumber := 180, then 130
    kViewSwitched = 509,           // PresetNumber := 106, then 110
    kFixPresetOn = 510,            // FixPreset pin := true
    kFixPresetOnKeepName = 511,    // FixPreset := true; PresetName keeps the entry's own name
    kClearKeepName = 512,          // clears the keep-name flag of kFixPresetOnKeepName
    kCategoryRowBase = 710,        // + category 0-17: PresetNumber := 110 + category
};

// List positions of a result view.
inline constexpr int kPrevArrowRow = 0;
inline constexpr int kNextArrowRow = 103;
inline constexpr int kFirstCommandRow = 104;  // 104 SEARCH, 105 SET, 107 ALL/EDIT, 108 FAVOURITE/SAVE
inline constexpr int kCategoryRow = 110;      // + category 0-17
inline constexpr int kEntries = 128;
inline constexpr int kFolders = 128;

} // namespace prescat
