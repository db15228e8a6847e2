// The keyword walk on a small tree of every entry kind, and the command words
// matched from the command table.
#include <gtest/gtest.h>

#include <string>

#include "script/command_language.h"
#include "interp/keywords.h"

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

// Matches a command word of the program's table at the start of `text`.
std::pair<int, std::string> MatchCommand(const char* text) {
    ParseCursor cursor(text);
    const CommandRow* row = kCommandLanguage.Match(cursor);
    return {row ? row->id : 0, cursor.pos};
}

// Every word and alias is typed in the help transcript; these are the ends a
// word may have and the abbreviations it may not.
TEST(CommandTable, WholeWordsOnly) {
    const struct {
        const char* text;
        int id;
        const char* rest;
    } cases[] = {
        {"ENTER", 5, ""},  {"ENTER 5", 5, " 5"}, {"ENTER?", 5, "?"}, {"ENTER;X", 5, ";X"}, {"E;X", 5, ";X"},
        {"PPUNC", 17, ""}, {"ZIP?", 30, "?"},    {"?", 8, ""},       {"X", 6, ""},
        {"ENTERX", 0, "ENTERX"}, {"OUT", 0, "OUT"}, {"TMX", 0, "TMX"}, {"EN", 0, "EN"},  {"PPO", 0, "PPO"},
        {"ABORTS", 0, "ABORTS"}, {"I", 0, "I"},     {"e", 0, "e"},     {"FOO", 0, "FOO"}, {"", 0, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(MatchCommand(c.text), std::make_pair(c.id, std::string(c.rest))) << c.text;
}

}  // namespace
}  // namespace kelvo
