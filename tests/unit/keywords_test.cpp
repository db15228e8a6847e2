// The keyword walk, on a small tree of every entry kind and on the command tree.
#include <gtest/gtest.h>

#include <string>

#include "interp/command_tables.h"
#include "interp/keywords.h"
#include "interp/options.h"

namespace kelvo {
namespace {

constexpr ParseAction Tagged(std::uint8_t id) {
    ParseAction a;
    a.commandId = id;
    return a;
}

const ParseAction kL = Tagged(1), kBX = Tagged(2), kBYES = Tagged(3), kTAIL = Tagged(4), kNO = Tagged(5),
                  kN = Tagged(6), kMORE = Tagged(7), kM = Tagged(8), kHash = Tagged(9), kOdd = Tagged(10);
const TailRecord kYesTail{"ES", &kBYES};
const TailRecord kAilTail{"AIL", &kTAIL};
const TailRecord kOreTail{"ORE", &kMORE};
const KeywordEntry kNodeB[] = {Leaf('X', kBX), Tail('Y', kYesTail), EndOfNode()};
const KeywordEntry kNodeN[] = {Leaf('O', kNO), EndOfNode()};
const BranchOrLeafRecord kEitherN{1, kNodeN, &kN};
const BranchOrLeafRecord kEitherM{2, &kOreTail, &kM};
const KeywordEntry kTree[] = {
    Leaf('L', kL),  Branch('B', kNodeB), Tail('T', kAilTail),
    Either('N', kEitherN), Either('M', kEitherM), Leaf('#', kHash),
    {'U', static_cast<EntryKind>(7), &kOdd},  // an unknown kind acts as a leaf
    EndOfNode(),
};

// Matches at the start of `text`; returns the id found (0 for none) and what is
// left behind the cursor.
std::pair<int, std::string> Match(const char* text, const void* table = kTree, int mode = 1) {
    ParseCursor cursor(text);
    const ParseAction* action = MatchKeyword(cursor, mode, table);
    return {action ? action->commandId : 0, cursor.pos};
}

TEST(MatchKeyword, EveryEntryKindAndFailureRestoresTheCursor) {
    struct Case {
        const char* text;
        int id;
        const char* rest;
    };
    const Case cases[] = {
        {"L", 1, ""},       {"L 5", 1, " 5"},   {"L?", 1, "?"},    {"L;x", 1, ";x"},  {"LX", 0, "LX"},
        {"BX", 2, ""},      {"BYES ", 3, " "},  {"BYE", 0, "BYE"}, {"B", 0, "B"},     {"BYESS", 0, "BYESS"},
        {"TAIL?", 4, "?"},  {"TAI", 0, "TAI"},  {"TAILS", 0, "TAILS"},
        {"NO", 5, ""},      {"N", 6, ""},       {"N ?", 6, " ?"},  {"NOX", 0, "NOX"}, {"NX", 0, "NX"},
        {"MORE", 7, ""},    {"M;", 8, ";"},     {"MOR", 0, "MOR"},
        {"#10", 9, "10"},   {"# 10", 9, " 10"}, {"#A", 0, "#A"},   {"#-5", 0, "#-5"},
        {"U", 10, ""},      {"Q", 0, "Q"},      {"", 0, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(Match(c.text), std::make_pair(c.id, std::string(c.rest))) << c.text;

    // Mode 2 takes a tail record directly.
    EXPECT_EQ(Match("AIL X", &kAilTail, 2), std::make_pair(4, std::string(" X")));
    EXPECT_EQ(Match("AIM", &kAilTail, 2), std::make_pair(0, std::string("AIM")));
}

TEST(IsWordEnd, EndsAtNulBlankQuestionMarkSemicolonOrADigitAfterHash) {
    for (char c : {'\0', ' ', '?', ';'}) EXPECT_TRUE(IsWordEnd(c, 'A')) << int(c);
    for (char c : {'X', '5', '#', '\t', ','}) EXPECT_FALSE(IsWordEnd(c, 'A')) << c;
    for (char c : {'0', '9'}) EXPECT_TRUE(IsWordEnd(c, '#')) << c;
    for (char c : {'/', ':', 'A', '-'}) EXPECT_FALSE(IsWordEnd(c, '#')) << c;
}

TEST(CommandTree, EveryWordAndAliasLeadsToItsCommand) {
    struct Word {
        const char* text;
        int id;
        ActionKind kind;
    };
    constexpr auto C = ActionKind::CallWithCursor;
    constexpr auto P = ActionKind::Call;
    const Word words[] = {
        {"ABORT", 1, P},    {"BEEP", 2, C},     {"CLEAR", 3, C},   {"END", 4, C},     {"ENTER", 5, C},
        {"E", 5, C},        {"X", 6, P},        {"GET", 7, C},     {"G", 7, C},       {"?", 8, P},
        {"IF", 9, C},       {"LOCAL", 10, C},   {"LLOCK", 11, P},  {"OUTPUT", 13, C}, {"O", 13, C},
        {"PAUSE", 14, P},   {"PPCONF", 15, C},  {"PPOLL", 16, C},  {"PPUNC", 17, C},  {"RECEIVE", 18, C},
        {"R", 18, C},       {"REMOTE", 19, C},  {"RESTORE", 20, P}, {"RUN", 21, C},   {"SEND", 22, C},
        {"S", 22, C},       {"SHELL", 23, C},   {"SPOLL", 24, C},  {"TEST", 25, C},   {"TIMEOUT", 26, C},
        {"TM", 27, C},      {"TRIGGER", 28, C}, {"T", 28, C},      {"WAIT", 29, C},   {"ZIP", 30, C},
        {"Z", 30, C},
    };
    for (const Word& w : words) {
        for (const char* after : {"", " 5", "?", ";X"}) {
            const std::string line = std::string(w.text) + after;
            ParseCursor cursor(line.c_str());
            const ParseAction* action = MatchKeyword(cursor, 1, kCommandTreeRoot);
            ASSERT_NE(action, nullptr) << line;
            EXPECT_EQ(action->commandId, w.id) << line;
            EXPECT_EQ(action->kind, w.kind) << line;
            EXPECT_TRUE(w.kind == C ? action->withCursor != nullptr : action->call != nullptr) << line;
            EXPECT_STREQ(cursor.pos, after) << line;
        }
        const std::string longer = std::string(w.text) + "X";
        EXPECT_EQ(Match(longer.c_str(), kCommandTreeRoot).first, 0) << longer;
    }
}

TEST(CommandTree, NoAbbreviations) {
    for (const char* text : {"OUT", "ENTERX", "TMX", "EN", "PP", "PPO", "LL", "RE", "SP", "ABORTS", "I", "W",
                             "A", "B", "C", "L", "P", "e", "FOO", ""})
        EXPECT_EQ(Match(text, kCommandTreeRoot), std::make_pair(0, std::string(text))) << text;
    EXPECT_EQ(Match("E;X", kCommandTreeRoot), std::make_pair(5, std::string(";X")));
}

std::int32_t Seven(ParseCursor&) { return -7; }
int calls = 0;
void Called() { ++calls; }
void CalledWithCursor(ParseCursor& c) { calls += 10; c.NextChar(); }

TEST(InvokeAction, PerformsEachKindAndSetsTheGivenFlagEvenWithoutANumber) {
    std::int16_t field16 = 0, given = 0;
    std::int32_t field32 = 0;
    double fieldDouble = 1.0;
    ParseCursor cursor("ABC");

    ParseAction a;
    a.kind = ActionKind::SetField;
    a.field16 = &field16;
    a.constant = 2;
    EXPECT_EQ(InvokeAction(cursor, a), 0);
    EXPECT_EQ(field16, 2);

    a = {};
    a.kind = ActionKind::ReadLongInto;
    a.readLong = &Seven;
    a.field32 = &field32;
    a.given = &given;
    InvokeAction(cursor, a);
    EXPECT_EQ(field32, -7);
    EXPECT_EQ(given, 1);

    a = {};
    a.kind = ActionKind::ReadDoubleInto;
    a.readDouble = &ReadDouble;
    a.fieldDouble = &fieldDouble;
    a.given = &given;
    given = 0;
    InvokeAction(cursor, a);  // "ABC" is no number
    EXPECT_EQ(fieldDouble, 0.0);
    EXPECT_EQ(given, 1);
    EXPECT_STREQ(cursor.pos, "ABC");

    a = {};
    a.kind = ActionKind::ReadShortInto;
    a.readShort = &ReadShort;
    a.field16 = &field16;
    a.given = &given;
    given = 0;
    InvokeAction(cursor, a);
    EXPECT_EQ(field16, 0);
    EXPECT_EQ(given, 1);

    calls = 0;
    a = {};
    a.kind = ActionKind::Call;
    a.call = &Called;
    a.withCursor = &CalledWithCursor;
    InvokeAction(cursor, a);
    a.kind = ActionKind::CallWithCursor;
    InvokeAction(cursor, a);
    EXPECT_EQ(calls, 11);
    EXPECT_STREQ(cursor.pos, "BC");

    a.kind = static_cast<ActionKind>(9);  // any other kind does nothing
    EXPECT_EQ(InvokeAction(cursor, a), 0);
    EXPECT_EQ(calls, 11);
}

}  // namespace
}  // namespace kelvo
