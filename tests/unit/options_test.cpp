// The option loop, its error report, and the value readers.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "interp/line_prep.h"
#include "interp/options.h"
#include "unit/fake_host.h"

namespace kelvo::unit {
namespace {

// What the handlers set before they parse: the fields options clear start set,
// the numbers start at a value no option word gives.
ParsedCommand Preset() {
    ParsedCommand p;
    p.StringFollows = p.SendEoi = p.SendEndMessage = p.DisplayReceived = true;
    p.ByteCount = p.AndMask = p.MidPosition = p.CompareWidth = p.PollLine = 99;
    p.TestValue = p.Tolerance = 99.0;
    return p;
}

// The fields that differ from Preset(), and the settings options write, as words
// ("!NAME" for a flag cleared, "NAME~value" for a number written but not given).
// StringFollows shows as ";" whenever it is set. The BEEP flag shows when
// `beepWritten` (a flag cannot start at a value no option gives).
std::string Changed(const ParsedCommand& p, const InterfaceSettings& settings, bool beepWritten = false) {
    using P = ParsedCommand;
    const P d = Preset();
    std::ostringstream out;
    for (const auto& [name, flag] : {std::pair{"EOI", &P::SendEoi}, {"END", &P::SendEndMessage}, {"ES", &P::DetectEos},
                                     {"PA", &P::PrependArbHeader}, {"PN", &P::PrintLineNumbers},
                                     {"SA", &P::StripArbHeader}, {"SHOW", &P::DisplayReceived}})
        if (p.*flag != d.*flag) out << (p.*flag ? "" : "!") << name << ' ';
    for (const auto& [name, code, preset] :
         {std::tuple{"FORMAT", int(p.PrintFormat), int(d.PrintFormat)}, {"SENSE", int(p.PollSense), int(d.PollSense)},
          {"MODE", int(p.SendMode), int(d.SendMode)}, {"MARK", int(p.TimeMarkAction), int(d.TimeMarkAction)},
          {"ENDMSG", int(settings.EndMessage), 99}})
        if (code != preset) out << name << '=' << code << ' ';
    if (beepWritten) out << "BEEP=" << int(settings.BeepEnabled) << ' ';
    for (const auto& [name, word, given] :
         {std::tuple{"FD", p.CaptureFileName.text, p.CaptureFileName.given},
          {"FO", p.OutputFileName.text, p.OutputFileName.given}, {"FO2", p.OutputFile2Name.text, p.OutputFile2Name.given},
          {"FO3", p.OutputFile3Name.text, p.OutputFile3Name.given}, {"STR", p.TestString.text, p.TestString.given},
          {"FR", p.ResponseFileName.text, p.ResponseFileName.given}})
        if (given || word[0] != '\0') out << name << (given ? "=" : "~") << word << ' ';
    for (const auto& [name, value, given, preset] :
         {std::tuple{"#", double(p.ByteCount), p.ByteCountGiven, double(d.ByteCount)},
          {"AND", double(p.AndMask), p.AndMaskGiven, double(d.AndMask)},
          {"MID", double(p.MidPosition), p.MidPositionGiven, double(d.MidPosition)},
          {"TOL", p.Tolerance, p.ToleranceGiven, d.Tolerance}, {"VAL", p.TestValue, p.TestValueGiven, d.TestValue},
          {"WID", double(p.CompareWidth), p.CompareWidthGiven, double(d.CompareWidth)},
          {"LINE", double(p.PollLine), p.PollLineGiven, double(d.PollLine)}})
        if (given || value != preset) out << name << (given ? "=" : "~") << value << ' ';
    if (p.StringFollows) out << "; ";
    std::string text = out.str();
    if (!text.empty()) text.pop_back();
    return text;
}

class OptionsTest : public CoreTest {
protected:
    // Parses the options of command `id` from `text` (the part behind the
    // command's arguments) on preset fields; the cursor is left in cursor_.
    std::int16_t Parse(std::uint8_t id, const std::string& text, bool beepPreset = false) {
        s.Parsed = Preset();
        s.Settings.EndMessage = static_cast<EndMessageKind>(99);
        s.Settings.BeepEnabled = beepPreset;
        s.CurrentCommandId = static_cast<CommandId>(id);
        line_ = text;
        cursor_ = ParseCursor(line_.c_str());
        return ParseOptions(s, cursor_);
    }

    std::string line_;
    ParseCursor cursor_;
};

TEST_F(OptionsTest, EachRowParsesItsOptions) {
    struct Case {
        std::uint8_t id;
        const char* text;
        const char* changed;  // Changed() afterwards
        const char* rest;     // the line behind the cursor
        const char* error;    // the first line shown, null for none (and 0 returned)
    };
    const Case cases[] = {
        // Word options keep their word; FD with nothing behind it gives none.
        {kEnter, " FO2 TWO FO ONE FO3 THREE FD CAP.BIN", "FD=CAP.BIN FO=ONE FO2=TWO FO3=THREE", "", nullptr},
        {kEnter, " PA FD", "PA", "", nullptr},
        {kRun, " FR OUT.TXT", "FR=OUT.TXT", "", nullptr},
        {kOutput, " FO4 NAME", "", "FO4 NAME", "? Undefined OUTPUT option 'FO4 NAME'"},  // FO4 is no FO
        // Flags and codes.
        {kEnter, " DI DS ES PN SA SD", "!EOI !END ES PN SA !SHOW", "", nullptr},
        {kEnter, " PB", "FORMAT=1", "", nullptr},
        {kEnter, " PR", "FORMAT=2", "", nullptr},
        {kOutput, " PA DI", "!EOI PA", "", nullptr},
        {kGet, " DS", "!END", "", nullptr},
        {kPpconf, " LOW", "SENSE=1", "", nullptr},
        {kPpoll, " HIGH LINE 70003", "SENSE=2 LINE=4467", "", nullptr},
        {kSend, " COMMAND EI", "MODE=1", "", nullptr},  // EI (EOI set) is pinned end to end
        {kSend, " DATA", "MODE=2", "", nullptr},
        {kTm, " START", "MARK=1", "", nullptr},
        {kTm, " STOP", "MARK=2", "", nullptr},
        {kEnd, " CRLF", "ENDMSG=1", "", nullptr},
        {kEnd, " LF", "ENDMSG=2", "", nullptr},
        {kBeep, " ON", "BEEP=1", "", nullptr},
        {kBeep, " OFF", "BEEP=0", "", nullptr},
        // A count behind '#', in automatic base; RECEIVE has no DI.
        {kGet, " #10", "#=10", "", nullptr},
        {kGet, " # 10", "#=10", "", nullptr},
        {kReceive, " #0x10", "#=16", "", nullptr},
        {kReceive, " # -5", "#=5", "", nullptr},
        {kGet, " #010 DI", "!EOI #=8", "", nullptr},
        {kGet, " #-5", "", "#-5", "? Undefined GET option '#-5'"},
        {kReceive, " #A", "", "#A", "? Undefined RECEIVE option '#A'"},
        {kReceive, " DI", "", "DI", "? Undefined RECEIVE option 'DI'"},
        // IF and TEST; an unreadable number reads as 0, given.
        {kTest, " VAL -1.5E2 TOL 0.5 WID 3 MID 2 AND 0xFF STR ABC?",
         "STR=ABC? AND=255 MID=2 TOL=0.5 VAL=-150 WID=3", "", nullptr},
        {kIf, " VAL ABC", "VAL=0", "ABC", "? Undefined IF option 'ABC'"},
        // A ';' ends the options; the string keeps its leading blank.
        {kEnter, " DI", "!EOI", "", nullptr},
        {kEnter, " DI ; A B", "!EOI ;", " A B", nullptr},
        // A command without option words does not look at them, but a ';' still
        // starts the string.
        {kClear, " ;X", ";", "X", nullptr},
        {kClear, " JUNK ;X", "", "JUNK ;X", nullptr},
        // What came before a bad word is taken, nothing after it.
        {kEnter, " DI PB XX SD ; *IDN?", "!EOI FORMAT=1", "XX SD ; *IDN?",
         "? Undefined ENTER option 'XX SD ; *IDN?'"},
        {kPpconf, " LINE 2 BAD", "LINE=2", "BAD", "? Undefined PARALLEL POLL CONFIGURE option 'BAD'"},
        {kPpoll, " LINE 2 BAD", "LINE=2", "BAD", "? Undefined PARALLEL POLL option 'BAD'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        // BEEP was written when the line leaves it the same from either preset.
        Parse(c.id, c.text, true);
        const bool beepFromOn = s.Settings.BeepEnabled;
        ClearDisplay(s);
        EXPECT_EQ(Parse(c.id, c.text, false), c.error ? 1 : 0);
        EXPECT_EQ(Changed(s.Parsed, s.Settings, beepFromOn == s.Settings.BeepEnabled), c.changed);
        EXPECT_STREQ(cursor_.pos, c.rest);
        const auto lines = Display();
        EXPECT_EQ(lines.empty() ? "" : lines.front(), c.error ? c.error : "");
    }
}

TEST(ValueReaders, ReadLongShortAndDouble) {
    struct Case {
        char reader;  // 'L'ong, 'S'hort, 'D'ouble
        const char* text;
        double value;
        const char* rest;
    };
    const Case cases[] = {
        {'L', "", 0, ""},           {'L', " 42 X", 42, " X"},       {'L', "-42", 42, ""},      {'L', "+7;", 7, ";"},
        {'L', "0x1F;", 31, ";"},    {'L', "0X10", 16, ""},          {'L', "017", 15, ""},      {'L', "09", 0, "9"},
        {'L', "99999999999", INT32_MAX, ""},                        {'L', "-99999999999", INT32_MAX, ""},
        {'L', "2147483647", INT32_MAX, ""},                         {'L', "ABC", 0, "ABC"},    {'L', "- 5", 0, "- 5"},
        {'S', "70000", 4464, ""},   {'S', "65535", -1, ""},         {'S', "32768", -32768, ""}, {'S', "-3", 3, ""},
        {'S', "0x12345", 0x2345, ""},
        {'D', " -1.5e3 X", -1500.0, " X"}, {'D', "+2.5", 2.5, ""}, {'D', ".5;", 0.5, ";"}, {'D', "1E-2", 0.01, ""},
        {'D', "2e", 2.0, "e"},             {'D', "-0.25 TOL", -0.25, " TOL"},            {'D', "ABC", 0.0, "ABC"},
        {'D', "", 0.0, ""},                {'D', "+-5", 0.0, "+-5"},
        // Out of range: the sign and the order of magnitude are kept.
        {'D', "1E400", HUGE_VAL, ""},      {'D', "-1e400", -HUGE_VAL, ""},               {'D', "1E-400", 0.0, ""},
    };
    for (const Case& c : cases) {
        ParseCursor cursor(c.text);
        const double value = c.reader == 'L' ? ReadLong(cursor) : c.reader == 'S' ? ReadShort(cursor) : ReadDouble(cursor);
        EXPECT_DOUBLE_EQ(value, c.value) << c.reader << c.text;
        EXPECT_STREQ(cursor.pos, c.rest) << c.reader << c.text;
    }
}

}  // namespace
}  // namespace kelvo::unit
