// Operations of the category manager's two halves that no pin or message of the product's patch
// reaches: file work the interface half can do on its own copy, as the list managers' interface
// halves do under the same names, and three list operations of the processing half. A caller that
// holds a module object of "QV_PatchManagerPrescat" reaches them by dynamic_cast to these
// interfaces. The module object owns everything the operations touch; nothing is handed over.
#pragma once

namespace prescat {

// The interface half (type 1). [GUI thread] Panels and boxes are modal. The files are read and
// written at the last path: the path of the last accepted save-preset panel or bank import.
class InterfaceOperations {
public:
    virtual ~InterfaceOperations() = default;

    virtual void SavePath() = 0;         // 136 with the last panel's path (one zero byte after a cancel)
    virtual void SaveList() = 0;         // 133 with the name list that PresetList shows
    // The current entry takes the name on PresetName (first 49 bytes); the list and NameSave
    // follow; then 133 with the name list and 130 (the live preset into the entry's bank slot).
    virtual void FixPreset() = 0;
    virtual void ReadNamesavePin() = 0;  // PresetName := NameSave, when NameSave is not empty
    // The preset file into the edit buffer and the current entry's name; the list, PresetName and
    // NameSave show it, GuiUpdate pulses. Nothing changes when the file cannot be read.
    virtual void LoadPreset() = 0;
    virtual void SavePreset() = 0;       // the edit buffer under the current entry's name
    virtual void SaveBank() = 0;         // the bank copy under the 128 names
    // The bank file into the bank copy and the names: entry 0 becomes current (GuiUpdate pulses
    // when it already was), PresetNumber 0, PresetName its name. NameSave is not put back.
    virtual void LoadBank() = 0;
    // The open panel for one preset file, in "TAVRIN TWO/Presetbase/Presets".
    virtual void openpresetfilename() = 0;
    // The save panel of the save-preset button (name from PresetName, ".tavpreset" appended,
    // "Replace" asked for an existing file), in the first favourites folder ("3_FAVOURITES", then
    // "3_FAVOURITES_01" to "3_FAVOURITES_127") that holds fewer than 128 preset files, created
    // when missing. All full: no panel, as if cancelled.
    virtual void savefavouritesfilename() = 0;
};

// The processing half (type 0). [the thread that calls the processing half] Disk work runs in the
// call; nothing is locked.
class ProcessingOperations {
public:
    virtual ~ProcessingOperations() = default;

    // Starts the bank over: bank memory zero, no imported bank left to write as a folder; then the
    // folder list of folderPath goes to the interface half (130 + entry, 129).
    virtual void LoadStartupBank() = 0;
    // The names line of the bank file at filePath into the names (those shown and those a bank
    // folder is written with); the bank values stay. Nothing changes when it cannot be read.
    virtual void LoadNames() = 0;
    // Every preset file of the tree below folderPath, category tags kept in the display field,
    // sorted by whole index entry; the first 128 of that order fill the list as their paths below
    // the library root, "empty" after them; then 130 + entry and 129 with the list.
    virtual void SaveListSearch() = 0;
};

} // namespace prescat
