// The preset bank's files and texts: exact bytes written, what the readers take from good and
// malformed files, the name rules, number text in any locale, and the path rules.
#include "Common/PinText.h"
#include "PresetStore/ManagerTestSupport.h"
#include "PresetStore/PresetBank.h"
#include "framework/RecordingHosts.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <sys/stat.h>

namespace {

using namespace pin_text;
using namespace preset_bank;
using namespace std::string_literals;
using manager_test::readBytes;
using manager_test::writeBytes;

class PresetBankTest : public ::testing::Test {
protected:
    test_support::TemporarySharedFolder folder;
    std::unique_ptr<BankMemory> bank = std::make_unique<BankMemory>();
    NameTable names;
    PresetValues values{};

    std::string file(const std::string& name) const { return (folder.path() / name).string(); }

    // A preset file text: a name line and one line per value, as given.
    static std::string presetLines(std::string_view nameLine, std::initializer_list<std::string_view> lines)
    {
        std::string text(nameLine);
        text += "\r\n";
        for (auto line : lines) {
            text += line;
            text += "\r\n";
        }
        return text;
    }

    void fillPattern(BankMemory& target) const
    {
        for (int p = 0; p < kPresets; ++p)
            for (int k = 0; k < kSlots; ++k)
                target.set(p, k, static_cast<float>((p * 7 + k * 13) % 2000) / 37.0f - 20.0f);
    }
};

// A preset file is the name line and 256 value lines of 15 bytes: 3868 bytes for a name of up to
// 24 bytes and values between -99.9999999 and 999.9999999; wider values and longer names grow it.
// NaN and infinities print as printf prints them.
TEST_F(PresetBankTest, PresetFileBytes)
{
    ASSERT_TRUE(SavePreset(file("a.tavpreset"), names.view(0), PresetValues{}));
    EXPECT_EQ(readBytes(file("a.tavpreset")), manager_test::presetText("Default", {}));

    const float written[] = {0.017f, -4.0f, 999.9999f, -99.99f, 0.191015f, -0.0f, NAN, -INFINITY};
    std::copy(std::begin(written), std::end(written), values);
    std::string text = presetFileText("Lead", values);
    ASSERT_EQ(text.size(), 3868u);
    EXPECT_EQ(text.substr(0, 28), ",                    Lead;\r\n");
    EXPECT_EQ(text.substr(28, 15 * 8), ",  0.0170000;\r\n, -4.0000000;\r\n,999.9998779;\r\n,-99.9899979;\r\n"
                                       ",  0.1910150;\r\n, -0.0000000;\r\n,        nan;\r\n,       -inf;\r\n");

    values[8] = 1000.0f;  // 12 columns
    EXPECT_EQ(presetFileText("Lead", values).size(), 3869u);
    EXPECT_EQ(presetFileText("Lead", values).substr(28 + 15 * 8, 16), ",1000.0000000;\r\n");
    // A 25-byte name is written without leading spaces and moves everything after it.
    const std::string longName(25, 'x');
    EXPECT_EQ(presetFileText(longName, values).substr(0, 29), "," + longName + ";\r\n");
}

// A bank file is the names line (3203 bytes) and 256 rows of 1539 bytes, row k holding slot k of
// every preset: 397,187 bytes, written atomically (no temporary file stays beside it).
TEST_F(PresetBankTest, BankFileBytes)
{
    bank->set(2, 0, 0.017f);
    bank->set(0, 1, -4.0f);
    names.setName(1, "Lead");
    ASSERT_TRUE(SaveBank(file("b.tavbank"), names, *bank));
    const std::string text = readBytes(file("b.tavbank"));
    EXPECT_EQ(text.size(), 397187u);
    EXPECT_EQ(text, manager_test::bankText(manager_test::namesWith({{1, "Lead"}}),
                                          [&](int p, int k) { return bank->get(p, k); }));
    EXPECT_EQ(text.substr(3203 + 2 * 12, 12), ",  0.0170000");
    EXPECT_EQ(text.substr(3203 + 1539, 12), ", -4.0000000");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

// What was saved comes back: names unchanged, values as the float nearest their printed text. A full names line leaves its column at 127, yet
// values start at column 0 in every row, and lines after row 255 change nothing.
TEST_F(PresetBankTest, BankRoundTrip)
{
    fillPattern(*bank);
    names.setName(0, std::string(24, 'A'));
    names.setName(1, std::string(25, 'B'));
    names.setName(2, "two  words ");
    names.setName(127, "Last");
    ASSERT_TRUE(SaveBank(file("r.tavbank"), names, *bank));
    writeBytes(file("r.tavbank"), readBytes(file("r.tavbank")) + ",99;\r\n,98;\r\n");

    for (const FieldConversion conversion : {FieldConversion::Atof, FieldConversion::Decimal}) {
        NameTable readNames;
        auto readBank = std::make_unique<BankMemory>();
        ASSERT_TRUE(LoadBank(file("r.tavbank"), readNames, *readBank, conversion));
        for (int p = 0; p < kPresets; ++p) {
            ASSERT_STREQ(readNames.name(p), names.name(p)) << p;
            for (int k = 0; k < kSlots; ++k) {
                char printed[32];
                std::snprintf(printed, sizeof printed, "%.7f", static_cast<double>(bank->get(p, k)));
                const float expected = std::strtof(printed, nullptr);
                ASSERT_EQ(readBank->get(p, k), expected) << p << " " << k;
            }
        }
    }
}

// Values never creep: over random banks in the ranges presets use, save, load, save writes the
// same file byte for byte with either conversion, every value read is the float nearest its text,
// and a value the text pins down (a float wider than 1e-7 apart from its neighbours, so from
// magnitude 1 on) comes back exactly. The preset file reader gives the same values.
TEST_F(PresetBankTest, SaveLoadSaveIsStable)
{
    std::mt19937 random(14);
    const std::pair<float, float> ranges[] = {{0.0f, 1.0f}, {-1.0f, 1.0f}, {-20.0f, 34.0f}, {0.0f, 127.0f},
                                              {-99.9f, 999.9f}, {-20000.0f, 20000.0f}};
    for (const auto& [low, high] : ranges) {
        std::uniform_real_distribution<float> value(low, high);
        for (int p = 0; p < kPresets; ++p)
            for (int k = 0; k < kSlots; ++k)
                bank->set(p, k, value(random));
        ASSERT_TRUE(SaveBank(file("s.tavbank"), names, *bank));
        const std::string first = readBytes(file("s.tavbank"));
        for (const FieldConversion conversion : {FieldConversion::Decimal, FieldConversion::Atof}) {
            auto read = std::make_unique<BankMemory>();
            ASSERT_TRUE(LoadBank(file("s.tavbank"), names, *read, conversion));
            for (int p = 0; p < kPresets; ++p)
                for (int k = 0; k < kSlots; ++k) {
                    const float original = bank->get(p, k);
                    char printed[32];
                    std::snprintf(printed, sizeof printed, "%.7f", static_cast<double>(original));
                    ASSERT_EQ(read->get(p, k), std::strtof(printed, nullptr)) << printed;
                    if (std::fabs(original) >= 1.0f) {
                        ASSERT_EQ(read->get(p, k), original) << printed;
                    }
                }
            ASSERT_TRUE(SaveBank(file("t.tavbank"), names, *read));
            ASSERT_EQ(readBytes(file("t.tavbank")), first) << low << ".." << high;
        }
        ASSERT_TRUE(SavePreset(file("s.tavpreset"), "p", bank->preset(5)));
        ASSERT_TRUE(LoadPreset(file("s.tavpreset"), names, 0, values));
        ASSERT_TRUE(SavePreset(file("t.tavpreset"), "p", values));
        EXPECT_EQ(readBytes(file("t.tavpreset")), readBytes(file("s.tavpreset")));
    }
    // The value that crept in the field: saved as 845.9344482, read as exactly that float.
    writeBytes(file("c.tavbank"), ",a;\r\n,845.9344482;\r\n,-0.0000001;\r\n");
    ASSERT_TRUE(LoadBank(file("c.tavbank"), names, *bank, FieldConversion::Decimal));
    EXPECT_EQ(bank->get(0, 0), 845.9344482f);
    EXPECT_EQ(bank->get(0, 1), -1e-7f);
}

// The name-field rule: leading spaces and commas dropped, inner and trailing spaces kept,
// up to 25 bytes whole, 26 or more cut to 24.
TEST_F(PresetBankTest, NameFieldRule)
{
    const auto nameOf = [&](std::string_view nameLine) {
        writeBytes(file("n.tavpreset"), presetLines(nameLine, {}));
        NameTable table;
        EXPECT_TRUE(LoadPreset(file("n.tavpreset"), table, 3, values));
        return std::string(table.view(3));
    };
    EXPECT_EQ(nameOf(",   two words  ;"), "two words  ");
    EXPECT_EQ(nameOf(",a, b;"), "ab");
    EXPECT_EQ(nameOf("," + std::string(24, 'n') + ";"), std::string(24, 'n'));
    EXPECT_EQ(nameOf("," + std::string(25, 'n') + ";"), std::string(25, 'n'));
    EXPECT_EQ(nameOf("," + std::string(26, 'n') + ";"), std::string(24, 'n'));
    EXPECT_EQ(nameOf("," + std::string(40, 'n') + ";"), std::string(24, 'n'));
    EXPECT_EQ(nameOf(",first;,second;"), "second");  // each ";" stores; the last one stays
    EXPECT_EQ(nameOf(",no semicolon"), "empty");
    EXPECT_EQ(nameOf(",;"), "");
    // A cut never splits a UTF-8 character: 23 bytes and a 3-byte character make 26 bytes.
    EXPECT_EQ(nameOf("," + std::string(23, 'n') + "\xE2\x82\xAC" + "x;"), std::string(23, 'n'));
    // NUL bytes are dropped rather than ending the stored name early.
    EXPECT_EQ(nameOf(std::string(",ab\0cd;", 7)), "abcd");
}

// The preset reader: values in file order from line 2 on, ";" ends a value, other bytes dropped,
// what atof makes of the rest, at most 20 digits and 256 values; slots without a value keep
// their contents.
TEST_F(PresetBankTest, PresetReaderValues)
{
    std::fill(std::begin(values), std::end(values), 9.0f);
    // The first line is the name line whatever it holds; "1-2" reads as 1 (atof stops at "-").
    writeBytes(file("p.tavpreset"), presetLines(",  0.0170000;", {", 1-2;", ",-3.5;,  2.25;", "x7y;", "nan;", "-inf;",
                                                                  "1e5;", "1.2.3;", "--5;", "-.5;"}));
    ASSERT_TRUE(LoadPreset(file("p.tavpreset"), names, 0, values));
    EXPECT_STREQ(names.name(0), "0.0170000");
    // "nan" gives no number, "-" alone neither; "e" is dropped: digits 1 and 5.
    const float expected[] = {1.0f, -3.5f, 2.25f, 7.0f, 0.0f, 0.0f, 15.0f, 1.2f, 0.0f, -0.5f, 9.0f};
    for (std::size_t k = 0; k < std::size(expected); ++k)
        EXPECT_EQ(values[k], expected[k]) << k;
    EXPECT_EQ(values[255], 9.0f);

    // 300 values fill 256 slots; the rest are ignored.
    std::string many = ",Many;\r\n";
    for (int i = 0; i < 300; ++i)
        many += "," + std::to_string(i) + ";\r\n";
    writeBytes(file("m.tavpreset"), many);
    ASSERT_TRUE(LoadPreset(file("m.tavpreset"), names, 4, values));
    EXPECT_STREQ(names.name(4), "Many");
    EXPECT_EQ(values[0], 0.0f);
    EXPECT_EQ(values[255], 255.0f);

    // At most 20 digits per value: the rest are dropped, and the value stays finite.
    writeBytes(file("d.tavpreset"), ",D;\r\n," + std::string(400, '9') + ";\r\n,1" + std::string(30, '0') + ";\r\n");
    ASSERT_TRUE(LoadPreset(file("d.tavpreset"), names, 4, values));
    EXPECT_EQ(values[0], 1e20f);
    EXPECT_EQ(values[1], 1e19f);

    // Into the shared preset block only the slots read change; the name goes to the current slot.
    struct BlockHost : test_support::RecordingHost {
        float memory[PresetBlock::kSlots];
        int32_t openSharedBlock(const wchar_t*, void** block, int32_t, int32_t* needsInit, float) override
        {
            *block = memory;
            *needsInit = 0;
            return 0;
        }
    } host;
    std::fill(std::begin(host.memory), std::end(host.memory), 4.0f);
    PresetBlock block;
    ASSERT_TRUE(block.open(&host));
    writeBytes(file("b.tavpreset"), presetLines(",Block;", {",1.5;", ",-2;"}));
    ASSERT_TRUE(LoadPreset(file("b.tavpreset"), names, 9, block));
    EXPECT_STREQ(names.name(9), "Block");
    EXPECT_EQ(host.memory[0], 1.5f);
    EXPECT_EQ(host.memory[1], -2.0f);
    EXPECT_EQ(host.memory[2], 4.0f);
    ASSERT_TRUE(SavePreset(file("b2.tavpreset"), names.view(9), block));
    EXPECT_EQ(readBytes(file("b2.tavpreset")).substr(0, 28 + 45),
              ",                   Block;\r\n,  1.5000000;\r\n, -2.0000000;\r\n,  4.0000000;\r\n");
}

// Malformed preset and bank files never crash and change only what they actually hold; a file
// that cannot be opened (missing, a folder, a pipe) changes nothing and reports false.
TEST_F(PresetBankTest, MalformedFiles)
{
    fillPattern(*bank);
    const auto before = std::make_unique<BankMemory>(*bank);
    values[0] = 3.0f;

    EXPECT_FALSE(LoadPreset(file("missing.tavpreset"), names, 0, values));
    EXPECT_FALSE(LoadName(file("missing.tavpreset"), names, 0));
    EXPECT_FALSE(LoadBank(file("missing.tavbank"), names, *bank, FieldConversion::Decimal));
    EXPECT_FALSE(LoadNames(file("missing.tavbank"), names));
    EXPECT_FALSE(LoadBank(folder.path().string(), names, *bank, FieldConversion::Atof));
    ASSERT_EQ(::mkfifo(file("pipe").c_str(), 0600), 0);
    EXPECT_FALSE(LoadBank(file("pipe"), names, *bank, FieldConversion::Decimal));  // no hang
    EXPECT_FALSE(LoadPreset(file("pipe"), names, 0, values));
    EXPECT_FALSE(LoadPreset("", names, 0, values));
    EXPECT_STREQ(names.name(0), "Default");
    EXPECT_EQ(values[0], 3.0f);
    EXPECT_EQ(std::memcmp(before.get(), bank.get(), sizeof(BankMemory)), 0);

    // An empty file and a file without line ends: opened, nothing taken.
    writeBytes(file("empty.tavbank"), "");
    EXPECT_TRUE(LoadBank(file("empty.tavbank"), names, *bank, FieldConversion::Decimal));
    writeBytes(file("oneline.tavpreset"), ",Only a name line;,1;,2;");
    EXPECT_TRUE(LoadPreset(file("oneline.tavpreset"), names, 0, values));
    EXPECT_STREQ(names.name(0), "2");  // the whole file is the name line: its last ";" names it
    EXPECT_EQ(values[0], 3.0f);
    EXPECT_EQ(std::memcmp(before.get(), bank.get(), sizeof(BankMemory)), 0);

    // A truncated bank file: the names and the rows before the cut are read, the rest kept.
    NameTable saved;
    saved.setName(0, "Saved");
    auto savedBank = std::make_unique<BankMemory>();
    ASSERT_TRUE(SaveBank(file("full.tavbank"), saved, *savedBank));
    const std::string full = readBytes(file("full.tavbank"));
    writeBytes(file("cut.tavbank"), full.substr(0, 3203 + 1539 * 2 + 12 * 3 + 5));
    ASSERT_TRUE(LoadBank(file("cut.tavbank"), names, *bank, FieldConversion::Decimal));
    EXPECT_STREQ(names.name(0), "Saved");
    EXPECT_EQ(bank->get(5, 0), 0.0f);
    EXPECT_EQ(bank->get(5, 1), 0.0f);
    EXPECT_EQ(bank->get(1, 2), 0.0f);
    EXPECT_EQ(bank->get(2, 2), 0.0f);
    EXPECT_EQ(bank->get(3, 2), before->get(3, 2));  // the interrupted field is never stored
    EXPECT_EQ(bank->get(5, 3), before->get(5, 3));

    // NUL bytes, letters, "nan" and "inf" are dropped; "-nan" is a lone "-": the decimal field
    // gives -0 and atof gives 0. Of a field of 60 digits the first 20 count.
    const std::string hostile = ",A\0B,C;\r\n,nan,-nan,inf,1\0" "2,x3.5y,"s + std::string(60, '9') + "," +
                                std::string(2'000'000, ' ') + "7;\r\n";
    writeBytes(file("hostile.tavbank"), hostile);
    for (const FieldConversion conversion : {FieldConversion::Decimal, FieldConversion::Atof}) {
        const bool decimal = conversion == FieldConversion::Decimal;
        ASSERT_TRUE(LoadBank(file("hostile.tavbank"), names, *bank, conversion));
        EXPECT_STREQ(names.name(0), "AB");
        EXPECT_STREQ(names.name(1), "C");
        const float expected[] = {0.0f, 0.0f, 0.0f, 12.0f, 3.5f, 1e20f /* 20 digits */, 7.0f};
        for (int p = 0; p < 7; ++p)
            EXPECT_EQ(bank->get(p, 0), expected[p]) << p;
        EXPECT_EQ(std::signbit(bank->get(1, 0)), decimal);
    }
}

// The bank reader's layout rules: fields fill bank[column][row], every row starts at column 0,
// surplus fields fold into column 127 (surplus names into slot 127), a field runs across a line
// end, and the two conversions differ as stored banks expect: "1-2" is 1 for atof and -12 for the
// decimal field; both give 3333333248, the float nearest 3333333333.
TEST_F(PresetBankTest, BankReaderLayout)
{
    std::string text = ",a,b;\r\n,1,2;\r\n,3-;\r\n,4\r\n5;\r\n,1-2;\r\n,";
    for (int i = 0; i < 130; ++i)
        text += std::to_string(i) + (i < 129 ? "," : ";\r\n");
    text += ",3333333333;\r\n";
    writeBytes(file("l.tavbank"), text);
    for (const FieldConversion conversion : {FieldConversion::Decimal, FieldConversion::Atof}) {
        const bool decimal = conversion == FieldConversion::Decimal;
        NameTable table;
        auto target = std::make_unique<BankMemory>();
        ASSERT_TRUE(LoadBank(file("l.tavbank"), table, *target, conversion));
        EXPECT_STREQ(table.name(0), "a");
        EXPECT_STREQ(table.name(1), "b");
        EXPECT_STREQ(table.name(2), "empty");
        EXPECT_EQ(target->get(0, 0), 1.0f);
        EXPECT_EQ(target->get(1, 0), 2.0f);
        EXPECT_EQ(target->get(0, 1), decimal ? -3.0f : 3.0f);
        EXPECT_EQ(target->get(0, 2), 45.0f);
        EXPECT_EQ(target->get(0, 3), decimal ? -12.0f : 1.0f);
        EXPECT_EQ(target->get(126, 4), 126.0f);
        EXPECT_EQ(target->get(127, 4), 129.0f);  // the last surplus value stays
        EXPECT_EQ(target->get(0, 5), 3333333248.0f);
        EXPECT_EQ(target->get(0, 6), 0.0f);
    }

    std::string manyNames;
    for (int i = 0; i < 130; ++i)
        manyNames += ",n" + std::to_string(i);
    writeBytes(file("names.tavbank"), manyNames + ";\r\n");
    ASSERT_TRUE(LoadNames(file("names.tavbank"), names));
    EXPECT_STREQ(names.name(0), "n0");
    EXPECT_STREQ(names.name(126), "n126");
    EXPECT_STREQ(names.name(127), "n129");
}

// The name-only readers look at a bounded start of the first line: LoadName 28 bytes up to the
// first ";", LoadNames 3203 bytes up to the first ";".
TEST_F(PresetBankTest, NameOnlyReaders)
{
    writeBytes(file("n.tavpreset"), presetLines("," + std::string(19, ' ') + "Alpha;,ignored;", {",1;"}));
    ASSERT_TRUE(LoadName(file("n.tavpreset"), names, 2));
    EXPECT_STREQ(names.name(2), "Alpha");
    // The ";" beyond the first 28 bytes: the name stays.
    writeBytes(file("far.tavpreset"), "," + std::string(30, ' ') + "Far;\r\n");
    ASSERT_TRUE(LoadName(file("far.tavpreset"), names, 2));
    EXPECT_STREQ(names.name(2), "Alpha");
    // No ";" on the first line: the name stays even if a later line has one.
    writeBytes(file("two.tavpreset"), ",Two\r\n;\r\n");
    ASSERT_TRUE(LoadName(file("two.tavpreset"), names, 2));
    EXPECT_STREQ(names.name(2), "Alpha");

    writeBytes(file("n.tavbank"), ",One,Two;,Three;\r\n,5;\r\n");
    NameTable table;
    ASSERT_TRUE(LoadNames(file("n.tavbank"), table));
    EXPECT_STREQ(table.name(0), "One");
    EXPECT_STREQ(table.name(1), "Two");
    EXPECT_STREQ(table.name(2), "empty");
    // Past 3203 bytes nothing is read.
    std::string late = ",A" + std::string(3300, ' ') + ",B;\r\n";
    writeBytes(file("late.tavbank"), late);
    NameTable lateTable;
    ASSERT_TRUE(LoadNames(file("late.tavbank"), lateTable));
    EXPECT_STREQ(lateTable.name(0), "Default");
}

// Reading a numbered list text: names after the first ":", 25/24 count rule, "," advancing the
// slot up to 127, the last byte storing the last name. (The managers' tests check the text
// written, byte for byte.)
TEST_F(PresetBankTest, NumberedListText)
{
    ReadList("  1:One,  2: two:2,", names);
    EXPECT_STREQ(names.name(0), "One");
    EXPECT_STREQ(names.name(1), " two:2");
    EXPECT_STREQ(names.name(2), "");  // the trailing comma empties the next slot
    EXPECT_STREQ(names.name(3), "empty");

    // 26 bytes or more are cut to 24, never inside a UTF-8 character.
    ReadList("1:a,no colon,3:" + std::string(30, 'z') + ",4:" + std::string(25, 'y') + ",5:" + std::string(23, 'x') +
                 "\xC3\xA9\xC3\xA9",
             names);
    EXPECT_STREQ(names.name(0), "a");
    EXPECT_STREQ(names.name(1), "");
    EXPECT_EQ(names.view(2), std::string(24, 'z'));
    EXPECT_EQ(names.view(3), std::string(25, 'y'));
    EXPECT_EQ(names.view(4), std::string(23, 'x'));

    std::string items;
    for (int i = 1; i <= 130; ++i)
        items += (i > 1 ? "," : "") + std::to_string(i) + ":N" + std::to_string(i);
    ReadList(items, names);
    EXPECT_STREQ(names.name(126), "N127");
    EXPECT_STREQ(names.name(127), "N130");

    // The text ends at a NUL or at the end of the view; an empty text changes nothing.
    const char payload[] = {'1', ':', 'P', '\0', ',', '2', ':', 'Q'};
    ReadList(std::string_view(payload, sizeof payload), names);
    EXPECT_STREQ(names.name(0), "P");
    EXPECT_STREQ(names.name(1), "N2");
    const char unterminated[] = {'1', ':', 'R', 'S'};
    ReadList(std::string_view(unterminated, sizeof unterminated), names);
    EXPECT_STREQ(names.name(0), "RS");
    ReadList("", names);
    EXPECT_STREQ(names.name(0), "RS");

    // A name never brings a field end of the preset and bank files with it.
    ReadList("1:Pad;Soft,2:Two\nLines", names);
    EXPECT_STREQ(names.name(0), "Pad Soft");
    EXPECT_STREQ(names.name(1), "Two Lines");
}

// Name slots: names end at a NUL and are cut to the slot size at a UTF-8 character boundary;
// the category manager's 100-byte slots hold 99 bytes; a slot outside 0-127 is ignored.
TEST_F(PresetBankTest, NameSlots)
{
    names.setName(5, std::string(48, 'a') + "\xC3\xA9" + "b");  // 48 + 2 + 1 bytes
    EXPECT_EQ(names.view(5), std::string(48, 'a'));
    names.setName(5, std::string(47, 'a') + "\xC3\xA9" + "b");
    EXPECT_EQ(names.view(5), std::string(47, 'a') + "\xC3\xA9");
    names.setName(5, std::string(60, '\xB0'));  // 8-bit text that is not UTF-8: cut exactly
    EXPECT_EQ(names.view(5).size(), 49u);
    names.setName(-1, "x");
    names.setName(128, "x");
    EXPECT_STREQ(names.name(0), "Default");
    EXPECT_STREQ(names.name(127), "empty");

    NameTable wide(kWideNameSlotBytes);
    wide.setName(0, std::string(150, 'w'));
    EXPECT_EQ(wide.view(0).size(), 99u);
    EXPECT_STREQ(wide.name(1), "empty");
    wide.reset();
    EXPECT_STREQ(wide.name(0), "Default");

    // The name editing rule for names from pins: separators become spaces, 25+ bytes cut to 24.
    std::string typed = "a,b;c:d/e\"f<g\\h|i\nj";
    EXPECT_TRUE(applyNameEditingRule(typed));
    EXPECT_EQ(typed, "a b c d e f g h i j");
    std::string exact(24, 'k');
    EXPECT_FALSE(applyNameEditingRule(exact));
    std::string longer(30, 'k');
    EXPECT_TRUE(applyNameEditingRule(longer));
    EXPECT_EQ(longer, std::string(24, 'k'));
    std::string accented = std::string(23, 'k') + "\xC3\xA9" + "zz";
    EXPECT_TRUE(applyNameEditingRule(accented));
    EXPECT_EQ(accented, std::string(23, 'k'));

    EXPECT_EQ(pinTextCut(L"Caf\u00e9 \u20ac", 49), "Caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(pinTextCut(L"ab\u20ac", 4), "ab");
    EXPECT_EQ(pinTextCut(std::wstring(L"ab\0cd", 5), 49), "ab");
}

// Numbers are written and read with "." whatever the process locale says.
TEST_F(PresetBankTest, NumbersIgnoreTheLocale)
{
    const std::string locales = (folder.path() / "locales").string();
    std::filesystem::create_directories(locales);
    const std::string command = "localedef -i de_DE -f UTF-8 '" + locales + "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        GTEST_SKIP() << "no localedef";
    ::setenv("LOCPATH", locales.c_str(), 1);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        ::unsetenv("LOCPATH");
        GTEST_SKIP() << "locale not loadable";
    }
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    const bool commaLocale = std::string(probe) == "1,5";

    values[0] = 0.017f;
    values[1] = -4.25f;
    const std::string text = presetFileText("Locale", values);
    const bool saved = SavePreset(file("loc.tavpreset"), "Locale", values);
    PresetValues back{};
    const bool loaded = LoadPreset(file("loc.tavpreset"), names, 0, back);
    const std::string list = SaveList(names);

    std::setlocale(LC_ALL, "C");
    ::unsetenv("LOCPATH");

    EXPECT_TRUE(commaLocale);
    EXPECT_EQ(text.substr(28, 30), ",  0.0170000;\r\n, -4.2500000;\r\n");
    EXPECT_TRUE(saved);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(back[0], 0.017f);
    EXPECT_EQ(back[1], -4.25f);
    EXPECT_EQ(list.substr(0, 11), "  1:Locale,");
}

// Paths are refused rather than cut; IDs that would leave the manager folder are refused; a
// failed or empty PathMac expansion, or a host that names no usable file, gives no startup bank
// path.
TEST_F(PresetBankTest, Paths)
{
    PathBuffer path;
    EXPECT_TRUE(path.assign(std::string(1023, 'p')));
    EXPECT_EQ(path.size(), 1023u);
    EXPECT_FALSE(path.assign(std::string(1024, 'p')));
    EXPECT_TRUE(path.empty());
    EXPECT_FALSE(path.assign(std::string("a\0b", 3)));
    EXPECT_TRUE(path.empty());

    const std::string tooLong = file(std::string(1100, 'q'));
    EXPECT_FALSE(SavePreset(tooLong, "x", values));
    EXPECT_FALSE(SaveBank(tooLong, names, *bank));
    EXPECT_FALSE(SavePreset("", "x", values));
    EXPECT_FALSE(SavePreset(file("no/such/folder/x.tavpreset"), "x", values));

    EXPECT_TRUE(isFolderSafeId("TAVRIN ONE"));
    EXPECT_TRUE(isFolderSafeId(""));
    EXPECT_FALSE(isFolderSafeId("a/b"));
    EXPECT_FALSE(isFolderSafeId(".."));
    EXPECT_FALSE(isFolderSafeId("x..y"));
    EXPECT_EQ(idText(L"TAVRIN ONE"), "TAVRIN ONE");
    EXPECT_EQ(idText(std::wstring(501, L'i')), std::nullopt);

    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(baseFolderText(L"~/Library/"), std::string(home) + "/Library/");
    EXPECT_EQ(baseFolderText(L"/one/ /two/"), "/one/");
    EXPECT_EQ(baseFolderText(L""), std::nullopt);
    EXPECT_EQ(baseFolderText(L"$(touch x)"), std::nullopt);
    EXPECT_EQ(baseFolderText(std::wstring(501, L'a')), std::nullopt);
    EXPECT_EQ(startupBankPathIn("/base/", "TAVRIN ONE"), "/base/Quorvane/TAVRIN ONE/Presetbase/DEFAULTBANK.tavbank");
    EXPECT_EQ(startupBankPathIn("/base", "ID"), "/baseQuorvane/ID/Presetbase/DEFAULTBANK.tavbank");
    EXPECT_EQ(startupBankPathIn(std::string(990, 'b'), "ID"), std::nullopt);
    EXPECT_EQ(startupBankPathIn("/base/", "a/../b"), std::nullopt);

    // AutoPath: the host names the file; an empty or over-long answer, or no host, gives nothing.
    struct FakeHost {
        std::wstring answer;
        int32_t expandFileName(const wchar_t*, int32_t maxChars, wchar_t* fullName)
        {
            const std::size_t n = std::min<std::size_t>(answer.size(), static_cast<std::size_t>(maxChars) - 1);
            std::wmemcpy(fullName, answer.data(), n);
            fullName[n] = 0;
            return 0;
        }
    } host{L"/host/Preset.txt"};
    StartupPath start = startupBankPath(&host, true, L"ID", L"/ignored/");
    EXPECT_EQ(start.workingPath, "/host/Preset.txt");
    EXPECT_EQ(start.baseFolder, "");
    EXPECT_EQ(start.idText, "ID");
    host.answer.clear();
    EXPECT_EQ(startupBankPath(&host, true, L"ID", L"/x/").workingPath, std::nullopt);
    host.answer = std::wstring(499, L'\u20ac');  // 499 characters, 1497 bytes
    EXPECT_EQ(startupBankPath(&host, true, L"ID", L"/x/").workingPath, std::nullopt);
    EXPECT_EQ(startupBankPath<FakeHost>(nullptr, true, L"ID", L"/x/").workingPath, std::nullopt);

    start = startupBankPath(&host, false, L"TAVRIN ONE", L"/lib/");
    EXPECT_EQ(start.workingPath, "/lib/Quorvane/TAVRIN ONE/Presetbase/DEFAULTBANK.tavbank");
    EXPECT_EQ(start.baseFolder, "/lib/");
    start = startupBankPath(&host, false, L"a/b", L"/lib/");
    EXPECT_EQ(start.idText, std::nullopt);
    EXPECT_EQ(start.workingPath, std::nullopt);
}

} // namespace
