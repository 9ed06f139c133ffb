// Shows 34 consecutive entries of the category manager's name list on row pins, scrolls the
// window, marks the selected entry's row and turns a click on a row into a number on
// PresetNumber. An instance starting at entry 104 of a search view's list is the command page:
// its rows are the manager's commands and follow the command highlight rules.
#include "Common/PinText.h"
#include "MpInterface.h"
#include "Utf8.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>

class Qv_listsplitter34Gui : public MpGuiBase {
public:
    enum Pin { kPresetNumber, kPresetList, kStartnumber, kMaxnumber, kPosition, kWasmouse, kFirstRow };
    enum RowPin { kName, kActive, kMouseA, kMouseB, kPinsPerRow };
    static constexpr int kRows = 34;
    static constexpr int kSlots = 128;
    static constexpr int kCommandPage = 104;      // first entry of the command page
    static constexpr std::size_t kMaxNameChars = 29;
    // The list's UTF-8 form, terminator aside: room for 128 names of the longest length stored,
    // four bytes a character, so names that are not plain ASCII never push the last ones out.
    static constexpr std::size_t kListBytes = kSlots * kMaxNameChars * 4 + kSlots - 1;

    Qv_listsplitter34Gui()
    {
        initializePin(kPresetNumber, presetNumber_, &Qv_listsplitter34Gui::onSetPresetNumber);
        initializePin(kPresetList, presetList_, &Qv_listsplitter34Gui::onSetPresetList);
        initializePin(kStartnumber, startnumber_, &Qv_listsplitter34Gui::onSetStartnumber);
        initializePin(kMaxnumber, maxnumber_, &Qv_listsplitter34Gui::onSetMaxnumber);
        initializePin(kPosition, position_, &Qv_listsplitter34Gui::onSetPosition);
        initializePin(kWasmouse, wasmouse_, &Qv_listsplitter34Gui::onSetWasmouse);
        registerRows(std::make_index_sequence<kRows>{});
        names_.fill("empty");
        names_[0] = "Default";
    }

    int32_t initialize() noexcept override
    {
        startupEcho_ = true;
        position_ = 1.0f;
        return mpapi::MP_RESULT_OK;
    }

    void onSetPresetNumber()
    {
        const int32_t n = presetNumber_.getValue();
        if (commandPage_ && n >= kCommandPage) {
            highlightCommand(n);
            return;
        }
        selected_ = n;
        if (firstValue_) {
            if (n >= 2)
                position_ = clampedPosition(1.0f - static_cast<float>(n) / 127.0f);
            UpdateActive();
            firstValue_ = false;
            return;
        }
        if (n > maxRow() + offset_) {
            scrollEcho_ = true;
            // Below 26 the position stays: not written, so a value the host gave (even NaN) is
            // never sent back.
            if (n >= 26)
                position_ = pagePosition(n);
            offset_ = offsetAt(position_.getValue());
            ResetActive();
            UpdateNames();
            UpdateActive();
        }
        if (n < int64_t{offset_} + startnumber()) {
            scrollEcho_ = true;
            ResetActive();
            offset_ = std::max(offset_ - maxRow() - 1, 0);
            UpdateNames();
            position_ = 1.0f - static_cast<float>(offset_) / static_cast<float>(scrollRange());
        }
        if (n == 0 && position_.getValue() != 1.0f)
            position_ = 1.0f;
        UpdateActive();
    }

    void onSetPresetList()
    {
        const std::string list = listBytes();
        if (list.empty()) {
            listReceived_ = true;
            keepCategory_ = false;
            return;
        }
        storeNames(list);
        UpdateNames();
        saveLabel_ = slotHolds(108, "         SAVE");
        if (!slotHolds(kCommandPage, "         SEARCH")) {
            commandPage_ = highlightsHeld_ = favourite_ = false;
            if (commandPageShown_) {
                ResetActive();
                commandPageShown_ = false;
            }
        } else if (startnumber() < kCommandPage) {
            previousFavourite_ = false;
            holdHighlights();
        } else {
            commandPage_ = true;
            favourite_ = slotHolds(108, "         FAVOURITE ");
            if (slotHolds(105, "         SET "))
                highlightsHeld_ = false;
            saveShown_ = slotHolds(108, "         SAVE");
            if (favourite_ != previousFavourite_)
                highlightsHeld_ = false;
            previousFavourite_ = favourite_;
            commandPageShown_ = true;
            if (!highlightsHeld_)
                showCommandHighlights();
            holdHighlights();
        }
        listReceived_ = true;
        keepCategory_ = false;
    }

    void onSetStartnumber() { refreshWindow(); }
    void onSetMaxnumber() { refreshWindow(); }

    // The first notification after initialize, and the first after each scroll this module made,
    // only echo its own write.
    void onSetPosition()
    {
        if (!scrollEcho_ && !startupEcho_) {
            ResetActive();
            offset_ = offsetAt(position_.getValue());
            UpdateNames();
            UpdateActive();
        }
        scrollEcho_ = startupEcho_ = false;
    }

    void onSetWasmouse() {}
    void onSetRowOutput() {}

    // A press latches the click pin; its release selects the row's slot.
    template <int ClickPin>
    void onSetMouse()
    {
        constexpr int row = ClickPin / 2 + 1;
        const bool pressed = rows_[row - 1].mouse[ClickPin % 2].getValue();
        wasmouse_ = true;
        if (pressed) {
            latches_[ClickPin] = true;
            return;
        }
        if (latches_[ClickPin]) {
            const int64_t slot = slotOfRow(row);
            if (slot >= 0 && slot < kSlots) {
                presetNumber_ = static_cast<int32_t>(slot);
                UpdateState();
            }
        }
        latches_[ClickPin] = false;
    }

    void UpdateNames()
    {
        for (int row = 1; row <= kRows; ++row) {
            const int64_t slot = slotOfRow(row);
            const std::string& name = slot >= 0 && slot < kSlots ? names_[static_cast<std::size_t>(slot)] : noName_;
            rows_[row - 1].name = utf8::toWide(name, utf8::OnError::Replace);
        }
    }

    void ResetActive()
    {
        if (commandPage_ || (saveLabel_ && selected_ > 109))
            return;
        sendHighlights(1, kRows, false);
    }

    void UpdateActive()
    {
        if (!commandPage_)
            ResetActive();
        for (int row = 1; row <= kRows; ++row)
            if (slotOfRow(row) == selected_)
                sendHighlight(row, true);
    }

    // A click taken: in list mode the selection; on the command page the command's highlights.
    void UpdateState()
    {
        const int32_t n = presetNumber_.getValue();
        if (!commandPage_) {
            selected_ = n;
            UpdateActive();
            wasmouse_ = false;
            firstValue_ = false;
            return;
        }
        switch (n) {
        case 104:
            setHighlight(2, false);
            setHighlight(1, true);
            break;
        case 105:
            setHighlight(1, false);
            setHighlight(2, true);
            sendHighlights(7, kRows, false);
            break;
        case 107:
        case 108:
            setHighlight(n == 107 ? 5 : 4, false);
            setHighlight(n == 107 ? 4 : 5, true);
            if (!saveLabel_)
                keepCategory_ = true;
            break;
        default:
            if (n >= 110) {
                sendHighlights(7, kRows, false);
                for (int row = 7; row <= kRows; ++row)
                    if (slotOfRow(row) == n)
                        sendHighlight(row, true);
            }
        }
    }

private:
    struct Row {
        StringGuiPin name;
        MpGuiPin<bool> active;
        std::array<MpGuiPin<bool>, 2> mouse; // a, b
    };

    template <std::size_t... R>
    void registerRows(std::index_sequence<R...>)
    {
        (registerRow<static_cast<int>(R)>(), ...);
    }

    template <int R>
    void registerRow()
    {
        const int base = kFirstRow + kPinsPerRow * R;
        Row& row = rows_[R];
        initializePin(base + kName, row.name, &Qv_listsplitter34Gui::onSetRowOutput);
        initializePin(base + kActive, row.active, &Qv_listsplitter34Gui::onSetRowOutput);
        initializePin(base + kMouseA, row.mouse[0], &Qv_listsplitter34Gui::onSetMouse<2 * R>);
        initializePin(base + kMouseB, row.mouse[1], &Qv_listsplitter34Gui::onSetMouse<2 * R + 1>);
    }

    // The window's arithmetic holds Maxnumber within 0..126 and Startnumber at 0 or above, so no
    // value of the patch divides by zero or shows rows of slots that do not exist.
    int32_t maxRow() const { return std::clamp(maxnumber_.getValue(), 0, kSlots - 2); }
    int32_t startnumber() const { return std::max(startnumber_.getValue(), 0); }
    int32_t scrollRange() const { return kSlots - 1 - maxRow(); }
    int64_t slotOfRow(int row) const { return int64_t{startnumber()} + offset_ + row - 1; }

    static float clampedPosition(float p) { return std::isnan(p) ? 1.0f : std::clamp(p, 0.0f, 1.0f); }

    // trunc((1 - Position) x (127 - Maxnumber)) in single precision, Position taken within 0..1.
    int32_t offsetAt(float position) const
    {
        const float p = clampedPosition(position);
        return static_cast<int32_t>((1.0f - p) * static_cast<float>(scrollRange()));
    }

    // The page a number of 26 or more below the window scrolls to.
    static float pagePosition(int32_t n)
    {
        if (n >= 104)
            return 0.0f;
        if (n >= 78)
            return 0.23f;
        if (n >= 52)
            return 0.49f;
        return 0.74f;
    }

    void refreshWindow()
    {
        ResetActive();
        if (listReceived_)
            UpdateNames();
        UpdateActive();
    }

    // The list's UTF-8 form within the buffer's limit, cut back to a whole character. Like any C
    // text it ends at its first zero character.
    std::string listBytes() const
    {
        std::wstring_view text = presetList_.getValue();
        text = text.substr(0, text.find(L'\0'));
        return std::string(pin_text::cutAtCharBoundary(utf8::fromWide(text, utf8::OnError::Replace), kListBytes));
    }

    // Names between commas, runs of commas counting as one; a name of 30 characters or more
    // leaves its slot as it was.
    void storeNames(std::string_view list)
    {
        int slot = 0;
        std::size_t pos = 0;
        while (slot < kSlots && pos < list.size()) {
            const std::size_t end = std::min(list.find(',', pos), list.size());
            if (end > pos) {
                const std::string_view name = list.substr(pos, end - pos);
                if (characters(name) <= kMaxNameChars)
                    names_[static_cast<std::size_t>(slot)] = name;
                ++slot;
            }
            pos = end + 1;
        }
    }

    static std::size_t characters(std::string_view utf8Text)
    {
        std::size_t count = 0;
        for (const char c : utf8Text)
            count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        return count;
    }

    bool slotHolds(int slot, std::string_view text) const
    {
        return names_[static_cast<std::size_t>(slot)].find(text) != std::string::npos;
    }

    void showCommandHighlights()
    {
        if (keepCategory_) {
            sendHighlights(1, 8, false);
            UpdateActive();
        } else {
            sendHighlights(1, kRows, false);
        }
        sendHighlight(1, true);
        sendHighlight(favourite_ ? 5 : 4, true);
        if (!keepCategory_)
            sendHighlight(7, true);
    }

    // In the edit mode the save row's highlights are sent afresh with every list.
    void holdHighlights()
    {
        highlightsHeld_ = true;
        if (!saveShown_)
            return;
        sendHighlight(1, false);
        sendHighlight(2, false);
        sendHighlight(2, true);
        sendHighlight(4, false);
        sendHighlight(5, false);
        sendHighlight(4, true);
        highlightsHeld_ = false;
    }

    // A command value arriving on the command page moves its highlights.
    void highlightCommand(int32_t n)
    {
        if (n >= 110 && n <= 127) {
            sendHighlights(7, kRows, false);
            sendHighlight(n - 103, true);
        } else if (n == 108) {
            sendHighlight(4, false);
            sendHighlight(5, true);
        } else if (n == 105) {
            sendHighlight(1, false);
            sendHighlight(2, true);
        }
    }

    // Direct transmit: reaches the host every time and leaves the pin's held value as it was.
    void sendHighlight(int row, bool on)
    {
        const unsigned char byte = on ? 1 : 0;
        pinTransmit(kFirstRow + kPinsPerRow * (row - 1) + kActive, 1, &byte, 0);
    }
    void sendHighlights(int firstRow, int lastRow, bool on)
    {
        for (int row = firstRow; row <= lastRow; ++row)
            sendHighlight(row, on);
    }
    void setHighlight(int row, bool on) { rows_[row - 1].active = on; }

    MpGuiPin<int32_t> presetNumber_;
    StringGuiPin presetList_;
    MpGuiPin<int32_t> startnumber_;
    MpGuiPin<int32_t> maxnumber_;
    MpGuiPin<float> position_;
    MpGuiPin<bool> wasmouse_;
    std::array<Row, kRows> rows_;

    std::array<bool, 2 * kRows> latches_{};     // click pin seen pressed, not yet released
    std::array<std::string, kSlots> names_;     // the name table, by list position
    const std::string noName_;                  // what a row past the table shows
    int32_t selected_ = 0;                      // PresetNumber last taken as a selection
    int32_t offset_ = 0;                        // scroll offset, slots
    bool listReceived_ = false;
    bool firstValue_ = true;                    // no selection taken since construction
    bool scrollEcho_ = false;                   // next Position notification echoes our scroll
    bool startupEcho_ = false;                  // next Position notification echoes initialize
    bool commandPage_ = false;
    bool highlightsHeld_ = false;
    bool favourite_ = false;                    // favourite filter on in the last list
    bool previousFavourite_ = false;
    bool commandPageShown_ = false;
    bool saveShown_ = false;
    bool saveLabel_ = false;                    // the list's entry 108 is the edit mode's save
    bool keepCategory_ = false;                 // last command click chose all or favourite
};

MP_REGISTER_MODULE(Qv_listsplitter34Gui, L"QV_ListSplitter34")
