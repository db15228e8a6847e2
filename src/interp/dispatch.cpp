#include "interp/dispatch.h"

#include "console/console.h"
#include "interp/help.h"
#include "interp/parse_cursor.h"

namespace kelvo {

std::int16_t ExecuteCommandLine(const CommandTable& table, const char* line, const char* typed) {
    ActiveCommands = &table;
    ParseCursor cursor(line, typed);
    if (cursor.SkipBlanks() != '\0') {
        const CommandRow* row = table.Match(cursor);
        if (row == nullptr) {
            PrintText(kAttrError, "? Unrecognized command '");
            PrintText(kAttrValue, cursor.pos);
            PrintText(kAttrError, "'");
            PrintNewLine();
            SignalError();
            ShowSyntaxHelp();
        } else {
            std::uint8_t id = row->id;
            if (id == kHelp)
                id = CurrentCommandId;
            else
                CurrentCommandId = id;

            // "?" asks about the current command, so that command's needs count.
            const CommandRow* subject = table.Find(id);
            const Capability needs = subject != nullptr ? subject->needs : kAllCapabilities;
            const Capability offered = table.offered != nullptr ? table.offered() : kAllCapabilities;
            if (!Covers(offered, needs)) {
                PrintText(kAttrError, "? Cannot use TCP/IP with this function");
                PrintNewLine();
                SignalError();
                ShowSyntaxHelp();
            } else if (id == kExit) {
                return 1;
            } else if (cursor.SkipBlanks() == '?') {
                ShowCommandHelp();
            } else if (row->handler != nullptr) {
                row->handler(cursor);
            }
        }
    }
    return CurrentCommandId == kExit ? 1 : 0;
}

}  // namespace kelvo
