// Built-in help: short descriptions, syntax pages and their appendices. The pages
// themselves are in interp/help_pages.h; the command table names each command's.
#pragma once

#include <cstdint>
#include <span>
#include "interp/interp_context.h"

namespace kelvo {

struct HelpLine {
    std::int32_t attribute;
    const char* text;
    std::uint8_t endOfLine;  // 1: the console line ends after this piece
};

void PrintHelpLines(InterpContext& s, std::span<const HelpLine> lines);
// The short description of CurrentCommandId, then its syntax page.
void ShowCommandHelp(InterpContext& s);
// The syntax page of CurrentCommandId and its appendix.
void ShowSyntaxHelp(InterpContext& s);

}  // namespace kelvo
