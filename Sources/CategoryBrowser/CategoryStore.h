// The category manager's preset store: what a load does to the values (old-preset migration, the
// init patch of an empty slot), and the file operations on the library that must never leave
// it: renaming a preset file's own name, writing a bank as a folder of preset files, and moving
// a preset to the Trash.
#pragma once

#include "PresetStore/PresetBank.h"

#include <string>
#include <string_view>

namespace prescat {

// Old presets carry their oscillator modes in slot 0 only: slots 151-153 below 0.5 are filled
// from the band of slot 0 (31 bounds midway between 32 steps from 0.017 to 0.1; a value on a
// bound is in no band and changes nothing).
void migrateOldPreset(float (&slots)[256]);
// The init patch of an empty slot: every slot but 244 (which keeps its value).
void writeInitPatch(float (&slots)[256]);

// An existing preset file named "*.tavpreset", a regular file or a symbolic link, whose real folder
// lies inside the real library root. Renaming and trashing act on the link itself, never on
// what it points to.
bool isPresetFileInLibrary(std::string_view path, const std::string& root);

// Renames the preset file at path (which must satisfy isPresetFileInLibrary) to newName in the
// same folder, never over an existing file. false when nothing was renamed.
bool renamePresetFile(std::string_view path, const std::string& root, std::string_view newName);

// Writes bank preset i as folder + "/#NNN name.tavpreset" (NNN = i + 1), the folder made with its
// parents first; "/" and "\" in names become "_". Each file is written whole or not at all.
void writeBankFolder(std::string_view folder, const preset_bank::NameTable& names, const preset_bank::BankMemory& bank);

// Moves the preset file at path to the Trash when it is a preset file of the library; logs
// "trashItemAtURL 1" when moved, "trashItemAtURL 0" otherwise.
bool trashPresetFile(std::string_view path, const std::string& root);

} // namespace prescat
