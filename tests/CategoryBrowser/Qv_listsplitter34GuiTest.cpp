// The 34-row list view: rows, scrolling, highlights and clicks, as the host sees its pins.
#include "framework/HostTestSupport.h"

#include <cmath>
#include <limits>

using namespace tav_host;
using test_support::add;

namespace {

enum Pin { kPresetNumber, kPresetList, kStartnumber, kMaxnumber, kPosition, kWasmouse };
constexpr int namePin(int row) { return 4 * row + 2; }
constexpr int activePin(int row) { return 4 * row + 3; }
constexpr int mousePin(int row, bool b = false) { return 4 * row + 4 + (b ? 1 : 0); }

// 128 entries "s0" ... "s127", with some replaced.
std::string nameList(std::map<int, std::string> replaced = {})
{
    std::string list;
    for (int i = 0; i < 128; ++i) {
        if (i)
            list += ',';
        list += replaced.count(i) ? replaced[i] : "s" + std::to_string(i);
    }
    return list;
}

// A search view's list: the command page's labels at 104 and up.
std::string commandList(const std::string& set, const std::string& entry108)
{
    std::map<int, std::string> labels = {{104, "         SEARCH"}, {105, set},        {106, "         "},
                                         {107, "         ALL"},    {108, entry108},   {109, "         "},
                                         {110, "         ALL"}};
    const char* categories[] = {"ARPEGGIOS", "BASS",   "BRASS", "CLAVINET",   "DRUMS",      "EFFECTS",
                                "EPIANO",    "LEADS",  "LFOPADS", "ORGANS",   "OTHER",      "PADS",
                                "PERCUSSIVE", "SAMPLEHOLD", "STABS", "STRINGS", "SWEEPS"};
    for (int i = 0; i < 17; ++i)
        labels[111 + i] = std::string(9, ' ') + categories[i];
    return nameList(labels);
}

class ListSplitter34 : public test_support::InterfaceHostTest {
protected:
    std::size_t view(int startnumber, int maxnumber)
    {
        const std::size_t m = add(host, "QV_ListSplitter34");
        host.setInitialValue(m, Side::Gui, kStartnumber, intValue(startnumber));
        host.setInitialValue(m, Side::Gui, kMaxnumber, intValue(maxnumber));
        host.start();
        return m;
    }
    std::vector<CallRecord> set(std::size_t m, int pin, Bytes value) { return transmitsAfter(m, pin, std::move(value)); }
    void click(std::size_t m, int row, bool b = false)
    {
        set(m, mousePin(row, b), boolValue(true));
        set(m, mousePin(row, b), boolValue(false));
    }
    // The highlight writes among calls, as (row, on), in order.
    static std::vector<std::pair<int, bool>> highlights(const std::vector<CallRecord>& calls)
    {
        std::vector<std::pair<int, bool>> out;
        for (const CallRecord& c : calls)
            if (c.pin >= activePin(1) && (c.pin - activePin(1)) % 4 == 0)
                out.emplace_back((c.pin - activePin(1)) / 4 + 1, c.data.at(0) != 0);
        return out;
    }
    // The highlights after a reset of all 34 rows: only the rows turned on.
    static std::vector<int> litAfterReset(const std::vector<CallRecord>& calls)
    {
        const auto h = highlights(calls);
        std::vector<int> lit;
        for (std::size_t i = 0; i < h.size(); ++i) {
            if (i < 34)
                EXPECT_EQ(h[i], std::make_pair(int(i) + 1, false));
            else if (h[i].second)
                lit.push_back(h[i].first);
        }
        return lit;
    }
    static std::optional<Bytes> lastOn(const std::vector<CallRecord>& calls, int pin)
    {
        std::optional<Bytes> value;
        for (const CallRecord& c : calls)
            if (c.pin == pin)
                value = c.data;
        return value;
    }
};

TEST_F(ListSplitter34, InitialiseTopsTheScrollAndSwallowsItsEcho)
{
    const std::size_t m = add(host, "QV_ListSplitter34");
    host.start();
    EXPECT_EQ(lastOn(host.callsOf(CallKind::TransmitPin, m), kPosition), floatValue(1.0f));
    EXPECT_TRUE(set(m, kPosition, floatValue(0.5f)).empty());
}

// Startnumber 0, offset 10: a press and release of row 3 selects slot 12 and lights row 3.
TEST_F(ListSplitter34, ClickSelectsTheRowsSlot)
{
    const std::size_t m = view(0, 27);
    set(m, kPresetList, textValue(nameList()));
    set(m, kPosition, floatValue(1.0f));  // the start-up echo
    const auto scrolled = set(m, kPosition, floatValue(0.9f));
    EXPECT_EQ(lastOn(scrolled, namePin(1)), textValue("s10"));
    EXPECT_EQ(lastOn(scrolled, namePin(34)), textValue("s43"));

    EXPECT_EQ(lastOn(set(m, mousePin(3), boolValue(true)), kWasmouse), boolValue(true));
    const auto release = set(m, mousePin(3), boolValue(false));
    EXPECT_EQ(lastOn(release, kPresetNumber), intValue(12));
    EXPECT_EQ(litAfterReset(release), std::vector<int>{3});
    EXPECT_EQ(lastOn(release, kWasmouse), boolValue(false));

    // Clicking the selected row again sends no number, only the highlights.
    set(m, mousePin(3), boolValue(true));
    const auto again = set(m, mousePin(3), boolValue(false));
    EXPECT_FALSE(lastOn(again, kPresetNumber));
    EXPECT_EQ(litAfterReset(again), std::vector<int>{3});

    // A release never pressed, or pressed on a and released on b, selects nothing.
    EXPECT_FALSE(lastOn(set(m, mousePin(5), boolValue(false)), kPresetNumber));
    set(m, mousePin(6), boolValue(true));
    EXPECT_FALSE(lastOn(set(m, mousePin(6, true), boolValue(false)), kPresetNumber));
}

TEST_F(ListSplitter34, NumbersScrollTheWindowByPages)
{
    const std::size_t m = view(0, 25);
    set(m, kPresetList, textValue(nameList()));
    // The first value only places the scroll and the highlight: 64 gives 1 - 64/127.
    const auto first = set(m, kPresetNumber, intValue(64));
    EXPECT_EQ(lastOn(first, kPosition), floatValue(1.0f - 64.0f / 127.0f));
    EXPECT_FALSE(lastOn(first, namePin(1)));
    set(m, kPosition, floatValue(1.0f));  // the window back to the top; offset 0

    // Below the window: the page of 40 starts at slot 26, row 15 lit; the echo changes nothing.
    const auto down = set(m, kPresetNumber, intValue(40));
    EXPECT_EQ(lastOn(down, kPosition), floatValue(0.74f));
    EXPECT_EQ(lastOn(down, namePin(1)), textValue("s26"));
    EXPECT_EQ(lastOn(down, namePin(34)), textValue("s59"));
    EXPECT_EQ(highlights(down).back(), std::make_pair(15, true));
    EXPECT_TRUE(set(m, kPosition, floatValue(0.74f)).empty());

    // Above the window: one page back only, from 52 to 26, nothing lit.
    set(m, kPosition, floatValue(0.49f));  // offset 52
    const auto up = set(m, kPresetNumber, intValue(5));
    EXPECT_EQ(lastOn(up, namePin(1)), textValue("s26"));
    EXPECT_EQ(lastOn(up, kPosition), floatValue(1.0f - 26.0f / 102.0f));
    for (const auto& [row, on] : highlights(up))
        EXPECT_FALSE(on) << row;

    // Number 0 from the middle: a page back, then the scroll to the top; the rows stay.
    set(m, kPosition, floatValue(1.0f - 26.0f / 102.0f));  // the echo
    set(m, kPosition, floatValue(0.5f));                   // offset 51
    const auto top = set(m, kPresetNumber, intValue(0));
    EXPECT_EQ(lastOn(top, namePin(1)), textValue("s25"));
    std::vector<Bytes> positions;
    for (const CallRecord& c : top)
        if (c.pin == kPosition)
            positions.push_back(c.data);
    EXPECT_EQ(positions, (std::vector<Bytes>{floatValue(1.0f - 25.0f / 102.0f), floatValue(1.0f)}));
}

// Until the first selection a number only places the scroll: 0 and 1 leave it where it is. A
// click taken in list mode ends that state, so the next number scrolls by pages.
TEST_F(ListSplitter34, FirstValueRules)
{
    const std::size_t m = view(0, 25);
    set(m, kPresetList, textValue(nameList()));
    set(m, kPosition, floatValue(0.5f));  // the start-up echo: stored, nothing moves
    const auto one = set(m, kPresetNumber, intValue(1));
    EXPECT_FALSE(lastOn(one, kPosition));
    EXPECT_EQ(litAfterReset(one), std::vector<int>{2});

    const std::size_t c = view(0, 25);
    set(c, kMaxnumber, intValue(25));  // the host has started: initial values no longer apply
    set(c, kPresetList, textValue(nameList()));
    click(c, 3);
    const auto scrolled = set(c, kPresetNumber, intValue(64));
    EXPECT_EQ(lastOn(scrolled, kPosition), floatValue(0.49f));
    EXPECT_EQ(lastOn(scrolled, namePin(1)), textValue("s52"));
    EXPECT_EQ(litAfterReset(scrolled), (std::vector<int>{13, 13}));  // the scroll's and the final update
}

// Startnumber and Maxnumber refresh the rows (names only once a list came) and never move the
// window.
TEST_F(ListSplitter34, StartAndMaxnumberKeepTheWindow)
{
    const std::size_t m = view(0, 25);
    const auto early = set(m, kMaxnumber, intValue(30));
    EXPECT_FALSE(lastOn(early, namePin(1)));
    // All off, then UpdateActive: all off again and row 1 (slot 0) on.
    EXPECT_EQ(highlights(early).size(), 69u);
    EXPECT_EQ(highlights(early).back(), std::make_pair(1, true));
    set(m, kMaxnumber, intValue(25));
    set(m, kPresetList, textValue(nameList()));
    set(m, kPosition, floatValue(1.0f));  // the start-up echo
    set(m, kPosition, floatValue(0.9f));  // offset 10
    EXPECT_EQ(lastOn(set(m, kStartnumber, intValue(5)), namePin(1)), textValue("s15"));
    const auto max = set(m, kMaxnumber, intValue(30));
    EXPECT_FALSE(lastOn(max, namePin(1)));
    EXPECT_EQ(highlights(max).size(), 68u);  // slot 0 is above the window: nothing lit
}

TEST_F(ListSplitter34, NameListRulesForLongAndEmptyNames)
{
    const std::size_t m = view(0, 33);
    // A 29-character name is stored; one of 30 is not, and its slot keeps its earlier name.
    const auto first = set(m, kPresetList, textValue(nameList({{1, std::string(29, 'a')}, {2, std::string(30, 'b')}})));
    EXPECT_EQ(lastOn(first, namePin(2)), textValue(std::string(29, 'a')));
    EXPECT_EQ(lastOn(first, namePin(3)), textValue("empty"));
    EXPECT_EQ(lastOn(first, namePin(4)), textValue("s3"));

    // Runs of commas count as one; names are measured in characters, not bytes; slots past the
    // last name keep theirs.
    const std::string accented = std::string(25, 'b') + "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
    const auto second = set(m, kPresetList, textValue("x,,y," + std::string(30, 'c') + "," + accented));
    EXPECT_EQ(lastOn(second, namePin(1)), textValue("x"));
    EXPECT_EQ(lastOn(second, namePin(2)), textValue("y"));
    EXPECT_FALSE(lastOn(second, namePin(3)));  // still "empty": nothing transmitted
    EXPECT_EQ(lastOn(second, namePin(4)), textValue(accented));
    EXPECT_FALSE(lastOn(second, namePin(5)));

    // An empty list changes nothing, nor does one that starts with a zero character; a list ends
    // at its first zero character.
    EXPECT_TRUE(set(m, kPresetList, Bytes{}).empty());
    EXPECT_TRUE(set(m, kPresetList, textValue(std::string_view("\0s,t", 4))).empty());
    const auto cut = set(m, kPresetList, textValue(std::string_view("p,q\0r,s", 7)));
    EXPECT_EQ(lastOn(cut, namePin(1)), textValue("p"));
    EXPECT_EQ(lastOn(cut, namePin(2)), textValue("q"));
    EXPECT_EQ(cut.size(), 2u);
}

TEST_F(ListSplitter34, CommandPageHighlights)
{
    const std::size_t m = view(104, 33);
    const std::string plain = commandList("         SET", "         FAVOURITE");
    const auto first = set(m, kPresetList, textValue(plain));
    EXPECT_EQ(lastOn(first, namePin(1)), textValue("         SEARCH"));
    EXPECT_EQ(litAfterReset(first), (std::vector<int>{1, 4, 7}));
    EXPECT_TRUE(highlights(set(m, kPresetList, textValue(plain + " "))).empty());  // held

    // The favourite filter on moves the highlight from row 4 to row 5; the same list again is quiet.
    const std::string favourite = commandList("         SET", "         FAVOURITE ");
    EXPECT_EQ(litAfterReset(set(m, kPresetList, textValue(favourite))), (std::vector<int>{1, 5, 7}));
    EXPECT_TRUE(highlights(set(m, kPresetList, textValue(favourite + " "))).empty());

    // Command values arriving on PresetNumber.
    const auto category = highlights(set(m, kPresetNumber, intValue(115)));
    ASSERT_EQ(category.size(), 29u);
    EXPECT_EQ(category.front(), std::make_pair(7, false));
    EXPECT_EQ(category.back(), std::make_pair(12, true));
    EXPECT_TRUE(highlights(set(m, kPresetNumber, intValue(104))).empty());
    EXPECT_EQ(highlights(set(m, kPresetNumber, intValue(108))), (std::vector<std::pair<int, bool>>{{4, false}, {5, true}}));

    // Edit mode: every list applies the highlights again, then the save row's sequence.
    const auto edit = highlights(set(m, kPresetList, textValue(commandList("         SET", "         SAVE"))));
    const std::vector<std::pair<int, bool>> tail = {{1, false}, {2, false}, {2, true}, {4, false}, {5, false}, {4, true}};
    ASSERT_EQ(edit.size(), 34u + 3u + tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), edit.end() - 6));
    EXPECT_EQ(highlights(set(m, kPresetList, textValue(commandList("         SET", "         SAVE") + " "))).size(), edit.size());

    // A list without the search label leaves the command page: all 34 rows off (the selection is 0).
    const auto left = highlights(set(m, kPresetList, textValue(nameList())));
    ASSERT_EQ(left.size(), 34u);
    EXPECT_FALSE(left.back().second);
}

// Leaving the command page with entry 108 holding the save label and a selection above 109 keeps
// the highlights.
TEST_F(ListSplitter34, LeavingTheCommandPageInEditModeKeepsHighlights)
{
    const std::size_t m = view(104, 33);
    EXPECT_EQ(litAfterReset(set(m, kPresetNumber, intValue(115))), std::vector<int>{12});  // list mode
    set(m, kPresetList, textValue(commandList("         SET", "         FAVOURITE")));
    EXPECT_TRUE(highlights(set(m, kPresetList, textValue(nameList({{108, "         SAVE"}})))).empty());
}

// A click on "all" or "favourite" outside the edit mode keeps the category row: the next list
// turns off rows 1-8 only and does not light row 7.
TEST_F(ListSplitter34, FavouriteClickKeepsTheCategory)
{
    const std::size_t m = view(104, 33);
    set(m, kPresetList, textValue(commandList("         SET", "         FAVOURITE")));
    click(m, 5);
    const auto clicked = host.callsOf(CallKind::TransmitPin, m);
    EXPECT_EQ(lastOn(clicked, kPresetNumber), intValue(108));
    EXPECT_EQ(highlights(clicked), (std::vector<std::pair<int, bool>>{{5, true}}));  // row 4 held false already
    const auto next = highlights(set(m, kPresetList, textValue(commandList("         SET", "         FAVOURITE "))));
    std::vector<std::pair<int, bool>> expected;
    for (int row = 1; row <= 8; ++row)
        expected.emplace_back(row, false);
    expected.insert(expected.end(), {{1, true}, {5, true}});
    EXPECT_EQ(next, expected);
    // The flag lasts one list: the filter off again lights row 7 among all 34.
    EXPECT_EQ(litAfterReset(set(m, kPresetList, textValue(commandList("         SET", "         FAVOURITE")))),
              (std::vector<int>{1, 4, 7}));
}

TEST_F(ListSplitter34, CommandClicksSetTheirHighlights)
{
    const std::size_t m = view(104, 33);
    set(m, kPresetList, textValue(commandList("         SET", "         FAVOURITE")));
    click(m, 2);  // SET: rows 1 off, 2 on through the pins, then rows 7-34 sent off
    const auto set105 = host.callsOf(CallKind::TransmitPin, m);
    EXPECT_EQ(lastOn(set105, kPresetNumber), intValue(105));
    const auto h = highlights(set105);
    ASSERT_EQ(h.size(), 29u);
    EXPECT_EQ(h[0], std::make_pair(2, true));  // row 1 held false already: only row 2 transmitted
    click(m, 12);  // category 115
    const auto h115 = highlights(host.callsOf(CallKind::TransmitPin, m));
    EXPECT_EQ(h115.back(), std::make_pair(12, true));
    EXPECT_EQ(h115.size(), 29u);
}

// Patch values outside their ranges never divide by zero or show slots that do not exist.
TEST_F(ListSplitter34, OddPatchValuesStayBounded)
{
    const std::size_t m = view(120, 127);
    const auto rows = set(m, kPresetList, textValue(nameList()));
    EXPECT_EQ(lastOn(rows, namePin(8)), textValue("s127"));
    EXPECT_EQ(lastOn(rows, namePin(9)), textValue(""));  // no slot past 127
    set(m, kPosition, floatValue(0.0f));
    set(m, kPosition, floatValue(std::numeric_limits<float>::quiet_NaN()));
    set(m, kPosition, floatValue(-3.0f));
    set(m, kMaxnumber, intValue(200));
    click(m, 9);  // slot 128: nothing selected
    EXPECT_FALSE(lastOn(host.callsOf(CallKind::TransmitPin, m), kPresetNumber));
    set(m, kStartnumber, intValue(std::numeric_limits<std::int32_t>::max()));
    click(m, 1);
    EXPECT_FALSE(lastOn(host.callsOf(CallKind::TransmitPin, m), kPresetNumber));
    set(m, kPresetNumber, intValue(std::numeric_limits<std::int32_t>::min()));
    set(m, kPresetList, textValue(std::string(10000, 'x') + ",\xC3\xA9"));

    // A number above the window's first slot near the int32 limit: one page back, to the top.
    const std::size_t far = view(0, 25);
    set(far, kMaxnumber, intValue(25));  // the host has started: initial values no longer apply
    set(far, kPresetNumber, intValue(0));  // the first value
    set(far, kPosition, floatValue(1.0f));  // the start-up echo
    set(far, kPosition, floatValue(0.9f));  // offset 10
    set(far, kStartnumber, intValue(std::numeric_limits<std::int32_t>::max()));
    EXPECT_EQ(lastOn(set(far, kPresetNumber, intValue(5)), kPosition), floatValue(1.0f));
}

// A number below the window but under 26 keeps the position without writing it, so the host's
// NaN is never sent back; a list of names that are not plain ASCII is taken whole, its last
// names not pushed out by their byte count.
TEST_F(ListSplitter34, NaNPositionStaysUnsentAndWideListsStayWhole)
{
    const std::size_t m = view(0, 5);
    set(m, kPresetList, textValue(nameList()));
    set(m, kPresetNumber, intValue(0));  // the first value
    for (int i = 0; i < 2; ++i)          // the first may be taken as the start-up echo
        set(m, kPosition, floatValue(std::numeric_limits<float>::quiet_NaN()));
    const auto below = set(m, kPresetNumber, intValue(10));
    EXPECT_FALSE(lastOn(below, kPosition));
    EXPECT_FALSE(lastOn(below, namePin(1)));  // the window stays
    EXPECT_EQ(lastOn(set(m, kPresetNumber, intValue(40)), kPosition), floatValue(0.74f));

    const std::size_t wide = view(94, 33);
    set(wide, kStartnumber, intValue(94));  // the host has started: initial values no longer apply
    std::map<int, std::string> names;
    std::string accents;
    for (int i = 0; i < 20; ++i)
        accents += "\xC3\xA9";
    for (int i = 0; i < 128; ++i)
        names[i] = std::to_string(i) + accents;
    const auto rows = set(wide, kPresetList, textValue(nameList(names)));
    EXPECT_EQ(lastOn(rows, namePin(1)), textValue(names[94]));
    EXPECT_EQ(lastOn(rows, namePin(34)), textValue(names[127]));
}

} // namespace
