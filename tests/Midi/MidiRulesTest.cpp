// The MIDI rule texts: the parser over accepted and rejected texts, and the rule text a pin
// value becomes.
#include "Midi/MidiRules.h"

#include <gtest/gtest.h>

#include <string>

using namespace midi_rules;

namespace {

TEST(MidiRules, AcceptedTexts)
{
    auto r = parseRule("1, Ctrl, 7, 7, *, *, Y, 1, Ctrl, 11, 11, *, *");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->inChannel, 0);
    EXPECT_EQ(r->inStatus, kCtrl);
    EXPECT_EQ(r->in1Low, 7);
    EXPECT_EQ(r->in1High, 7);
    EXPECT_EQ(r->in2Low, kAny);
    EXPECT_EQ(r->in2High, kAny);
    EXPECT_EQ(r->continueFlag, 'Y');
    EXPECT_EQ(r->outChannel, 0);
    EXPECT_EQ(r->outStatus, kCtrl);
    EXPECT_EQ(r->out1a, 11);
    EXPECT_EQ(r->out2b, kAny);
    EXPECT_EQ(r->swap[0], 0);
    EXPECT_EQ(r->swap[1], 0);

    // Runs of separators, any case, 1-based program numbers, swap marks.
    r = parseRule(";;16;progchg:1\t128  0\r\n127,,n * PROGCHG 5 5 -3 +9 < >  extra");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->inChannel, 15);
    EXPECT_EQ(r->in1Low, 0);
    EXPECT_EQ(r->in1High, 127);
    EXPECT_EQ(r->continueFlag, 'N');
    EXPECT_EQ(r->outChannel, kAny);
    EXPECT_EQ(r->out1a, 4);
    EXPECT_EQ(r->out2a, -3);
    EXPECT_EQ(r->out2b, 9);
    EXPECT_EQ(r->swap[0], '<');
    EXPECT_EQ(r->swap[1], '>');

    // "*" as a status, other flags, a non-swap token that ends the swap marks, names as statuses.
    r = parseRule("* * * * * * maybe * discard 0 0 0 0 x <");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->inStatus, kAny);
    EXPECT_EQ(r->continueFlag, 0);
    EXPECT_EQ(r->outStatus, kDiscard);
    EXPECT_EQ(r->swap[0], 0);
    EXPECT_EQ(r->swap[1], 0);
    EXPECT_EQ(parseRule("1 NRPN 0 0 0 0 Y 1 rpn 0 0 0 0 >")->swap[0], '>');
    EXPECT_EQ(parseRule("1 NRPN 0 0 0 0 Y 1 rpn 0 0 0 0 >")->inStatus, kNrpn);
    EXPECT_EQ(parseRule("1 NRPN 0 0 0 0 Y 1 rpn 0 0 0 0 >")->outStatus, kRpn);

    // Numbers: leading integer, saturated, 0 without digits.
    EXPECT_EQ(convertNum("12abc"), 12);
    EXPECT_EQ(convertNum("abc"), 0);
    EXPECT_EQ(convertNum("-"), 0);
    EXPECT_EQ(convertNum("99999999999999999999999"), 1 << 20);
    EXPECT_EQ(convertNum("-99999999999999999999999"), -(1 << 20));
    // 129 is what "*" stands for; 1-based tokens take one off a number, never off "*".
    EXPECT_EQ(convertNum("129"), kAny);
    r = parseRule("130 ProgChg 129 130 129 * Y 129 progchg * 130 0 0");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->inChannel, kAny);
    EXPECT_EQ(r->in1Low, 128);
    EXPECT_EQ(r->in1High, kAny);
    EXPECT_EQ(r->in2Low, kAny);
    EXPECT_EQ(r->outChannel, 128);
    EXPECT_EQ(r->out1a, kAny);
    EXPECT_EQ(r->out1b, kAny);
    EXPECT_EQ(convertStat("KEYAFT"), kKeyAft);
    EXPECT_EQ(convertStat("NoteOnX"), -1);
}

TEST(MidiRules, RejectedTexts)
{
    for (const char* text : {"", " ,;:\t\r\n", "1 Ctrl 7 7 * * Y 1 Ctrl 11 11 *", "1 Ctl 7 7 * * Y 1 Ctrl 11 11 * *",
                             "1 Ctrl 7 7 * * Y 1 Controller 11 11 * *", "1 Ctrl 7 7 * * Y 1 \x01 11 11 * *"})
        EXPECT_FALSE(parseRule(text)) << text;
    // A terminator ends the text.
    EXPECT_FALSE(parseRule(std::string_view("1 Ctrl 7 7 * * Y\0 1 Ctrl 11 11 * *", 35)));
}

TEST(MidiRules, RuleTextIsUtf8WithinNinetyNineBytes)
{
    char out[kRuleTextBytes + 1];
    EXPECT_EQ(ruleText(std::wstring(120, L'x'), out), 99u);
    EXPECT_EQ(std::string(out), std::string(99, 'x'));
    EXPECT_EQ(ruleText(std::wstring(98, L'x') + L"\u00e9", out), 98u);  // no split character
    EXPECT_EQ(ruleText(L"a\u00e9\U0001F600", out), 7u);
    EXPECT_EQ(std::string(out), "a\xC3\xA9\xF0\x9F\x98\x80");
    std::wstring bad = L"a";
    bad += static_cast<wchar_t>(0xD800);
    bad += static_cast<wchar_t>(0x110000);
    EXPECT_EQ(ruleText(bad, out), 3u);
    EXPECT_EQ(std::string(out), "a??");
}

} // namespace
