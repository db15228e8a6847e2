#include "interp/dispatch.h"

#include "console/console.h"
#include "interp/help.h"
#include "interp/parse_cursor.h"

namespace kelvo {

std::int16_t ExecuteCommandLine(InterpContext& s, const CommandTable& table, const char* line, const char* typed) {
    s.ActiveCommands = &table;
    ParseCursor cursor(line, typed);
    if (cursor.SkipBlanks() != '\0') {
        const CommandRow* row = table.Match(cursor);
        if (row == nullptr) {
            PrintText(s, kAttrError, "? Unrecognized command '");
            PrintText(s, kAttrValue, cursor.pos);
            PrintText(s, kAttrError, "'");
            PrintNewLine(s);
            SignalError(s);
            ShowSyntaxHelp(s);
        } else {
            std::uint8_t id = row->id;
            if (id == kHelp)
                id = s.CurrentCommandId;
            else
                s.CurrentCommandId = static_cast<CommandId>(id);

            // "?" asks about the current command, so that command's needs count.
            const CommandRow* subject = table.Find(id);
            const Capability needs = subject != nullptr ? subject->needs : kAllCapabilities;
            const Capability offered = table.offered != nullptr ? table.offered(s) : kAllCapabilities;
            if (!Covers(offered, needs)) {
                PrintText(s, kAttrError, "? Cannot use TCP/IP with this function");
                PrintNewLine(s);
                SignalError(s);
                ShowSyntaxHelp(s);
            } else if (id == kExit) {
                return 1;
            } else if (cursor.SkipBlanks() == '?') {
                ShowCommandHelp(s);
            } else if (row->handler != nullptr) {
                row->handler(s, cursor);
            }
        }
    }
    return s.CurrentCommandId == kExit ? 1 : 0;
}

}  // namespace kelvo
