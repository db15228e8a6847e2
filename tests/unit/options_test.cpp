// The option loop, its error report, and the value readers.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "interp/line_prep.h"
#include "interp/options.h"
#include "unit/fake_host.h"

namespace kelvo::unit {
namespace {

class OptionsTest : public CoreTest {
protected:
    // Parses the options of command `id` from `text` (the part behind the
    // command's arguments); the cursor is left in cursor_.
    std::int16_t Parse(std::uint8_t id, const char* text) {
        s.CurrentCommandId = static_cast<CommandId>(id);
        line_ = text;
        cursor_ = ParseCursor(line_.c_str());
        return ParseOptions(s, cursor_);
    }
    std::string Rest() const { return cursor_.pos; }

    std::string line_;
    ParseCursor cursor_;
};

TEST_F(OptionsTest, FileNameOptions) {
    EXPECT_EQ(Parse(kEnter, " FO2 TWO FO ONE FO3 THREE FD CAP.BIN"), 0);
    EXPECT_STREQ(s.Parsed.OutputFileName.text, "ONE");
    EXPECT_STREQ(s.Parsed.OutputFile2Name.text, "TWO");
    EXPECT_STREQ(s.Parsed.OutputFile3Name.text, "THREE");
    EXPECT_STREQ(s.Parsed.CaptureFileName.text, "CAP.BIN");
    for (auto given : {s.Parsed.OutputFileName.given, s.Parsed.OutputFile2Name.given, s.Parsed.OutputFile3Name.given,
                       s.Parsed.CaptureFileName.given})
        EXPECT_EQ(given, 1);

    // FD with nothing behind it leaves the name empty and not given.
    s.Parsed = ParsedCommand{};
    EXPECT_EQ(Parse(kEnter, " PA FD"), 0);
    EXPECT_EQ(s.Parsed.PrependArbHeader, 1);
    EXPECT_STREQ(s.Parsed.CaptureFileName.text, "");
    EXPECT_EQ(s.Parsed.CaptureFileName.given, 0);
    EXPECT_TRUE(Display().empty());

    // "FO4" does not end after "FO".
    EXPECT_EQ(Parse(kOutput, " FO4 NAME"), 1);
    EXPECT_EQ(Display().front(), "? Undefined OUTPUT option 'FO4 NAME'");
    EXPECT_EQ(s.Parsed.OutputFileName.given, 0);

}

TEST_F(OptionsTest, ByteCountAfterHash) {
    struct Case {
        std::uint8_t id;
        const char* text;
        std::int32_t count;  // -1: refused
        const char* error;
    };
    const Case cases[] = {
        {kGet, " #10", 10, nullptr},           {kGet, " # 10", 10, nullptr},
        {kReceive, " #0x10", 16, nullptr},     {kReceive, " # -5", 5, nullptr},
        {kGet, " #010 DI", 8, nullptr},
        {kGet, " #-5", -1, "? Undefined GET option '#-5'"},
        {kReceive, " #A", -1, "? Undefined RECEIVE option '#A'"},
        {kReceive, " DI", -1, "? Undefined RECEIVE option 'DI'"},  // DI is GET's, not RECEIVE's
    };
    for (const Case& c : cases) {
        s.Parsed = ParsedCommand{};
        ClearDisplay(s);
        EXPECT_EQ(Parse(c.id, c.text), c.error ? 1 : 0) << c.text;
        if (c.error) {
            EXPECT_EQ(s.Parsed.ByteCountGiven, 0) << c.text;
            EXPECT_EQ(Display().front(), c.error);
        } else {
            EXPECT_EQ(s.Parsed.ByteCount, c.count) << c.text;
            EXPECT_EQ(s.Parsed.ByteCountGiven, 1) << c.text;
        }
    }
}

TEST_F(OptionsTest, CheckOptionsAndAnUnreadableNumber) {
    EXPECT_EQ(Parse(kTest, " VAL -1.5E2 TOL 0.5 WID 3 MID 2 AND 0xFF STR ABC?"), 0);
    EXPECT_EQ(s.Parsed.TestValue, -150.0);
    EXPECT_EQ(s.Parsed.Tolerance, 0.5);
    EXPECT_EQ(s.Parsed.CompareWidth, 3);
    EXPECT_EQ(s.Parsed.MidPosition, 2);
    EXPECT_EQ(s.Parsed.AndMask, 255);
    EXPECT_STREQ(s.Parsed.TestString.text, "ABC?");
    for (auto given : {s.Parsed.TestValueGiven, s.Parsed.ToleranceGiven, s.Parsed.CompareWidthGiven,
                       s.Parsed.MidPositionGiven, s.Parsed.AndMaskGiven, s.Parsed.TestString.given})
        EXPECT_EQ(given, 1);

    s.Parsed = ParsedCommand{};
    s.Parsed.TestValue = 9.0;
    EXPECT_EQ(Parse(kIf, " VAL ABC"), 1);
    EXPECT_EQ(s.Parsed.TestValue, 0.0);
    EXPECT_EQ(s.Parsed.TestValueGiven, 1);
    EXPECT_EQ(Display().front(), "? Undefined IF option 'ABC'");
}

TEST_F(OptionsTest, SettingOptionsWriteTheirFields) {
    struct Case {
        std::uint8_t id;
        const char* text;
        std::int16_t* field;
        std::int16_t value;
    };
    // The options the end-to-end tests use (BEEP ON, END CRLF, DI, ES, PA, PR, PN, SA,
    // HIGH, COMMAND, DATA, EI, START, STOP) are pinned there by what they do.
    const Case cases[] = {
        {kEnd, " LF", &s.Settings.EndMessage, 2},      {kGet, " DS", &s.Parsed.SendEndMessage, 0},
        {kEnter, " PB", &s.Parsed.PrintFormat, 1},     {kPpconf, " LOW", &s.Parsed.PollSense, 1},
        {kEnter, " SD", &s.Parsed.DisplayReceived, 0}, {kPpoll, " LINE 70003", &s.Parsed.PollLine, 4467},
    };
    for (const Case& c : cases) {
        *c.field = 99;
        EXPECT_EQ(Parse(c.id, c.text), 0) << c.text;
        EXPECT_EQ(*c.field, c.value) << c.text;
    }
    EXPECT_EQ(Parse(kRun, " FR OUT.TXT"), 0);
    EXPECT_STREQ(s.Parsed.ResponseFileName.text, "OUT.TXT");
    EXPECT_TRUE(Display().empty());
}

TEST_F(OptionsTest, SemicolonEndsTheOptionsAndTheStringKeepsItsLeadingBlank) {
    s.Parsed.StringFollows = 1;
    EXPECT_EQ(Parse(kEnter, " DI"), 0);
    EXPECT_EQ(s.Parsed.StringFollows, 0);
    EXPECT_EQ(Rest(), "");

    EXPECT_EQ(Parse(kEnter, " DI ; A B"), 0);
    EXPECT_EQ(s.Parsed.StringFollows, 1);
    EXPECT_EQ(Rest(), " A B");

    // A command without option words does not look at its words, but a ';' still
    // starts the string.
    EXPECT_EQ(Parse(kClear, " ;X"), 0);
    EXPECT_EQ(s.Parsed.StringFollows, 1);
    EXPECT_EQ(Rest(), "X");
    EXPECT_EQ(Parse(kClear, " JUNK ;X"), 0);
    EXPECT_EQ(s.Parsed.StringFollows, 0);
    EXPECT_TRUE(Display().empty());
}

TEST_F(OptionsTest, UnrecognisedOptionReportsTheRestThenTheSyntaxPage) {
    s.Parsed.SendEoi = s.Parsed.DisplayReceived = 1;
    EXPECT_EQ(Parse(kEnter, " DI PB XX SD ; *IDN?"), 1);
    EXPECT_EQ(s.Parsed.SendEoi, 0);          // read before the bad word
    EXPECT_EQ(s.Parsed.PrintFormat, 1);
    EXPECT_EQ(s.Parsed.DisplayReceived, 1);  // never reached
    EXPECT_EQ(s.Parsed.StringFollows, 0);

    ClearDisplay(s);
    host.Forget();
    EXPECT_EQ(Parse(kEnter, " XX ; *IDN?"), 1);
    const auto lines = Display(true);
    ASSERT_EQ(lines.size(), 19u);  // the error, 15 syntax lines, 3 appendix lines
    EXPECT_EQ(lines[0], "{7}? Undefined {1}ENTER{7} option '{1}XX ; *IDN?{7}'");
    EXPECT_EQ(lines[1], "{6}Syntax: {1}ENTER{8} [address] [options] [ ; string to send]");
    EXPECT_EQ(lines[15], "{1}SD - Suppress displaying received data");
    EXPECT_EQ(lines[16], "{1}If both a string to send and a file are given,");
    EXPECT_EQ(lines[18], "{1}space character and then the file contents");
    EXPECT_EQ(host.beeps, Beeps{kErrorBeep});
    EXPECT_EQ(s.ErrorFlag, 1);

    for (auto [id, name] : {std::pair{kPpconf, "PARALLEL POLL CONFIGURE"}, std::pair{kPpoll, "PARALLEL POLL"}}) {
        ClearDisplay(s);
        EXPECT_EQ(Parse(id, " LINE 2 BAD"), 1);
        const auto poll = Display();
        ASSERT_EQ(poll.size(), 7u);
        EXPECT_EQ(poll[0], std::string("? Undefined ") + name + " option 'BAD'");
        EXPECT_EQ(poll[1].rfind("Syntax: PP", 0), 0u);
        EXPECT_EQ(poll[2], "Options:");
        EXPECT_EQ(poll[3], "LINE x - Selects line x (0 - 7) as the active line for this instrument");
        EXPECT_EQ(s.Parsed.PollLine, 2);
    }
}

TEST_F(OptionsTest, WordThatDoesNotFitItsFieldIsRefused) {
    struct Case {
        std::uint8_t id;
        const char* option;
        std::size_t longest;  // characters that fit
        const char* field;
    };
    const Case cases[] = {{kEnter, " FO ", 127, s.Parsed.OutputFileName.text},
                          {kIf, " STR ", 95, s.Parsed.TestString.text},
                          {kRun, " FR ", 127, s.Parsed.ResponseFileName.text}};
    for (const Case& c : cases) {
        ClearDisplay(s);
        host.Forget();
        const std::string fits = c.option + std::string(c.longest, 'F');
        EXPECT_EQ(Parse(c.id, fits.c_str()), 0) << c.option;
        const std::string tooLong = c.option + std::string(c.longest + 1, 'L') + " ;X";
        EXPECT_EQ(Parse(c.id, tooLong.c_str()), 1) << c.option;
        const std::string expected =
            "? Option value too long (at most " + std::to_string(c.longest) + " characters): 'LLL";
        EXPECT_EQ(Display().front().substr(0, expected.size()), expected);
        EXPECT_EQ(host.beeps, Beeps{kErrorBeep});
        EXPECT_EQ(s.Parsed.StringFollows, 0);
        EXPECT_EQ(std::string(c.field), std::string(c.longest, 'F')) << "the refused word left the field alone";
    }

    // A far longer word overruns nothing either.
    const std::string huge = " FO " + std::string(600, 'H');
    EXPECT_EQ(Parse(kOutput, huge.c_str()), 1);
    EXPECT_STREQ(s.Parsed.OutputFile2Name.text, "");
}

TEST(ValueReaders, ReadLong) {
    struct Case {
        const char* text;
        std::int32_t value;
        const char* rest;
    };
    const Case cases[] = {
        {"", 0, ""},           {" 42 X", 42, " X"},          {"-42", 42, ""},      {"+7;", 7, ";"},
        {"0x1F;", 31, ";"},    {"0X10", 16, ""},             {"017", 15, ""},      {"09", 0, "9"},
        {"99999999999", INT32_MAX, ""},                      {"-99999999999", INT32_MAX, ""},
        {"2147483647", INT32_MAX, ""},                       {"ABC", 0, "ABC"},    {"- 5", 0, "- 5"},
    };
    for (const Case& c : cases) {
        ParseCursor cursor(c.text);
        EXPECT_EQ(ReadLong(cursor), c.value) << c.text;
        EXPECT_STREQ(cursor.pos, c.rest) << c.text;
    }
}

TEST(ValueReaders, ReadShortTruncatesTo16Bits) {
    const std::pair<const char*, std::int16_t> cases[] = {
        {"70000", 4464}, {"65535", -1}, {"32768", -32768}, {"-3", 3}, {"0x12345", 0x2345}};
    for (const auto& [text, value] : cases) {
        ParseCursor cursor(text);
        EXPECT_EQ(ReadShort(cursor), value) << text;
    }
}

TEST(ValueReaders, ReadDoubleKeepsSignAndExponent) {
    struct Case {
        const char* text;
        double value;
        const char* rest;
    };
    const Case cases[] = {
        {" -1.5e3 X", -1500.0, " X"}, {"+2.5", 2.5, ""}, {".5;", 0.5, ";"}, {"1E-2", 0.01, ""},
        {"2e", 2.0, "e"},             {"-0.25 TOL", -0.25, " TOL"},      {"ABC", 0.0, "ABC"},
        {"", 0.0, ""},                {"+-5", 0.0, "+-5"},
    };
    for (const Case& c : cases) {
        ParseCursor cursor(c.text);
        EXPECT_DOUBLE_EQ(ReadDouble(cursor), c.value) << c.text;
        EXPECT_STREQ(cursor.pos, c.rest) << c.text;
    }
}

TEST_F(OptionsTest, ReadWordCopiesTheTwinAndStopsAtBlankOrSemicolon) {
    const char line[] = "FO  MYFILE.TXT REST";
    const char typed[] = "fo  MyFile.txt rest";
    ParseCursor cursor(line, typed);
    cursor.pos += 2;
    WordField<128> field;
    EXPECT_EQ(ReadWord(s, cursor, field), 10);
    EXPECT_STREQ(field.text, "MYFILE.TXT");
    EXPECT_STREQ(field.typed, "MyFile.txt");
    EXPECT_EQ(field.given, 1);
    EXPECT_STREQ(cursor.pos, " REST");

    ParseCursor q("A?B;C");
    EXPECT_EQ(ReadWord(s, q, field), 3);
    EXPECT_STREQ(field.text, "A?B");
    EXPECT_STREQ(field.typed, "A?B");  // no twin: the line itself

    ParseCursor none(" ;C");
    field.given = 0;
    EXPECT_EQ(ReadWord(s, none, field), 0);
    EXPECT_STREQ(field.text, "");
    EXPECT_EQ(field.given, 0);
    EXPECT_STREQ(none.pos, ";C");
}

}  // namespace
}  // namespace kelvo::unit
