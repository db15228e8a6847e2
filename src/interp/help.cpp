#include "interp/help.h"

#include "console/console.h"
#include "interp/command_ids.h"

namespace kelvo {
namespace {

// Prints the run of the first row for CurrentCommandId; nothing when there is none.
void PrintEntry(const HelpIndexRow* index, int rows) {
    for (int i = 0; i < rows && index[i].commandId != 0; ++i) {
        if (index[i].commandId == CurrentCommandId) {
            PrintHelpLines(index[i].first, index[i].count);
            return;
        }
    }
}

}  // namespace

void PrintHelpLines(const HelpLine* run, int count) {
    for (int i = 0; i < count; ++i) {
        PrintText(run[i].attribute, run[i].text);
        if (run[i].endOfLine == 1) PrintNewLine();
    }
}

void ShowCommandHelp() {
    PrintEntry(kShortDescriptionIndex, kShortDescriptionRows);
    ShowSyntaxHelp();
}

void ShowSyntaxHelp() {
    PrintEntry(kSyntaxPageIndex, kSyntaxPageRows);
    switch (CurrentCommandId) {
        case kEnter:
        case kOutput:
            PrintHelpLines(kStringFileAppendix, kStringFileAppendixPieces);
            break;
        case kPpconf:
        case kPpoll:
            PrintHelpLines(kParallelPollAppendix, kParallelPollAppendixPieces);
            break;
        default:
            break;
    }
}

}  // namespace kelvo
