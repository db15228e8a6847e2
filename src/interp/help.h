// Built-in help: short descriptions, syntax pages and their appendices.
#pragma once

#include <cstdint>

namespace kelvo {

struct HelpLine {
    std::int32_t attribute;
    const char* text;
    std::uint8_t endOfLine;  // 1: the console line ends after this piece
};

struct HelpIndexRow {
    std::uint8_t commandId;  // 0 ends the index
    const HelpLine* first;
    std::uint8_t count;
};

void PrintHelpLines(const HelpLine* run, int count);
// The short description of CurrentCommandId, then its syntax page.
void ShowCommandHelp();
// The syntax page of CurrentCommandId and its appendix.
void ShowSyntaxHelp();

// The tables, for the tests.
extern const HelpIndexRow kShortDescriptionIndex[];
extern const HelpIndexRow kSyntaxPageIndex[];
extern const HelpLine kStringFileAppendix[];
extern const HelpLine kParallelPollAppendix[];
inline constexpr int kShortDescriptionRows = 27;
inline constexpr int kSyntaxPageRows = 26;
inline constexpr int kStringFileAppendixPieces = 3;
inline constexpr int kParallelPollAppendixPieces = 8;

}  // namespace kelvo
