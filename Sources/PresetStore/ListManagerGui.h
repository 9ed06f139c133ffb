// What the interface halves of the two list preset managers share: the fourteen pins, their own
// name table and copy of preset values (filled only from files the user picks), the buttons that
// act on release, the name pins, the file panels with their folder chain, and the preset and bank
// file readers and writers on that copy. Each manager's file keeps its own rules: how it talks to
// its processing half, what its save panels do and how a typed name is taken.
#pragma once

#include "Dialogs.h"
#include "GuiButtons.h"
#include "MpInterface.h"
#include "PresetStore/ListManagerMessages.h"
#include "PresetStore/PresetBank.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

class ListManagerGui : public MpGuiBase {
public:
    enum Pin {
        kPresetNumber, // int: selected slot 0-127
        kPresetList,   // text: the numbered list text
        kPresetName,   // text: the current preset's name, edited by the user
        kLoadPreset,   // bool buttons, acting on release
        kSavePreset,
        kFixPreset,
        kLoadBank,
        kSaveBank,
        kId,           // text: product folder name
        kAutoPath,     // bool: the host resolves the startup bank path
        kPathPC,       // text: not read
        kPathMac,      // text: base folder, expanded like a shell word
        kGuiUpdate,    // bool: pulsed true then false after a file load
        kNameSave,     // text: the current preset's name as the host keeps it
    };

    enum class FileKind { Preset, Bank };

    // Handlers of the pins both managers treat alike, registered by the constructor. A button
    // acts on release.
    void onSetPresetNumber(); // the value goes out as a message; a slot also becomes current
    void onSetLoadPreset();   // open panel, chosen path out, the file into the copy, 128
    void onSetFixPreset();    // FixPreset
    void onSetLoadBank();     // open panel, chosen path out, the file into the copy, 131
    void onSetSaveBank();     // save panel, chosen path out, the copy into the file, 132
    void onSetID() {}
    void onSetAutoPath() {}
    void onSetPathPC() {}
    void onSetPathMac() {}
    void onSetGuiUpdate() {}

    // openpresetfilename / openbankfilename of a manager whose panels open in folder: the folder
    // chain of its start settings (below), then the open panel for the kind's files. The chosen
    // file; nothing when the panel was cancelled. [GUI thread; modal]
    static std::optional<std::filesystem::path> openPanel(const preset_bank::StartupPath& settings, bool autoPath,
                                                          FileKind kind, const std::filesystem::path& folder);
    // Creates base folder + "Quorvane" + "/" + ID + "/Presetbase" + "/Presets" or "/Banks", each
    // level with mode 0777, failures ignored. Only with a base folder of PathMac: with AutoPath
    // on there is none, and a chain from the empty text would start at the file system root.
    static void buildFolderChain(const preset_bank::StartupPath& settings, bool autoPath, FileKind kind);
    static const char* fileType(FileKind kind) { return kind == FileKind::Preset ? "tavpreset" : "tavbank"; }

    // Each manager's own handlers.
    virtual void onSetPresetList() = 0;
    virtual void onSetPresetName() = 0;
    virtual void onSetSavePreset() = 0;
    virtual void onSetNameSave() = 0;

protected:
    // Where the two managers' shared handlers differ.
    struct Rules {
        bool presetLoadShowsNameSave;  // a preset file load shows the name on NameSave too
        bool bankLoadSetsPresetNumber; // a bank file load sets PresetNumber to 0 itself
        std::size_t chosenPathLimit;   // longest chosen path the processing half takes
        bool chosenPathOneLine;        // the chosen path travels as one line of a file
    };
    explicit ListManagerGui(const Rules& rules);

    // The current preset gets the name on PresetName (or just a message asks for it) and the
    // processing half stores the live values into it.
    virtual void FixPreset() = 0;
    // The chosen path (empty after a cancel) to the processing half.
    virtual void SavePath() = 0;
    // savepresetfilename / savebankfilename: folder chain, then the save panel into the chosen
    // path.
    virtual void runSavePanel(FileKind kind, std::string_view suggestedName) = 0;

    static bool isSlot(int32_t value) { return value >= 0 && value < preset_bank::kPresets; }

    // --- Start ---------------------------------------------------------------------------------
    // The start both managers share: PresetList shows the list text; ID text, base folder and
    // startup bank path from the pins (the working path starts there); edit buffer and bank copy
    // zeroed; current preset = PresetNumber; PresetName shows its name.
    void showStartState();

    // --- Messages from the processing half -----------------------------------------------------
    // 0-127 (a selected slot), 128 (read the startup bank again) and 130-257 (current preset =
    // id - 130), which both processing halves send alike. false for any other id.
    bool takeCommonMessage(int32_t id);

    // --- Host ----------------------------------------------------------------------------------
    void send(int32_t id);
    // A text message carries its terminating zero.
    void sendText(int32_t id, std::string_view text);

    // --- Names and pins ------------------------------------------------------------------------
    // A text pin's value up to its first NUL character, as UTF-8 cut to a name slot at a
    // character boundary.
    static std::string pinName(const StringGuiPin& pin);
    // A name from a pin through the name editing rule (separators to spaces, 25 bytes or more
    // cut to 24); true when anything changed.
    static bool cleanName(std::string& name);
    // The name editing rule on PresetName, written back when it changed; the cleaned name.
    std::string takePresetName();
    static std::wstring wide(std::string_view bytes);
    void setTextPin(StringGuiPin& pin, std::string_view bytes);
    // List text from the name table onto PresetList (sent only when it changed).
    void updateList();
    // PresetName = NameSave = the name of slot.
    void showName(int slot);
    // NameSave, when not empty and taken through the name rule, becomes PresetName and the
    // current preset's name; the list is rebuilt. true when it did.
    bool takeNameSave();
    void pulseGuiUpdate();
    // PresetNumber value as the selected slot, when it is one.
    void selectFromPresetNumber();

    // --- Panels --------------------------------------------------------------------------------
    // The folder chain of this manager's settings and AutoPath pin.
    void buildFolderChain(FileKind kind) const { buildFolderChain(settings_, autoPath_.getValue(), kind); }
    // The fixed folder the panels open in.
    static std::filesystem::path panelFolder(FileKind kind);
    // openpresetfilename / openbankfilename: folder chain, then the open panel.
    void runOpenPanel(FileKind kind);
    // The open or save panel, then the chosen path (empty after a cancel) to the processing
    // half; true when a file was chosen and has become the working path.
    bool chooseToOpen(FileKind kind);
    bool chooseToSave(FileKind kind, std::string_view suggestedName);
    // The chosen path from a panel's answer: refused like a cancel when longer than the rules'
    // limit, holding a NUL, or (chosenPathOneLine) a line break; never cut to another file's name.
    void takeChosen(const std::optional<std::filesystem::path>& answer);
    // Working path = chosen path; false when it is refused.
    bool useChosenPath();

    // --- Files on the interface copy ------------------------------------------------------------
    // Preset file at the working path into the current name and the edit buffer; then the list,
    // the name pins (NameSave only by the rules) and the GuiUpdate pulse. false when it could not
    // be opened (nothing changes).
    bool loadPresetFile();
    // Bank file at the path into the name table and bank copy; then the GuiUpdate pulse when the
    // current preset was 0, current preset 0 (PresetNumber too by the rules, and always for the
    // startup bank), the list and PresetName. false when it could not be opened (nothing changes).
    bool loadBankFile(std::string_view path, bool setPresetNumber);
    // LoadStartupBank: the startup bank file, then the NameSave restore, also when the file is
    // missing.
    void loadStartupBank();
    bool savePresetFile();
    bool saveBankFile();

    // --- Pins ----------------------------------------------------------------------------------
    MpGuiPin<int32_t> presetNumber_;
    StringGuiPin presetList_;
    StringGuiPin presetName_;
    MpGuiPin<bool> loadPresetPin_;
    MpGuiPin<bool> savePresetPin_;
    MpGuiPin<bool> fixPresetPin_;
    MpGuiPin<bool> loadBankPin_;
    MpGuiPin<bool> saveBankPin_;
    StringGuiPin idPin_;
    MpGuiPin<bool> autoPath_;
    StringGuiPin pathPC_;
    StringGuiPin pathMac_;
    MpGuiPin<bool> guiUpdate_;
    StringGuiPin nameSave_;

    // --- State ---------------------------------------------------------------------------------
    preset_bank::NameTable names_;
    std::string listText_;                  // numbered list text of names
    preset_bank::PresetValues editBuffer_{}; // one preset read from or written to a preset file
    preset_bank::BankMemory bankCopy_;       // the bank read from or written to a bank file
    int current_ = 0;                       // current preset, 0-127
    ReleaseButton loadPresetButton_, savePresetButton_, fixPresetButton_, loadBankButton_, saveBankButton_;
    std::string chosenPath_;                // last panel's path; empty when cancelled or refused
    bool chosen_ = false;
    preset_bank::PathBuffer workingPath_;    // what the file readers and writers open
    preset_bank::PathBuffer startupPath_;    // the startup bank file
    preset_bank::StartupPath settings_;      // ID text and base folder from the pins

private:
    Rules rules_;
};
