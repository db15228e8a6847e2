#include "interp/help.h"

#include "console/console.h"
#include "interp/command_table.h"

namespace kelvo {

void PrintHelpLines(std::span<const HelpLine> lines) {
    for (const HelpLine& line : lines) {
        PrintText(line.attribute, line.text);
        if (line.endOfLine == 1) PrintNewLine();
    }
}

void ShowCommandHelp() {
    if (const CommandRow* row = CurrentCommandRow()) PrintHelpLines(row->summary);
    ShowSyntaxHelp();
}

void ShowSyntaxHelp() {
    if (const CommandRow* row = CurrentCommandRow()) {
        PrintHelpLines(row->syntax);
        PrintHelpLines(row->appendix);
    }
}

}  // namespace kelvo
