// A preset manager's 128-preset bank: bank memory, name table, the preset file (".tavpreset"),
// the bank file (".tavbank"), the numbered list text and the startup bank path. Every preset
// manager, processing and interface half alike, holds a BankMemory and a NameTable as members and
// moves them through the operations below.
//
// Usage, in a manager's processing half:
//
//     preset_bank::BankMemory bank_;                 // 128 x 256 floats, zeroed
//     preset_bank::NameTable names_;                 // "Default", then "empty"; 50-byte slots
//     preset_bank::PathBuffer workingPath_;          // 1024 bytes, refuses longer paths
//
//     // select preset p (no allocation, no file): block_.write(bank_.preset(p));
//     // store the live preset:                      bank_.storeFrom(current, block_);
//     preset_bank::SavePreset(workingPath_.view(), names_.view(current), block_);
//     preset_bank::LoadPreset(workingPath_.view(), names_, current, block_);
//     preset_bank::LoadBank(workingPath_.view(), names_, bank_, preset_bank::FieldConversion::Decimal);
//     std::string list = preset_bank::SaveList(names_);   // send with size list.size() + 1
//     preset_bank::ReadList(text, names_);
//     auto start = preset_bank::startupBankPath(host, autoPath, idPin, pathMacPin);
//     workingPath_.assign(start.workingPath.value_or(""));   // empty: no file operation
//
// The category manager's processing half uses NameTable(preset_bank::kWideNameSlotBytes).
// Threads: nothing here is shared between objects or locked; each half calls its own copies from
// its own thread. The file operations allocate and do file I/O: the processing halves run them
// on the file worker (ListManagerWork.h), the interface halves on their own thread. Selecting and
// storing presets, ListText, ReadList, PresetFile::applyTo and copying a NameTable or BankMemory
// allocate nothing.
// Every file is written whole through platform::writeFileAtomically; a file that cannot be read
// or written changes nothing in memory and is not reported beyond the returned bool.
#pragma once

#include "Common/PinText.h"
#include "PresetBlock.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace preset_bank {

inline constexpr int kPresets = 128;                // presets in a bank
inline constexpr int kSlots = 256;                  // values in a preset
inline constexpr int kNameSlotBytes = 50;           // list managers' name slots (49 + NUL)
inline constexpr int kWideNameSlotBytes = 100;      // category manager's name slots (99 + NUL)
inline constexpr int kNameFieldColumns = 24;        // files right-align names in 24 columns
inline constexpr int kNameKeepWhole = 25;           // readers keep names of up to 25 bytes whole
inline constexpr std::size_t kPathBytes = 1024;     // working, received and chosen paths (with NUL)
inline constexpr const char* kDefaultName = "Default";  // slot 0 at construction
inline constexpr const char* kEmptyName = "empty";      // slots 1-127 at construction

using PresetValues = float[kSlots];

// ---- Bank memory ------------------------------------------------------------------------------

// 128 presets x 256 floats, preset-major: bank[p][k] is slot k of preset p. Zero at construction.
// Preset indices outside 0-127 are clamped and slot indices outside 0-255 ignored, so no access
// leaves the table; callers still check a program number before selecting it.
class BankMemory {
public:
    BankMemory() { clear(); }

    void clear();  // all 128 x 256 values to 0.0

    PresetValues& preset(int p) { return values_[clampPreset(p)]; }
    const PresetValues& preset(int p) const { return values_[clampPreset(p)]; }
    float get(int p, int k) const;
    void set(int p, int k, float value);

    // [audio thread safe] Storing: the 256 live values into bank[p]. Selecting: bank[p] into the
    // block. Plain copies, no allocation.
    void storeFrom(int p, const PresetBlock& block) { block.read(values_[clampPreset(p)]); }
    void copyTo(int p, PresetBlock& block) const { block.write(values_[clampPreset(p)]); }
    void storeFrom(int p, const PresetValues& values);

    static int clampPreset(int p) { return p < 0 ? 0 : (p >= kPresets ? kPresets - 1 : p); }

private:
    float values_[kPresets][kSlots];
};

// ---- Name table -------------------------------------------------------------------------------

// 128 zero-terminated 8-bit names in fixed slots of slotBytes bytes (50, or 100 for the category
// manager; other sizes are clamped to 2-100). Construction: slot 0 "Default", 1-127 "empty".
class NameTable {
public:
    explicit NameTable(int slotBytes = kNameSlotBytes);

    void reset();  // back to "Default" and "empty"
    int slotBytes() const { return slotBytes_; }

    // The name in slot (clamped to 0-127), zero-terminated.
    const char* name(int slot) const { return names_[BankMemory::clampPreset(slot)]; }
    std::string_view view(int slot) const { return name(slot); }

    // Stores name into slot: the name ends at its first NUL, and a name longer than
    // slotBytes - 1 bytes is cut there, backed off to a UTF-8 character boundary so that no
    // character is split. A slot outside 0-127 is ignored.
    void setName(int slot, std::string_view name);

private:
    int slotBytes_;
    char names_[kPresets][kWideNameSlotBytes];
};

// ---- Name rules -------------------------------------------------------------------------------

// The name-field rule of every file reader of names. Bytes are fed one by one; two states,
// skipping (start) and taking: "," ";" and LF switch to skipping, a space keeps the state, any
// other byte switches to taking (CR included). A byte met while taking is taken: the first 25
// taken bytes are appended; at the 26th the name is cut to its first 24 (at a character
// boundary) and that and every later byte are dropped. NUL bytes are dropped and not counted.
// The caller decides when a name is stored (at ";" or ","), reads name(), then calls restart().
class NameField {
public:
    void feed(char c);
    std::string_view name() const { return std::string_view(text_, length_); }
    void restart() { length_ = 0; taken_ = 0; }  // a stored name: count and text start again

private:
    char text_[kNameKeepWhole] = {};
    int length_ = 0;
    int taken_ = 0;
    bool taking_ = false;
};

// The name editing rule for names typed into or set on a pin (PresetName, NameSave, ...), applied
// before a name enters a name table so that no stored name holds a separator of the list and
// file formats: LF, '"', ',', '/', ':', ';', '<', '\' and '|' become spaces; a name of 25 bytes
// or more is cut to its first 24 (at a character boundary). true when anything changed.
bool applyNameEditingRule(std::string& name);

// ---- Preset file ------------------------------------------------------------------------------

// The preset file text: ",", (24 - n) spaces, the name without leading spaces (n bytes; the
// readers drop them), ";" CR LF; then 256 lines
// "," + "%11.7f" of the value + ";" CR LF. 3868 bytes for a name of at most 24 bytes and values
// between -99.9999999 and 999.9999999; longer names and wider values are written whole.
std::string presetFileText(std::string_view name, const PresetValues& values);

// SavePreset: writes the preset file of name and values to path. false when the path is refused
// (empty, NUL inside, 1024 bytes or more) or the file cannot be written.
bool SavePreset(std::string_view path, std::string_view name, const PresetValues& values);
bool SavePreset(std::string_view path, std::string_view name, const PresetBlock& block);

// A preset file as LoadPreset reads it, before it goes anywhere: the name that the name line's
// last ";" stored (hasName) and the values in file order (count of them, at most 256). Filled on
// the file worker and applied on the audio thread without allocating.
struct PresetFile {
    bool hasName = false;
    char name[kNameKeepWhole] = {};
    std::size_t nameLength = 0;
    PresetValues values = {};
    int count = 0;

    std::string_view nameView() const { return std::string_view(name, nameLength); }
    // The name into names slot current (when one was stored), the values into slots 0 to count - 1;
    // the other slots keep their contents.
    void applyTo(NameTable& names, int current, PresetValues& target) const;
    void applyTo(NameTable& names, int current, PresetBlock& block) const;
};

// Reads the preset file at path into file by LoadPreset's rules. false, with file as it was, when
// the file cannot be opened.
bool ReadPresetFile(std::string_view path, PresetFile& file);

// LoadPreset: reads the preset file at path. Line 1 is the name line (the name-field rule; each
// ";" stores the gathered name into names slot `current`); later lines give values to slots 0,
// 1, 2 ... in file order (digits, "-", "." gathered, ";" ends a value, converted like atof; at
// most 256; NaN, infinities and overflow read as 0). Slots without a value keep their contents.
// false, with nothing changed, when the file cannot be opened.
bool LoadPreset(std::string_view path, NameTable& names, int current, PresetValues& values);
bool LoadPreset(std::string_view path, NameTable& names, int current, PresetBlock& block);

// LoadName: only the first 28 bytes of the first line: the name up to the first ";" becomes
// names slot `current`; without a ";" there the name stays. false when the file cannot be opened.
bool LoadName(std::string_view path, NameTable& names, int current);

// ---- Bank file --------------------------------------------------------------------------------

// The bank file text: the names line (128 fields "," + name right-aligned in 24 columns, each
// without leading spaces as in the preset file, then
// ";" CR LF), then 256 row lines, row k = for each preset p "," + "%11.7f" of bank[p][k], then
// ";" CR LF. 397,187 bytes for names of at most 24 bytes and values between -99.9999999 and
// 999.9999999.
std::string bankFileText(const NameTable& names, const BankMemory& bank);

// SaveBank: writes the bank file to path. false when refused or not written.
bool SaveBank(std::string_view path, const NameTable& names, const BankMemory& bank);

// How a bank reader turns a value field into a float: the decimal field of the list-pipe and
// category managers (digits, with "-" anywhere making it negative), or the atof-like text
// conversion of the list-file manager and the interface halves. Both read a value written by
// SaveBank back as the float nearest its text.
enum class FieldConversion { Decimal, Atof };

// LoadBank: reads the bank file at path. The names line fills names slots 0, 1, ... (the first
// "," only clears the skip mark, each later "," stores a name and advances, stopping at 127; ";"
// stores the name and sets the skip mark). Row lines fill bank[column][row]: columns start at 0
// in every row, "," stores a field and advances (stopping at 127, so surplus fields overwrite
// column 127), ";" stores the field and ends the row; after row 255 nothing more is stored.
// Bytes other than digits, "-", ".", "," and ";" are dropped; a line end does not end a field.
// Non-finite values read as 0. false, with nothing changed, when the file cannot be opened; the
// caller's post-load step runs only on true.
bool LoadBank(std::string_view path, NameTable& names, BankMemory& bank, FieldConversion conversion);

// LoadNames: only the names line, at most its first 3203 bytes, into the name table, stopping at
// the first ";" (which stores its name). false when the file cannot be opened.
bool LoadNames(std::string_view path, NameTable& names);

// ---- Numbered list text -----------------------------------------------------------------------

// Room for the numbered list text of the widest name slots: 128 items of "%3d", ":" and up to 99
// name bytes, 127 commas and the terminating NUL.
inline constexpr std::size_t kListTextBytes = kPresets * (4 + kWideNameSlotBytes - 1) + kPresets;

// The numbered list text in a buffer of its own: items "%3d" of slot + 1, ":", the name, joined by
// "," with none after the last ("  1:Default,  2:empty,..."), NUL-terminated. Built without
// allocating, so the audio thread can send it; messages carry it with its NUL (size() + 1).
class ListText {
public:
    void build(const NameTable& names);
    std::string_view view() const { return std::string_view(text_, length_); }
    const char* c_str() const { return text_; }
    std::size_t size() const { return length_; }

private:
    char text_[kListTextBytes] = {};
    std::size_t length_ = 0;
};

// SaveList: the numbered list text of names as a string (ListText's bytes).
std::string SaveList(const NameTable& names);

// ReadList: parses a numbered list text into names. The text ends at its first NUL or at the end
// of the view (so a message payload without a terminating zero is safe). Each item's name is
// what follows its first ":" (spaces and later ":" included; the 25/24 count rule applies); ","
// stores the name and advances the slot (stopping at 127, so a 129th item overwrites slot 127);
// the last byte stores the last name. An item without ":" empties its slot; an empty text
// changes nothing. A ";" or LF in a name becomes a space, so the name can be written to the
// preset and bank files; a CR stays, as those files keep it.
void ReadList(std::string_view text, NameTable& names);

// ---- Paths ------------------------------------------------------------------------------------

// A 1024-byte path field (working, received or chosen path). assign() refuses texts of 1024
// bytes or more and texts holding a NUL: the path is then emptied and false returned, so the
// next file operation on it does nothing instead of opening a cut, different file.
class PathBuffer {
public:
    bool assign(std::string_view text);
    void clear() { text_[0] = 0; length_ = 0; }
    std::string_view view() const { return std::string_view(text_, length_); }
    const char* c_str() const { return text_; }
    std::size_t size() const { return length_; }
    bool empty() const { return length_ == 0; }

private:
    char text_[kPathBytes] = {};
    std::size_t length_ = 0;
};

// base folder + "Quorvane/" + ID + "/Presetbase" + "/DEFAULTBANK.tavbank" (no separator after the
// base folder, which is expected to end with "/"). Nothing when the ID is not folder-safe or the
// result would not fit a 1024-byte path.
std::optional<std::string> startupBankPathIn(std::string_view baseFolder, std::string_view id);

// The short name whose full path the host gives with AutoPath on.
inline constexpr const wchar_t* kHostPresetName = L"Preset.txt";

// The host's full path for the short name "Preset.txt" (limit 500 characters) as UTF-8. Nothing
// without a host, when the host gives an empty path, or when it has more than 500 bytes.
// Host is mpapi::IMpHost or mpapi::IMpUserInterfaceHost (both have expandFileName).
template <class Host>
std::optional<std::string> hostPresetPath(Host* host);

// The startup bank path of a manager, formed at graph start (processing halves) or initialize
// (interface halves) from its ID, AutoPath and PathMac pins.
struct StartupPath {
    std::optional<std::string> idText;       // nothing: ID refused
    std::optional<std::string> baseFolder;   // "" with AutoPath on; nothing: PathMac refused/failed
    std::optional<std::string> workingPath;  // nothing: no file operation on the startup bank
};
template <class Host>
StartupPath startupBankPath(Host* host, bool autoPath, std::wstring_view idPin, std::wstring_view pathMacPin);

// The same from a host path already asked for (nothing without AutoPath), and from the settings
// a graph start took (the file worker forms the path from them).
StartupPath startupBankPath(std::optional<std::string> hostPath, bool autoPath, std::wstring_view idPin,
                            std::wstring_view pathMacPin);
StartupPath startupBankPath(const pin_text::FileSettings& settings);

// ---- Template definitions ---------------------------------------------------------------------

template <class Host>
std::optional<std::string> hostPresetPath(Host* host)
{
    if (!host)
        return std::nullopt;
    constexpr int kChars = static_cast<int>(pin_text::kIdBytes);
    wchar_t full[kChars + 1] = {};
    host->expandFileName(kHostPresetName, kChars, full);
    return pin_text::hostPathText(full, kChars + 1, pin_text::kIdBytes);
}

template <class Host>
StartupPath startupBankPath(Host* host, bool autoPath, std::wstring_view idPin, std::wstring_view pathMacPin)
{
    return startupBankPath(autoPath ? hostPresetPath(host) : std::nullopt, autoPath, idPin, pathMacPin);
}

} // namespace preset_bank
