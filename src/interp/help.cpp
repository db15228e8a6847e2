#include "interp/help.h"

#include "console/console.h"
#include "interp/command_table.h"

namespace kelvo {

void PrintHelpLines(InterpContext& s, std::span<const HelpLine> lines) {
    for (const HelpLine& line : lines) {
        PrintText(s, line.attribute, line.text);
        if (line.endOfLine == 1) PrintNewLine(s);
    }
}

void ShowCommandHelp(InterpContext& s) {
    if (const CommandRow* row = CurrentCommandRow(s)) PrintHelpLines(s, row->summary);
    ShowSyntaxHelp(s);
}

void ShowSyntaxHelp(InterpContext& s) {
    if (const CommandRow* row = CurrentCommandRow(s)) {
        PrintHelpLines(s, row->syntax);
        PrintHelpLines(s, row->appendix);
    }
}

}  // namespace kelvo
